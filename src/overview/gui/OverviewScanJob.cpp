#include "overview/gui/OverviewScanJob.h"

#include <QFile>

#include "overview/OverviewScanner.h"
#include "container/OpenSource.h"

namespace varlow {

bool TOverviewScanJob::Start(const QString& path, std::size_t blockSize, std::int32_t streamIndex) {
  Cancel();
  {
    std::lock_guard guard(FLock);
    FData = TOverviewData();
  }
  FBytesRead = 0;
  FTotalBytes = 0;
  std::shared_ptr<TByteSource> stream =
      OpenVideoSource(QFile::encodeName(path).toStdString(), TFileStream::Mode::ReadOnly, streamIndex).Source;
  if (!stream) return false;
  FTotalBytes = stream->Size();
  FCancel = false;
  FRunning = true;
  const std::size_t block = blockSize ? blockSize : TOverviewScanner::kDefaultBlockSize;
  FThread = std::thread([this, stream, block] {
    TOverviewScanner(block).Scan(*stream, FData, &FLock, &FCancel, [this](std::int64_t done, std::int64_t total) {
      FBytesRead = done;
      FTotalBytes = total;
      if (FBlockHook) FBlockHook();
    });
    FRunning = false;
  });
  return true;
}

void TOverviewScanJob::Cancel() {
  FCancel = true;
  if (FThread.joinable()) FThread.join();
  FRunning = false;
}

} // namespace varlow
