#include "support/WorkerPool.h"

namespace varlow {

TWorkerPool::TWorkerPool(std::size_t Threads) {
  FThreads.reserve(Threads);
  for (std::size_t i = 0; i < Threads; ++i) FThreads.emplace_back([this, i] { Run(i); });
}

TWorkerPool::~TWorkerPool() {
  {
    std::lock_guard lock(FLock);
    FStopping = true;
    FJobs.clear();
  }
  FWake.notify_all();
  for (std::thread& thread : FThreads) thread.join();
}

void TWorkerPool::Submit(TJob Job) {
  {
    std::lock_guard lock(FLock);
    FJobs.push_back(std::move(Job));
  }
  FWake.notify_one();
}

void TWorkerPool::Run(std::size_t Worker) {
  for (;;) {
    TJob job;
    {
      std::unique_lock lock(FLock);
      FWake.wait(lock, [this] { return FStopping || !FJobs.empty(); });
      if (FStopping) return;
      job = std::move(FJobs.front());
      FJobs.pop_front();
    }
    job(Worker);
  }
}

std::size_t ThreadsFor(int Requested) {
  if (Requested > 0) return static_cast<std::size_t>(Requested);
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

}  // namespace varlow
