#include "check/gui/ProblemsDock.h"

#include <QDockWidget>
#include <QEvent>
#include <QTimer>

#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListView.h"
#include "check/gui/ProblemMarks.h"
#include "check/gui/ProblemsPane.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr int kFileWatchMs = 300;

// Keeps the pane in step with the window's open file, and its choices with the list.
class TProblemsLink final : public QObject {
 public:
  TProblemsLink(TForm1& form, QDockWidget* dock, TProblemsPane* pane)
      : QObject(dock), FForm(form), FDock(dock), FPane(pane) {
    // As for the overview: the caption follows the file, and a slow timer catches a file
    // opened again under the same name.
    connect(&form, &QWidget::windowTitleChanged, this, &TProblemsLink::CheckFile);
    auto* timer = new QTimer(this);
    timer->setInterval(kFileWatchMs);
    connect(timer, &QTimer::timeout, this, &TProblemsLink::CheckFile);
    timer->start();
    connect(dock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
      if (visible) CheckFile();
    });
    connect(pane, &TProblemsPane::ProblemChosen, this, [this](qint64 offset) { FForm.SelectPackAt(offset); });
    // The pack on show gets its marks when the check ends.
    connect(pane, &TProblemsPane::CheckFinished, this, [this] {
      const int row = FForm.ListView1->SelectedRow();
      if (row >= 0 && row < FForm.Index().PackCount())
        MarkProblems(FForm.TreeView1, FPane->ProblemsAt(FForm.Index().Pack(row).Offset));
    });
    form.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &FForm && event->type() == QEvent::Close) FPane->CancelCheck();
    return QObject::eventFilter(watched, event);
  }

 private:
  void CheckFile() {
    Trap("TProblemsLink.CheckFile", [this] {
      // A hidden pane checks nothing; it catches up when it is shown.
      if (FDock->isHidden()) return;
      const QString name = FForm.FileName();
      const void* stream = FForm.Index().Stream();
      if (name == FFileName && stream == FStream) return;
      FFileName = name;
      FStream = stream;
      if (name.isEmpty() || stream == nullptr) FPane->Clear();
      else FPane->StartCheck(name, FForm.OpenStreamIndex());
    });
  }

  TForm1& FForm;
  QDockWidget* FDock;
  TProblemsPane* FPane;
  QString FFileName;
  const void* FStream = nullptr;
};

}  // namespace

QDockWidget* AttachProblemsPane(TForm1& form, QDockWidget* besides) {
  auto* dock = new QDockWidget(QObject::tr("Problems"), &form);
  dock->setObjectName(QStringLiteral("ProblemsDock"));
  auto* pane = new TProblemsPane(dock);
  dock->setWidget(pane);
  form.addDockWidget(Qt::BottomDockWidgetArea, dock);
  if (besides != nullptr) form.tabifyDockWidget(besides, dock);
  new TProblemsLink(form, dock, pane);
  return dock;
}

TProblemsPane* ProblemsPaneOf(QDockWidget* dock) {
  return dock ? qobject_cast<TProblemsPane*>(dock->widget()) : nullptr;
}

}  // namespace varlow
