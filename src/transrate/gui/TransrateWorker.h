#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "transrate/TransrateFile.h"

namespace varlow {

// Runs one file transrate on a thread of its own and reports to the thread that made it
// through its signals. The run waits after each block until the owner has taken that block's
// report, so a Cancel takes effect within one block of what the user sees.
class TTransrateWorker final : public QObject {
  Q_OBJECT
 public:
  TTransrateWorker(QString InputPath, QString OutputPath, TTransrateOptions Options, QObject* parent = nullptr);
  // Cancels a run still going and waits for its thread.
  ~TTransrateWorker() override;

  void Start();
  // Asks the run to stop at its next block; Finished follows with the Cancelled status.
  void Cancel();
  bool Running() const { return FThread.joinable(); }

 signals:
  void Progressed(const varlow::TTransrateProgress& Progress);
  void Finished(const varlow::TTransrateResult& Result);

 private:
  // On the run's thread: hands the report over and waits until it was taken.
  bool Report(const TTransrateProgress& Progress);

  QString FInputPath;
  QString FOutputPath;
  TTransrateOptions FOptions;
  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FTaken;
  bool FReportPending = false;  // guarded by FMutex
  bool FClosing = false;        // guarded by FMutex
  std::atomic<bool> FCancel{false};
};

}  // namespace varlow
