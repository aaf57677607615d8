#pragma once
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "overview/OverviewRecords.h"

namespace varlow {

// One whole-file scan on a worker thread. The records grow in `Data()` while it runs; read them
// only with `Lock()` held. A new Start, Cancel or the job's end stops the running scan and waits
// for its thread.
class TOverviewScanJob {
public:
  TOverviewScanJob() = default;
  ~TOverviewScanJob() { Cancel(); }
  TOverviewScanJob(const TOverviewScanJob&) = delete;
  TOverviewScanJob& operator=(const TOverviewScanJob&) = delete;

  // Starts scanning `path` from its first byte, dropping the records of any earlier scan.
  // False (and no scan) when the file cannot be opened.
  // `streamIndex`: the video stream of a container, as OpenVideoSource takes it.
  bool Start(const QString& path, std::size_t blockSize = 0, std::int32_t streamIndex = -1);
  void Cancel();
  bool Running() const { return FRunning.load(); }
  std::int64_t BytesRead() const { return FBytesRead.load(); }
  std::int64_t TotalBytes() const { return FTotalBytes.load(); }

  const TOverviewData& Data() const { return FData; }
  std::mutex& Lock() const { return FLock; }

  // Called on the worker thread after every block (tests use it to slow a scan down).
  void SetBlockHook(std::function<void()> hook) { FBlockHook = std::move(hook); }

private:
  TOverviewData FData;
  mutable std::mutex FLock;
  std::thread FThread;
  std::atomic<bool> FCancel{false};
  std::atomic<bool> FRunning{false};
  std::atomic<std::int64_t> FBytesRead{0};
  std::atomic<std::int64_t> FTotalBytes{0};
  std::function<void()> FBlockHook;
};

} // namespace varlow
