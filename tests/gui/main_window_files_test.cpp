// Opening, refusing and closing files, and what the detail panes show for the selected pack.
#include <unistd.h>

#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <QMimeData>
#include <QTextBlock>

#include "MainWindowTestSupport.h"
#include "support/Format.h"
#include "support/Log.h"

using namespace varlow;
using namespace varlow::test;

namespace {

QString WriteFile(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
  const QString path = dir.filePath(QString::fromLatin1(name));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
  return path;
}

QByteArray SampleBytes() {
  QFile file(FileOf(SampleStream()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& prefix) {
  const auto items = tree->findItems(prefix, Qt::MatchStartsWith | Qt::MatchRecursive);
  return items.isEmpty() ? nullptr : items.first();
}

}  // namespace

class MainWindowFilesTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  QTemporaryDir FDir;
  std::unique_ptr<TForm1> FForm;

  // A refused path left the file `path` open with its `rows` rows on show.
  void ExpectStillOpen(const QString& path, int rows) {
    QCOMPARE(FForm->FileName(), path);
    QCOMPARE(FForm->windowTitle(), QStringLiteral("Varlow (") + path + QStringLiteral(")"));
    QCOMPARE(RowCount(*FForm), rows);
    QVERIFY(FForm->Index().Stream() != nullptr);
  }

  void ExpectNoFile() {
    QCOMPARE(FForm->windowTitle(), QStringLiteral("Varlow "));
    QVERIFY(FForm->FileName().isEmpty());
    QVERIFY(FForm->Index().Stream() == nullptr);
    QCOMPARE(RowCount(*FForm), 0);
    QVERIFY(FForm->Memo1->toPlainText().isEmpty());
    QCOMPARE(FForm->TreeView1->topLevelItemCount(), 0);
    QCOMPARE(FForm->lbSlices->count(), 0);
    QCOMPARE(FForm->tvSliceDetails->topLevelItemCount(), 0);
  }

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }
  void init() {
    FForm = ShowForm();
    QVERIFY(FForm);
  }
  void cleanup() { FForm.reset(); }

  void startsWithoutAFile() {
    ExpectNoFile();
    QCOMPARE(FForm->ScrollBar1->maximum(), 0);
  }

  void refusesAFileWithoutVideoStartCodes() {
    TMessageCapture messages;
    // A valid file first: a refused file leaves it open and on show.
    const QString sample = FileOf(SampleStream());
    FForm->OpenFile(sample);
    const int rows = RowCount(*FForm);
    QVERIFY(rows > 0);
    // Sequence end codes alone do not make a video stream; nor does a sequence header that
    // starts at byte 2,045, whose last byte lies beyond the 2,048 bytes looked at.
    QByteArray endsOnly;
    for (int i = 0; i < 8; ++i) endsOnly += QByteArray::fromHex("000001B7");
    QByteArray late(2045, '\0');
    late[0] = '\x55';
    late += QByteArray::fromHex("000001B3") + QByteArray(64, '\x11');
    QString path;
    for (const QByteArray& bytes : {QByteArray("plain text, no video"), endsOnly, late}) {
      path = WriteFile(FDir, "refused.bin", bytes);
      FForm->OpenFile(path);
      ExpectStillOpen(sample, rows);
    }
    QCOMPARE(messages.Messages, QStringList(3, QStringLiteral("Not valid MPEG-2 video elementary stream: ") +
                                                   QDir::toNativeSeparators(path)));
  }

