// Groups of pictures processed on worker threads: the output is the same for every thread
// count, and a fault in one worker ends the run without the pictures it would have written.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "TransrateRun.h"
#include "support/Log.h"
#include "support/PaddedBuffer.h"
#include "support/WorkerPool.h"
#include "transrate/MPEG2VideoTransrateClass.h"

using namespace varlow;
using namespace varlow::test;

namespace {

struct TThreadedRun {
  std::vector<std::uint8_t> Output;
  std::vector<std::int64_t> GroupBits;
  std::int64_t PicturesIn = 0, PicturesOut = 0, Damaged = 0;
  std::string Error;
  HRESULT Flushed = S_OK;
};

struct TRunChoice {
  TTransrateMethod Method = TTransrateMethod::Requant;
  std::int32_t Bitrate = 0;
  std::int64_t SizeBytes = 0;  // aims at a size instead of the rate
};

TThreadedRun RunThreaded(const std::vector<std::uint8_t>& stream, const TRunChoice& choice, int threads,
                         std::function<void(std::int64_t)> hook = {}) {
  TThreadedRun run;
  TMPEG2VideoTransrateClass transrate;
  transrate.SetMethod(choice.Method);
  transrate.SetThreads(threads);
  transrate.SetMaxOutputBitrate(choice.Bitrate);
  if (choice.SizeBytes > 0) transrate.SetSizeTarget(static_cast<std::int64_t>(stream.size()), choice.SizeBytes);
  transrate.SetWorkerHook(std::move(hook));
  transrate.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* Data, std::int32_t Size, std::int32_t) {
    run.Output.insert(run.Output.end(), Data, Data + Size);
    return S_OK;
  });
  transrate.SetGroupReportFunction([&](const TGroupReport& r) { run.GroupBits.push_back(r.OutputBits); });
  // Small blocks: groups end while others are still being processed.
  constexpr std::size_t kBlock = 64 * 1024;
  TPaddedBuffer block(kBlock);
  for (std::size_t at = 0; at < stream.size(); at += kBlock) {
    const std::size_t n = std::min(kBlock, stream.size() - at);
    block.Assign({stream.data() + at, n});
    transrate.AddData(block.Data(), static_cast<std::int32_t>(n));
  }
  run.Flushed = transrate.Flush();
  run.PicturesIn = transrate.PicturesIn();
  run.PicturesOut = transrate.PicturesOut();
  run.Damaged = transrate.DamagedPictures();
  run.Error = transrate.Error();
  return run;
}


// Runs the stream by each choice on one thread and on each of Counts, and finds the same.
void ExpectSameForEveryCount(const std::string& name, const std::vector<std::uint8_t>& stream,
                             const std::vector<TRunChoice>& choices, const std::vector<int>& counts) {
  for (const TRunChoice& choice : choices) {
    SCOPED_TRACE(name + " at " + std::to_string(choice.Bitrate) + " bit/s, size " + std::to_string(choice.SizeBytes) +
                 (choice.Method == TTransrateMethod::Cut ? ", cut" : ", requant"));
    const TThreadedRun one = RunThreaded(stream, choice, 1);
    ASSERT_TRUE(one.Error.empty()) << one.Error;
    ASSERT_EQ(one.PicturesOut, one.PicturesIn);
    // (The cut carries MPEG-1 pictures as they are.)
    if (choice.Method == TTransrateMethod::Requant) {
      ASSERT_LT(one.Output.size(), stream.size());
    }
    for (int threads : counts) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      const TThreadedRun many = RunThreaded(stream, choice, threads);
      EXPECT_TRUE(many.Output == one.Output);
      EXPECT_EQ(many.GroupBits, one.GroupBits);
      EXPECT_EQ(many.PicturesOut, one.PicturesOut);
      EXPECT_EQ(many.Damaged, one.Damaged);
    }
  }
}

}  // namespace

// 1, 2, 3 and 8 threads and more threads than a stream has groups: the same bytes and the
// same groups, by both methods, at two rates and aimed at a size.
TEST(TransrateThreads, EveryThreadCountGivesTheSameBytes) {
  ScopedLogCapture quiet;
  for (const std::string& name : OwnStreamNames()) {
    const auto stream = ReadFileBytes(OwnStream(name));
    const std::int32_t rate = OwnRate(stream);
    ExpectSameForEveryCount(name, stream,
                            {{TTransrateMethod::Requant, rate * 6 / 10, 0},
                             {TTransrateMethod::Requant, rate * 4 / 10, 0},
                             {TTransrateMethod::Cut, rate * 5 / 10, 0},
                             {TTransrateMethod::Requant, rate, static_cast<std::int64_t>(stream.size()) / 2}},
                            {2, 3, 8, 200});
  }
}

