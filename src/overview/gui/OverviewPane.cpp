#include "overview/gui/OverviewPane.h"

#include <QBoxLayout>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSaveFile>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <mutex>

#include "buffer/VbvCurve.h"
#include "overview/OverviewReport.h"
#include "overview/PictureTiming.h"
#include "overview/gui/BufferGraph.h"
#include "overview/gui/OverviewGraph.h"
#include "overview/gui/OverviewScanJob.h"
#include "support/OutputNames.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr int kRefreshMs = 150;
constexpr int kProgressSteps = 1000;

bool SaveBytes(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

// The export dialogs' proposal: "<stream's folder>/<stream's name>-<what>.<extension>".
QString ProposedName(const QString& stream, const char* what, const char* extension) {
  return QFile::decodeName(ProposedOutputName(QFile::encodeName(stream).toStdString(), what, extension).c_str());
}

}  // namespace

TOverviewPane::TOverviewPane(QWidget* parent) : QWidget(parent), FJob(std::make_unique<TOverviewScanJob>()) {
  setObjectName(QStringLiteral("OverviewPane"));
  FGraph = new TOverviewGraph(this);
  FGraph->SetData(&FJob->Data(), &FJob->Lock());
  FGraph->setContextMenuPolicy(Qt::CustomContextMenu);
  FBuffer = new TBufferGraph(this);
  FBuffer->SetData(&FJob->Data(), &FJob->Lock());
  FBuffer->setContextMenuPolicy(Qt::CustomContextMenu);
  FScroll = new QScrollBar(Qt::Horizontal, this);
  FScroll->setObjectName(QStringLiteral("OverviewScrollBar"));

  auto* graphPage = new QWidget(this);
  auto* graphLayout = new QVBoxLayout(graphPage);
  graphLayout->setContentsMargins(0, 0, 0, 0);
  graphLayout->setSpacing(0);
  graphLayout->addWidget(FGraph, 1);
  graphLayout->addWidget(FScroll);

  FTable = new QTableWidget(0, 2, this);
  FTable->setObjectName(QStringLiteral("OverviewStatistics"));
  FTable->setHorizontalHeaderLabels({tr("Statistic"), tr("Value")});
  FTable->horizontalHeader()->setStretchLastSection(true);
  FTable->verticalHeader()->hide();
  FTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FTable->setContextMenuPolicy(Qt::CustomContextMenu);

  FTabs = new QTabWidget(this);
  FTabs->addTab(graphPage, tr("Picture sizes"));
  FTabs->addTab(FBuffer, tr("Buffer"));
  FTabs->addTab(FTable, tr("Statistics"));

  FProgress = new QProgressBar(this);
  FProgress->setRange(0, kProgressSteps);
  FProgress->setTextVisible(true);
  FProgress->hide();
  FStatus = new QLabel(this);
  FCancel = new QToolButton(this);
  FCancel->setText(tr("Cancel"));
  FCancel->hide();
  FExport = new QToolButton(this);
  FExport->setText(tr("Export"));
  FExport->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(FExport);
  menu->addAction(tr("Graph as PNG..."), this, [this] {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export graph"), ProposedName(FFileName, "overview", "png"), tr("PNG images (*.png)"));
    if (!path.isEmpty()) ExportPng(path);
  });
  menu->addAction(tr("Graph as SVG..."), this, [this] {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export graph"), ProposedName(FFileName, "overview", "svg"), tr("SVG images (*.svg)"));
    if (!path.isEmpty()) ExportSvg(path);
  });
  menu->addAction(tr("Statistics as JSON..."), this, [this] {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export statistics"), ProposedName(FFileName, "statistics", "json"), tr("JSON (*.json)"));
    if (!path.isEmpty()) ExportJson(path);
  });
  FExport->setMenu(menu);

  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 4, 2);
  bar->addWidget(FStatus, 1);
  bar->addWidget(FProgress, 1);
  bar->addWidget(FCancel);
  bar->addWidget(FExport);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(bar);
  layout->addWidget(FTabs, 1);

  FTimer = new QTimer(this);
  FTimer->setInterval(kRefreshMs);
  connect(FTimer, &QTimer::timeout, this, &TOverviewPane::RefreshFromScan);
  connect(FCancel, &QToolButton::clicked, this, &TOverviewPane::CancelScan);
  connect(FGraph, &TOverviewGraph::PictureClicked, this, &TOverviewPane::PictureClicked);
  connect(FBuffer, &TBufferGraph::PictureClicked, this, &TOverviewPane::PictureClicked);
  connect(FGraph, &TOverviewGraph::ViewChanged, this, &TOverviewPane::SyncScrollBar);
  connect(FScroll, &QScrollBar::valueChanged, this, [this](int value) {
    if (static_cast<int>(FGraph->FirstPicture()) != value) FGraph->SetFirstPicture(value);
  });
  for (QWidget* w : {static_cast<QWidget*>(FGraph), static_cast<QWidget*>(FBuffer), static_cast<QWidget*>(FTable)})
    connect(w, &QWidget::customContextMenuRequested, this,
            [this, w](const QPoint& pos) { ShowExportMenu(w->mapToGlobal(pos)); });
}

