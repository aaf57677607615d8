#pragma once
#include <QDialog>

#include "transrate/TransrateFile.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace varlow {

class TTransrateWorker;

// The modal window shown while a transrate runs: the share of the input read, the pictures
// written and the output rate so far, and Cancel. The run starts when the window is first
// shown and the window closes by itself when the run has ended, whatever the outcome.
class TTransrateProgressFrm final : public QDialog {
  Q_OBJECT
 public:
  TTransrateProgressFrm(const QString& InputPath, const QString& OutputPath, const TTransrateOptions& Options,
                        QWidget* parent = nullptr);
  ~TTransrateProgressFrm() override;

  const TTransrateResult& Result() const { return FResult; }

  QProgressBar* pbRead = nullptr;
  QLabel* lbRead = nullptr;
  QLabel* lbPictures = nullptr;
  QLabel* lbRate = nullptr;
  QPushButton* bbtnCancel = nullptr;

 signals:
  // After the window has shown a report (for watchers that act between two blocks).
  void ProgressShown(const varlow::TTransrateProgress& Progress);

 public slots:
  // Asks the run to stop; the window stays until the run has cleaned up.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowProgress(const TTransrateProgress& Progress);
  void RunFinished(const TTransrateResult& Result);

  TTransrateWorker* FWorker = nullptr;
  TTransrateResult FResult;
  bool FFinished = false;
};

}  // namespace varlow
