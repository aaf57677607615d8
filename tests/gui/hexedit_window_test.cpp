// The hex edit window driven end to end: the grid of a pack, edits and their undoing, saving
// into the file in place, cancelling, read-only files, files past 4 GiB, files that end or
// shrink under the window, failing writes; and Tools > Hex Edit from the main window.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <csignal>
#include <functional>

#include "HexEditTestSupport.h"
#include "MainWindowTestSupport.h"
#include "hexedit/gui/HexEditForm.h"
#include "hexedit/gui/HexGridModel.h"
#include "support/Log.h"

using namespace varlow;
using namespace varlow::test;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray ReadAt(const QString& path, qint64 position, qint64 count) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(position)) return {};
  return file.read(count);
}

// 64 bytes: zeros in the first row, then 0x10, 0x11, ... so both kinds of text-column byte appear.
QByteArray Pattern() {
  QByteArray bytes(16, '\0');
  for (int i = 16; i < 64; ++i) bytes += static_cast<char>(i);
  return bytes;
}

// Limits the size a write may reach in files of this process while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &FSaved);
    FPrevious = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = FSaved;
    lowered.rlim_cur = limit;
    FOk = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FSaved);
    std::signal(SIGXFSZ, FPrevious);
  }
  bool Ok() const { return FOk; }

 private:
  rlimit FSaved{};
  void (*FPrevious)(int) = nullptr;
  bool FOk = false;
};

}  // namespace

class HexEditWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  QTemporaryDir FDir;
  int FFileCount = 0;

  QString WriteFile(const QByteArray& bytes) {
    const QString path = FDir.filePath(QStringLiteral("file%1.bin").arg(++FFileCount));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
    return path;
  }

  static std::unique_ptr<TFileStream> Open(const QString& path, TFileStream::Mode mode = TFileStream::Mode::ReadWrite) {
    return TFileStream::Open(path.toStdString(), mode);
  }

  static std::unique_ptr<THexEditForm> ShowEditor(TFileStream* stream, std::int64_t offset, std::int64_t length) {
    auto form = std::make_unique<THexEditForm>(stream, offset, length);
    form->FormShow();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) return nullptr;
    return form;
  }

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void gridOfOneSixteenAndSeventeenBytePacks() {
    const QString path = WriteFile(Pattern());
    auto stream = Open(path);
    auto one = ShowEditor(stream.get(), 16, 1);
    QVERIFY(one);
    QCOMPARE(one->windowTitle(), QStringLiteral("Hex Edit"));
    QCOMPARE(one->bbtnOK->text(), QStringLiteral("Save Changes"));
    QCOMPARE(one->bbtnCancel->text(), QStringLiteral("Cancel"));
    QVERIFY(one->bbtnOK->isDefault());
    QVERIFY(!one->lbStatus->isVisible());
    QAbstractItemModel* model = one->StringGrid1->model();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->columnCount(), 17);
    QCOMPARE(CellText(*one, 1, 1), QStringLiteral("10"));
    QCOMPARE(CellText(*one, 2, 1), QString());
    QCOMPARE(CellText(*one, 17, 1), QStringLiteral("."));
    QCOMPARE(model->headerData(0, Qt::Vertical).toString(), QStringLiteral("00000010"));
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString());  // the fixed first row stays empty
    // Empty cells and the text column cannot be selected or edited.
    QVERIFY(CellIndex(*one, 1, 1).flags() & Qt::ItemIsEditable);
    for (int col : {2, 16, 17}) QVERIFY(!(CellIndex(*one, col, 1).flags() & (Qt::ItemIsSelectable | Qt::ItemIsEditable)));
    QCOMPARE(one->StringGrid1->columnWidth(0), 24);
    QCOMPARE(one->StringGrid1->columnWidth(16), 120);
    QVERIFY(one->StringGrid1->verticalHeader()->width() >= 80);
    one.reset();

    auto sixteen = ShowEditor(stream.get(), 16, 16);
    QCOMPARE(sixteen->StringGrid1->model()->rowCount(), 1);
    QCOMPARE(CellText(*sixteen, 16, 1), QStringLiteral("1F"));
    // 0x10..0x13 show as ".", 0x14..0x1F as the control characters themselves.
    QString text = QStringLiteral("....");
    for (char16_t c = 0x14; c <= 0x1F; ++c) text += QChar(c);
    QCOMPARE(CellText(*sixteen, 17, 1), text);
    sixteen.reset();

    auto seventeen = ShowEditor(stream.get(), 16, 17);
    QCOMPARE(seventeen->StringGrid1->model()->rowCount(), 2);
    QCOMPARE(CellText(*seventeen, 1, 2), QStringLiteral("20"));
    QCOMPARE(CellText(*seventeen, 2, 2), QString());
    QCOMPARE(CellText(*seventeen, 17, 2), QStringLiteral(" "));  // 0x20 is itself
    QCOMPARE(seventeen->StringGrid1->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("00000020"));
  }

  void typingRecordsTheByteAndRetypingTheOriginalUndoesIt() {
    const QString path = WriteFile(Pattern());
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 0, 64);
    QVERIFY(form);
    // The cell's byte is 0x00: "4" alone changes nothing yet, "1" makes 0x41, shown as "A" and
    // marked red.
    Type(*form, 1, 1, QStringLiteral("4"));
    QCOMPARE(EditorText(*form), QStringLiteral("4 "));
    QVERIFY(form->Model()->ChangedCells().empty());
    QCOMPARE(CellText(*form, 17, 1).at(0), QChar(u'.'));
    Type(*form, 1, 1, QStringLiteral("1"));
    QCOMPARE(EditorText(*form), QStringLiteral("41"));
    QCOMPARE(form->Model()->ChangedCells(), (std::vector<TChangedCell>{{1, 1, 0x41}}));
    QCOMPARE(CellText(*form, 17, 1).at(0), QChar(u'A'));
    LeaveCell(*form);
    QCOMPARE(CellText(*form, 1, 1), QStringLiteral("41"));
    QVERIFY(Marked(*form, 1, 1));
    // Painted white on red.
    const QRect rect = form->StringGrid1->visualRect(CellIndex(*form, 1, 1));
    const QImage image = form->StringGrid1->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(rect.bottomRight() - QPoint(1, 1)), QColor(255, 0, 0));

    // "00" again: the record and the marking go ("0" alone keeps the 0x41).
    Type(*form, 1, 1, QStringLiteral("0"));
    QCOMPARE(EditorText(*form), QStringLiteral("0 "));
    QCOMPARE(form->Model()->ChangedCells(), (std::vector<TChangedCell>{{1, 1, 0x41}}));
    Type(*form, 1, 1, QStringLiteral("0"));
    LeaveCell(*form);
    QVERIFY(form->Model()->ChangedCells().empty());
    QVERIFY(!Marked(*form, 1, 1));
    QCOMPARE(CellText(*form, 17, 1).at(0), QChar(u'.'));

    // A cell left after one digit keeps its byte: no digit is made up for the one not typed.
    Type(*form, 3, 2, QStringLiteral("b"));
    LeaveCell(*form);
    QCOMPARE(CellText(*form, 3, 2), QStringLiteral("12"));
    QVERIFY(form->Model()->ChangedCells().empty());
    // A cell changed several times keeps one record in its place; Backspace edits too, and a
    // cell whose digits are gone holds its byte from before.
    Type(*form, 3, 2, QStringLiteral("DE"));
    LeaveCell(*form);
    Type(*form, 5, 1, QStringLiteral("77"));
    LeaveCell(*form);
    Type(*form, 3, 2, QStringLiteral("C"));
    QCOMPARE(form->Model()->ChangedCells(), (std::vector<TChangedCell>{{3, 2, 0xDE}, {5, 1, 0x77}}));
    Key(*form, Qt::Key_Backspace);
    Key(*form, Qt::Key_Backspace);
    QCOMPARE(EditorText(*form), QStringLiteral("  "));
    QCOMPARE(CellText(*form, 3, 2), QStringLiteral("DE"));
    Type(*form, 3, 2, QStringLiteral("G"));
    QCOMPARE(EditorText(*form), QStringLiteral("  "));  // not a hexadecimal digit: refused
    Key(*form, Qt::Key_Home);
    Type(*form, 3, 2, QStringLiteral("E0"));
    LeaveCell(*form);
    QCOMPARE(form->Model()->ChangedCells(), (std::vector<TChangedCell>{{3, 2, 0xE0}, {5, 1, 0x77}}));
  }

  void escapeTakesBackTheCellThenCancelsWithoutWriting() {
    const QByteArray original = Pattern();
    const QString path = WriteFile(original);
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 0, 64);
    Type(*form, 4, 3, QStringLiteral("99"));
    LeaveCell(*form);
    Type(*form, 4, 3, QStringLiteral("7"));
    Key(*form, Qt::Key_Escape);
    QCOMPARE(form->Model()->ChangedCells(), (std::vector<TChangedCell>{{4, 3, 0x99}}));  // back to before "7"
    QVERIFY(form->isVisible());
    AnswerQuestions yes(QMessageBox::Yes);  // discard the changes
    Key(*form, Qt::Key_Escape);
    QCOMPARE(yes.Texts, QStringList{QStringLiteral("Discard the changes?")});
    QVERIFY(!form->isVisible());
    QCOMPARE(form->result(), int(QDialog::Rejected));
    QCOMPARE(ReadAll(path), original);

    auto again = ShowEditor(stream.get(), 0, 64);
    Type(*again, 1, 1, QStringLiteral("FF"));
    LeaveCell(*again);
    QTest::mouseClick(again->bbtnCancel, Qt::LeftButton);
    QCOMPARE(yes.Texts.size(), 2);
    QCOMPARE(again->result(), int(QDialog::Rejected));
    QVERIFY(!again->FileWritten());
    QCOMPARE(ReadAll(path), original);
  }

  void saveWritesExactlyTheEdits() {
    const QByteArray original = Pattern();
    const QString path = WriteFile(original);
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 16, 48);
    Type(*form, 1, 1, QStringLiteral("AB"));
    LeaveCell(*form);
    Type(*form, 16, 3, QStringLiteral("CD"));  // the file's last byte
    LeaveCell(*form);
    Type(*form, 8, 2, QStringLiteral("27"));   // 0x27 is the byte already there: no change
    LeaveCell(*form);
    ScopedLogCapture log;
    // Enter with the grid focused (no editor open) presses the default button.
    form->StringGrid1->setFocus();
    QTest::keyClick(form->StringGrid1, Qt::Key_Return);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(form->FileWritten());
    QByteArray expected = original;
    expected[16] = '\xAB';
    expected[63] = '\xCD';
    QCOMPARE(ReadAll(path), expected);
    QVERIFY(log.Lines().empty());
  }

  void saveWithoutChangesSaysSoAndClosesWithOK() {
    TMessageCapture messages;
    const QString path = WriteFile(Pattern());
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 0, 64);
    Type(*form, 2, 2, QStringLiteral("11"));  // retyped as it was
    LeaveCell(*form);
    QTest::mouseClick(form->bbtnOK, Qt::LeftButton);
    QCOMPARE(messages.Messages, QStringList{QStringLiteral("No changes to be saved.")});
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(!form->FileWritten());
    QCOMPARE(ReadAll(path), Pattern());
  }

  void readOnlyFileShowsTheGridButCannotSave() {
    const QString path = WriteFile(Pattern());
    auto stream = Open(path, TFileStream::Mode::ReadOnly);
    auto form = ShowEditor(stream.get(), 0, 64);
    QVERIFY(form);
    QCOMPARE(CellText(*form, 1, 2), QStringLiteral("10"));
    QVERIFY(form->lbStatus->isVisible());
    QCOMPARE(form->lbStatus->text(), QStringLiteral("The file is open read-only: changes cannot be saved."));
    QVERIFY(!form->bbtnOK->isEnabled());
    QVERIFY(!(CellIndex(*form, 1, 1).flags() & Qt::ItemIsEditable));
    Type(*form, 1, 1, QStringLiteral("41"));
    QVERIFY(form->Model()->ChangedCells().empty());
    Key(*form, Qt::Key_Return);
    QVERIFY(form->isVisible());  // no save, no silent close
    QCOMPARE(ReadAll(path), Pattern());
  }

  void offsetsPastFourGiB() {
    // Sparse: 4 KiB at the start, 64 bytes 5 GiB + 0x10 in.
    const QString path = FDir.filePath(QStringLiteral("huge.bin"));
    const qint64 far = (qint64{5} << 30) + 0x10;
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      QVERIFY(file.write(QByteArray(4096, '\x55')) == 4096);
      QVERIFY(file.seek(far));
      QVERIFY(file.write(Pattern()) == 64);
    }
    const qint64 size = QFileInfo(path).size();
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), far, 40);
    QVERIFY(form);
    QAbstractItemModel* model = form->StringGrid1->model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Vertical).toString(), QStringLiteral("140000010"));
    QCOMPARE(model->headerData(2, Qt::Vertical).toString(), QStringLiteral("140000030"));
    Type(*form, 1, 2, QStringLiteral("EE"));
    LeaveCell(*form);
    Type(*form, 8, 3, QStringLiteral("FF"));  // the range's last byte
    LeaveCell(*form);
    QTest::mouseClick(form->bbtnOK, Qt::LeftButton);
    QCOMPARE(form->result(), int(QDialog::Accepted));

    QCOMPARE(QFileInfo(path).size(), size);
    QByteArray expected = Pattern();
    expected[16] = '\xEE';
    expected[39] = '\xFF';
    QCOMPARE(ReadAt(path, far, 64), expected);
    QCOMPARE(ReadAt(path, 0, 4096), QByteArray(4096, '\x55'));
    // Nothing landed in the gap: its first data after the head is the block holding the range.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    const off_t data = ::lseek(fd, 4096, SEEK_DATA);
    ::close(fd);
    QVERIFY(data > far - 4096 * 16);
  }

  void fileShorterThanThePackShowsWhatIsThere() {
    const QString path = WriteFile(Pattern());
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 40, 40);  // 24 bytes left in the file
    QVERIFY(form);
    QCOMPARE(form->StringGrid1->model()->rowCount(), 3);
    QCOMPARE(CellText(*form, 8, 2), QStringLiteral("3F"));
    QCOMPARE(CellText(*form, 9, 2), QString());
    QVERIFY(!(CellIndex(*form, 9, 2).flags() & Qt::ItemIsSelectable));
    QVERIFY(form->lbStatus->isVisible());
    QCOMPARE(form->lbStatus->text(), QStringLiteral("The file ends at $00000040: only 24 of the 40 bytes can be shown."));
    // The last byte of the file can be edited and saved; the file keeps its length.
    Type(*form, 8, 2, QStringLiteral("00"));
    LeaveCell(*form);
    QTest::mouseClick(form->bbtnOK, Qt::LeftButton);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QByteArray expected = Pattern();
    expected[63] = '\0';
    QCOMPARE(ReadAll(path), expected);
  }

  void packPastTheEndOfTheFileIsRefused() {
    TMessageCapture messages;
    const QString path = WriteFile(Pattern());
    auto stream = Open(path);
    WhenHexEditOpens never([](THexEditForm& form) { form.reject(); });
    QVERIFY(!EditFile(stream.get(), 64, 16));
    QVERIFY(!never.Ran());
    QCOMPARE(messages.Messages,
             QStringList{QStringLiteral(
                 "Nothing to edit: the pack at $00000040 lies past the end of the file, which ends at $00000040.")});
    QCOMPARE(ReadAll(path), Pattern());

    ScopedLogCapture log;
    QVERIFY(!EditFile(nullptr, 0, 16));
    QCOMPARE(log.Count("wex: Error in EditFile - invalid filestream."), 1);
  }

  void fileThatShrankUnderTheWindowIsNotWritten() {
    TMessageCapture messages;
    const QString path = WriteFile(Pattern());
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 0, 64);
    Type(*form, 1, 4, QStringLiteral("12"));  // byte 48
    LeaveCell(*form);
    QVERIFY(QFile::resize(path, 40));  // another program cut the file
    QTest::mouseClick(form->bbtnOK, Qt::LeftButton);
    QCOMPARE(messages.Messages.size(), 1);
    QVERIFY(messages.Messages.first().contains(QStringLiteral("Nothing was saved.")));
    QVERIFY(form->isVisible());  // the edits stay on show; the user may cancel
    QVERIFY(!form->FileWritten());
    QCOMPARE(ReadAll(path), Pattern().left(40));
  }

  void failedWriteIsReportedAndASecondSaveCompletesIt() {
    TMessageCapture messages;
    const QByteArray original = Pattern();
    const QString path = WriteFile(original);
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 0, 64);
    Type(*form, 2, 1, QStringLiteral("AA"));  // byte 1
    LeaveCell(*form);
    Type(*form, 2, 3, QStringLiteral("BB"));  // byte 33
    LeaveCell(*form);
    {
      FileSizeLimit limit(20);
      QVERIFY(limit.Ok());
      ScopedLogCapture log;
      QTest::mouseClick(form->bbtnOK, Qt::LeftButton);
      QCOMPARE(log.Count("wex: Error in THexEditForm.SaveChanges call..."), 1);
    }
    QCOMPARE(messages.Messages.size(), 1);
    QVERIFY(messages.Messages.first().startsWith(QStringLiteral("Saving failed at the byte at $00000021 (")));
    QVERIFY(messages.Messages.first().contains(QStringLiteral("1 of 2 changed bytes were written")));
    QVERIFY(form->isVisible());
    QVERIFY(form->FileWritten());
    QByteArray partial = original;
    partial[1] = '\xAA';
    QCOMPARE(ReadAll(path), partial);

    QTest::mouseClick(form->bbtnOK, Qt::LeftButton);  // the limit is gone: saved, closed
    QCOMPARE(form->result(), int(QDialog::Accepted));
    partial[33] = '\xBB';
    QCOMPARE(ReadAll(path), partial);
  }

  void largestPackOpensWholeAndEditsAtItsEnd() {
    // A pack is read 2 MiB at most: 131,072 rows.
    const qint64 length = qint64{2} << 20;
    const QString path = WriteFile(QByteArray(length + 5, '\x33'));
    auto stream = Open(path);
    auto form = ShowEditor(stream.get(), 5, length);
    QVERIFY(form);
    QCOMPARE(form->StringGrid1->model()->rowCount(), 131072);
    QCOMPARE(form->StringGrid1->model()->headerData(131071, Qt::Vertical).toString(), QStringLiteral("001FFFF5"));
    form->StringGrid1->scrollToBottom();
    Type(*form, 16, 131072, QStringLiteral("44"));
    LeaveCell(*form);
    QTest::mouseClick(form->bbtnOK, Qt::LeftButton);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QByteArray expected(length + 5, '\x33');
    expected[length + 4] = '\x44';
    QCOMPARE(ReadAll(path), expected);
  }

  // Tools > Hex Edit on the open stream: the selected pack, saved into the file and shown again.
  void hexEditFromTheMainWindow() {
    TMessageCapture messages;
    const QByteArray original = ReadAll(FileOf(SampleStream()));
    const QString path = WriteFile(original);
    auto main = ShowForm();
    QVERIFY(main);
    main->OpenFile(path);
    QCOMPARE(main->ListView1->SelectedRow(), 0);  // the sequence header at offset 0
    const int length = main->PackLength();
    QVERIFY(length > 16);

    std::int64_t shownLength = 0;
    WhenHexEditOpens edit([&](THexEditForm& form) {
      shownLength = form.Model()->Length();
      Type(form, 5, 1, QStringLiteral("0F"));  // horizontal_size_value's first byte
      LeaveCell(form);
      QTest::mouseClick(form.bbtnOK, Qt::LeftButton);
    });
    main->HexEdit1Click();
    QVERIFY(edit.Ran());
    QCOMPARE(shownLength, length);
    QByteArray expected = original;
    expected[4] = '\x0F';
    QCOMPARE(ReadAll(path), expected);
    // The dump shows the pack as it is now.
    QVERIFY(main->Memo1->toPlainText().startsWith(QStringLiteral("00000000   00 00 01 B3 0F ")));
    QCOMPARE(main->ListView1->SelectedRow(), 0);

    // Cancel, the changes discarded: nothing written, nothing refreshed.
    main->Memo1->setPlainText(QStringLiteral("untouched"));
    AnswerQuestions discard(QMessageBox::Yes);
    WhenHexEditOpens cancel([](THexEditForm& form) {
      Type(form, 1, 1, QStringLiteral("FF"));
      QTest::mouseClick(form.bbtnCancel, Qt::LeftButton);
    });
    main->HexEdit1Click();
    QVERIFY(cancel.Ran());
    QCOMPARE(discard.Texts.size(), 1);
    QCOMPARE(ReadAll(path), expected);
    QCOMPARE(main->Memo1->toPlainText(), QStringLiteral("untouched"));

    // The last pack ends the file: its last byte can be changed, the file keeps its length.
    QTest::keyClick(main->ListView1, Qt::Key_End);
    const int last = RowCount(*main) - 1;
    main->ListView1->SelectRow(last);
    const std::int64_t lastOffset = RowOffset(*main, last);
    WhenHexEditOpens tail([&](THexEditForm& form) {
      const std::int64_t n = form.Model()->BytesRead();
      const int row = static_cast<int>((n - 1) / 16 + 1);
      const int col = static_cast<int>((n - 1) % 16 + 1);
      Type(form, col, row, CellText(form, col, row) == QStringLiteral("5A") ? QStringLiteral("A5") : QStringLiteral("5A"));
      LeaveCell(form);
      QTest::mouseClick(form.bbtnOK, Qt::LeftButton);
    });
    main->HexEdit1Click();
    QVERIFY(tail.Ran());
    const QByteArray now = ReadAll(path);
    QCOMPARE(now.size(), original.size());
    QCOMPARE(now.left(now.size() - 1), expected.left(expected.size() - 1));
    QVERIFY(now.back() != expected.back());
    QVERIFY(lastOffset + main->PackLength() == now.size());
    QVERIFY(messages.Messages.isEmpty());
  }

  void mainWindowOnAFileThatShrankAfterItWasOpened() {
    TMessageCapture messages;
    const QByteArray original = ReadAll(FileOf(SampleStream()));
    const QString path = WriteFile(original);
    auto main = ShowForm();
    main->OpenFile(path);
    QTest::keyClick(main->ListView1, Qt::Key_End);
    const int last = RowCount(*main) - 1;
    main->ListView1->SelectRow(last);
    main->ListView1->setFocus();
    QTest::keyClick(main->ListView1, Qt::Key_Up);  // key up shows the selected pack
    const std::int64_t offset = RowOffset(*main, main->ListView1->SelectedRow());
    QVERIFY(QFile::resize(path, offset));  // the pack on show is gone
    WhenHexEditOpens never([](THexEditForm& form) { form.reject(); });
    main->HexEdit1Click();
    QVERIFY(!never.Ran());
    QCOMPARE(messages.Messages.size(), 1);
    QVERIFY(messages.Messages.first().startsWith(QStringLiteral("Nothing to edit: the pack at")));
    QCOMPARE(QFileInfo(path).size(), offset);
  }

  void mainWindowOnAReadOnlyFile() {
    const QString path = WriteFile(ReadAll(FileOf(SampleStream())));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    // Root writes through the mode bits; the immutable attribute stops it where the file system has it.
    const bool immutable =
        geteuid() == 0 && std::system(("chattr +i '" + path.toStdString() + "' 2>/dev/null").c_str()) == 0;
    if (geteuid() == 0 && !immutable) QSKIP("cannot make a file read-only for root here");
    auto main = ShowForm();
    main->OpenFile(path);
    QString status;
    bool canSave = true;
    WhenHexEditOpens look([&](THexEditForm& form) {
      status = form.lbStatus->text();
      canSave = form.bbtnOK->isEnabled();
      form.reject();
    });
    main->HexEdit1Click();
    if (immutable) [[maybe_unused]] int rc = std::system(("chattr -i '" + path.toStdString() + "'").c_str());
    QVERIFY(look.Ran());
    QCOMPARE(status, QStringLiteral("The file is open read-only: changes cannot be saved."));
    QVERIFY(!canSave);
  }
};

QTEST_MAIN(HexEditWindowTest)
#include "hexedit_window_test.moc"
