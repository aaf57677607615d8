// The wheel, the thumb's offset tooltip, the selection after a scroll-bar move and the note
// over a stretch of the file without packs.
#include <QFile>
#include <QWheelEvent>

#include "MainWindowTestSupport.h"
#include "support/Log.h"

using namespace varlow;
using namespace varlow::test;

namespace {

void Wheel(QWidget* target, int angle) {
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

}  // namespace

class MainWindowScrollingTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  std::unique_ptr<TForm1> FForm;
  std::vector<std::int64_t> FPacks;

  void ExpectFirstPack(std::size_t pack) {
    QCOMPARE(RowOffset(*FForm, 0), FPacks.at(pack));
    QCOMPARE(FForm->ScrollBar1->value(), static_cast<int>(FPacks.at(pack) / 100));
    QCOMPARE(FForm->Index().ScrollPos(), FForm->ScrollBar1->value());
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
  }

 private slots:
  void initTestCase() {
    UsePrivateSettings(FSettingsDir);
    FPacks = AllPackOffsets(SampleStream());
  }
  void init() {
    FForm = ShowForm();
    QVERIFY(FForm);
    FForm->OpenFile(FileOf(SampleStream()));
  }
  void cleanup() { FForm.reset(); }

  void wheelMovesThreeRowsPerNotchLikeTheArrows() {
    ScopedLogCapture log;
    Wheel(FForm->ListView1->viewport(), -120);  // towards the user: down
    ExpectFirstPack(3);
    QCOMPARE(log.Count("one down"), 3);
    // Half notches add up; a notch and a half moves one notch and keeps the rest.
    Wheel(FForm->ListView1->viewport(), -60);
    ExpectFirstPack(3);
    Wheel(FForm->ListView1->viewport(), -90);
    ExpectFirstPack(6);
    Wheel(FForm->ListView1->viewport(), 120 + 30);  // up, with the kept 30 back to a whole notch
    ExpectFirstPack(3);
    // Over the scroll bar too; up at the start of the file stays there.
    Wheel(FForm->ScrollBar1, 240);
    ExpectFirstPack(0);
    QCOMPARE(log.Count("one up"), 9);
    // The panes show the selected first row, and the next key acts at once.
    QVERIFY(FForm->Memo1->toPlainText().startsWith(QStringLiteral("00000000   00 00 01 B3")));
    QTest::keyClick(FForm->ListView1, Qt::Key_Down);
    QCOMPARE(FForm->ListView1->SelectedRow(), 1);
    QVERIFY(FForm->Memo1->toPlainText().startsWith(Cell(*FForm, 1, 0).mid(1) + QStringLiteral("   00 00 01 B8")));
  }

  void wheelAtTheEndOfTheFileSnapsBack() {
    QTest::keyClick(FForm->ListView1, Qt::Key_End);
    Wheel(FForm->ListView1->viewport(), -120 * 4);
    // The last page stays full and in place; every step puts the bar back at its bottom.
    QCOMPARE(RowCount(*FForm), FForm->ListView1->VisibleRowCount());
    QCOMPARE(RowOffset(*FForm, 0), FPacks.at(FPacks.size() - static_cast<std::size_t>(RowCount(*FForm))));
    QCOMPARE(FForm->ScrollBar1->value(), FForm->ScrollBar1->maximum());
    QCOMPARE(FForm->Index().ScrollPos(), FForm->ScrollBar1->value());
  }

  void thumbShowsTheOffsetItPointsAt() {
    QVERIFY(FForm->ScrollBar1->ThumbToolTip().isEmpty());
    FForm->ScrollBar1->setSliderDown(true);
    FForm->ScrollBar1->setSliderPosition(1000);
    QCOMPARE(FForm->ScrollBar1->ThumbToolTip(), QStringLiteral("Offset $000186A0"));
    FForm->ScrollBar1->setSliderPosition(1001);
    QCOMPARE(FForm->ScrollBar1->ThumbToolTip(), QStringLiteral("Offset $00018704"));
    FForm->ScrollBar1->setSliderDown(false);
    QVERIFY(RowOffset(*FForm, 0) >= 100100);
    QCOMPARE(FForm->ListView1->SelectedRow(), 0);
    // Offsets beyond 4 GiB get their ninth digit.
    QCOMPARE(TFileScrollBar::OffsetText(50000000), QStringLiteral("Offset $12A05F200"));
  }

  void landingWhereNoPackStartsSaysSo() {
    // The sample, 20 MB without start codes, the sample again.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gap.m2v"));
    QFile sample(FileOf(SampleStream()));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray bytes = sample.readAll();
    const qint64 gap = 20'000'000;
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(bytes);
      QVERIFY(file.seek(bytes.size() + gap));
      file.write(bytes);
    }
    FForm->OpenFile(path);
    QVERIFY(FForm->ListView1->Note().isEmpty());
    const int middle = static_cast<int>((bytes.size() + gap / 2) / 100);
    DragThumbTo(FForm->ScrollBar1, middle);
    QCOMPARE(RowCount(*FForm), 0);
    QCOMPARE(FForm->ListView1->SelectedRow(), -1);
    const QString note = FForm->ListView1->Note();
    QVERIFY2(note.startsWith(QStringLiteral("No start codes near offset $") +
                             TFileScrollBar::OffsetText(middle).mid(8)),
             qPrintable(note));
    QVERIFY(FForm->Memo1->toPlainText().isEmpty());
    // Back among packs, the note goes.
    DragThumbTo(FForm->ScrollBar1, 0);
    QVERIFY(RowCount(*FForm) > 0);
    QVERIFY(FForm->ListView1->Note().isEmpty());
    // Closing the file leaves an empty list without a note.
    FForm->Close1Click();
    QVERIFY(FForm->ListView1->Note().isEmpty());
  }
};

QTEST_MAIN(MainWindowScrollingTest)
#include "main_window_scrolling_test.moc"
