#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace varlow {

// A fixed set of threads taking jobs in the order they were handed in. Each job is told which
// worker runs it (0 .. Threads - 1), so it can use that worker's own tools without locking.
// Destroying the pool drops the jobs not begun and waits for those running.
class TWorkerPool {
 public:
  using TJob = std::function<void(std::size_t Worker)>;

  explicit TWorkerPool(std::size_t Threads);
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  void Submit(TJob Job);
  std::size_t Threads() const { return FThreads.size(); }

 private:
  void Run(std::size_t Worker);

  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<TJob> FJobs;
  bool FStopping = false;
  std::vector<std::thread> FThreads;
};

// The threads a run uses when asked for Requested: the machine's cores for 0, at least one.
std::size_t ThreadsFor(int Requested);

}  // namespace varlow
