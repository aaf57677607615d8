// Moving through a file with the keys and the scroll bar: the window must always show a full
// page of consecutive packs (or the file's last packs), never an empty list, and the scroll bar
// must stay at the position of the window's start.
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
    QCOMPARE(FForm->ScrollBar1->maximum(), static_cast<int>(QFileInfo(FileOf(SampleStream())).size() / 100 - 1));
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
    const QString lastOffset = Cell(*FForm, FRows - 1, 0).mid(1);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(lastOffset + QStringLiteral("   00 00 01 00 ")));

    // Down on the last row of the last full page: the window starts one pack later and is no
    // longer full; a further Down or Page Down moves nothing and the list never empties.
    Key(Qt::Key_Down);
    ExpectWindow(lastPage + 1, FRows - 1);
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Down}) {
      Key(key);
      ExpectWindow(lastPage + 1, FRows - 1);
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
    // One step down from the last full page still moves: the page is full.
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine));
    QCOMPARE(log.Count("one down"), 1);
    ExpectWindow(lastPage + 1, FRows - 1);
    const int settled = FForm->ScrollBar1->value();
    // Now the window reaches the end of the file: arrow and trough put the bar back.
    for (QStyle::SubControl part : {QStyle::SC_ScrollBarAddLine, QStyle::SC_ScrollBarAddPage}) {
      QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(part));
      QCOMPARE(FForm->ScrollBar1->value(), settled);
      ExpectWindow(lastPage + 1, FRows - 1);
    }
    QCOMPARE(log.Count("one down"), 1);
    QCOMPARE(log.Count("page down"), 0);
  }

  void thumbToTheBottomLandsOnTheLastStartCodeBeforeIt() {
    // No start code follows 100 * maximum in the sample: the jump goes back to the last one.
    DragThumbTo(FForm->ScrollBar1, FForm->ScrollBar1->maximum());
    ExpectWindow(FPacks.size() - 1, 1);
    ExpectScrollAt(FPacks.back());
    // A step down from there snaps back; the keys keep working: Page Up shows the page before.
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine));
    ExpectWindow(FPacks.size() - 1, 1);
    ExpectScrollAt(FPacks.back());
    FForm->ListView1->SelectRow(0);
    Key(Qt::Key_PageUp);
    ExpectWindow(FPacks.size() - 1 - static_cast<std::size_t>(FRows), FRows);
  }

  void sequenceEndAtTheVeryEnd() {
    // A sequence end code in the file's last bytes lies past 100 * maximum, where the bar
    // cannot go: the bar stays at its maximum and a click there is not taken for a step up.
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
    QCOMPARE(RowCount(*FForm), 1);
    QCOMPARE(RowOffset(*FForm, 0), end);
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    QTest::mouseClick(FForm->ScrollBar1, Qt::LeftButton, {}, Part(QStyle::SC_ScrollBarAddLine));
    QCOMPARE(RowCount(*FForm), 1);
    QCOMPARE(RowOffset(*FForm, 0), end);
    QCOMPARE(log.Count("one up"), 0);
  }
};

QTEST_MAIN(MainWindowNavigationTest)
#include "main_window_navigation_test.moc"
