// The window layout kept in the user's settings ("Tarnwick"/"Varlow"): eleven integer values;
// the splitters between the upper panes and the strip below and inside that strip, and the
// picture pane's layers and field choice, apart from them ("Tarnwick"/"Varlow Layout"). The window's place is fitted to
// the screens present.
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <functional>

#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListModel.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/WindowGeometry.h"
#include "picture/gui/OverlayPainter.h"
#include "picture/gui/PicturePane.h"
#include "support/Trap.h"

namespace varlow {

namespace {

QSettings OpenSettings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow")); }
QSettings OpenLayoutSettings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow Layout")); }
const QString kStripSplitterKey = QStringLiteral("StripSplitter");  // upper panes against the strip
const QString kStripPanesKey = QStringLiteral("StripPanes");        // dump, slices, slice tree
const QString kPictureLayersKey = QStringLiteral("PictureLayers");  // "types,quant,mv,slices", those on
const QString kPictureFieldKey = QStringLiteral("PictureField");    // 0 frame, 1 top field, 2 bottom field

// The available areas of the screens present, the primary one first.
QList<QRect> ScreenAreas() {
  QList<QRect> areas;
  if (const QScreen* primary = QGuiApplication::primaryScreen()) areas << primary->availableGeometry();
  for (const QScreen* screen : QGuiApplication::screens())
    if (screen != QGuiApplication::primaryScreen()) areas << screen->availableGeometry();
  return areas;
}

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

void TForm1::PlaceOnScreen(const QRect& saved) {
  // What the window manager adds around the window (nothing before the first show).
  const QSize frame = (frameGeometry().size() - size()).expandedTo(QSize(0, 0));
  const QRect outerSaved = saved.isValid() ? QRect(saved.topLeft(), saved.size() + frame) : QRect();
  const QRect area = ScreenAreaFor(ScreenAreas(), outerSaved);
  const QRect outer = FitWindowGeometry(area, outerSaved);
  if (!outer.isValid()) return;
  resize(outer.size() - frame);
  move(outer.topLeft());
}

void TForm1::LoadRegistrySettings() {
  Trap("TForm1.LoadRegistrySettings", [this] {
    // The list panel as wide as its columns and scroll bar, as far as the header tree keeps its
    // minimum width beside it, for the width the window has now.
    const int total = Splitter1->width() - Splitter1->handleWidth();
    const int list = std::max(0, std::min(DefaultListPanelWidth(), total - Panel3->minimumSizeHint().width()));
    Splitter1->setSizes({list, std::max(0, total - list)});
    // The strip at its first height, or half the height when the window is too low for it.
    const int height = Splitter3->height() - Splitter3->handleWidth();
    const int strip = std::min(kStripHeight, height / 2);
    Splitter3->setSizes({std::max(0, height - strip), strip});

    ApplyKeptValues();
    // The strip's splitters as kept, once the window has its kept size.
    const QSettings layout = OpenLayoutSettings();
    if (const QVariant state = layout.value(kStripSplitterKey); state.isValid())
      Splitter3->restoreState(state.toByteArray());
    if (const QVariant state = layout.value(kStripPanesKey); state.isValid())
      Splitter2->restoreState(state.toByteArray());
    // The picture pane's layers and field as they were left; a value not understood is skipped.
    if (FPicturePane != nullptr) {
      TOverlayLayers layers;
      if (const QVariant kept = layout.value(kPictureLayersKey);
          kept.isValid() && ParseOverlayLayers(kept.toString(), layers))
        FPicturePane->SetLayers(layers);
      bool ok = false;
      const int field = layout.value(kPictureFieldKey).toString().toInt(&ok);
      if (ok && field >= static_cast<int>(TFieldView::Frame) && field <= static_cast<int>(TFieldView::Bottom))
        FPicturePane->SetFieldView(static_cast<TFieldView>(field));
    }
  });
}

void TForm1::ApplyKeptValues() {
  Trap("TForm1.LoadRegistrySettings", [this] {
    QSettings settings = OpenSettings();
    if (!QFileInfo::exists(settings.fileName())) return;  // never saved: keep the first layout

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
    // A place saved on a screen that is gone, or a size larger than the screen now, is brought
    // onto the screens present.
    PlaceOnScreen(QRect(pos(), size()));
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
    QSettings layout = OpenLayoutSettings();
    layout.setValue(kStripSplitterKey, Splitter3->saveState());
    layout.setValue(kStripPanesKey, Splitter2->saveState());
    if (FPicturePane != nullptr) {
      layout.setValue(kPictureLayersKey, OverlayLayersText(FPicturePane->Layers()));
      layout.setValue(kPictureFieldKey, static_cast<int>(FPicturePane->FieldView()));
    }
    layout.sync();
  });
}

}  // namespace varlow
