// Getting around a file: Go To an offset, a picture or a time, and Find Next of an I picture,
// a start code or a damaged slice. The searches are the core's; here they are asked for, run in
// bounded steps under a progress dialog that can cancel them, and their results shown.
#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QInputDialog>
#include <QListWidget>
#include <QMenu>
#include <QProgressDialog>
#include <mutex>

#include "browser/SliceRequest.h"
#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/SliceListBox.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewPane.h"
#include "overview/gui/OverviewScanJob.h"
#include "support/Format.h"
#include "support/Trap.h"
#include "support/gui/MessageBox.h"
#include "support/gui/WaitCursor.h"

namespace varlow {

namespace {

// Bytes one search step reads before the window shows its progress again: damaged slices are
// explained on the way, so their steps are smaller.
constexpr std::int64_t kStartCodeStep = 64 * 1024 * 1024;
constexpr std::int64_t kSliceStep = 4 * 1024 * 1024;
constexpr int kProgressSteps = 1000;
constexpr int kProgressDelayMs = 400;

QString Hex(std::int64_t offset) {
  return QStringLiteral("$") + QString::fromStdString(HexUpper(static_cast<std::uint64_t>(offset), 8));
}

QString TargetName(const TFindTarget& target) {
  switch (target.What) {
    case TFindTarget::Kind::IPicture:
      return QStringLiteral("I picture");
    case TFindTarget::Kind::StartCode:
      return QStringLiteral("start code 000001%1").arg(QString::fromStdString(HexUpper(target.Code, 2)));
    case TFindTarget::Kind::DamagedSlice:
      return QStringLiteral("damaged slice");
  }
  return {};
}

}  // namespace

void TForm1::CreateGoToMenu(QMenu* view) {
  view->addSeparator();
  QAction* goTo = view->addAction(QStringLiteral("&Go To..."));
  connect(goTo, &QAction::triggered, this, &TForm1::GoTo1Click);
  goTo->setObjectName(QStringLiteral("GoTo1"));
  goTo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
  QMenu* find = view->addMenu(QStringLiteral("Find &Next"));
  find->setObjectName(QStringLiteral("FindNext1"));
  const struct {
    const char* Name;
    QString Caption;
    void (TForm1::*Handler)();
    QKeySequence Shortcut;
  } items[] = {
      {"FindNextIPicture1", QStringLiteral("&I Picture"), &TForm1::FindNextIPicture1Click, QKeySequence(Qt::Key_F3)},
      {"FindNextStartCode1", QStringLiteral("&Start Code..."), &TForm1::FindNextStartCode1Click,
       QKeySequence(Qt::SHIFT | Qt::Key_F3)},
      {"FindNextDamagedSlice1", QStringLiteral("&Damaged Slice"), &TForm1::FindNextDamagedSlice1Click,
       QKeySequence(Qt::CTRL | Qt::Key_F3)},
  };
  for (const auto& item : items) {
    QAction* action = find->addAction(item.Caption);
    connect(action, &QAction::triggered, this, item.Handler);
    action->setObjectName(QString::fromLatin1(item.Name));
    action->setShortcut(item.Shortcut);
  }
}

void TForm1::GoTo1Click() {
  if (FIndex.Stream() == nullptr) return;
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, QStringLiteral("Go To"),
                            QStringLiteral("Offset ($1A2B, 0x1A2B or decimal), picture (#120) or time (1:30, 90s):"),
                            QLineEdit::Normal, FLastGoTo, &ok);
  if (!ok || text.trimmed().isEmpty()) return;
  FLastGoTo = text;
  GoTo(text);
}

bool TForm1::GoTo(const QString& text) {
  bool moved = false;
  Trap("TForm1.GoTo", [&] {
    if (FIndex.Stream() == nullptr) return;
    const auto target = ParseGoToTarget(text.toStdString());
    if (!target) {
      ShowMessage(this, QStringLiteral("\"%1\" is not an offset ($1A2B, 0x1A2B or decimal), a picture number (#120) "
                                       "or a time (1:30, 90s).")
                            .arg(text.trimmed()));
      return;
    }
    std::int64_t offset = target->Value;
    if (target->What != TGoToTarget::Kind::Offset) {
      // Pictures and times are counted by the overview's scan of the whole file.
      TOverviewPane* pane = OverviewPaneOf(FOverviewDock);
      std::optional<std::int64_t> found;
      bool complete = false;
      if (pane != nullptr && pane->FileName() == FFileName && !pane->Busy()) {
        std::lock_guard lock(pane->Job().Lock());
        const TOverviewData& data = pane->Job().Data();
        complete = data.Report.State == TScanReport::End::Complete;
        if (complete)
          found = target->What == TGoToTarget::Kind::Picture ? PictureOffset(data, target->Value)
                                                             : PictureOffsetAtTime(data, target->Seconds);
      }
      if (!complete) {
        FOverviewDock->show();  // starts the scan of a file it has not seen
        ShowMessage(this, QStringLiteral("Pictures and times are counted by the overview's scan of the whole file, "
                                         "which has not finished. Try again when the Overview shows the whole file."));
        return;
      }
      if (!found) {
        ShowMessage(this, QStringLiteral("The stream has no picture %1.").arg(target->Value));
        return;
      }
      offset = *found;
    }
    if (offset >= FIndex.FileSize()) {
      ShowMessage(this, QStringLiteral("Offset %1 lies past the end of the file (%2 bytes).")
                            .arg(Hex(offset))
                            .arg(FIndex.FileSize()));
      return;
    }
    const std::int64_t pack = PackHolding(FIndex, offset);
    if (pack < 0) {
      ShowMessage(this, QStringLiteral("No pack lies near offset %1.").arg(Hex(offset)));
      return;
    }
    ShowFoundAt(pack, offset, -1);
    moved = true;
  });
  return moved;
}