TOverviewPane::~TOverviewPane() {
  FJob->Cancel();
}

bool TOverviewPane::StartScan(const QString& path, std::size_t blockSize, std::int32_t streamIndex) {
  FTimer->stop();
  FJob->Cancel();
  FGraph->SetData(&FJob->Data(), &FJob->Lock());
  FBuffer->SetData(&FJob->Data(), &FJob->Lock());
  FFileName = path;
  FBlockSize = blockSize;
  FStreamIndex = streamIndex;
  FStale = false;
  FShownPictures = 0;
  const bool started = FJob->Start(path, blockSize, streamIndex);
  FFinishedShown = !started;
  FProgress->setValue(0);
  FProgress->setVisible(started);
  FCancel->setVisible(started);
  FStatus->setText(started ? tr("Scanning...") : tr("The file cannot be read"));
  if (started) FTimer->start(kRefreshMs);
  ShowStatistics();
  return started;
}

void TOverviewPane::Rescan() {
  if (FFileName.isEmpty()) return;
  if (isVisible())
    StartScan(FFileName, FBlockSize, FStreamIndex);
  else
    FStale = true;
}

void TOverviewPane::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FStale && !FFileName.isEmpty()) StartScan(FFileName, FBlockSize, FStreamIndex);
}

void TOverviewPane::CancelScan() {
  if (!FJob->Running()) return;
  FJob->Cancel();
  RefreshFromScan();
}

void TOverviewPane::Clear() {
  FTimer->stop();
  FJob->Cancel();
  FJob = std::make_unique<TOverviewScanJob>();
  FGraph->SetData(&FJob->Data(), &FJob->Lock());
  FBuffer->SetData(&FJob->Data(), &FJob->Lock());
  FFileName.clear();
  FStale = false;
  FShownPictures = 0;
  FFinishedShown = true;
  FProgress->hide();
  FCancel->hide();
  FStatus->clear();
  FStatistics = TOverviewStatistics();
  FTable->setRowCount(0);
  SyncScrollBar();
}

bool TOverviewPane::Scanning() const { return FJob->Running(); }