  void badPathsSayWhatIsWrongAndTheOpenFileStays() {
    TMessageCapture messages;
    const QString sample = FileOf(SampleStream());
    FForm->OpenFile(sample);
    const int rows = RowCount(*FForm);
    const QString absent = FDir.filePath(QStringLiteral("absent.m2v"));
    const QString empty = WriteFile(FDir, "empty.m2v", QByteArray());
    for (const QString& path : {absent, FDir.path(), empty}) {
      FForm->OpenFile(path);
      ExpectStillOpen(sample, rows);
    }
    auto named = [](const QString& path, const char* why) {
      return QStringLiteral("Cannot open ") + QDir::toNativeSeparators(path) + QStringLiteral(": ") +
             QString::fromLatin1(why);
    };
    QCOMPARE(messages.Messages, QStringList({named(absent, "there is no such file."),
                                             named(FDir.path(), "it is a folder, not a file."),
                                             named(empty, "the file is empty.")}));
    // The file on show is still the one Hex Edit and the panes work on.
    QVERIFY(FForm->Index().Stream() != nullptr);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(QStringLiteral("00000000   00 00 01 B3 ")));
  }

  void unreadableFileIsTrappedAndTheOpenFileStays() {
    if (geteuid() == 0) QSKIP("root reads every file");
    const QString path = WriteFile(FDir, "locked.m2v", SampleBytes());
    QFile::setPermissions(path, QFileDevice::Permissions());
    const QString sample = FileOf(SampleStream());
    FForm->OpenFile(sample);
    const int rows = RowCount(*FForm);
    TMessageCapture messages;
    ScopedLogCapture log;
    FForm->OpenFile(path);
    QCOMPARE(log.Count("wex: Error in TForm1.Open1Click call..."), 0);  // refused before opening
    ExpectStillOpen(sample, rows);
    QCOMPARE(messages.Messages,
             QStringList{QStringLiteral("Cannot open ") + QDir::toNativeSeparators(path) +
                         QStringLiteral(": there is no permission to read it.")});
  }

  void readOnlyFileOpensForBrowsing() {
    const QString path = WriteFile(FDir, "readonly.m2v", SampleBytes());
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    FForm->OpenFile(path);
    // The title says the file is read-only (root may write any file: no mark then).
    const QString mark = geteuid() != 0 ? QStringLiteral(" [read-only]") : QString();
    QCOMPARE(FForm->windowTitle(), QStringLiteral("Varlow (") + path + QStringLiteral(")") + mark);
    QVERIFY(RowCount(*FForm) > 0);
    QVERIFY(FForm->Index().Stream() != nullptr);
    if (geteuid() != 0) QVERIFY(!FForm->Index().Stream()->Writable());
    FForm->OpenFile(FileOf(SampleStream()));  // a writable file: no mark
    QVERIFY(!FForm->windowTitle().contains(QStringLiteral("[read-only]")));
  }

  void fileOnTheCommandLineOpens() {
    const QString relative = QDir::current().relativeFilePath(FileOf(SampleStream()));
    FForm->OpenFromArguments({QStringLiteral("varlow"), relative});
    QCOMPARE(FForm->windowTitle(), QStringLiteral("Varlow (") + QFileInfo(relative).absoluteFilePath() + ")");
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    FForm->OpenFromArguments({QStringLiteral("varlow")});  // no argument: nothing changes
    QVERIFY(RowCount(*FForm) > 0);
  }

  void badCommandLinePathsAreRefusedAloud() {
    TMessageCapture messages;
    // A path that names nothing, and a folder: each refused with what is wrong, no file open.
    const QString absent = FDir.filePath(QStringLiteral("no-such.m2v"));
    FForm->OpenFromArguments({QStringLiteral("varlow"), absent});
    ExpectNoFile();
    FForm->OpenFromArguments({QStringLiteral("varlow"), FDir.path()});
    ExpectNoFile();
    QCOMPARE(messages.Messages.size(), 2);
    QCOMPARE(messages.Messages[0], QStringLiteral("Cannot open ") + QDir::toNativeSeparators(absent) +
                                       QStringLiteral(": there is no such file."));
    QVERIFY(messages.Messages[1].endsWith(QStringLiteral(": it is a folder, not a file.")));
  }

  void openDialogStartsInTheLastFolderWithVideoFilters() {
    QTemporaryDir elsewhere;
    const QString path = WriteFile(elsewhere, "clip.m2v", SampleBytes());
    FForm->OpenFile(path);
    QString folder;
    QStringList filters;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      folder = dialog->directory().absolutePath();
      filters = dialog->nameFilters();
      dialog->reject();
    });
    FForm->Open1Click();
    QCOMPARE(folder, QFileInfo(path).absolutePath());
    QCOMPARE(filters, QStringList({QStringLiteral("MPEG video (*.m2v *.m1v *.mpv *.mpg *.m2p)"),
                                   QStringLiteral("All files (*)")}));
    QCOMPARE(FForm->FileName(), path);  // cancelled: the open file stays
    // The folder is kept for the next run.
    FForm.reset();
    FForm = ShowForm();
    QCOMPARE(FForm->OpenDialogFolder(), QFileInfo(path).absolutePath());
  }

  void droppedFileOpens() {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(FileOf(SampleStream()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(FForm.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(FForm.get(), &drop);
    QCOMPARE(FForm->FileName(), FileOf(SampleStream()));
    QVERIFY(RowCount(*FForm) > 0);
  }

  void closeEmptiesTheWindowAndKeepsTheScrollRange() {
    FForm->OpenFile(FileOf(SampleStream()));
    const int maximum = FForm->ScrollBar1->maximum();
    QVERIFY(maximum > 0);
    FForm->Close1Click();
    ExpectNoFile();
    QCOMPARE(FForm->ScrollBar1->maximum(), maximum);
    // Keys and the scroll bar on the empty list do nothing harmful.
    QTest::keyClick(FForm->ListView1, Qt::Key_End);
    DragThumbTo(FForm->ScrollBar1, maximum / 2);
    QCOMPARE(RowCount(*FForm), 0);
  }

  void tinyFileHasAScrollRangeOfZero() {
    FForm->OpenFile(WriteFile(FDir, "tiny.m2v", QByteArray::fromHex("000001B3") + QByteArray(20, '\x10')));
    QCOMPARE(RowCount(*FForm), 1);
    QCOMPARE(FForm->ScrollBar1->minimum(), 0);
    QCOMPARE(FForm->ScrollBar1->maximum(), 0);
  }

  void filesBeyondFourGiBShowNineDigitOffsets() {
    // Sparse: the sample at the start and again 5 GiB in.
    const QString path = FDir.filePath(QStringLiteral("huge.m2v"));
    const QByteArray sample = SampleBytes();
    const qint64 far = qint64{5} << 30;
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      QVERIFY(file.write(sample) == sample.size());
      QVERIFY(file.seek(far));
      QVERIFY(file.write(sample) == sample.size());
    }
    FForm->OpenFile(path);
    QTest::keyClick(FForm->ListView1, Qt::Key_End);
    const int last = RowCount(*FForm) - 1;
    QVERIFY(last > 0);
    QCOMPARE(Cell(*FForm, last, 0).size(), 10);  // "$" and 9 digits
    QVERIFY(RowOffset(*FForm, 0) > far);
    // The bar ends where the last page begins, and End puts the thumb there.
    QCOMPARE(FForm->ScrollBar1->maximum(), static_cast<int>(RowOffset(*FForm, 0) / 100));
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    // The dump of the selected (last) pack numbers its lines with 9 digits, and the text
    // column still starts at character 61.
    const QString firstLine = FForm->Memo1->document()->firstBlock().text();
    QCOMPARE(firstLine.left(9), Cell(*FForm, last, 0).mid(1));
    QCOMPARE(firstLine.mid(9, 3), QStringLiteral("   "));
    QCOMPARE(firstLine.size(), 60 + 16);

    // A jump into the gap of zeros, less than 2 MiB before the second copy, finds its first pack.
    DragThumbTo(FForm->ScrollBar1, static_cast<int>((far - 1000000) / 100));
    QCOMPARE(RowOffset(*FForm, 0), far);
    QCOMPARE(Cell(*FForm, 0, 0), QStringLiteral("$140000000"));
    // The first row is selected after the move, so the next key acts at once.
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    QTest::keyClick(FForm->ListView1, Qt::Key_Home);
    QCOMPARE(RowOffset(*FForm, 0), 0);
  }

  void selectedPackFillsTheDetailPanes() {
    FForm->OpenFile(FileOf(SampleStream()));
    // Row 0 is the sequence header: its tree, its dump, no slices.
    QVERIFY(FindItem(FForm->TreeView1, QStringLiteral("Sequence")));
    QVERIFY(FForm->TreeView1->topLevelItem(0)->isExpanded());
    QCOMPARE(FForm->lbSlices->count(), 0);

    // A click on the I picture (row 2) shows it: picture tree expanded, dump, slice list.
    const QRect rowRect = FForm->ListView1->visualRect(FForm->ListView1->model()->index(2, 1));
    QTest::mouseClick(FForm->ListView1->viewport(), Qt::LeftButton, {}, rowRect.center());
    QCOMPARE(FForm->ListView1->SelectedRow(), 2);
    const std::int64_t offset = RowOffset(*FForm, 2);
    QCOMPARE(FForm->PackLength(), Cell(*FForm, 2, 1).toInt());
    const QString dump = FForm->Memo1->toPlainText();
    QVERIFY(dump.startsWith(QString::fromStdString(HexUpper(static_cast<std::uint64_t>(offset), 8)) +
                            QStringLiteral("   00 00 01 00 ")));
    QVERIFY(dump.endsWith(QStringLiteral("\n...")));  // the pack is longer than 1,600 bytes
    QCOMPARE(FForm->Memo1->textCursor().position(), 0);
    QTreeWidgetItem* header = FindItem(FForm->TreeView1, QStringLiteral("picture_start_code = $00000100 (32 bits)"));
    QVERIFY(header);
    QVERIFY(header->parent()->isExpanded());
    QCOMPARE(header->toolTip(0), QStringLiteral("bit 0 (byte 0, bit 0), 32 bits"));
    QVERIFY(FForm->lbSlices->count() > 1);
    QVERIFY2(FForm->lbSlices->item(0)->text().startsWith(QStringLiteral("$00000101 @")),
             qPrintable(FForm->lbSlices->item(0)->text()));

    // Selecting a header line selects its bytes in the dump: temporal_reference is bits 32..41.
    const QByteArray bytes = SampleBytes().mid(static_cast<int>(offset), 1600);
    FForm->TreeView1->setCurrentItem(FindItem(FForm->TreeView1, QStringLiteral("temporal_reference = ")));
    QCOMPARE(FForm->Memo1->textCursor().selectedText(), QString::fromLatin1(bytes.mid(4, 2).toHex(' ').toUpper()));

    // Choosing a slice explains it below, the slice node expanded one level.
    QTest::mouseClick(FForm->lbSlices->viewport(), Qt::LeftButton, {},
                      FForm->lbSlices->visualItemRect(FForm->lbSlices->item(0)).center());
    QVERIFY(FForm->tvSliceDetails->topLevelItemCount() > 0);
    QVERIFY(FindItem(FForm->tvSliceDetails, QStringLiteral("slice_start_code = $00000101 (32 bits)")));
    int expanded = 0;
    for (QTreeWidgetItemIterator it(FForm->tvSliceDetails); *it; ++it) expanded += (*it)->isExpanded() ? 1 : 0;
    QCOMPARE(expanded, 1);
    // Every positioned node has a tooltip; selecting one in the dumped part selects its bytes.
    QTreeWidgetItem* inDump = nullptr;
    for (QTreeWidgetItemIterator it(FForm->tvSliceDetails); *it; ++it) {
      const QVariant pos = (*it)->data(0, kBitPosRole);
      if (!pos.isValid()) continue;
      QVERIFY(!(*it)->toolTip(0).isEmpty());
      if (!inDump && pos.toLongLong() / 8 < bytes.size() && (*it)->data(0, kBitWidthRole).toInt() >= 8) inDump = *it;
    }
    QVERIFY(inDump);
    FForm->tvSliceDetails->setCurrentItem(inDump);
    const int firstByte = static_cast<int>(inDump->data(0, kBitPosRole).toLongLong() / 8);
    const QString selected = FForm->Memo1->textCursor().selectedText();
    QVERIFY2(selected.startsWith(bytes.mid(firstByte, 1).toHex().toUpper()), qPrintable(selected));

    // Another pack clears the slice tree.
    QTest::keyClick(FForm->ListView1, Qt::Key_Down);
    QCOMPARE(FForm->tvSliceDetails->topLevelItemCount(), 0);
    QCOMPARE(FForm->ListView1->SelectedRow(), 3);
  }
};

QTEST_MAIN(MainWindowFilesTest)
#include "main_window_files_test.moc"
