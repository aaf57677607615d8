// Copy in the main window: each view's context menu with its copy commands, and Ctrl+C doing
// the first of them in the view that has the focus. The texts are made by the browser core.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTreeWidget>
#include <algorithm>
#include <functional>

#include "browser/CopyText.h"
#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListModel.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/QtTreeSink.h"
#include "browser/gui/SliceListBox.h"

namespace varlow {

namespace {

void ToClipboard(const QString& text) { QApplication::clipboard()->setText(text); }

// Node texts are single-byte text (Latin-1), as the tree sink reads them.
std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

// The text of a node as the command-line tool prints it: damage nodes marked with "!! ".
std::string NodeLine(const QTreeWidgetItem* item) {
  const std::string text = Latin1(item->text(0));
  return item->data(0, kDamageRole).toBool() ? "!! " + text : text;
}

// A node and every node below it, collapsed or not, as indented lines.
QString SubtreeText(const QTreeWidgetItem* top) {
  std::vector<TIndentedLine> lines;
  std::function<void(const QTreeWidgetItem*, int)> walk = [&](const QTreeWidgetItem* item, int depth) {
    lines.push_back({depth, NodeLine(item)});
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), depth + 1);
  };
  walk(top, 0);
  return QString::fromLatin1(IndentedText(lines));
}

QAction* AddCopy(QMenu* menu, const char* name, const QString& caption, bool enabled, std::function<QString()> text) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QString::fromLatin1(name));
  action->setEnabled(enabled);
  QObject::connect(action, &QAction::triggered, menu, [text = std::move(text)] { ToClipboard(text()); });
  return action;
}

}  // namespace

// Ctrl+C (the platform's Copy key) in a view does its menu's first command; the view's own
// handling of the key (a dump's copy of the text as shown, a list's copy of one cell) is not
// reached.
class TCopyKeyFilter final : public QObject {
 public:
  TCopyKeyFilter(TForm1& form, QObject* parent) : QObject(parent), FForm(form) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (!key->matches(QKeySequence::Copy)) return false;
    event->accept();
    if (event->type() == QEvent::KeyPress) FForm.CopyFrom(static_cast<QWidget*>(watched));
    return true;
  }

 private:
  TForm1& FForm;
};

void TForm1::CreateCopyCommands() {
  auto* filter = new TCopyKeyFilter(*this, this);
  for (QWidget* view :
       {static_cast<QWidget*>(ListView1), static_cast<QWidget*>(TreeView1), static_cast<QWidget*>(tvSliceDetails),
        static_cast<QWidget*>(lbSlices), static_cast<QWidget*>(Memo1)}) {
    view->installEventFilter(filter);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) {
      // A right click on a row or node chooses it first, as a left click would.
      if (auto* tree = qobject_cast<QTreeWidget*>(view)) {
        if (QTreeWidgetItem* item = tree->itemAt(at)) tree->setCurrentItem(item);
      }
      const std::unique_ptr<QMenu> menu = ContextMenuFor(view);
      // The views are scroll areas: `at` is in their viewport's coordinates.
      if (menu) menu->exec(static_cast<QAbstractScrollArea*>(view)->viewport()->mapToGlobal(at));
    });
  }
}

