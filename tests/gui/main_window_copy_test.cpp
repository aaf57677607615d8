// Copy from the main window's views: a node's text, value and subtree from either tree, rows of
// the list, the slice list's item, and a range of the hex dump as hex and as text; each view
// has a context menu with these commands and Ctrl+C does the first of them.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QTextBlock>

#include "MainWindowTestSupport.h"
#include "browser/PackDetails.h"
#include "support/MemoryTree.h"

using namespace varlow;
using namespace varlow::test;

namespace {

QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& prefix) {
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->text(0).startsWith(prefix)) return *it;
  return nullptr;
}

QString Clipboard() { return QApplication::clipboard()->text(); }

// Triggers the command `name` of the view's context menu; false when the menu lacks it or it
// is disabled.
bool Trigger(TForm1& form, QWidget* view, const char* name) {
  const std::unique_ptr<QMenu> menu = form.ContextMenuFor(view);
  QAction* action = menu ? menu->findChild<QAction*>(QString::fromLatin1(name)) : nullptr;
  if (action == nullptr || !action->isEnabled()) return false;
  action->trigger();
  return true;
}

QStringList ActionNames(TForm1& form, QWidget* view) {
  QStringList names;
  const std::unique_ptr<QMenu> menu = form.ContextMenuFor(view);
  if (!menu) return names;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) names << action->objectName();
  return names;
}

void PressCopy(QWidget* view) {
  QApplication::clipboard()->clear();
  view->setFocus();
  // Ctrl+C as a click, so the modifier is let go again (the window's list reads it).
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
}

QByteArray SampleBytes() {
  QFile file(FileOf(SampleStream()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Bytes as the dump's text copy gives them: printable ASCII, else ".".
QString Printable(const QByteArray& bytes) {
  QString out;
  for (const char c : bytes) out += c >= 0x20 && c < 0x7F ? QChar::fromLatin1(c) : QLatin1Char('.');
  return out;
}

// The header tree of the pack at `offset` as varlow-cli prints it.
QString CliTree(std::int64_t offset) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(SampleStream(), TFileStream::Mode::ReadOnly));
  TMemoryTree tree;
  TPackDetails details;
  if (!UpdatePack(index, offset, tree, details)) return {};
  return QString::fromStdString(tree.ToText());
}

}  // namespace

class MainWindowCopyTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  std::unique_ptr<TForm1> FForm;

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void init() {
    FForm = ShowForm();
    QVERIFY(FForm);
    FForm->OpenFile(FileOf(SampleStream()));
    QVERIFY(RowCount(*FForm) > 3);
  }
  void cleanup() { FForm.reset(); }

  void everyViewHasItsContextMenu() {
    for (QWidget* view : {static_cast<QWidget*>(FForm->ListView1), static_cast<QWidget*>(FForm->TreeView1),
                          static_cast<QWidget*>(FForm->tvSliceDetails), static_cast<QWidget*>(FForm->lbSlices),
                          static_cast<QWidget*>(FForm->Memo1)})
      QCOMPARE(view->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(ActionNames(*FForm, FForm->ListView1), QStringList({"CopyRows1", "CopyRowsWithNames1"}));
    QCOMPARE(ActionNames(*FForm, FForm->TreeView1), QStringList({"CopyNode1", "CopyValue1", "CopySubtree1"}));
    QCOMPARE(ActionNames(*FForm, FForm->tvSliceDetails), QStringList({"CopyNode1", "CopyValue1", "CopySubtree1"}));
    QCOMPARE(ActionNames(*FForm, FForm->lbSlices), QStringList({"CopySlice1"}));
    QCOMPARE(ActionNames(*FForm, FForm->Memo1), QStringList({"CopyHex1", "CopyText1", "CopyLines1", "SelectAll1"}));
    QVERIFY(!FForm->ContextMenuFor(FForm->ScrollBar1));
    // Each menu's first command shows the Copy key it answers to, and every command has its
    // mnemonic.
    const std::unique_ptr<QMenu> menu = FForm->ContextMenuFor(FForm->Memo1);
    QCOMPARE(menu->actions().first()->shortcut(), QKeySequence(QKeySequence::Copy));
    for (const QAction* action : menu->actions())
      QVERIFY(action->isSeparator() || action->text().contains(QLatin1Char('&')));
  }

  void headerNodeTextValueMeaningAndSubtree() {
    // Row 0 is the sequence header: nothing chosen yet, nothing to copy.
    QVERIFY(!Trigger(*FForm, FForm->TreeView1, "CopyNode1"));
    QTreeWidgetItem* rate = FindItem(FForm->TreeView1, QStringLiteral("frame_rate_code = "));
    QVERIFY(rate);
    FForm->TreeView1->setCurrentItem(rate);
    QVERIFY(Trigger(*FForm, FForm->TreeView1, "CopyNode1"));
    QCOMPARE(Clipboard(), QStringLiteral("frame_rate_code = 3 (4 bits)"));
    QVERIFY(Trigger(*FForm, FForm->TreeView1, "CopyValue1"));
    QCOMPARE(Clipboard(), QStringLiteral("3"));
    // The meaning is in the tooltip, above the element's place, and can be copied.
    QCOMPARE(rate->toolTip(0), QStringLiteral("25 frames/s\nbit 60 (byte 7, bit 4), 4 bits"));
    QVERIFY(Trigger(*FForm, FForm->TreeView1, "CopyMeaning1"));
    QCOMPARE(Clipboard(), QStringLiteral("25 frames/s"));
    // Ctrl+C copies the node's text.
    PressCopy(FForm->TreeView1);
    QCOMPARE(Clipboard(), QStringLiteral("frame_rate_code = 3 (4 bits)"));

    // A node without a value: its text copies, its value cannot.
    FForm->TreeView1->setCurrentItem(FindItem(FForm->TreeView1, QStringLiteral("sequence_header")));
    QVERIFY(!Trigger(*FForm, FForm->TreeView1, "CopyValue1"));
    // The whole tree from its top node is what varlow-cli prints for the pack.
    FForm->TreeView1->setCurrentItem(FForm->TreeView1->topLevelItem(0));
    QVERIFY(Trigger(*FForm, FForm->TreeView1, "CopySubtree1"));
    QCOMPARE(Clipboard(), CliTree(0));
    // A subtree is indented from its own top node, collapsed or not.
    QTreeWidgetItem* extension = FindItem(FForm->TreeView1, QStringLiteral("sequence_extension"));
    QVERIFY(extension);
    extension->setExpanded(false);
    FForm->TreeView1->setCurrentItem(extension);
    QVERIFY(Trigger(*FForm, FForm->TreeView1, "CopySubtree1"));
    QVERIFY(
        Clipboard().startsWith(QStringLiteral("sequence_extension\n  extension_start_code = $000001B5 (32 bits)\n")));
    QCOMPARE(Clipboard().count(QLatin1Char('\n')), 1 + extension->childCount());
  }

  void listRows() {
    // Three rows chosen together copy as tab-separated lines, with the column names if asked.
    QItemSelectionModel* selection = FForm->ListView1->selectionModel();
    selection->setCurrentIndex(FForm->ListView1->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    for (int row : {0, 1, 2})
      selection->select(FForm->ListView1->model()->index(row, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QString expected;
    for (int row = 0; row < 3; ++row) {
      QStringList cells;
      for (int column = 0; column < 5; ++column) cells << Cell(*FForm, row, column);
      expected += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    QVERIFY(expected.startsWith(QStringLiteral("$00000000\t22\tSEQUENCE_HEADER_CODE\t\t\n")));
    PressCopy(FForm->ListView1);
    QCOMPARE(Clipboard(), expected);
    QVERIFY(Trigger(*FForm, FForm->ListView1, "CopyRowsWithNames1"));
    QCOMPARE(Clipboard(), QStringLiteral("Offset\tLen\tStart Code\tCoding Type\tFrame #\n") + expected);
    // The pack shown stays the current row's.
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
  }

  void hexDumpRangeAsHexAndText() {
    const QByteArray file = SampleBytes();
    // Nothing selected in the dump: nothing to copy.
    QVERIFY(!Trigger(*FForm, FForm->Memo1, "CopyHex1"));
    // The I picture (row 2); its temporal_reference node selects bytes 4..5 of the pack.
    FForm->ListView1->SelectRow(2);
    QTest::mouseClick(FForm->ListView1->viewport(), Qt::LeftButton, {},
                      FForm->ListView1->visualRect(FForm->ListView1->model()->index(2, 1)).center());
    const int offset = static_cast<int>(RowOffset(*FForm, 2));
    FForm->TreeView1->setCurrentItem(FindItem(FForm->TreeView1, QStringLiteral("temporal_reference = ")));
    QCOMPARE(FForm->SelectedDumpBytes(), std::make_optional(std::make_pair(4, 5)));
    QVERIFY(Trigger(*FForm, FForm->Memo1, "CopyHex1"));
    QCOMPARE(Clipboard(), QString::fromLatin1(file.mid(offset + 4, 2).toHex(' ').toUpper()));
    // The whole picture coding extension, across a line end, as hex and as text.
    QTreeWidgetItem* extension = FindItem(FForm->TreeView1, QStringLiteral("picture_coding_extension"));
    QVERIFY(extension);
    FForm->TreeView1->setCurrentItem(extension);
    const int first = static_cast<int>(extension->data(0, kBitPosRole).toLongLong() / 8);
    const int count = (extension->data(0, kBitWidthRole).toInt() + 7) / 8;
    QVERIFY(first % 16 + count > 16);  // the range crosses a line of the dump
    PressCopy(FForm->Memo1);
    QCOMPARE(Clipboard(), QString::fromLatin1(file.mid(offset + first, count).toHex(' ').toUpper()));
    QVERIFY(Trigger(*FForm, FForm->Memo1, "CopyText1"));
    QCOMPARE(Clipboard(), Printable(file.mid(offset + first, count)));

    // A selection made in the characters beside the pairs: the second line's first 5.
    const QTextBlock line = FForm->Memo1->document()->findBlockByNumber(1);
    QTextCursor cursor(FForm->Memo1->document());
    cursor.setPosition(line.position() + 60);
    cursor.setPosition(line.position() + 65, QTextCursor::KeepAnchor);
    FForm->Memo1->setTextCursor(cursor);
    QVERIFY(Trigger(*FForm, FForm->Memo1, "CopyHex1"));
    QCOMPARE(Clipboard(), QString::fromLatin1(file.mid(offset + 16, 5).toHex(' ').toUpper()));
    QVERIFY(Trigger(*FForm, FForm->Memo1, "CopyLines1"));
    QCOMPARE(Clipboard(), line.text().mid(60, 5));
  }

  void sliceTreeAndSliceList() {
    QTest::mouseClick(FForm->ListView1->viewport(), Qt::LeftButton, {},
                      FForm->ListView1->visualRect(FForm->ListView1->model()->index(2, 1)).center());
    QVERIFY(FForm->lbSlices->count() > 1);
    FForm->lbSlices->setCurrentRow(1);
    emit FForm->lbSlices->itemClicked(FForm->lbSlices->item(1));
    PressCopy(FForm->lbSlices);
    QCOMPARE(Clipboard(), FForm->lbSlices->item(1)->text());
    QTreeWidgetItem* quant = FindItem(FForm->tvSliceDetails, QStringLiteral("quantiser_scale_code = "));
    QVERIFY(quant);
    FForm->tvSliceDetails->setCurrentItem(quant);
    QVERIFY(Trigger(*FForm, FForm->tvSliceDetails, "CopyValue1"));
    QCOMPARE(Clipboard(), quant->text(0).section(QLatin1Char(' '), 2, 2));
    PressCopy(FForm->tvSliceDetails);
    QCOMPARE(Clipboard(), quant->text(0));
    // A macroblock's subtree: its node and everything below it, two spaces a level.
    QTreeWidgetItem* macroblock = FindItem(FForm->tvSliceDetails, QStringLiteral("MacroBlock 0"));
    QVERIFY(macroblock);
    FForm->tvSliceDetails->setCurrentItem(macroblock);
    QVERIFY(Trigger(*FForm, FForm->tvSliceDetails, "CopySubtree1"));
    const QStringList lines = Clipboard().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.first(), QStringLiteral("MacroBlock 0"));
    QCOMPARE(lines.at(1), QStringLiteral("  ") + macroblock->child(0)->text(0));
    QVERIFY(lines.size() > macroblock->childCount());
  }
};

QTEST_MAIN(MainWindowCopyTest)
#include "main_window_copy_test.moc"