void TOverviewPane::RefreshFromScan() {
  QElapsedTimer took;
  took.start();
  Trap("TOverviewPane.RefreshFromScan", [this] {
    const bool running = FJob->Running();
    const std::int64_t total = FJob->TotalBytes();
    if (total > 0) FProgress->setValue(static_cast<int>(FJob->BytesRead() * kProgressSteps / total));
    double declared = 0;
    std::size_t count = 0;
    TVbvCurve curve;
    {
      std::lock_guard guard(FJob->Lock());
      const TOverviewData& data = FJob->Data();
      count = data.Pictures.size();
      if (count == FShownPictures && (running || FFinishedShown)) return;
      // A variable-rate stream declares no rate: no line for it.
      if (!data.Sequences.empty()) declared = static_cast<double>(data.Sequences.front().DeclaredBitRate());
      FStatistics = ComputeStatistics(data);
      // The buffer needs the whole stream: a picture's decoding time depends on bits after it.
      if (!running && !FFinishedShown) curve = ComputeVbvCurve(data);
    }
    FShownPictures = count;
    FGraph->DataGrew(declared, !running);
    ShowStatistics();
    emit Filled(static_cast<qint64>(count));
    if (!running && !FFinishedShown) {
      FFinishedShown = true;
      FBuffer->SetCurve(std::move(curve));
      FTimer->stop();
      FProgress->hide();
      FCancel->hide();
      FStatus->setText(tr("%1 pictures, %2 groups, %3 s%4")
                           .arg(FStatistics.Pictures)
                           .arg(FStatistics.Groups)
                           .arg(FStatistics.Duration, 0, 'f', 2)
                           .arg(FStatistics.ScanState == "complete" ? QString()
                                                                    : QStringLiteral(" (%1)").arg(QString::fromStdString(FStatistics.ScanState))));
      emit ScanFinished();
    }
  });
  // Each refresh goes over all pictures: with millions of them, refresh less often so that the
  // window stays responsive while the scan runs.
  FTimer->setInterval(std::max<int>(kRefreshMs, static_cast<int>(took.elapsed()) * 10));
}

void TOverviewPane::ShowStatistics() {
  const auto rows = StatisticsRows(FStatistics);
  FTable->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const auto& [label, value] = rows[static_cast<std::size_t>(r)];
    for (int c = 0; c < 2; ++c) {
      const QString text = QString::fromStdString(c == 0 ? label : value);
      QTableWidgetItem* item = FTable->item(r, c);
      if (!item) FTable->setItem(r, c, new QTableWidgetItem(text));
      else if (item->text() != text) item->setText(text);
    }
  }
  FTable->resizeColumnToContents(0);
}

void TOverviewPane::SyncScrollBar() {
  const int inView = static_cast<int>(FGraph->PicturesInView());
  const int count = static_cast<int>(FGraph->PictureCount());
  const QSignalBlocker block(FScroll);
  FScroll->setRange(0, std::max(0, count - inView));
  FScroll->setPageStep(std::max(1, inView));
  FScroll->setSingleStep(std::max(1, inView / 20));
  FScroll->setValue(static_cast<int>(FGraph->FirstPicture()));
}

void TOverviewPane::MarkOffset(qint64 offset) {
  FGraph->MarkOffset(offset);
  FBuffer->MarkPicture(FGraph->MarkedPicture());
}

void TOverviewPane::ShowExportMenu(const QPoint& globalPos) { FExport->menu()->popup(globalPos); }

bool TOverviewPane::ExportPng(const QString& path) const {
  bool saved = false;
  Trap("TOverviewPane.ExportPng", [&] {
    const QByteArray bytes = FGraph->ToPng();
    saved = !bytes.isEmpty() && SaveBytes(path, bytes);
  });
  return saved;
}

bool TOverviewPane::ExportSvg(const QString& path) const {
  bool saved = false;
  Trap("TOverviewPane.ExportSvg", [&] {
    const QByteArray bytes = FGraph->ToSvg();
    saved = !bytes.isEmpty() && SaveBytes(path, bytes);
  });
  return saved;
}

bool TOverviewPane::ExportJson(const QString& path) const {
  bool saved = false;
  Trap("TOverviewPane.ExportJson", [&] {
    std::string json;
    {
      std::lock_guard guard(FJob->Lock());
      json = StatisticsToJson(FStatistics, FJob->Data().Report);
    }
    saved = SaveBytes(path, QByteArray::fromStdString(json));
  });
  return saved;
}

}  // namespace varlow
