// The overview pane driven as a user drives it: a scan that fills the graph while it runs,
// zoom and scroll, clicks that select the picture's pack in the list, the list's selection
// marked in the graph, and exported files that open as what they claim to be.
#include <QDockWidget>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QWheelEvent>
#include <QXmlStreamReader>
#include <chrono>
#include <thread>

#include "MainWindowTestSupport.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewGraph.h"
#include "overview/gui/OverviewPane.h"
#include "overview/gui/OverviewScanJob.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// Offsets of every picture start code, by a plain byte walk.
std::vector<std::int64_t> PictureOffsets(const QByteArray& bytes) {
  std::vector<std::int64_t> offsets;
  for (qsizetype i = 0; i + 4 <= bytes.size(); ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0) offsets.push_back(i);
  return offsets;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WaitForScan(TOverviewPane& pane) {
  if (!pane.Busy()) return true;
  QSignalSpy finished(&pane, &TOverviewPane::ScanFinished);
  return finished.wait(30000);
}

QPoint PointOf(const TOverviewGraph& graph, std::size_t picture) {
  return QPoint(static_cast<int>(graph.XOf(picture) + std::max(graph.BarWidth(), 1.0) / 2),
                graph.PlotRect().bottom() - 2);
}

void Wheel(QWidget* widget, QPoint at, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &event);
}

}  // namespace

class OverviewPaneTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir FDir;

 private slots:
  void initTestCase() { UsePrivateSettings(FDir); }

  void FillsInWhileTheScanRuns() {
    // Several streams back to back, read in 64 kB blocks, each block held up a little.
    QByteArray bytes;
    for (const char* name : {"cinecutie_test.m2v", "idet_interlaced_bff.m2v", "idet_soft_telecine.m2v"})
      bytes += ReadAll(FileOf(SharedStream(name)));
    const QString path = FDir.filePath(QStringLiteral("long.m2v"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    TOverviewPane pane;
    pane.resize(900, 300);
    pane.show();
    pane.Job().SetBlockHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(8)); });
    QList<qint64> counts;
    connect(&pane, &TOverviewPane::Filled, this, [&counts](qint64 n) { counts << n; });
    QVERIFY(pane.StartScan(path, 65536));
    QVERIFY(pane.Progress()->isVisible());
    QVERIFY(WaitForScan(pane));
    const auto reference = PictureOffsets(bytes);
    QCOMPARE(static_cast<std::size_t>(counts.last()), reference.size());
    QCOMPARE(pane.Graph()->PictureCount(), reference.size());
    // The graph had pictures to show before the scan ended, more at every step.
    QVERIFY2(counts.size() >= 3, qPrintable(QString::number(counts.size())));
    QVERIFY(counts.first() > 0 && counts.first() < counts.last());
    QVERIFY(std::is_sorted(counts.begin(), counts.end()));
    QVERIFY(!pane.Progress()->isVisible());
    QCOMPARE(pane.Statistics().Pictures, static_cast<std::int64_t>(reference.size()));
    // The statistics tab lists the numbers.
    const QTableWidget* table = pane.StatisticsTable();
    QVERIFY(table->rowCount() > 10);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Pictures"));
    QVERIFY(table->item(0, 1)->text().startsWith(QString::number(reference.size())));
  }

  void CancelAndNewScanStopTheRunningOne() {
    TOverviewPane pane;
    pane.Job().SetBlockHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    QVERIFY(pane.StartScan(FileOf(SharedStream("idet_interlaced_bff.m2v")), 4096));
    QTest::qWait(50);
    pane.CancelScan();
    QVERIFY(!pane.Scanning());
    QCOMPARE(QString::fromStdString(pane.Statistics().ScanState), QStringLiteral("cancelled"));
    pane.Job().SetBlockHook({});
    QVERIFY(pane.StartScan(FileOf(SampleStream())));
    QVERIFY(WaitForScan(pane));
    QCOMPARE(pane.Graph()->PictureCount(), PictureOffsets(ReadAll(FileOf(SampleStream()))).size());
    QVERIFY(!pane.StartScan(FDir.filePath(QStringLiteral("missing.m2v"))));
    QCOMPARE(pane.Graph()->PictureCount(), std::size_t{0});

    // A pane that goes while its scan runs stops the scan and waits for it.
    auto doomed = std::make_unique<TOverviewPane>();
    doomed->Job().SetBlockHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    QVERIFY(doomed->StartScan(FileOf(SharedStream("idet_interlaced_bff.m2v")), 4096));
    QTest::qWait(30);
    doomed.reset();
  }

  void ZoomsAndScrolls() {
    TOverviewPane pane;
    pane.resize(800, 300);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QVERIFY(pane.StartScan(FileOf(SharedStream("cinecutie_test.m2v"))));
    QVERIFY(WaitForScan(pane));
    TOverviewGraph* graph = pane.Graph();
    const double fit = graph->BarWidth();
    QVERIFY(fit < 2);  // 533 pictures fill the width
    QCOMPARE(graph->FirstPicture(), 0.0);
    // Zooming in around the middle keeps the picture under the mouse in place.
    const QPoint middle = graph->PlotRect().center();
    const std::int64_t under = graph->PictureAt(middle.x());
    Wheel(graph, middle, 240);
    QVERIFY(graph->BarWidth() > fit * 1.4);
    QVERIFY(std::abs(graph->PictureAt(middle.x()) - under) <= 1);
    const double first = graph->FirstPicture();
    QVERIFY(first > 0);
    Wheel(graph, middle, -120, Qt::ShiftModifier);  // scroll right
    QVERIFY(graph->FirstPicture() > first);
    graph->setFocus();
    QTest::keyClick(graph, Qt::Key_End);
    QCOMPARE(graph->FirstPicture() + graph->PicturesInView(), static_cast<double>(graph->PictureCount()));
    QTest::keyClick(graph, Qt::Key_Home);
    QCOMPARE(graph->FirstPicture(), 0.0);
    QTest::keyClick(graph, Qt::Key_Plus);
    const double zoomed = graph->BarWidth();
    QTest::keyClick(graph, Qt::Key_Minus);
    QVERIFY(graph->BarWidth() < zoomed);
    for (int k = 0; k < 20; ++k) QTest::keyClick(graph, Qt::Key_Minus);
    QCOMPARE(graph->BarWidth(), fit);  // never smaller than the whole stream
    // The tooltip names the picture.
    const QPoint p = PointOf(*graph, 10);
    QHelpEvent help(QEvent::ToolTip, p, graph->mapToGlobal(p));
    QApplication::sendEvent(graph, &help);
  }

  void ClickSelectsThePackAndTheListSelectionIsMarked() {
    auto form = ShowForm();
    QVERIFY(form);
    QDockWidget* dock = form->OverviewDock();
    dock->show();
    TOverviewPane* pane = OverviewPaneOf(dock);
    QVERIFY(pane);
    form->OpenFile(FileOf(SharedStream("greyramp.mpg")));
    QTRY_VERIFY(pane->Graph()->PictureCount() > 0 || pane->Scanning());
    QVERIFY(WaitForScan(*pane));
    const auto offsets = PictureOffsets(ReadAll(FileOf(SharedStream("greyramp.mpg"))));
    QCOMPARE(pane->Graph()->PictureCount(), offsets.size());

    QSignalSpy clicks(pane, &TOverviewPane::PictureClicked);
    QTest::mouseClick(pane->Graph(), Qt::LeftButton, {}, PointOf(*pane->Graph(), 7));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first().first().toLongLong(), offsets[7]);
    // The list now starts at that picture's pack, selected.
    QCOMPARE(RowOffset(*form, 0), offsets[7]);
    QCOMPARE(form->ListView1->SelectedRow(), 0);
    QCOMPARE(Cell(*form, 0, 2), QStringLiteral("PICTURE_START_CODE"));
    QTRY_COMPARE(pane->Graph()->MarkedPicture(), std::int64_t{7});

    // A row picked in the list is marked in the graph: row 1 follows picture 7.
    QVERIFY(RowCount(*form) > 2);
    form->ListView1->SelectRow(1);
    const std::int64_t rowOffset = RowOffset(*form, 1);
    const auto holder = std::upper_bound(offsets.begin(), offsets.end(), rowOffset) - offsets.begin() - 1;
    QTRY_COMPARE(pane->Graph()->MarkedPicture(), static_cast<std::int64_t>(holder));

    // Closing the file empties the pane.
    form->Close1Click();
    QTRY_COMPARE(pane->Graph()->PictureCount(), std::size_t{0});
  }

  void DockPlaceIsKeptInTheSettings() {
    int height = 0;
    {
      auto form = ShowForm();
      QVERIFY(form);
      QDockWidget* dock = form->OverviewDock();
    dock->show();
      QTest::qWait(20);
      form->resizeDocks({dock}, {330}, Qt::Vertical);
      QTest::qWait(20);
      height = dock->height();
      form->close();
    }
    auto form = ShowForm();
    QVERIFY(form);
    QDockWidget* dock = form->OverviewDock();
    dock->show();
    QCOMPARE(form->dockWidgetArea(dock), Qt::BottomDockWidgetArea);
    QTRY_COMPARE(dock->height(), height);
  }

  void ExportsOpenAsImagesAndJson() {
    TOverviewPane pane;
    pane.resize(900, 320);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QVERIFY(pane.StartScan(FileOf(SharedStream("idet_soft_telecine.m2v"))));
    QVERIFY(WaitForScan(pane));
    TOverviewGraph* graph = pane.Graph();
    Wheel(graph, graph->PlotRect().center(), 360);  // zoomed in: the exports show the view

    const QString png = FDir.filePath(QStringLiteral("graph.png"));
    QVERIFY(pane.ExportPng(png));
    QImage image;
    QVERIFY(image.load(png));
    QVERIFY(image.width() >= 800 && image.height() >= 300);

    // The SVG is drawn by the same painting as the PNG: the same size, the same scale labels.
    const QString svg = FDir.filePath(QStringLiteral("graph.svg"));
    QVERIFY(pane.ExportSvg(svg));
    QXmlStreamReader xml(ReadAll(svg));
    QStringList texts;
    QSize svgSize;
    int shapes = 0;
    while (!xml.atEnd()) {
      xml.readNext();
      if (!xml.isStartElement()) continue;
      if (xml.name() == QStringLiteral("svg")) {
        const QStringList box = xml.attributes().value(QStringLiteral("viewBox")).toString().split(QLatin1Char(' '));
        if (box.size() == 4) svgSize = QSize(box[2].toInt(), box[3].toInt());
      }
      else if (xml.name() == QStringLiteral("text"))
        texts << xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
      else if (xml.name() == QStringLiteral("rect") || xml.name() == QStringLiteral("path"))
        ++shapes;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(svgSize, image.size());
    const TGraphLayout layout = graph->Layout(graph->ExportSize());
    for (const QString& label : {layout.SizeText, layout.RateText, QString::number(layout.First), QString::number(layout.Last)})
      QVERIFY2(texts.contains(label), qPrintable(label + QStringLiteral(" in ") + texts.join(QLatin1Char('|'))));
    QVERIFY(texts.contains(QStringLiteral("declared")));
    const int inView = static_cast<int>(layout.Last - layout.First + 1);
    QVERIFY(inView > 0 && inView < 240);
    QVERIFY(shapes >= inView);  // a bar for every picture in view, at least

    const QString json = FDir.filePath(QStringLiteral("stats.json"));
    QVERIFY(pane.ExportJson(json));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(ReadAll(json), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc.object().value(QStringLiteral("pictures")).toObject().value(QStringLiteral("total")).toInt(), 240);
    QCOMPARE(doc.object().value(QStringLiteral("duration_s")).toDouble(), 10.01);

    QVERIFY(!pane.ExportJson(FDir.filePath(QStringLiteral("no/such/dir/stats.json"))));
  }
};

QTEST_MAIN(OverviewPaneTest)
#include "overview_pane_test.moc"
