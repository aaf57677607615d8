// The window layout kept in the user's settings ("Tarnwick"/"Varlow"): eleven integer values.
#include <QFileInfo>
#include <QSettings>
#include <QSplitter>
#include <functional>

#include "browser/gui/PackListModel.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/MainWindow.h"
#include "support/Trap.h"

namespace varlow {

namespace {

QSettings OpenSettings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow")); }

constexpr const char* kColumnValueNames[TPackListModel::kColumnCount] = {
    "OffsetColWidth", "LenColWidth", "StartCodeColWidth", "CodingTypeColWidth", "FrameNumColWidth"};

// 0 normal, 1 minimized, 2 maximized.
int WindowStateValue(Qt::WindowStates state) {
  if (state & Qt::WindowMinimized) return 1;
  if (state & Qt::WindowMaximized) return 2;
  return 0;
}

Qt::WindowStates WindowStateFromValue(int value) {
  switch (value) {
    case 1:
      return Qt::WindowMinimized;
    case 2:
      return Qt::WindowMaximized;
    default:
      return Qt::WindowNoState;
  }
}

}  // namespace

void TForm1::LoadRegistrySettings() {
  Trap("TForm1.LoadRegistrySettings", [this] {
    QSettings settings = OpenSettings();
    if (!QFileInfo::exists(settings.fileName())) return;  // never saved: keep the design layout

    // Each value on its own: a missing or non-integer value skips only itself.
    auto apply = [&settings](const char* name, const std::function<void(int)>& use) {
      const QVariant value = settings.value(QString::fromLatin1(name));
      if (!value.isValid()) return;
      bool ok = false;
      const int number = value.toString().trimmed().toInt(&ok);
      if (ok) use(number);
    };
    apply("FormTop", [this](int v) { move(x(), v); });
    apply("FormLeft", [this](int v) { move(v, y()); });
    apply("FormHeight", [this](int v) { resize(width(), v); });
    apply("FormWidth", [this](int v) { resize(v, height()); });
    for (int column = 0; column < TPackListModel::kColumnCount; ++column)
      apply(kColumnValueNames[column], [this, column](int v) { ListView1->setColumnWidth(column, v); });
    apply("Panel2Width", [this](int v) {
      const int total = Splitter1->width() - Splitter1->handleWidth();
      Splitter1->setSizes({v, std::max(0, total - v)});
    });
    apply("WindowState", [this](int v) { setWindowState(WindowStateFromValue(v)); });
  });
}

void TForm1::SaveRegistrySettings() {
  Trap("TForm1.SaveRegistrySettings", [this] {
    QSettings settings = OpenSettings();
    auto put = [&settings](const char* name, int value) { settings.setValue(QString::fromLatin1(name), value); };
    put("FormTop", y());
    put("FormLeft", x());
    put("FormHeight", height());
    put("FormWidth", width());
    for (int column = 0; column < TPackListModel::kColumnCount; ++column)
      put(kColumnValueNames[column], ListView1->columnWidth(column));
    put("Panel2Width", Panel2->width());
    put("WindowState", WindowStateValue(windowState()));
    settings.sync();  // a settings file that cannot be written skips saving, as intended
  });
}

}  // namespace varlow
