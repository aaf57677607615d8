// The detail panes beyond the first 1,600 bytes of a pack: slice list entries and the dump
// following a chosen slice or node, the damage node of a broken slice, and a pack that is no
// longer where the list says.
#include <QFile>
#include <QTextBlock>

#include "MainWindowTestSupport.h"
#include "support/Format.h"

using namespace varlow;
using namespace varlow::test;

namespace {

constexpr int kIPictureRow = 2;

QByteArray SampleBytes() {
  QFile file(FileOf(SampleStream()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& prefix) {
  const auto items = tree->findItems(prefix, Qt::MatchStartsWith | Qt::MatchRecursive);
  return items.isEmpty() ? nullptr : items.first();
}

QString Pair(const QByteArray& bytes, std::int64_t i) {
  return QString::fromLatin1(bytes.mid(static_cast<int>(i), 1).toHex().toUpper());
}

}  // namespace

class MainWindowDetailsTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  QTemporaryDir FDir;
  std::unique_ptr<TForm1> FForm;

  void ClickRow(int row) {
    QTest::mouseClick(FForm->ListView1->viewport(), Qt::LeftButton, {},
                      FForm->ListView1->visualRect(FForm->ListView1->model()->index(row, 1)).center());
  }
  void ChooseSlice(int item) {
    FForm->lbSlices->scrollToItem(FForm->lbSlices->item(item));
    QTest::mouseClick(FForm->lbSlices->viewport(), Qt::LeftButton, {},
                      FForm->lbSlices->visualItemRect(FForm->lbSlices->item(item)).center());
  }
  QString Copy(const char* name, const QByteArray& bytes) {
    const QString path = FDir.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
    return path;
  }

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }
  void init() {
    FForm = ShowForm();
    QVERIFY(FForm);
  }
  void cleanup() { FForm.reset(); }