std::unique_ptr<QMenu> TForm1::ContextMenuFor(QWidget* view) {
  auto menu = std::make_unique<QMenu>(view);
  const QKeySequence copyKey(QKeySequence::Copy);
  if (view == ListView1) {
    menu->setObjectName(QStringLiteral("ListView1Menu"));
    const bool any = !SelectedPackRows().empty();
    AddCopy(menu.get(), "CopyRows1", QStringLiteral("&Copy"), any, [this] {
      return PackRowsText(false);
    })->setShortcut(copyKey);
    AddCopy(menu.get(), "CopyRowsWithNames1", QStringLiteral("Copy with Column &Names"), any,
            [this] { return PackRowsText(true); });
  } else if (auto* tree = qobject_cast<QTreeWidget*>(view)) {
    menu->setObjectName(tree->objectName() + QStringLiteral("Menu"));
    QTreeWidgetItem* item = tree->currentItem();
    const QString text = item != nullptr ? item->text(0) : QString();
    const QString value = QString::fromLatin1(NodeValueText(Latin1(text)));
    AddCopy(menu.get(), "CopyNode1", QStringLiteral("&Copy"), item != nullptr, [text] {
      return text;
    })->setShortcut(copyKey);
    AddCopy(menu.get(), "CopyValue1", QStringLiteral("Copy &Value"), !value.isEmpty(), [value] { return value; });
    const QString meaning = item != nullptr ? item->data(0, kMeaningRole).toString() : QString();
    if (!meaning.isEmpty())
      AddCopy(menu.get(), "CopyMeaning1", QStringLiteral("Copy &Meaning"), true, [meaning] { return meaning; });
    AddCopy(menu.get(), "CopySubtree1", QStringLiteral("Copy &Subtree"), item != nullptr,
            [tree] { return tree->currentItem() != nullptr ? SubtreeText(tree->currentItem()) : QString(); });
  } else if (view == lbSlices) {
    menu->setObjectName(QStringLiteral("lbSlicesMenu"));
    QListWidgetItem* item = lbSlices->currentItem();
    const QString text = item != nullptr ? item->text() : QString();
    AddCopy(menu.get(), "CopySlice1", QStringLiteral("&Copy"), item != nullptr, [text] {
      return text;
    })->setShortcut(copyKey);
  } else if (view == Memo1) {
    menu->setObjectName(QStringLiteral("Memo1Menu"));
    const bool any = SelectedDumpBytes().has_value();
    AddCopy(menu.get(), "CopyHex1", QStringLiteral("&Copy as Hex"), any, [this] {
      return DumpBytesText(true);
    })->setShortcut(copyKey);
    AddCopy(menu.get(), "CopyText1", QStringLiteral("Copy as &Text"), any, [this] { return DumpBytesText(false); });
    AddCopy(
        menu.get(), "CopyLines1", QStringLiteral("Copy &Lines as Shown"), Memo1->textCursor().hasSelection(),
        [this] { return Memo1->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')); });
    menu->addSeparator();
    QAction* all = menu->addAction(QStringLiteral("Select &All"), Memo1, &QPlainTextEdit::selectAll);
    all->setObjectName(QStringLiteral("SelectAll1"));
    all->setShortcut(QKeySequence::SelectAll);
  } else {
    return nullptr;
  }
  return menu;
}

void TForm1::CopyFrom(QWidget* view) {
  const std::unique_ptr<QMenu> menu = ContextMenuFor(view);
  if (!menu || menu->actions().isEmpty()) return;
  QAction* first = menu->actions().first();
  if (first->isEnabled()) first->trigger();
}

std::vector<int> TForm1::SelectedPackRows() const {
  std::vector<int> rows;
  if (ListView1->selectionModel() == nullptr) return rows;
  for (const QModelIndex& index : ListView1->selectionModel()->selectedRows())
    if (index.row() < FIndex.PackCount()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

QString TForm1::PackRowsText(bool withNames) const {
  std::vector<std::vector<std::string>> rows;
  const QAbstractItemModel* model = ListView1->model();
  if (withNames) {
    rows.emplace_back();
    for (int c = 0; c < model->columnCount(); ++c)
      rows.back().push_back(model->headerData(c, Qt::Horizontal).toString().toStdString());
  }
  for (const int row : SelectedPackRows()) {
    rows.emplace_back();
    for (int c = 0; c < model->columnCount(); ++c)
      rows.back().push_back(model->index(row, c).data().toString().toStdString());
  }
  return QString::fromStdString(TabSeparatedRows(rows));
}

std::span<const std::uint8_t> TForm1::DumpedBytes() const {
  return DumpShowsFileBytes() ? std::span<const std::uint8_t>(FFileBytes) : std::span<const std::uint8_t>(FPackBytes);
}

std::optional<std::pair<std::int32_t, std::int32_t>> TForm1::SelectedDumpBytes() const {
  const QTextCursor cursor = Memo1->textCursor();
  if (!cursor.hasSelection() || DumpedBytes().empty()) return std::nullopt;
  std::vector<std::string> lines;
  for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next())
    lines.push_back(Latin1(block.text()));
  auto place = [this](int position) {
    const QTextBlock block = Memo1->document()->findBlock(position);
    return TDumpPlace{block.blockNumber(), position - block.position()};
  };
  auto range =
      DumpSelectionBytes(lines, FDumpWindowStart, place(cursor.selectionStart()), place(cursor.selectionEnd()));
  const auto size = static_cast<std::int32_t>(DumpedBytes().size());
  if (!range || range->first >= size) return std::nullopt;
  range->second = std::min(range->second, size - 1);
  return range;
}

QString TForm1::DumpBytesText(bool hex) const {
  const auto range = SelectedDumpBytes();
  if (!range) return {};
  const auto bytes = DumpedBytes().subspan(static_cast<std::size_t>(range->first),
                                           static_cast<std::size_t>(range->second - range->first + 1));
  return QString::fromLatin1(hex ? HexBytesText(bytes) : PrintableBytesText(bytes));
}

}  // namespace varlow
