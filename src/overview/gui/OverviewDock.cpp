#include "overview/gui/OverviewDock.h"

#include <QAbstractItemModel>
#include <QDockWidget>
#include <QEvent>
#include <QItemSelectionModel>
#include <QSettings>
#include <QTimer>

#include "browser/gui/MainWindow.h"
#include "browser/gui/OpenFileWatch.h"
#include "browser/gui/PackListView.h"
#include "overview/gui/OverviewPane.h"
#include "support/Trap.h"

namespace varlow {

namespace {

// Tells our saved dock state from any other, and from the layouts before both docks went below
// the window's panes.
constexpr int kStateVersion = 0x0E2;
const char* const kStateKey = "DockState";

// The docks' places are kept apart from the window layout's eleven values.
QSettings OpenSettings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow Docks")); }

// Keeps the pane in step with the window: the open file, the list's selection, the dock's place.
class TOverviewLink final : public QObject {
 public:
  TOverviewLink(TForm1& form, QDockWidget* dock, TOverviewPane* pane)
      : QObject(dock), FForm(form), FPane(pane) {
    connect(new TOpenFileWatch(form, dock), &TOpenFileWatch::FileChanged, this, [this](const QString& name, int stream) {
      if (name.isEmpty()) FPane->Clear();
      else FPane->StartScan(name, 0, stream);  // the stream the list shows
    });
    connect(pane, &TOverviewPane::PictureClicked, this, [this](qint64 offset) { FForm.SelectPackAt(offset); });

    // The selected row's pack changes with the selection and with every refill of the list.
    if (QItemSelectionModel* selection = form.ListView1->selectionModel())
      connect(selection, &QItemSelectionModel::currentChanged, this, &TOverviewLink::SelectionMoved);
    if (QAbstractItemModel* model = form.ListView1->model()) {
      connect(model, &QAbstractItemModel::dataChanged, this, &TOverviewLink::SelectionMoved);
      connect(model, &QAbstractItemModel::rowsInserted, this, &TOverviewLink::SelectionMoved);
      connect(model, &QAbstractItemModel::rowsRemoved, this, &TOverviewLink::SelectionMoved);
      connect(model, &QAbstractItemModel::modelReset, this, &TOverviewLink::SelectionMoved);
    }
    form.installEventFilter(this);
    if (form.isVisible()) {  // attached to a window already on screen
      FRestored = true;
      QTimer::singleShot(0, this, &TOverviewLink::RestoreState);
    }
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &FForm) {
      if (event->type() == QEvent::Show && !FRestored) {
        FRestored = true;
        // After the window has applied its own layout.
        QTimer::singleShot(0, this, &TOverviewLink::RestoreState);
      } else if (event->type() == QEvent::Close) {
        SaveState();
        FPane->CancelScan();
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void SelectionMoved() {
    if (FMarkPending) return;
    FMarkPending = true;
    // Once the list has settled: a refill sends several signals in a row.
    QTimer::singleShot(0, this, [this] {
      FMarkPending = false;
      Trap("TOverviewLink.SelectionMoved", [this] {
        const int row = FForm.ListView1->SelectedRow();
        if (row >= 0 && row < FForm.Index().PackCount()) FPane->MarkOffset(FForm.Index().Pack(row).Offset);
      });
    });
  }

  void SaveState() {
    Trap("TOverviewLink.SaveState", [this] {
      QSettings settings = OpenSettings();
      settings.setValue(QString::fromLatin1(kStateKey), FForm.saveState(kStateVersion));
      settings.sync();
    });
  }

  void RestoreState() {
    Trap("TOverviewLink.RestoreState", [this] {
      const QVariant state = OpenSettings().value(QString::fromLatin1(kStateKey));
      if (state.isValid()) FForm.restoreState(state.toByteArray(), kStateVersion);
    });
  }

  TForm1& FForm;
  TOverviewPane* FPane;
  bool FMarkPending = false;
  bool FRestored = false;
};

}  // namespace

QDockWidget* AttachOverviewPane(TForm1& form) {
  auto* dock = new QDockWidget(QObject::tr("Overview"), &form);
  dock->setObjectName(QStringLiteral("OverviewDock"));
  auto* pane = new TOverviewPane(dock);
  dock->setWidget(pane);
  form.addDockWidget(Qt::BottomDockWidgetArea, dock);
  new TOverviewLink(form, dock, pane);
  return dock;
}

bool HasSavedDockState() { return OpenSettings().contains(QString::fromLatin1(kStateKey)); }

TOverviewPane* OverviewPaneOf(QDockWidget* dock) { return dock ? qobject_cast<TOverviewPane*>(dock->widget()) : nullptr; }

}  // namespace varlow
