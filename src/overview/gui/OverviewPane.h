#pragma once
#include <QWidget>
#include <cstdint>
#include <memory>

#include "overview/OverviewStatistics.h"

class QLabel;
class QProgressBar;
class QScrollBar;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolButton;

namespace varlow {

class TBufferGraph;
class TOverviewGraph;
class TOverviewScanJob;

// The stream overview: the picture-size graph, the buffer graph (once the scan has ended) and the
// statistics of the whole file, filled in
// while a scan runs on a worker thread (a progress bar and a Cancel button in the pane). A new
// scan, Clear or the pane's end stops the running one. Export: the graph as PNG or SVG and the
// statistics as JSON, from the Export button or the graph's context menu.
class TOverviewPane final : public QWidget {
  Q_OBJECT
 public:
  explicit TOverviewPane(QWidget* parent = nullptr);
  ~TOverviewPane() override;

  // Scans `path` from its start (blockSize 0: the scanner's own; streamIndex: the container's
  // video stream, -1 the first); false when it cannot be read.
  bool StartScan(const QString& path, std::size_t blockSize = 0, std::int32_t streamIndex = -1);
  void CancelScan();
  // The file's bytes changed (a save in Hex Edit): scans the file on show again, now or, for a
  // hidden pane, when it is next shown.
  void Rescan();
  // Drops the records: no file.
  void Clear();
  bool Scanning() const;
  // A scan runs, or its last records are not shown yet.
  bool Busy() const { return Scanning() || !FFinishedShown; }
  const QString& FileName() const { return FFileName; }

  TOverviewGraph* Graph() const { return FGraph; }
  TBufferGraph* Buffer() const { return FBuffer; }
  QTabWidget* Tabs() const { return FTabs; }
  QTableWidget* StatisticsTable() const { return FTable; }
  QProgressBar* Progress() const { return FProgress; }
  TOverviewScanJob& Job() const { return *FJob; }
  // The statistics as last computed.
  const TOverviewStatistics& Statistics() const { return FStatistics; }

  // Export; each writes a temporary file and renames it, false when it could not.
  bool ExportPng(const QString& path) const;
  bool ExportSvg(const QString& path) const;
  bool ExportJson(const QString& path) const;

 public slots:
  // Marks the picture that holds `offset` (the list's selected pack).
  void MarkOffset(qint64 offset);
  // Takes over what the scan has found since the last call; the pane's timer calls it.
  void RefreshFromScan();

 signals:
  // A click on the graph: the file offset of that picture's start code.
  void PictureClicked(qint64 offset);
  // The records grew (count of pictures so far) and, at the end, the scan finished.
  void Filled(qint64 pictures);
  void ScanFinished();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowStatistics();
  void ShowExportMenu(const QPoint& globalPos);
  void SyncScrollBar();

  std::unique_ptr<TOverviewScanJob> FJob;
  QString FFileName;
  std::size_t FBlockSize = 0;  // of the last scan started, for Rescan
  std::int32_t FStreamIndex = -1;
  bool FStale = false;  // the records are of bytes the file no longer holds
  TOverviewStatistics FStatistics;
  std::size_t FShownPictures = 0;
  bool FFinishedShown = true;
  TOverviewGraph* FGraph = nullptr;
  TBufferGraph* FBuffer = nullptr;
  QScrollBar* FScroll = nullptr;
  QTabWidget* FTabs = nullptr;
  QTableWidget* FTable = nullptr;
  QProgressBar* FProgress = nullptr;
  QLabel* FStatus = nullptr;
  QToolButton* FCancel = nullptr;
  QToolButton* FExport = nullptr;
  QTimer* FTimer = nullptr;
};

} // namespace varlow
