// Allocation failures while the separator and the controller are built: logged, and the
// objects are still there and usable. Large allocations are made to fail on purpose through a
// replaced global operator new that is inert unless a test arms it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>

#include "TestStreams.h"
#include "TransrateCraft.h"
#include "TransrateRun.h"
#include "support/Log.h"
#include "transrate/MPEG2VideoTransrateClass.h"
#include "transrate/MPEGESFrameSeparator.h"

// The replaced operators pair malloc with free; GCC cannot see that through its inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<std::size_t> gFailFromSize{0};  // 0: every allocation is served

}  // namespace

void* operator new(std::size_t size) {
  const std::size_t limit = gFailFromSize.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
// Every plain form is replaced, not only the one the library forms forward to: a sanitizer
// runtime serves each form itself, and a block must be freed by the family that made it.
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

using namespace varlow;
using namespace varlow::test;

namespace {

// Allocations of `size` bytes or more fail while it lives.
class TFailLargeAllocations {
public:
  explicit TFailLargeAllocations(std::size_t size) { gFailFromSize = size; }
  ~TFailLargeAllocations() { gFailFromSize = 0; }
  TFailLargeAllocations(const TFailLargeAllocations&) = delete;
  TFailLargeAllocations& operator=(const TFailLargeAllocations&) = delete;
};

std::vector<std::uint8_t> RunThrough(TMPEG2VideoTransrateClass& transrate, const std::vector<std::uint8_t>& stream) {
  std::vector<std::uint8_t> out;
  transrate.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* d, std::int32_t n, std::int32_t) {
    out.insert(out.end(), d, d + n);
    return S_OK;
  });
  transrate.SetMaxOutputBitrate(1'500'000);
  TPaddedBuffer block(stream.size());
  block.Assign(stream);
  transrate.AddData(block.Data(), static_cast<std::int32_t>(stream.size()));
  transrate.Flush();
  return out;
}

}  // namespace

TEST(TransrateConstruction, TheSeparatorLogsAFailedBufferAndStillSeparates) {
  ScopedLogCapture log;
  std::optional<TMPEGESVideoFrameSeparatorEx> separator;
  {
    TFailLargeAllocations fail(TMPEGESVideoFrameSeparatorEx::kInitialCapacity);
    separator.emplace();
  }
  EXPECT_EQ(log.Count("wex: error in TMPEGESVideoFrameSeparatorEx.Create call..."), 1);
  EXPECT_EQ(log.Lines().size(), 1u);
  TCraft s;
  s.SequenceHeader(3).SequenceExtension().Gop().Picture(1).Picture(2).Picture(3);
  int units = 0;
  separator->SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t*, std::int32_t) {
    ++units;
    return S_OK;
  });
  TPaddedBuffer block(s.Size());
  block.Assign(s.Data());
  EXPECT_EQ(separator->AddData(block.Data(), static_cast<std::int32_t>(s.Size())), S_OK);
  EXPECT_EQ(separator->Flush(), S_OK);
  EXPECT_EQ(units, 3);
  separator.reset();
  EXPECT_EQ(log.Lines().size(), 1u);  // nothing failed on the way out
}

TEST(TransrateConstruction, TheControllerLogsAFailedBuildAndStillTransrates) {
  const auto stream = ReadFileBytes(OwnStream("p420_plain.m2v"));
  ASSERT_FALSE(stream.empty());
  std::vector<std::uint8_t> expected;
  {
    TMPEG2VideoTransrateClass reference;  // also builds the shared code tables once
    expected = RunThrough(reference, stream);
  }
  ASSERT_FALSE(expected.empty());

  // Just above the transcoder's own size: the controller's header reader is made, the
  // separator's buffer is not.
  const std::size_t limit = sizeof(TMPEGVideoTranscoder) + 1;
  ASSERT_LE(limit, static_cast<std::size_t>(TMPEGESVideoFrameSeparatorEx::kInitialCapacity));
  ScopedLogCapture log;
  std::optional<TMPEG2VideoTransrateClass> transrate;
  {
    TFailLargeAllocations fail(limit);
    transrate.emplace();
  }
  EXPECT_EQ(log.Count("wex: error in TMPEGESVideoFrameSeparatorEx.Create call..."), 1);
  EXPECT_EQ(log.Count("wex: Error in TMPEG2VideoTransrateClass.Create call..."), 0);
  EXPECT_EQ(transrate->MaxOutputBitrate(), 10'000'000);
  // Its buffers grow when the first pictures need them: the same output as a sound build.
  EXPECT_TRUE(RunThrough(*transrate, stream) == expected);

  // Without a transcoder no picture is held, but nothing breaks either.
  log.Clear();
  std::optional<TMPEG2VideoTransrateClass> bare;
  {
    TFailLargeAllocations fail(sizeof(TMPEGVideoTranscoder));
    bare.emplace();
  }
  EXPECT_EQ(log.Count("wex: Error in TMPEG2VideoTransrateClass.Create call..."), 1);
  EXPECT_TRUE(RunThrough(*bare, stream).empty());
  EXPECT_EQ(bare->PicturesOut(), 0);
}
