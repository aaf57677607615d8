#pragma once
#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "check/StreamCheck.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace varlow {

// The stream's problems: every rule `check` finds broken, one row each ("Offset", "Bit",
// "Element", "Value", "Rule"), found on a thread of its own with a progress bar and Cancel. A
// row chosen (clicked, or Enter) tells its start code's offset, so the window can select the
// pack there.
class TProblemsPane final : public QWidget {
  Q_OBJECT

 public:
  explicit TProblemsPane(QWidget* parent = nullptr);
  ~TProblemsPane() override;

  // Checks `stream` of the file at Path (as OpenVideoSource takes it); what was shown goes.
  void StartCheck(const QString& Path, int Stream);
  // Stops a check under way; what it found so far stays shown.
  void CancelCheck();
  // Empties the pane (no file).
  void Clear();
  bool Checking() const { return FWorker.joinable() && !FDone; }
  QTreeWidget* List() const { return FList; }
  QString Status() const;
  // The problems found at the header or picture whose start code is at Offset.
  std::vector<TViolation> ProblemsAt(std::int64_t Offset) const;

 signals:
  void ProblemChosen(qint64 Offset);
  void CheckFinished();

 private:
  void Progress(std::int64_t Done, std::int64_t Total);
  void Finished(const TCheckReport& Report, const QString& Refusal);
  void StopWorker();

  QLabel* FStatus;
  QProgressBar* FProgress;
  QPushButton* FCancel;
  QTreeWidget* FList;
  std::vector<TViolation> FFound;  // the last check's, in file order
  std::thread FWorker;
  std::atomic<bool> FStop{false};
  bool FDone = true;
  int FRun = 0;  // which check the reports coming in belong to
};

}  // namespace varlow