// Longer third-party streams, with more groups than threads: a short group planned with the
// group before it (the interlaced stream ends on one), 45-picture groups, damaged pictures.
TEST(TransrateThreads, LongStreamsComeOutTheSameOnSeveralThreads) {
  ScopedLogCapture quiet;
  for (const char* name : {"idet_interlaced_bff.m2v", "cinecutie_test.m2v", "greyramp.mpg"}) {
    if (!Exists(SharedStream(name))) continue;
    const auto stream = ReadFileBytes(SharedStream(name));
    const std::int32_t rate = OwnRate(stream);
    ExpectSameForEveryCount(name, stream,
                            {{TTransrateMethod::Requant, rate * 4 / 10, 0},
                             {TTransrateMethod::Cut, rate * 4 / 10, static_cast<std::int64_t>(stream.size()) / 2}},
                            {2, 8});
  }
}

// A worker that fails (an exception while it processes its group) ends the run with the reason:
// the groups before it are delivered, none from it on, the flush reports the failure, whatever
// the number of threads. A run destroyed with groups still out stops its workers cleanly.
TEST(TransrateThreads, AFaultInAWorkerEndsTheRunWithItsReason) {
  const auto stream = ReadFileBytes(SampleStream());
  const TRunChoice choice{TTransrateMethod::Requant, OwnRate(stream) / 2, 0};
  ScopedLogCapture quiet;
  const TThreadedRun whole = RunThreaded(stream, choice, 1);
  ASSERT_GE(whole.GroupBits.size(), 3u);
  for (int threads : {1, 2, 8}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const TThreadedRun failed = RunThreaded(stream, choice, threads, [](std::int64_t index) {
      if (index == 2) throw std::runtime_error("out of room for the group's macroblocks");
    });
    EXPECT_NE(failed.Error.find("out of room for the group's macroblocks"), std::string::npos) << failed.Error;
    EXPECT_LT(failed.Flushed, 0);
    EXPECT_LT(failed.PicturesOut, failed.PicturesIn);
    ASSERT_EQ(failed.GroupBits.size(), 2u);
    std::int64_t bits = 0;
    for (std::int64_t b : failed.GroupBits) bits += b;
    EXPECT_EQ(static_cast<std::int64_t>(failed.Output.size()) * 8, bits);  // no picture of a later group
  }
  {
    // Destroyed while groups are being processed and more wait for their model.
    TMPEG2VideoTransrateClass transrate;
    transrate.SetThreads(4);
    transrate.SetMaxOutputBitrate(choice.Bitrate);
    transrate.SetMPEGESTransReceiveFunctionObj([](const std::uint8_t*, std::int32_t, std::int32_t) { return S_OK; });
    TPaddedBuffer block(stream.size());
    block.Assign(stream);
    transrate.AddData(block.Data(), static_cast<std::int32_t>(stream.size()));
  }
}

// The pool runs every job handed to it, each on a worker it names; one asked for 0 threads
// gets the machine's cores.
TEST(TransrateThreads, WorkerPoolRunsEveryJobOnANamedWorker) {
  std::mutex lock;
  std::vector<int> ran(100, 0);
  std::vector<std::size_t> workers;
  {
    TWorkerPool pool(3);
    EXPECT_EQ(pool.Threads(), 3u);
    for (std::size_t i = 0; i < ran.size(); ++i)
      pool.Submit([&, i](std::size_t worker) {
        std::lock_guard guard(lock);
        ++ran[i];
        workers.push_back(worker);
      });
    // Destroying the pool drops what has not begun: wait for all first.
    for (;;) {
      std::lock_guard guard(lock);
      if (workers.size() == ran.size()) break;
    }
  }
  EXPECT_EQ(std::count(ran.begin(), ran.end(), 1), 100);
  for (std::size_t w : workers) EXPECT_LT(w, 3u);
  EXPECT_GE(ThreadsFor(0), 1u);
  EXPECT_EQ(ThreadsFor(5), 5u);
}
