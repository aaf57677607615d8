#include "check/gui/ProblemsDock.h"

#include <QDockWidget>
#include <QEvent>

#include "browser/gui/MainWindow.h"
#include "browser/gui/OpenFileWatch.h"
#include "browser/gui/PackListView.h"
#include "check/gui/ProblemMarks.h"
#include "check/gui/ProblemsPane.h"
#include "support/Trap.h"

namespace varlow {

namespace {

// Keeps the pane in step with the window's open file, and its choices with the list.
class TProblemsLink final : public QObject {
 public:
  TProblemsLink(TForm1& form, QDockWidget* dock, TProblemsPane* pane) : QObject(dock), FForm(form), FPane(pane) {
    connect(new TOpenFileWatch(form, dock), &TOpenFileWatch::FileChanged, this, [this](const QString& name, int stream) {
      if (name.isEmpty()) FPane->Clear();
      else FPane->StartCheck(name, stream);
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
  TForm1& FForm;
  TProblemsPane* FPane;
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
