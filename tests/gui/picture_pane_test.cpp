// The picture pane: a selected picture shows, a click names the macroblock under it, a
// highlight draws, and in the main window the pane and the slice tree point at each other.
#include <QComboBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "MainWindowTestSupport.h"
#include "picture/StreamUnits.h"
#include "picture/gui/PicturePane.h"
#include "picture/gui/PictureView.h"

using namespace varlow;
using namespace varlow::test;

namespace {

std::vector<TStreamUnit> PictureUnits(const std::string& path) {
  const auto bytes = ReadFileBytes(path);
  std::vector<TStreamUnit> pictures;
  for (const auto& u : ScanStreamUnits(bytes, 0, true))
    if (u.IsPicture()) pictures.push_back(u);
  return pictures;
}

// The picture and the analyser's findings for it are on screen.
bool WaitShown(TPicturePane& pane, std::int64_t offset) {
  return QTest::qWaitFor([&] { return pane.ShownOffset() == offset && pane.MapReady(); }, 20000);
}

QColor PixelAt(QWidget* widget, QPointF point) { return widget->grab().toImage().pixelColor(point.toPoint()); }

} // namespace

class PicturePaneTest : public QObject {
  Q_OBJECT
  QTemporaryDir FSettingsDir;

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void selectedPictureShowsAndTheLastSelectionWins() {
    const std::string path = OwnStream("i420_interlaced.m2v");
    const auto pictures = PictureUnits(path);
    QVERIFY(pictures.size() > 6);
    TPicturePane pane;
    pane.resize(800, 700);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.SetFile(QString::fromStdString(path));
    // Selections in quick succession: only the last one ends on screen.
    QSignalSpy shown(&pane, &TPicturePane::PictureShown);
    pane.ShowPicture(pictures[1].Offset);
    pane.ShowPicture(pictures[3].Offset);
    pane.ShowPicture(pictures[5].Offset);
    QVERIFY(WaitShown(pane, pictures[5].Offset));
    QVERIFY(pane.Status().startsWith(QStringLiteral("720x576 ")));
    QCOMPARE(pane.Map().MacroblocksPerRow, 45);
    QCOMPARE(static_cast<int>(pane.Map().Macroblocks.size()), 45 * 36);
    // A field view keeps the frame's geometry for the overlay.
    pane.findChild<QComboBox*>(QStringLiteral("cbPictureField"))->setCurrentIndex(2);
    QVERIFY(!pane.View()->grab().isNull());
    // Leaving the picture clears the pane.
    pane.ShowPicture(-1);
    QCOMPARE(pane.ShownOffset(), std::int64_t{-1});
  }

  void clickNamesTheMacroblockAndHighlightDraws() {
    const std::string path = OwnStream("p420_tools.m2v");
    const auto pictures = PictureUnits(path);
    TPicturePane pane;
    pane.resize(800, 700);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.SetFile(QString::fromStdString(path));
    pane.ShowPicture(pictures[2].Offset);  // a B picture
    QVERIFY(WaitShown(pane, pictures[2].Offset));
    pane.findChild<QComboBox*>(QStringLiteral("cbPictureZoom"))->setCurrentIndex(1);  // 1:1
    QTest::qWait(50);

    const TMacroblockInfo* mb = pane.Map().At(1, 5);  // in the red bar
    QVERIFY(mb != nullptr);
    QSignalSpy clicked(&pane, &TPicturePane::MacroblockClicked);
    const QPointF centre = pane.View()->ToWidget(QPointF(1 * 16 + 8, 5 * 16 + 8));
    QTest::mouseClick(pane.View(), Qt::LeftButton, {}, centre.toPoint());
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.at(0).at(0).toInt(), mb->SliceIndex);
    QCOMPARE(clicked.at(0).at(1).toInt(), mb->NumberInSlice);
    QCOMPARE(clicked.at(0).at(2).toInt(), 5 * 22 + 1);

    // The outline of a highlighted macroblock is drawn in yellow on its edge.
    const QPointF edge = pane.View()->ToWidget(QPointF(1 * 16 + 8, 5 * 16));
    QVERIFY(PixelAt(pane.View(), edge) != QColor(255, 255, 0));
    pane.HighlightMacroblock(mb->SliceIndex, mb->NumberInSlice >= 0 ? mb->NumberInSlice : -1);
    QCOMPARE(PixelAt(pane.View(), edge), QColor(255, 255, 0));
    pane.HighlightMacroblock(-1, -1);
    QVERIFY(PixelAt(pane.View(), edge) != QColor(255, 255, 0));
  }

  void windowTiesPaneAndSliceTree() {
    auto form = ShowForm();
    QVERIFY(form);
    TPicturePane* pane = form->PicturePane();
    pane->show();
    form->OpenFile(FileOf(SampleStream()));
    // Row 2 is the first picture.
    const QRect rowRect = form->ListView1->visualRect(form->ListView1->model()->index(2, 1));
    QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {}, rowRect.center());
    const std::int64_t offset = RowOffset(*form, 2);
    QVERIFY(WaitShown(*pane, offset));
    QVERIFY(form->lbSlices->count() > 3);

    // A click on a coded macroblock of the third slice row selects that slice and its node.
    const TMacroblockInfo* mb = pane->Map().At(4, 3);
    QVERIFY(mb != nullptr && mb->NumberInSlice >= 0);
    emit pane->MacroblockClicked(mb->SliceIndex, mb->NumberInSlice, mb->Address);
    QCOMPARE(form->lbSlices->currentRow(), mb->SliceIndex);
    QTreeWidgetItem* node = form->tvSliceDetails->currentItem();
    QVERIFY(node != nullptr);
    QCOMPARE(node->text(0), QStringLiteral("MacroBlock %1").arg(mb->NumberInSlice));
    // ...and that selection is outlined on the picture.
    QCOMPARE(pane->View()->Highlight().Address, mb->Address);

    // Selecting another node of the tree moves the outline.
    QTreeWidgetItem* slice = node->parent();
    QTreeWidgetItem* other = nullptr;
    for (int i = 0; i < slice->childCount() && !other; ++i)
      if (slice->child(i)->text(0) == QStringLiteral("MacroBlock 0")) other = slice->child(i);
    QVERIFY(other);
    form->tvSliceDetails->setCurrentItem(other->child(0));
    const auto& map = pane->Map();
    const auto first = std::find_if(map.Macroblocks.begin(), map.Macroblocks.end(), [&](const TMacroblockInfo& m) {
      return m.SliceIndex == mb->SliceIndex && m.NumberInSlice == 0;
    });
    QVERIFY(first != map.Macroblocks.end());
    QCOMPARE(pane->View()->Highlight().Address, first->Address);
  }
};

QTEST_MAIN(PicturePaneTest)
#include "picture_pane_test.moc"
