// What reaches a byte of the hex edit window and what leaves it: keys that are no hexadecimal
// digits, pastes and the grid model's setData are refused without changing a byte; leaving the
// window with unsaved changes asks first; and a save from the main window makes its picture and
// overview panes read the file again.
#include <QAction>
#include <QClipboard>
#include <QDockWidget>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>

#include "HexEditTestSupport.h"
#include "MainWindowTestSupport.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewGraph.h"
#include "overview/gui/OverviewPane.h"
#include "picture/gui/PicturePane.h"
#include "picture/gui/PictureView.h"

using namespace varlow;
using namespace varlow::test;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// 48 bytes: 0xA0..0xAF in the first row (0xA6 under column 7, 0xAC under column 13), then
// 0x10..0x2F.
QByteArray Bytes() {
  QByteArray bytes;
  for (int i = 0; i < 16; ++i) bytes += static_cast<char>(0xA0 + i);
  for (int i = 0x10; i < 0x30; ++i) bytes += static_cast<char>(i);
  return bytes;
}

}  // namespace

class HexEditInputTest : public QObject {
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

  static std::unique_ptr<THexEditForm> ShowEditor(TFileStream* stream, std::int64_t offset, std::int64_t length) {
    auto form = std::make_unique<THexEditForm>(stream, offset, length);
    form->FormShow();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) return nullptr;
    return form;
  }

  static void Save(THexEditForm& form) { QTest::mouseClick(form.bbtnOK, Qt::LeftButton); }

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void keysThatAreNoHexDigitsAreRefusedAndNeverSaved() {
    const QByteArray original = Bytes();
    const QString path = WriteFile(original);
    auto stream = TFileStream::Open(path.toStdString(), TFileStream::Mode::ReadWrite);
    auto form = ShowEditor(stream.get(), 0, 48);
    QVERIFY(form);
    QSignalSpy refused(form.get(), &THexEditForm::InputRefused);

    Type(*form, 7, 1, QStringLiteral("ZZ"));
    QCOMPARE(refused.count(), 2);
    QCOMPARE(EditorText(*form), QStringLiteral("A6"));
    LeaveCell(*form);
    Type(*form, 13, 1, QStringLiteral("q"));
    QCOMPARE(refused.count(), 3);
    LeaveCell(*form);
    // "G" is refused; the "1" after it is one digit of two, so the cell keeps its byte.
    Type(*form, 1, 2, QStringLiteral("G1"));
    QCOMPARE(refused.count(), 4);
    QCOMPARE(EditorText(*form), QStringLiteral("1 "));
    LeaveCell(*form);
    Type(*form, 2, 2, QStringLiteral(" -x"));
    QCOMPARE(refused.count(), 7);
    LeaveCell(*form);
    QCOMPARE(CellText(*form, 7, 1), QStringLiteral("A6"));
    QCOMPARE(CellText(*form, 13, 1), QStringLiteral("AC"));
    QCOMPARE(CellText(*form, 1, 2), QStringLiteral("10"));
    QCOMPARE(CellText(*form, 2, 2), QStringLiteral("11"));
    QVERIFY(!Marked(*form, 7, 1) && !Marked(*form, 13, 1));
    QVERIFY(form->Model()->ChangedCells().empty());

    // Digits mixed with refused keys: only the two digits count, in either case.
    Type(*form, 3, 3, QStringLiteral("5zE"));
    LeaveCell(*form);
    QCOMPARE(CellText(*form, 3, 3), QStringLiteral("5E"));
    // A digit typed and then Save: the half-typed cell stays as it was.
    Type(*form, 4, 3, QStringLiteral("7"));
    Save(*form);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QByteArray expected = original;
    expected[34] = '\x5E';
    QCOMPARE(ReadAll(path), expected);
  }

  void pasteAndSetDataOfAnythingButTwoDigitsChangeNothing() {
    const QByteArray original = Bytes();
    const QString path = WriteFile(original);
    auto stream = TFileStream::Open(path.toStdString(), TFileStream::Mode::ReadWrite);
    auto form = ShowEditor(stream.get(), 0, 48);
    QVERIFY(form);
    QSignalSpy refused(form.get(), &THexEditForm::InputRefused);
    QClipboard* clipboard = QGuiApplication::clipboard();

    // Ctrl+V on the grid with no editor open does nothing; in an editor only "two digits" pastes.
    clipboard->setText(QStringLiteral("ZZ"));
    form->StringGrid1->setCurrentIndex(CellIndex(*form, 7, 1));
    Key(*form, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(form->Model()->ChangedCells().empty());
    form->StringGrid1->edit(CellIndex(*form, 7, 1));
    QVERIFY(Editor(*form));
    for (const QString& text : {QStringLiteral("ZZ"), QStringLiteral("1Z"), QStringLiteral("Z1"), QStringLiteral("123"),
                                QStringLiteral("7"), QString()}) {
      clipboard->setText(text);
      Key(*form, Qt::Key_V, Qt::ControlModifier);
      QCOMPARE(EditorText(*form), QStringLiteral("A6"));
    }
    QCOMPARE(refused.count(), 6);
    QVERIFY(form->Model()->ChangedCells().empty());
    clipboard->setText(QStringLiteral(" 3c\n"));
    Key(*form, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(EditorText(*form), QStringLiteral("3C"));
    LeaveCell(*form);
    QCOMPARE(form->Model()->ChangedCells(), (std::vector<TChangedCell>{{7, 1, 0x3C}}));

    // The model itself takes a cell's text only as two hexadecimal digits.
    QAbstractItemModel* model = form->StringGrid1->model();
    const QModelIndex cell = CellIndex(*form, 13, 1);
    for (const QVariant& value : {QVariant(QStringLiteral("ZZ")), QVariant(QStringLiteral("q")),
                                  QVariant(QStringLiteral("G1")), QVariant(QStringLiteral("4 ")), QVariant(QString()),
                                  QVariant(0x41), QVariant(QByteArray("41")), QVariant()}) {
      QVERIFY(!model->setData(cell, value));
      QCOMPARE(CellText(*form, 13, 1), QStringLiteral("AC"));
    }
    QVERIFY(!model->setData(cell, QStringLiteral("41"), Qt::DisplayRole));
    QVERIFY(!model->setData(CellIndex(*form, 17, 1), QStringLiteral("41")));  // the text column
    QVERIFY(model->setData(cell, QStringLiteral("b7")));
    QCOMPARE(CellText(*form, 13, 1), QStringLiteral("B7"));
    QVERIFY(Marked(*form, 13, 1));

    Save(*form);
    QByteArray expected = original;
    expected[6] = '\x3C';
    expected[12] = '\xB7';
    QCOMPARE(ReadAll(path), expected);

    // A read-only file's grid takes nothing either.
    auto readOnly = TFileStream::Open(path.toStdString(), TFileStream::Mode::ReadOnly);
    auto look = ShowEditor(readOnly.get(), 0, 48);
    QVERIFY(!look->StringGrid1->model()->setData(CellIndex(*look, 1, 1), QStringLiteral("00")));
    QVERIFY(look->Model()->ChangedCells().empty());
  }

  void leavingWithUnsavedChangesAsksFirst() {
    const QByteArray original = Bytes();
    const QString path = WriteFile(original);
    auto stream = TFileStream::Open(path.toStdString(), TFileStream::Mode::ReadWrite);

    {  // No changes, or changes typed back: Cancel, Esc and the close button close without asking.
      AnswerQuestions no(QMessageBox::No);
      auto form = ShowEditor(stream.get(), 0, 48);
      QTest::mouseClick(form->bbtnCancel, Qt::LeftButton);
      QVERIFY(!form->isVisible());
      form = ShowEditor(stream.get(), 0, 48);
      Type(*form, 1, 1, QStringLiteral("A0"));
      LeaveCell(*form);
      form->StringGrid1->setFocus();
      QTest::keyClick(form->StringGrid1, Qt::Key_Escape);
      QVERIFY(!form->isVisible());
      form = ShowEditor(stream.get(), 0, 48);
      QVERIFY(form->close());
      QVERIFY(no.Texts.isEmpty());
    }

    auto form = ShowEditor(stream.get(), 0, 48);
    Type(*form, 2, 1, QStringLiteral("00"));
    LeaveCell(*form);
    {  // No keeps the window and its changes, whichever way it was left.
      AnswerQuestions no(QMessageBox::No);
      QTest::mouseClick(form->bbtnCancel, Qt::LeftButton);
      QVERIFY(form->isVisible());
      form->StringGrid1->setFocus();
      QTest::keyClick(form->StringGrid1, Qt::Key_Escape);
      QVERIFY(form->isVisible());
      QVERIFY(!form->close());
      QVERIFY(form->isVisible());
      QCOMPARE(no.Texts, QStringList(3, QStringLiteral("Discard the changes?")));
      QCOMPARE(form->Model()->ChangedCells(), (std::vector<TChangedCell>{{2, 1, 0x00}}));
    }
    // A change still half-typed in the open editor counts as none; a whole one is asked about.
    Type(*form, 3, 1, QStringLiteral("F"));
    {
      AnswerQuestions yes(QMessageBox::Yes);
      QVERIFY(form->close());
      QCOMPARE(yes.Texts.size(), 1);
    }
    QCOMPARE(form->result(), int(QDialog::Rejected));
    QVERIFY(!form->FileWritten());
    QCOMPARE(ReadAll(path), original);

    // Save Changes never asks; "No changes to be saved." still says so and closes.
    TMessageCapture messages;
    AnswerQuestions none(QMessageBox::No);
    form = ShowEditor(stream.get(), 0, 48);
    Save(*form);
    QCOMPARE(messages.Messages, QStringList{QStringLiteral("No changes to be saved.")});
    QCOMPARE(form->result(), int(QDialog::Accepted));
    form = ShowEditor(stream.get(), 0, 48);
    Type(*form, 16, 3, QStringLiteral("99"));
    Save(*form);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(none.Texts.isEmpty());
    QByteArray expected = original;
    expected[47] = '\x99';
    QCOMPARE(ReadAll(path), expected);
  }

  // A save from Tools > Hex Edit: the overview scans the file again and the picture pane decodes
  // the picture from the new bytes rather than from what it kept.
  void saveMakesThePanesReadTheFileAgain() {
    TMessageCapture messages;
    const QString path = WriteFile(ReadAll(FileOf(SampleStream())));
    auto main = ShowForm();
    QVERIFY(main);
    main->findChild<QAction*>(QStringLiteral("ViewOverview1"))->trigger();
    main->findChild<QAction*>(QStringLiteral("ViewPicture1"))->trigger();
    main->OpenFile(path);
    TOverviewPane* overview = OverviewPaneOf(main->OverviewDock());
    TPicturePane* picture = main->PicturePane();
    QTRY_VERIFY_WITH_TIMEOUT(overview->Graph()->PictureCount() > 0 && !overview->Busy(), 10000);

    int row = -1;
    for (int i = 0; i < main->Index().PackCount() && row < 0; ++i) {
      const TPackRec pack = main->Index().Pack(i);
      if (pack.StartCode[0] == 0 && pack.StartCode[1] == 0 && pack.StartCode[2] == 1 && pack.StartCode[3] == 0) row = i;
    }
    QVERIFY(row >= 0);
    main->ListView1->SelectRow(row);
    const std::int64_t offset = main->Index().Pack(row).Offset;
    QTRY_VERIFY_WITH_TIMEOUT(picture->ShownOffset() == offset && picture->MapReady(), 20000);
    const QImage before = picture->View()->grab().toImage();

    QSignalSpy scanned(overview, &TOverviewPane::ScanFinished);
    QSignalSpy shown(picture, &TPicturePane::PictureShown);
    // A byte in the middle of the picture's slices.
    WhenHexEditOpens edit([](THexEditForm& form) {
      const int row = form.StringGrid1->model()->rowCount() / 2;
      Type(form, 8, row, CellText(form, 8, row) == QStringLiteral("5A") ? QStringLiteral("A5") : QStringLiteral("5A"));
      LeaveCell(form);
      Save(form);
    });
    main->HexEdit1Click();
    QVERIFY(edit.Ran());
    QVERIFY(overview->Busy());  // scanning again
    QTRY_VERIFY_WITH_TIMEOUT(scanned.count() > 0 && !overview->Busy(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty() && picture->ShownOffset() == offset && picture->MapReady(), 20000);
    QVERIFY(picture->View()->grab().toImage() != before);

    // A hidden overview scans again when it is next shown.
    main->OverviewDock()->hide();
    scanned.clear();
    WhenHexEditOpens again([](THexEditForm& form) {
      Type(form, 9, 2, CellText(form, 9, 2) == QStringLiteral("5A") ? QStringLiteral("A5") : QStringLiteral("5A"));
      LeaveCell(form);
      Save(form);
    });
    main->HexEdit1Click();
    QVERIFY(again.Ran());
    QVERIFY(!overview->Busy());
    main->OverviewDock()->show();
    QVERIFY(overview->Busy());
    QTRY_VERIFY_WITH_TIMEOUT(scanned.count() > 0 && !overview->Busy(), 10000);
    QVERIFY2(messages.Messages.isEmpty(), qPrintable(messages.Messages.join(QLatin1Char('\n'))));
  }
};

QTEST_MAIN(HexEditInputTest)
#include "hexedit_input_test.moc"
