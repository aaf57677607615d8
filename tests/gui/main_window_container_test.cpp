// The main window on transport streams: the Video Stream menu, the title, the dump's two views
// of a unit (video bytes under their file offsets, or the file's own bytes) and Hex Edit writing
// video bytes back to their own file offsets.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <functional>

#include "MainWindowTestSupport.h"
#include "hexedit/gui/HexEditForm.h"
#include "support/Format.h"

using namespace varlow;
using namespace varlow::test;

namespace {

const char kTransport[] = "containers/bt601-525_480_interlaced_bff.ts";

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The file offset at the head of each dump line ("0001A2F0   00 00 01 ..."); "..." lines left out.
QList<qint64> LineOffsets(const QString& dump) {
  QList<qint64> offsets;
  for (const QString& line : dump.split(QLatin1Char('\n'))) {
    bool ok = false;
    const qint64 offset = line.section(QLatin1Char(' '), 0, 0).toLongLong(&ok, 16);
    if (ok) offsets << offset;
  }
  return offsets;
}

// Runs `action` on the hex edit window once it is up as a modal window.
class WhenHexEditOpens {
 public:
  explicit WhenHexEditOpens(std::function<void(THexEditForm&)> action) : FAction(std::move(action)) {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      auto* form = qobject_cast<THexEditForm*>(QApplication::activeModalWidget());
      if (!form) return;
      FTimer.stop();
      FRan = true;
      if (QTest::qWaitForWindowExposed(form)) FAction(*form);
      if (form->isVisible()) form->reject();
    });
    FTimer.start();
  }
  bool Ran() const { return FRan; }

 private:
  std::function<void(THexEditForm&)> FAction;
  QTimer FTimer;
  bool FRan = false;
};

}  // namespace

class MainWindowContainerTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  QTemporaryDir FDir;
  std::unique_ptr<TForm1> FForm;

  QString CopyOfTransport() {
    const QString path = FDir.filePath(QStringLiteral("copy.ts"));
    QFile::remove(path);
    return QFile::copy(QString::fromStdString(SharedStream(kTransport)), path) ? path : QString();
  }
  QList<QAction*> StreamActions() const { return FForm->VideoStream1->actions(); }
  // The first row whose unit is a picture long enough to cross a packet.
  int LongPictureRow() const {
    for (int row = 0; row < RowCount(*FForm); ++row)
      if (Cell(*FForm, row, 2) == QStringLiteral("PICTURE_START_CODE") && Cell(*FForm, row, 1).toInt() > 400) return row;
    return -1;
  }

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }
  void init() {
    if (!Exists(SharedStream(kTransport))) QSKIP("no shared transport stream");
    FForm = ShowForm();
    QVERIFY(FForm);
  }
  void cleanup() { FForm.reset(); }

  void streamMenuAndTitleFollowTheOpenFile() {
    // A plain file: nothing to choose, nothing to switch.
    FForm->OpenFile(QString::fromStdString(SampleStream()));
    QVERIFY(!FForm->VideoStream1->isEnabled());
    QVERIFY(!FForm->DumpFileBytes1->isEnabled());
    QVERIFY(!FForm->windowTitle().contains(QStringLiteral("stream")));

    const QString path = CopyOfTransport();
    FForm->OpenFile(path);
    QVERIFY(RowCount(*FForm) > 0);
    QCOMPARE(FForm->windowTitle(),
             QStringLiteral("Varlow (") + path + QStringLiteral(") - MPEG transport stream (188-byte packets), stream 0"));
    QVERIFY(FForm->VideoStream1->isEnabled());
    QVERIFY(FForm->DumpFileBytes1->isEnabled());
    const QList<QAction*> actions = StreamActions();
    QCOMPARE(actions.size(), 2);  // the video and its AC-3 audio
    QVERIFY(actions[0]->text().contains(QStringLiteral("0x0100")));
    QVERIFY(actions[0]->text().contains(QStringLiteral("MPEG-2 video")));
    QVERIFY(actions[0]->isEnabled() && actions[0]->isChecked());
    QVERIFY(actions[1]->text().contains(QStringLiteral("AC-3")));
    QVERIFY(!actions[1]->isEnabled() && !actions[1]->isChecked());
    QCOMPARE(FForm->OpenStreamIndex(), 0);

    // The first unit lies at the file offset of its start code, behind the packet header.
    const std::int64_t first = RowOffset(*FForm, 0);
    QVERIFY(first > 0);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(QString::fromStdString(HexUpper(static_cast<std::uint64_t>(first), 8)) +
                                                   QStringLiteral("   00 00 01 B3")));

    // Closing leaves nothing to choose.
    FForm->Close1Click();
    QVERIFY(!FForm->VideoStream1->isEnabled());
    QVERIFY(StreamActions().isEmpty());
  }

  void choosingAnotherVideoStreamReopensOnIt() {
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) QSKIP("no ffmpeg to make a stream with two videos");
    const QString two = FDir.filePath(QStringLiteral("two.ts"));
    QProcess make;
    make.start(ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"),
                        QString::fromStdString(SharedStream(kTransport)), QStringLiteral("-i"),
                        QString::fromStdString(SharedStream("containers/bt601-525_480_telecined_soft.ts")),
                        QStringLiteral("-map"), QStringLiteral("0:v"), QStringLiteral("-map"), QStringLiteral("1:v"),
                        QStringLiteral("-c"), QStringLiteral("copy"), two});
    QVERIFY(make.waitForFinished(60000));
    QCOMPARE(make.exitCode(), 0);

    FForm->OpenFile(two);
    QCOMPARE(FForm->OpenStreamIndex(), 0);
    QCOMPARE(StreamActions().size(), 2);
    const QString firstUnits = Cell(*FForm, 2, 1) + Cell(*FForm, 3, 1) + Cell(*FForm, 4, 1);
    QVERIFY(StreamActions()[1]->isEnabled());
    StreamActions()[1]->trigger();
    QTRY_COMPARE(FForm->OpenStreamIndex(), 1);
    QVERIFY(FForm->windowTitle().endsWith(QStringLiteral(", stream 1")));
    QVERIFY(StreamActions()[1]->isChecked());
    QVERIFY(!StreamActions()[0]->isChecked());
    QVERIFY(RowCount(*FForm) > 0);
    // The other video's units: not the same run of lengths.
    QVERIFY(Cell(*FForm, 2, 1) + Cell(*FForm, 3, 1) + Cell(*FForm, 4, 1) != firstUnits);

    // A file opened anew starts on its first video stream again.
    FForm->OpenFile(two);
    QCOMPARE(FForm->OpenStreamIndex(), 0);
  }

  void dumpShowsVideoBytesOrFileBytes() {
    FForm->OpenFile(CopyOfTransport());
    const int row = LongPictureRow();
    QVERIFY(row >= 0);
    FForm->SelectPackAt(RowOffset(*FForm, row));
    const std::int64_t pack = RowOffset(*FForm, 0);

    // Video bytes: lines of 16, each under its first byte's file offset; a packet header between
    // two lines shows as a jump of the offsets.
    const QString video = FForm->Memo1->toPlainText();
    QList<qint64> offsets = LineOffsets(video);
    QVERIFY(offsets.size() > 20);
    QCOMPARE(offsets.first(), pack);
    bool jumped = false;
    for (int i = 1; i < offsets.size(); ++i) jumped = jumped || offsets[i] - offsets[i - 1] > 16;
    QVERIFY(jumped);

    // A header node's bytes: selected in the video view, and again where they lie in the file
    // when the view switches (inside one packet: the same pairs).
    const QList<QTreeWidgetItem*> found =
        FForm->TreeView1->findItems(QStringLiteral("temporal_reference"), Qt::MatchContains | Qt::MatchRecursive);
    QVERIFY(!found.isEmpty());
    FForm->TreeView1->setCurrentItem(found.first());
    const QString selectedVideo = FForm->Memo1->textCursor().selectedText();
    QVERIFY(!selectedVideo.isEmpty());

    // File bytes: the file as it lies from the unit on, sync bytes of the packets among them.
    FForm->DumpFileBytes1->setChecked(true);
    const QString file = FForm->Memo1->toPlainText();
    offsets = LineOffsets(file);
    QCOMPARE(offsets.first(), pack);
    for (int i = 1; i < offsets.size(); ++i) QCOMPARE(offsets[i] - offsets[i - 1], qint64{16});
    const QByteArray onDisk = ReadAll(FForm->FileName()).mid(static_cast<int>(pack), 16);
    QString firstLine = QString::fromStdString(HexUpper(static_cast<std::uint64_t>(pack), 8)) + QStringLiteral("  ");
    for (char byte : onDisk)
      firstLine += QLatin1Char(' ') + QString::fromStdString(HexUpper(static_cast<std::uint8_t>(byte), 2));
    QVERIFY2(file.startsWith(firstLine), qPrintable(file.left(80)));
    QVERIFY(file != video);
    QCOMPARE(FForm->Memo1->textCursor().selectedText(), selectedVideo);

    FForm->DumpFileBytes1->setChecked(false);
    QCOMPARE(LineOffsets(FForm->Memo1->toPlainText()), LineOffsets(video));
  }

  void hexEditWritesVideoBytesToTheirOwnOffsets() {
    TMessageCapture messages;
    const QString path = CopyOfTransport();
    const QByteArray original = ReadAll(path);
    FForm->OpenFile(path);
    FForm->ListView1->SelectRow(0);  // the sequence header
    const std::int64_t pack = RowOffset(*FForm, 0);

    QString rowOffset;
    QString startCode;
    WhenHexEditOpens edit([&](THexEditForm& form) {
      rowOffset = form.StringGrid1->model()->headerData(0, Qt::Vertical).toString();
      startCode = form.StringGrid1->model()->index(0, 3).data().toString();
      // Byte 7: aspect_ratio_information and frame_rate_code; a new aspect ratio.
      const QModelIndex cell = form.StringGrid1->model()->index(0, 7);
      const QString now = cell.data().toString();
      const QString changed = (now.startsWith(QLatin1Char('3')) ? QStringLiteral("2") : QStringLiteral("3")) + now.mid(1);
      form.StringGrid1GetEditMask(8, 1);
      form.StringGrid1SetEditText(8, 1, changed);
      QTest::mouseClick(form.bbtnOK, Qt::LeftButton);
    });
    FForm->HexEdit1Click();
    QVERIFY(edit.Ran());
    QCOMPARE(rowOffset, QString::fromStdString(HexUpper(static_cast<std::uint64_t>(pack), 8)));
    QCOMPARE(startCode, QStringLiteral("B3"));
    QVERIFY2(messages.Messages.isEmpty(), qPrintable(messages.Messages.join(QLatin1Char('\n'))));

    // Exactly one byte of the file changed: the eighth video byte, here in the same packet.
    const QByteArray now = ReadAll(path);
    QCOMPARE(now.size(), original.size());
    QList<qint64> changed;
    for (qint64 i = 0; i < now.size(); ++i)
      if (now[i] != original[i]) changed << i;
    QCOMPARE(changed, QList<qint64>{pack + 7});
  }
};

QTEST_MAIN(MainWindowContainerTest)
#include "main_window_container_test.moc"
