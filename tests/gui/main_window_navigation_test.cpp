// Moving through a file with the keys and the scroll bar: the window must always show a full
// page of consecutive packs (the last one ending at the file's last pack), never an empty list,
// and the scroll bar must stay at the position of the window's start, at its bottom on the last
// page.
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "MainWindowTestSupport.h"
#include "support/Log.h"

using namespace varlow;
using namespace varlow::test;

class MainWindowNavigationTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  std::unique_ptr<TForm1> FForm;
  std::vector<std::int64_t> FPacks;  // every pack of the sample
  int FRows = 0;

  // The list shows packs first .. first + count - 1 of the file, in order.
  void ExpectWindow(std::size_t first, int count) {
    QCOMPARE(RowCount(*FForm), count);
    for (int row = 0; row < count; ++row) QCOMPARE(RowOffset(*FForm, row), FPacks.at(first + row));
  }
  void ExpectScrollAt(std::int64_t offset) {
    QCOMPARE(FForm->ScrollBar1->value(), std::min(static_cast<int>(offset / 100), FForm->ScrollBar1->maximum()));
  }
  void Key(Qt::Key key) { QTest::keyClick(FForm->ListView1, key); }
  QPoint Part(QStyle::SubControl part) const { return ScrollBarPoint(FForm->ScrollBar1, part); }

 private slots:
  void initTestCase() {
    UsePrivateSettings(FSettingsDir);
    FPacks = AllPackOffsets(SampleStream());
    QVERIFY(FPacks.size() > 40);
  }

  void init() {
    FForm = ShowForm();
    QVERIFY(FForm);
    FForm->OpenFile(FileOf(SampleStream()));
    FRows = FForm->ListView1->VisibleRowCount();
    QVERIFY2(FRows >= 8 && FRows * 2 < static_cast<int>(FPacks.size()), "the sample spans several pages");
  }

  void cleanup() { FForm.reset(); }

  void openShowsFirstPageWithRowZeroSelected() {
    ExpectWindow(0, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    QCOMPARE(Cell(*FForm, 0, 2), QStringLiteral("SEQUENCE_HEADER_CODE"));
    // The bar reaches as far as a full page can start: its bottom is the last page.
    const std::size_t lastPage = FPacks.size() - static_cast<std::size_t>(FRows);
    QCOMPARE(FForm->ScrollBar1->maximum(), static_cast<int>(FPacks[lastPage] / 100));
    QVERIFY(FForm->ScrollBar1->maximum() < QFileInfo(FileOf(SampleStream())).size() / 100 - 1);
    QCOMPARE(FForm->ScrollBar1->singleStep(), 1);
    QCOMPARE(FForm->ScrollBar1->pageStep(), 10);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(QStringLiteral("00000000   00 00 01 B3 ")));
  }

  void keysAtThePageEdgesStepTheWindow() {
    // Up on the first row of the first page: the window stays at the file's start.
    Key(Qt::Key_Up);
    ExpectWindow(0, FRows);
    // Down to the last row moves only the selection.
    for (int i = 1; i < FRows; ++i) Key(Qt::Key_Down);
    ExpectWindow(0, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), FRows - 1);
    // Down on the last row of a full page: the window starts at its second pack; the same row
    // now shows the next pack, and the detail panes follow it.
    Key(Qt::Key_Down);
    ExpectWindow(1, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), FRows - 1);
    ExpectScrollAt(FPacks[1]);
    const QString selectedOffset = Cell(*FForm, FRows - 1, 0).mid(1);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(selectedOffset + QStringLiteral("   00 00 01 ")));
    // Up inside the page moves the selection; on row 0 it steps the window back.
    for (int i = 1; i < FRows; ++i) Key(Qt::Key_Up);
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    ExpectWindow(1, FRows);
    Key(Qt::Key_Up);
    ExpectWindow(0, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
  }

  void pageKeysMoveByWholePages() {
    Key(Qt::Key_PageDown);
    ExpectWindow(FRows, FRows);  // the page that begins after the last pack
    ExpectScrollAt(FPacks[FRows]);
    QCOMPARE(FForm->ListView1->SelectedRow(), FRows - 1);
    Key(Qt::Key_PageUp);
    ExpectWindow(0, FRows);  // the page that ends just before the first pack
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    // Page up on the first page: the search from offset 0 finds the first pack again.
    Key(Qt::Key_PageUp);
    ExpectWindow(0, FRows);
    ExpectScrollAt(0);
  }

  void homeAndEndShowTheFirstAndLastPage() {
    const std::size_t lastPage = FPacks.size() - static_cast<std::size_t>(FRows);
    Key(Qt::Key_End);
    ExpectWindow(lastPage, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), FRows - 1);
    ExpectScrollAt(FPacks[lastPage]);
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());  // the thumb at the bottom
    const QString lastOffset = Cell(*FForm, FRows - 1, 0).mid(1);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(lastOffset + QStringLiteral("   00 00 01 00 ")));

    // Down on the last row of the last page, and Page Down there, move nothing: the page stays
    // full and the thumb at the bottom.
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Down}) {
      Key(key);
      ExpectWindow(lastPage, FRows);
      QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    }

    Key(Qt::Key_Home);
    ExpectWindow(0, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    ExpectScrollAt(0);
  }

  void resizeKeepsTheFirstRow() {
    Key(Qt::Key_PageDown);
    Key(Qt::Key_Down);  // a step from the last row of the second page
    ExpectWindow(FRows + 1, FRows);
    const QSize size = FForm->size();
    FForm->resize(size.width(), size.height() - 120);
    QTRY_VERIFY(FForm->ListView1->VisibleRowCount() < FRows);
    const int fewer = FForm->ListView1->VisibleRowCount();
    ExpectWindow(FRows + 1, fewer);
    FForm->resize(size.width(), size.height() + 80);
    QTRY_VERIFY(FForm->ListView1->VisibleRowCount() > FRows);
    ExpectWindow(FRows + 1, FForm->ListView1->VisibleRowCount());
  }

  void scrollBarArrowsAndTroughStepAndPage() {
    ScopedLogCapture log;
    // Jump into the middle first, so both directions have room.
    DragThumbTo(FForm->ScrollBar1, 1000);
    QCOMPARE(log.Count("other"), 1);
    std::size_t first = 0;
    while (FPacks[first] < 100000) ++first;
    ExpectWindow(first, FRows);
    ExpectScrollAt(FPacks[first]);
    // After a scroll-bar move the first row is selected and shown.
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(Cell(*FForm, 0, 0).mid(1) + QStringLiteral("   00 00 01 ")));

    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarSubLine));
    QCOMPARE(log.Count("one up"), 1);
    ExpectWindow(first - 1, FRows);
    ExpectScrollAt(FPacks[first - 1]);

    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine));
    QCOMPARE(log.Count("one down"), 1);
    ExpectWindow(first, FRows);
    ExpectScrollAt(FPacks[first]);

    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddPage));
    QCOMPARE(log.Count("page down"), 1);
    ExpectWindow(first + FRows, FRows);

    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarSubPage));
    QCOMPARE(log.Count("page up"), 1);
    ExpectWindow(first, FRows);
    // The traces are plain lines: the program's name and the word, no "wex:".
    QCOMPARE(log.Count("wex: "), 0);
    for (const auto& line : log.Lines())
      QVERIFY(QString::fromStdString(line).startsWith(QString::fromStdString(LogPrefix())));
  }

  void stepDownAtTheEndSnapsTheScrollBarBack() {
    Key(Qt::Key_End);
    const std::size_t lastPage = FPacks.size() - static_cast<std::size_t>(FRows);
    ScopedLogCapture log;
    // The last page reaches the end of the file: arrow and trough leave it and the bar where
    // they are.
    for (QStyle::SubControl part : {QStyle::SC_ScrollBarAddLine, QStyle::SC_ScrollBarAddPage}) {
      QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(part));
      QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
      ExpectWindow(lastPage, FRows);
    }
    QCOMPARE(log.Count("one down"), 0);
    QCOMPARE(log.Count("page down"), 0);
    // One step up leaves the last page; one down comes back to it, thumb at the bottom again.
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarSubLine));
    ExpectWindow(lastPage - 1, FRows);
    // The bar stands at that pack's 100-byte unit (the bottom too, when it shares the last
    // page's unit, as a sequence header does with the group and picture after it).
    ExpectScrollAt(FPacks[lastPage - 1]);
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine));
    ExpectWindow(lastPage, FRows);
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
  }

  void pageDownNearTheEndShowsTheLastFullPage() {
    const std::size_t lastPage = FPacks.size() - static_cast<std::size_t>(FRows);
    Key(Qt::Key_End);
    FForm->ListView1->SelectRow(0);
    for (int i = 0; i < 3; ++i) Key(Qt::Key_Up);  // three packs before the last page
    ExpectWindow(lastPage - 3, FRows);
    // The page after this one would hold three packs: the last full page is shown instead.
    Key(Qt::Key_PageDown);
    ExpectWindow(lastPage, FRows);
    QCOMPARE(RowOffset(*FForm, FRows - 1), FPacks.back());
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    // The same from the trough.
    FForm->ListView1->SelectRow(0);
    for (int i = 0; i < 2; ++i) Key(Qt::Key_Up);
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddPage));
    ExpectWindow(lastPage, FRows);
  }

  void packChosenNearTheEndIsShownOnTheLastPage() {
    // As a click on the overview's last picture chooses it: the last page, the pack in its row.
    const std::size_t lastPage = FPacks.size() - static_cast<std::size_t>(FRows);
    FForm->SelectPackAt(FPacks[FPacks.size() - 2]);
    ExpectWindow(lastPage, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), FRows - 2);
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    // Further in, the chosen pack is row 0 as before.
    FForm->SelectPackAt(FPacks[3]);
    ExpectWindow(3, FRows);
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
  }

  void growingTheWindowNearTheEndRefillsAFullPage() {
    Key(Qt::Key_End);
    const QString selected = Cell(*FForm, FRows - 1, 0);
    const QSize size = FForm->size();
    FForm->resize(size.width(), size.height() + 100);
    QTRY_VERIFY(FForm->ListView1->VisibleRowCount() > FRows);
    const int rows = FForm->ListView1->VisibleRowCount();
    // The page grows upwards: full, ending at the last pack, which stays selected.
    ExpectWindow(FPacks.size() - static_cast<std::size_t>(rows), rows);
    QCOMPARE(Cell(*FForm, FForm->ListView1->SelectedRow(), 0), selected);
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    QCOMPARE(FForm->ScrollBar1->maximum(), static_cast<int>(RowOffset(*FForm, 0) / 100));
    // Maximised, in the middle of the file: as many rows as the list shows.
    Key(Qt::Key_Home);
    FForm->showMaximized();
    QTRY_VERIFY(FForm->isMaximized());
    QTRY_COMPARE(RowCount(*FForm), FForm->ListView1->VisibleRowCount());
    ExpectWindow(0, RowCount(*FForm));
  }

  void thumbToTheBottomLandsOnTheLastStartCodeBeforeIt() {
    // No start code follows 100 * maximum in the sample: the jump goes back to the last one.
    // The bottom of the bar is the last page: full, its last row the last start code.
    const std::size_t lastPage = FPacks.size() - static_cast<std::size_t>(FRows);
    DragThumbTo(FForm->ScrollBar1, FForm->ScrollBar1->maximum());
    ExpectWindow(lastPage, FRows);
    QCOMPARE(RowOffset(*FForm, FRows - 1), FPacks.back());
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    // A step down from there snaps back; the keys keep working: Page Up shows the page before.
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine));
    ExpectWindow(lastPage, FRows);
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    FForm->ListView1->SelectRow(0);
    Key(Qt::Key_PageUp);
    ExpectWindow(lastPage - static_cast<std::size_t>(FRows), FRows);
  }

  void sequenceEndAtTheVeryEnd() {
    // A sequence end code in the file's last bytes ends the last page; at the bar's bottom a
    // click is not taken for a step up.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ended.m2v"));
    QVERIFY(QFile::copy(FileOf(SampleStream()), path));
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::Append));
      file.write(QByteArray::fromHex("000001B7"));
    }
    FForm->OpenFile(path);
    const std::int64_t end = QFileInfo(path).size() - 4;
    Key(Qt::Key_End);
    QCOMPARE(RowCount(*FForm), FRows);
    QCOMPARE(RowOffset(*FForm, FRows - 1), end);
    QCOMPARE(Cell(*FForm, FRows - 1, 2), QStringLiteral("SEQUENCE_END_CODE"));
    QCOMPARE(Cell(*FForm, FRows - 1, 1), QStringLiteral("4"));
    QCOMPARE(Cell(*FForm, FRows - 1, 3), QString());
    QVERIFY(FForm->Memo1->toPlainText().contains(QStringLiteral("00 00 01 B7")));

    ScopedLogCapture log;
    DragThumbTo(FForm->ScrollBar1, FForm->ScrollBar1->maximum());
    QCOMPARE(RowCount(*FForm), FRows);
    QCOMPARE(RowOffset(*FForm, FRows - 1), end);
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine));
    QCOMPARE(RowCount(*FForm), FRows);
    QCOMPARE(RowOffset(*FForm, FRows - 1), end);
    QCOMPARE(log.Count("one up"), 0);
  }
};

QTEST_MAIN(MainWindowNavigationTest)
#include "main_window_navigation_test.moc"