void TForm1::FindNextIPicture1Click() { FindNext({TFindTarget::Kind::IPicture, 0}); }

void TForm1::FindNextStartCode1Click() {
  if (FIndex.Stream() == nullptr) return;
  bool ok = false;
  const QString text = QInputDialog::getText(this, QStringLiteral("Find Next Start Code"),
                                             QStringLiteral("Start code value (B3, 0x1B3 or 000001B3):"),
                                             QLineEdit::Normal, FLastStartCode, &ok);
  if (!ok || text.trimmed().isEmpty()) return;
  const auto code = ParseStartCode(text.toStdString());
  if (!code) {
    ShowMessage(this, QStringLiteral("\"%1\" is not a start code value: give the byte after 00 00 01 in hexadecimal "
                                     "(B3, 0x1B3 or 000001B3).")
                          .arg(text.trimmed()));
    return;
  }
  FLastStartCode = text;
  FindNext({TFindTarget::Kind::StartCode, *code});
}

void TForm1::FindNextDamagedSlice1Click() { FindNext({TFindTarget::Kind::DamagedSlice, 0}); }

bool TForm1::FindNext(const TFindTarget& target) {
  bool found = false;
  Trap("TForm1.FindNext", [&] {
    if (FIndex.Stream() == nullptr) return;
    const int row = ListView1->SelectedRow();
    const bool selected = row >= 0 && row < FIndex.PackCount();
    std::int64_t origin = selected ? FIndex.Pack(row).Offset : FIndex.WindowStart();
    // Inside the selected pack, the search goes on after what was found last (the next slice
    // start code of the same picture, say).
    if (selected && FLastFound > origin && FLastFound < origin + FIndex.Pack(row).Length) origin = FLastFound;
    // A damaged slice later in the selected picture comes first.
    if (target.What == TFindTarget::Kind::DamagedSlice && selected) {
      const int slice = lbSlices->SelectedRow();
      for (const std::int32_t damaged : FDamagedSlices)
        if (damaged > slice) {
          ShowFoundAt(origin, origin, damaged);
          found = true;
          return;
        }
    }
    TPackSearch search(*FIndex.Stream(), target);
    const std::int64_t size = std::max<std::int64_t>(FIndex.FileSize(), 1);
    const std::int64_t budget = target.What == TFindTarget::Kind::DamagedSlice ? kSliceStep : kStartCodeStep;
    QProgressDialog progress(QStringLiteral("Looking for the next %1...").arg(TargetName(target)),
                             QStringLiteral("Cancel"), 0, kProgressSteps, this);
    progress.setObjectName(QStringLiteral("FindProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kProgressDelayMs);
    progress.setAutoReset(false);
    TFindStep step = search.Step(origin, budget, !selected);
    while (!step.Found && !step.AtEnd) {
      progress.setValue(static_cast<int>(step.Resume * kProgressSteps / size));
      QApplication::processEvents();
      if (progress.wasCanceled()) return;
      step = search.Step(step.Resume, budget, true);
    }
    progress.reset();
    if (!step.Found) {
      ShowMessage(this, QStringLiteral("No %1 after offset %2.").arg(TargetName(target), Hex(origin)));
      return;
    }
    ShowFoundAt(PackHolding(FIndex, step.Offset), step.Offset, step.Slice);
    found = true;
  });
  return found;
}

void TForm1::ShowFoundAt(std::int64_t pack, std::int64_t offset, std::int32_t slice) {
  if (pack < 0) return;
  TWaitCursor wait;
  SelectPackAt(pack);
  FLastFound = offset;
  // The bytes sought are selected in the dump; a slice is chosen in the list and explained.
  const std::size_t at = FPackPlaces.IndexAt(offset);
  if (slice < 0 && at < FPackBytes.size()) {
    for (std::size_t i = 0; i < FSliceSpans.size(); ++i)
      if (static_cast<std::size_t>(FSliceSpans[i].Offset) == at) slice = static_cast<std::int32_t>(i);
  }
  if (slice >= 0 && slice < lbSlices->count()) {
    lbSlices->setCurrentRow(slice);
    lbSlicesClick();
  } else if (at < FPackBytes.size() && offset != pack) {
    SelectPackBytes(static_cast<std::int64_t>(at), static_cast<std::int64_t>(at));
  }
  ListView1->setFocus();
}

void TForm1::MarkDamagedSlices(std::int64_t pictureOffset) {
  FDamagedSlices = DamagedSlices(FIndex, pictureOffset);
  for (const std::int32_t i : FDamagedSlices) {
    QListWidgetItem* item = lbSlices->item(i);
    if (item == nullptr) continue;
    item->setForeground(Qt::red);
    QFont font = item->font();
    font.setBold(true);
    item->setFont(font);
    item->setData(kDamagedSliceRole, true);
    item->setToolTip(item->toolTip() + QStringLiteral(": damaged, it holds a code no table knows"));
  }
}

}  // namespace varlow