  void slicesAndNodesBeyondTheFirst1600Bytes() {
    const QByteArray bytes = SampleBytes();
    FForm->OpenFile(FileOf(SampleStream()));
    ClickRow(kIPictureRow);
    const std::int64_t pack = RowOffset(*FForm, kIPictureRow);
    const QByteArray picture = bytes.mid(static_cast<int>(pack), Cell(*FForm, kIPictureRow, 1).toInt());
    // Each item says where its slice lies in the pack and how long it is.
    const int items = FForm->lbSlices->count();
    QVERIFY(items > 2);
    const int expectedOffset = picture.indexOf(QByteArray::fromHex("00000101"));
    const int second = picture.indexOf(QByteArray::fromHex("00000102"));
    QCOMPARE(FForm->lbSlices->item(0)->text(),
             QStringLiteral("$00000101 @%1, %2 B").arg(expectedOffset).arg(second - expectedOffset));
    QCOMPARE(FForm->lbSlices->item(0)->toolTip(),
             QStringLiteral("Slice $00000101 starts at byte %1 of the pack and takes %2 bytes")
                 .arg(expectedOffset)
                 .arg(second - expectedOffset));
    const int lastOffset = picture.lastIndexOf(QByteArray::fromHex("000001"));
    QVERIFY(lastOffset > 1600);
    QVERIFY(FForm->lbSlices->item(items - 1)->text().contains(
        QStringLiteral(" @%1, %2 B").arg(lastOffset).arg(picture.size() - lastOffset)));

    // The last slice lies beyond the dumped part: the dump moves to it and selects its start code.
    ChooseSlice(items - 1);
    const QString dump = FForm->Memo1->toPlainText();
    QVERIFY(dump.startsWith(QStringLiteral("...\n")));
    QCOMPARE(FForm->Memo1->textCursor().selectedText(), QStringLiteral("00 00 01 ") + Pair(picture, lastOffset + 3));
    QVERIFY(FForm->tvSliceDetails->topLevelItemCount() > 0);

    // A macroblock node spans its bits (tooltip) and selecting it selects its bytes there.
    QTreeWidgetItem* macroblock = FindItem(FForm->tvSliceDetails, QStringLiteral("MacroBlock 1"));
    QVERIFY(macroblock);
    const std::int64_t bitPos = macroblock->data(0, kBitPosRole).toLongLong();
    const int bitWidth = macroblock->data(0, kBitWidthRole).toInt();
    QVERIFY(bitPos / 8 > 1600 && bitWidth > 8);
    QCOMPARE(macroblock->toolTip(0), ElementToolTip(bitPos, bitWidth));
    FForm->tvSliceDetails->setCurrentItem(macroblock);
    const QString selected = FForm->Memo1->textCursor().selectedText();
    QVERIFY2(selected.startsWith(Pair(picture, bitPos / 8)), qPrintable(selected));
    QVERIFY2(selected.endsWith(Pair(picture, (bitPos + bitWidth - 1) / 8)), qPrintable(selected));
    // A block node too.
    QTreeWidgetItem* block = nullptr;
    for (int i = 0; i < macroblock->childCount() && !block; ++i)
      if (macroblock->child(i)->text(0).startsWith(QStringLiteral("Block Y1"))) block = macroblock->child(i);
    QVERIFY(block);
    if (!block->text(0).endsWith(QStringLiteral("(not coded)"))) {
      QVERIFY(block->data(0, kBitPosRole).toLongLong() >= bitPos);
      QVERIFY(!block->toolTip(0).isEmpty());
    }

    // The first slice is in the default view again: the dump's first 1,600 bytes.
    ChooseSlice(0);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(QString::fromStdString(HexUpper(static_cast<std::uint64_t>(pack), 8))));
    QVERIFY(FForm->Memo1->toPlainText().endsWith(QStringLiteral("\n...")));
    QCOMPARE(FForm->Memo1->textCursor().selectedText(), QStringLiteral("00 00 01 01"));
  }

  void damagedSliceShowsWhereTheDamageBegins() {
    QByteArray bytes = SampleBytes();
    const int picture = 0x1E;
    const int slice = bytes.indexOf(QByteArray::fromHex("00000101"), picture);
    QVERIFY(slice > picture);
    // quantiser_scale_code 1, extra_bit_slice 0, then zeros where the first macroblock's
    // address increment should be.
    bytes.replace(slice + 4, 3, QByteArray::fromHex("080040"));
    FForm->OpenFile(Copy("damaged.m2v", bytes));
    ClickRow(kIPictureRow);
    ChooseSlice(0);
    QTreeWidgetItem* damage = FindItem(FForm->tvSliceDetails, QStringLiteral("Invalid code at bit "));
    QVERIFY(damage);
    const std::int64_t bit = std::int64_t{slice - picture} * 8 + 38;
    QCOMPARE(damage->text(0), QStringLiteral("Invalid code at bit %1: expected macroblock_address_increment "
                                             "(found 0000 0000 0001 0000)")
                                  .arg(bit));
    QVERIFY(damage->data(0, kDamageRole).toBool());
    QCOMPARE(damage->data(0, kBitPosRole).toLongLong(), bit);
    QCOMPARE(damage->foreground(0).color(), QColor(0xB0, 0x00, 0x00));
    QVERIFY(damage->font(0).bold());
    // Only there: no other node of the slice is marked.
    int marked = 0;
    for (QTreeWidgetItemIterator it(FForm->tvSliceDetails); *it; ++it) marked += (*it)->data(0, kDamageRole).toBool();
    QCOMPARE(marked, 1);
    // A sound slice of the same picture has none.
    ChooseSlice(1);
    QVERIFY(!FindItem(FForm->tvSliceDetails, QStringLiteral("Invalid code at bit ")));
  }

  void packChangedOnDiskShowsNoTree() {
    QByteArray bytes = SampleBytes();
    const QString path = Copy("changing.m2v", bytes);
    FForm->OpenFile(path);
    ClickRow(kIPictureRow);
    QVERIFY(FForm->lbSlices->count() > 0);
    const std::int64_t pPicture = RowOffset(*FForm, kIPictureRow + 1);
    // Another program overwrites the start codes of both pictures.
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::ReadWrite));
      for (std::int64_t at : {RowOffset(*FForm, kIPictureRow), pPicture}) {
        QVERIFY(file.seek(at));
        file.write(QByteArray::fromHex("FFFFFFFF"));
      }
    }
    // The slice list was read before: its request finds no pack and explains nothing.
    ChooseSlice(0);
    QCOMPARE(FForm->tvSliceDetails->topLevelItemCount(), 0);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(QStringLiteral("No pack starts at offset $")));
    // Selecting the next row: no tree of bytes that are not a start code.
    ClickRow(kIPictureRow + 1);
    QCOMPARE(FForm->TreeView1->topLevelItemCount(), 0);
    QCOMPARE(FForm->lbSlices->count(), 0);
    QCOMPARE(FForm->PackLength(), 0);
    QCOMPARE(FForm->Memo1->toPlainText(),
             QStringLiteral("No pack starts at offset $%1 any more: the file has changed on disk since the list was "
                            "read. Move the list to read it again.")
                 .arg(QString::fromStdString(HexUpper(static_cast<std::uint64_t>(pPicture), 8))));
  }
};

QTEST_MAIN(MainWindowDetailsTest)
#include "main_window_details_test.moc"
