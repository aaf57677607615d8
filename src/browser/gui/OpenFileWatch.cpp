#include "browser/gui/OpenFileWatch.h"

#include <QDockWidget>
#include <QTimer>

#include "browser/gui/MainWindow.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr int kFileWatchMs = 300;

}  // namespace

TOpenFileWatch::TOpenFileWatch(TForm1& form, QDockWidget* dock) : QObject(dock), FForm(form), FDock(dock) {
  connect(&form, &QWidget::windowTitleChanged, this, &TOpenFileWatch::Check);
  auto* timer = new QTimer(this);
  timer->setInterval(kFileWatchMs);
  connect(timer, &QTimer::timeout, this, &TOpenFileWatch::Check);
  timer->start();
  connect(dock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (visible) Check();
  });
}

void TOpenFileWatch::Check() {
  Trap("TOpenFileWatch.Check", [this] {
    if (FDock->isHidden()) return;
    const QString name = FForm.FileName();
    const void* stream = FForm.Index().Stream();
    if (name == FFileName && stream == FStream) return;
    FFileName = name;
    FStream = stream;
    emit FileChanged(name.isEmpty() || stream == nullptr ? QString() : name, FForm.OpenStreamIndex());
  });
}

}  // namespace varlow
