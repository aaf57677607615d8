#pragma once
#include <QDockWidget>
#include <QImage>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "picture/DecodedPicture.h"
#include "picture/MacroblockMap.h"
#include "picture/PictureLoader.h"
#include "picture/gui/OverlayPainter.h"
#include "picture/gui/PictureImage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QScrollArea;

namespace varlow {

class TForm1;
class TPictureView;

// The picture pane: the selected picture pack decoded, scaled to fit or zoomed, one field or the
// whole frame, with the analyser's findings drawn over it. Decoding runs on a worker thread of
// the pane; a new selection cancels the one before. A click on a macroblock is reported with the
// slice and macroblock numbers of the slice tree's nodes.
class TPicturePane final : public QDockWidget {
  Q_OBJECT
public:
  explicit TPicturePane(QWidget* parent = nullptr);
  ~TPicturePane() override;

  // The file whose packs are shown (`stream`: the container's video stream, -1 the first); an
  // empty path (file closed) clears the pane.
  void SetFile(const QString& path, std::int32_t stream = -1);
  // Shows the picture whose pack starts at `offset`; -1 clears the pane.
  void ShowPicture(std::int64_t offset);
  // The file's bytes changed under the pane (a save in Hex Edit): drops every decoded picture
  // kept for it and decodes the requested one again.
  void Reload();

  std::int64_t ShownOffset() const { return FShownOffset; }
  // Whether the analyser's findings for the picture on screen are in.
  bool MapReady() const { return FMap->MacroblocksPerRow > 0; }
  const TMacroblockMap& Map() const { return *FMap; }
  TPictureView* View() const { return FView; }
  QString Status() const;

  // The layers drawn over the picture and the frame or field shown, as the pane's boxes set
  // them (kept between runs by the main window).
  TOverlayLayers Layers() const;
  void SetLayers(const TOverlayLayers& layers);
  TFieldView FieldView() const;
  void SetFieldView(TFieldView view);

 public slots:
  // Outlines macroblock `numberInSlice` of slice `sliceIndex`, or the whole slice when the
  // number is negative; a negative slice clears the highlight.
  void HighlightMacroblock(int sliceIndex, int numberInSlice);

signals:
  void MacroblockClicked(int sliceIndex, int numberInSlice, int address);
  // A requested picture is on screen (or its message is).
  void PictureShown(qint64 offset);
  // The analyser's findings for the picture on screen are in.
  void MapShown(qint64 offset);

private:
  struct TRequest {
    QString Path;
    std::int32_t Stream = -1;
    std::int64_t Offset = -1;
    std::uint64_t Generation = 0;  // of the file's bytes: a newer one needs a fresh loader
  };
  struct TResult;

  void WorkerLoop();
  void Deliver(std::shared_ptr<TResult> result);
  void DeliverMap(std::int64_t offset, TPictureLoader::TMapPtr map);
  void RefreshImage();
  void LayersChanged();
  void ZoomChanged(int index);

  TPictureView* FView = nullptr;
  QScrollArea* FScroll = nullptr;
  QComboBox* FZoomBox = nullptr;
  QComboBox* FFieldBox = nullptr;
  QCheckBox* FTypes = nullptr;
  QCheckBox* FQuant = nullptr;
  QCheckBox* FVectors = nullptr;
  QCheckBox* FSlices = nullptr;
  QLabel* FStatus = nullptr;
  QLabel* FLegend = nullptr;

  QString FPath;
  std::int32_t FStreamIndex = -1;
  std::int64_t FShownOffset = -1;
  std::int64_t FRequestedOffset = -1;
  std::uint64_t FGeneration = 0;
  TDecodedPicturePtr FPicture;
  TPictureLoader::TMapPtr FMap = std::make_shared<const TMacroblockMap>();

  // Worker: the newest request waits in FPending; FCancel stops the one running.
  std::mutex FLock;
  std::condition_variable FWake;
  std::optional<TRequest> FPending;
  std::atomic<bool> FCancel{false};
  bool FQuit = false;
  std::thread FWorker;
};

// Docks a picture pane in the main window and ties it to the window's selection: the selected
// pack shows, a click on a macroblock selects its slice and MacroBlock node, and a selected
// slice or macroblock node is outlined on the picture.
TPicturePane* AttachPicturePane(TForm1& form);

} // namespace varlow
