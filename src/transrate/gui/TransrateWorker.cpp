#include "transrate/gui/TransrateWorker.h"

#include <QFile>
#include <utility>

namespace varlow {

TTransrateWorker::TTransrateWorker(QString InputPath, QString OutputPath, TTransrateOptions Options, QObject* parent)
    : QObject(parent), FInputPath(std::move(InputPath)), FOutputPath(std::move(OutputPath)), FOptions(Options) {}

TTransrateWorker::~TTransrateWorker() {
  FCancel = true;
  {
    std::lock_guard lock(FMutex);
    FClosing = true;  // no one will take another report
  }
  FTaken.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TTransrateWorker::Start() {
  if (FThread.joinable()) return;
  FThread = std::thread([this, input = QFile::encodeName(FInputPath).toStdString(),
                         output = QFile::encodeName(FOutputPath).toStdString()] {
    const TTransrateResult result =
        TransrateFile(input, output, FOptions, [this](const TTransrateProgress& p) { return Report(p); });
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          if (FThread.joinable()) FThread.join();  // the thread ends right after posting this
          emit Finished(result);
        },
        Qt::QueuedConnection);
  });
}

void TTransrateWorker::Cancel() { FCancel = true; }

bool TTransrateWorker::Report(const TTransrateProgress& Progress) {
  {
    std::lock_guard lock(FMutex);
    FReportPending = true;
  }
  QMetaObject::invokeMethod(
      this,
      [this, Progress] {
        emit Progressed(Progress);
        {
          std::lock_guard lock(FMutex);
          FReportPending = false;
        }
        FTaken.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(FMutex);
  FTaken.wait(lock, [this] { return !FReportPending || FClosing; });
  return !FCancel;
}

}  // namespace varlow
