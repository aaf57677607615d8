// The picture pane in the main window: it follows the selected pack, and it and the slice tree
// point at each other's macroblocks.
#include <QItemSelectionModel>
#include <QListWidget>
#include <QTreeWidget>

#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/SliceListBox.h"
#include "picture/gui/PicturePane.h"

namespace varlow {

namespace {

// The number in a node text "<prefix><number>", or -1.
int NumberAfter(const QString& text, const QString& prefix) {
  if (!text.startsWith(prefix)) return -1;
  bool ok = false;
  const int n = text.mid(prefix.size()).toInt(&ok);
  return ok ? n : -1;
}

void ShowSelectedPack(TForm1& form, TPicturePane& pane) {
  if (pane.isHidden()) return;
  // The same path may be opened again on another of its streams.
  const int stream = form.OpenStreamIndex();
  if (form.FileName() != pane.property("file").toString() || stream != pane.property("stream").toInt()) {
    pane.setProperty("file", form.FileName());
    pane.setProperty("stream", stream);
    pane.SetFile(form.FileName(), stream);
  }
  const int row = form.ListView1->SelectedRow();
  if (row < 0 || row >= form.Index().PackCount()) {
    pane.ShowPicture(-1);
    return;
  }
  const TPackRec pack = form.Index().Pack(row);
  const bool picture = pack.StartCode[0] == 0 && pack.StartCode[1] == 0 && pack.StartCode[2] == 1 && pack.StartCode[3] == 0;
  pane.ShowPicture(picture ? pack.Offset : -1);
}

// Selects slice `sliceIndex` in the slice list (which explains it into the slice tree) and the
// node of macroblock `number` in the tree.
void SelectMacroblockNode(TForm1& form, int sliceIndex, int number) {
  if (sliceIndex < 0 || sliceIndex >= form.lbSlices->count()) return;
  if (form.lbSlices->currentRow() != sliceIndex || form.tvSliceDetails->topLevelItemCount() == 0) {
    form.lbSlices->setCurrentRow(sliceIndex);
    emit form.lbSlices->itemClicked(form.lbSlices->item(sliceIndex));
  }
  QTreeWidget* tree = form.tvSliceDetails;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* slice = tree->topLevelItem(i);
    if (NumberAfter(slice->text(0), QStringLiteral("Slice ")) != sliceIndex) continue;
    QTreeWidgetItem* target = slice;
    for (int c = 0; c < slice->childCount() && number >= 0; ++c) {
      if (NumberAfter(slice->child(c)->text(0), QStringLiteral("MacroBlock ")) == number) target = slice->child(c);
    }
    tree->setCurrentItem(target);
    tree->scrollToItem(target);
    return;
  }
}

// The slice and macroblock of the selected slice-tree node, outlined on the picture; without
// one, the slice chosen in the slice list (its items are the picture's slices in file order).
void HighlightSelectedNode(TForm1& form, TPicturePane& pane) {
  QTreeWidgetItem* item = form.tvSliceDetails->currentItem();
  int number = -1;
  for (; item != nullptr && item->parent() != nullptr; item = item->parent()) {
    const int n = NumberAfter(item->text(0), QStringLiteral("MacroBlock "));
    if (n >= 0 && item->parent()->parent() == nullptr) number = n;
  }
  const int slice =
      item != nullptr ? NumberAfter(item->text(0), QStringLiteral("Slice ")) : form.lbSlices->SelectedRow();
  pane.HighlightMacroblock(slice, number);
}

} // namespace

TPicturePane* AttachPicturePane(TForm1& form) {
  auto* pane = new TPicturePane(&form);
  // Below the window's panes, as the overview is: docked beside them it would take their width.
  form.addDockWidget(Qt::BottomDockWidgetArea, pane);
  // The list is refilled as the window moves: a new selection and a refill both may show
  // another pack in the selected row.
  QObject::connect(form.ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, pane,
                   [&form, pane] { ShowSelectedPack(form, *pane); });
  QObject::connect(form.ListView1->model(), &QAbstractItemModel::modelReset, pane,
                   [&form, pane] { ShowSelectedPack(form, *pane); });
  QObject::connect(pane, &QDockWidget::visibilityChanged, pane, [&form, pane](bool visible) {
    if (visible) ShowSelectedPack(form, *pane);
  });
  QObject::connect(pane, &TPicturePane::MacroblockClicked, &form,
                   [&form](int slice, int number, int) { SelectMacroblockNode(form, slice, number); });
  QObject::connect(form.tvSliceDetails, &QTreeWidget::currentItemChanged, pane,
                   [&form, pane] { HighlightSelectedNode(form, *pane); });
  // A slice chosen in the list is outlined once the window has explained it into the slice
  // tree (queued: the window's own handler of the choice runs after this one), and again when
  // the picture or its macroblocks arrive after the choice.
  QObject::connect(
      form.lbSlices, &QListWidget::itemSelectionChanged, pane, [&form, pane] { HighlightSelectedNode(form, *pane); },
      Qt::QueuedConnection);
  for (auto shown : {&TPicturePane::PictureShown, &TPicturePane::MapShown})
    QObject::connect(pane, shown, pane, [&form, pane] { HighlightSelectedNode(form, *pane); });
  return pane;
}

} // namespace varlow
