#pragma once
// Shared helpers of the main-window tests: a window on private settings, the list's texts and
// the file's packs as an independent reference.
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "TestStreams.h"
#include "browser/PackIndex.h"
#include "browser/gui/FileScrollBar.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/QtTreeSink.h"
#include "browser/gui/SliceListBox.h"
#include "browser/gui/MainWindow.h"
#include "support/FileStream.h"
#include "support/gui/MessageBox.h"

namespace varlow::test {

// Keeps the user's own settings out of reach: every QSettings of the process goes to `dir`.
inline void UsePrivateSettings(const QTemporaryDir& dir) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
}

// Collects the message boxes the window would show.
struct TMessageCapture {
  QStringList Messages;
  TMessageCapture() {
    SetMessageHook([this](const QString& text) { Messages << text; });
  }
  ~TMessageCapture() { SetMessageHook({}); }
};

inline std::unique_ptr<TForm1> ShowForm() {
  auto form = std::make_unique<TForm1>();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return nullptr;
  return form;
}

inline QString Cell(const TForm1& form, int row, int column) {
  return form.ListView1->model()->index(row, column).data().toString();
}
inline int RowCount(const TForm1& form) { return form.ListView1->model()->rowCount(); }

// Offset of a row as the list shows it ("$0001A2F0"), as a number.
inline std::int64_t RowOffset(const TForm1& form, int row) {
  bool ok = false;
  const std::int64_t value = Cell(form, row, 0).mid(1).toLongLong(&ok, 16);
  return ok ? value : -1;
}

// Every pack offset of a small file (at most 256 packs), found by a separate index.
inline std::vector<std::int64_t> AllPackOffsets(const std::string& path) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly));
  index.SetRowsPerPage(kMaxPacks);
  index.RefreshPosition(0);
  std::vector<std::int64_t> offsets;
  for (int i = 0; i < index.PackCount(); ++i) offsets.push_back(index.Pack(i).Offset);
  return offsets;
}

// Centre of a part of the scroll bar (arrow or trough) for a mouse click.
inline QPoint ScrollBarPoint(QScrollBar* bar, QStyle::SubControl part) {
  QStyleOptionSlider option;
  option.initFrom(bar);
  option.subControls = QStyle::SC_All;
  option.orientation = bar->orientation();
  option.minimum = bar->minimum();
  option.maximum = bar->maximum();
  option.sliderPosition = bar->sliderPosition();
  option.sliderValue = bar->value();
  option.singleStep = bar->singleStep();
  option.pageStep = bar->pageStep();
  option.upsideDown = bar->invertedAppearance();
  return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar).center();
}

// A thumb drag to `position`, ending with the thumb's release.
inline void DragThumbTo(QScrollBar* bar, int position) {
  bar->setSliderDown(true);
  bar->setSliderPosition(position);
  bar->setSliderDown(false);
}

inline QString FileOf(const std::string& path) { return QString::fromStdString(path); }

}  // namespace varlow::test
