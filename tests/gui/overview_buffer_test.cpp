// The overview's Buffer tab: the curve of the whole stream once the scan has ended, its
// violations, zoom, and a click that selects the picture's pack in the list.
#include <QDockWidget>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QWheelEvent>

#include "MainWindowTestSupport.h"
#include "overview/gui/BufferGraph.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewPane.h"

using namespace varlow;
using namespace varlow::test;

namespace {

std::vector<std::int64_t> PictureOffsets(const QString& path) {
  QFile file(path);
  const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  std::vector<std::int64_t> offsets;
  for (qsizetype i = 0; i + 4 <= bytes.size(); ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0) offsets.push_back(i);
  return offsets;
}

bool WaitForScan(TOverviewPane& pane) {
  if (!pane.Busy()) return true;
  QSignalSpy finished(&pane, &TOverviewPane::ScanFinished);
  return finished.wait(30000);
}

QString RowValue(const QTableWidget& table, const QString& label) {
  for (int r = 0; r < table.rowCount(); ++r)
    if (table.item(r, 0) && table.item(r, 0)->text() == label) return table.item(r, 1)->text();
  return {};
}

}  // namespace

class OverviewBufferTest : public QObject {
  Q_OBJECT
  QTemporaryDir FDir;

 private slots:
  void initTestCase() { UsePrivateSettings(FDir); }

  void ClickOnTheCurveSelectsThePack() {
    const QString path = FileOf(SharedStream("greyramp.mpg"));
    if (!QFile::exists(path)) QSKIP("no shared streams");
    auto form = ShowForm();
    QVERIFY(form);
    QDockWidget* dock = form->OverviewDock();
    dock->show();
    TOverviewPane* pane = OverviewPaneOf(dock);
    QVERIFY(pane);
    form->OpenFile(path);
    QTRY_VERIFY(pane->Scanning() || pane->Graph() != nullptr);
    QVERIFY(WaitForScan(*pane));
    const auto offsets = PictureOffsets(path);
    TBufferGraph* buffer = pane->Buffer();
    QTRY_COMPARE(buffer->Curve().Points.size(), offsets.size());
    QCOMPARE(buffer->Curve().Summary.Mode, TVbvMode::Constant);
    QVERIFY(buffer->Curve().Summary.Modelled);

    QTabWidget* tabs = pane->Tabs();
    const int index = tabs->indexOf(buffer);
    QVERIFY(index >= 0);
    QCOMPARE(tabs->tabText(index), QStringLiteral("Buffer"));
    tabs->setCurrentIndex(index);
    QTRY_VERIFY(buffer->isVisible());

    QSignalSpy clicks(pane, &TOverviewPane::PictureClicked);
    const QPoint at(static_cast<int>(buffer->XOf(9)), buffer->PlotRect().center().y());
    QCOMPARE(buffer->PictureAt(at.x()), std::int64_t{9});
    QTest::mouseClick(buffer, Qt::LeftButton, {}, at);
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first().first().toLongLong(), offsets[9]);
    QCOMPARE(RowOffset(*form, 0), offsets[9]);
    QCOMPARE(form->ListView1->SelectedRow(), 0);

    // The wheel zooms round the mouse; Home shows the whole stream again.
    const double span = buffer->Span();
    QWheelEvent wheel(at, buffer->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(buffer, &wheel);
    QVERIFY(buffer->Span() < span);
    QCOMPARE(buffer->PictureAt(at.x()), std::int64_t{9});
    QTest::keyClick(buffer, Qt::Key_Home);
    QCOMPARE(buffer->Span(), span);

    form->Close1Click();
    QTRY_COMPARE(buffer->Curve().Points.size(), std::size_t{0});
  }

  void ViolationsAreListedAndDrawn() {
    const QString path = FileOf(SharedStream("test_2.mpg"));
    if (!QFile::exists(path)) QSKIP("no shared streams");
    TOverviewPane pane;
    pane.resize(900, 320);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QVERIFY(pane.StartScan(path));
    QVERIFY(WaitForScan(pane));
    const TVbvSummary& s = pane.Buffer()->Curve().Summary;
    QCOMPARE(s.Mode, TVbvMode::Variable);
    QVERIFY(s.Underflows > 0);
    QCOMPARE(static_cast<std::int64_t>(s.Events.size()), s.Underflows + s.Overflows);
    QVERIFY(RowValue(*pane.StatisticsTable(), QStringLiteral("VBV underflows"))
                .startsWith(QString::number(s.Underflows) + QStringLiteral(" at pictures ")));
    pane.Tabs()->setCurrentWidget(pane.Buffer());
    const QImage image = pane.Buffer()->grab().toImage();
    // A red mark under the first underflowing picture.
    const int x = static_cast<int>(pane.Buffer()->XOf(s.Events.front().Picture));
    bool red = false;
    for (int y = pane.Buffer()->PlotRect().bottom() - 8; y <= pane.Buffer()->PlotRect().bottom(); ++y)
      red = red || image.pixelColor(x, y) == QColor(0xD6, 0x27, 0x28);
    QVERIFY(red);
  }

  void AStreamWithoutARateSaysSo() {
    const QString path = QString::fromLatin1(VARLOW_TEST_STREAMS) + QStringLiteral("/mpeg1.m1v");
    TOverviewPane pane;
    pane.resize(900, 320);
    pane.show();
    QVERIFY(pane.StartScan(path));
    QVERIFY(WaitForScan(pane));
    QVERIFY(!pane.Buffer()->Curve().Summary.Modelled);
    QVERIFY(RowValue(*pane.StatisticsTable(), QStringLiteral("VBV")).contains(QStringLiteral("not modelled")));
    pane.Tabs()->setCurrentWidget(pane.Buffer());
    QVERIFY(!pane.Buffer()->grab().isNull());
  }
};

QTEST_MAIN(OverviewBufferTest)
#include "overview_buffer_test.moc"
