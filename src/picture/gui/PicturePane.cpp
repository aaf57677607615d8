#include "picture/gui/PicturePane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QVBoxLayout>

#include "picture/PictureDecoder.h"
#include "picture/gui/OverlayPainter.h"
#include "picture/gui/PictureView.h"
#include "support/Trap.h"

namespace varlow {

struct TPicturePane::TResult {
  std::int64_t Offset = -1;
  TDecodedPicturePtr Picture;
  QImage Image;  // the frame, converted on the worker
  QString Message;
};

TPicturePane::TPicturePane(QWidget* parent) : QDockWidget(tr("Picture"), parent) {
  setObjectName(QStringLiteral("PicturePane"));
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);

  auto* controls = new QHBoxLayout;
  FZoomBox = new QComboBox(body);
  FZoomBox->setObjectName(QStringLiteral("cbPictureZoom"));
  FZoomBox->addItems({tr("Fit"), tr("1:1"), tr("2:1"), tr("4:1")});
  FFieldBox = new QComboBox(body);
  FFieldBox->setObjectName(QStringLiteral("cbPictureField"));
  FFieldBox->addItems({tr("Frame"), tr("Top field"), tr("Bottom field")});
  controls->addWidget(FZoomBox);
  controls->addWidget(FFieldBox);
  auto layer = [&](const QString& text, const char* name) {
    auto* box = new QCheckBox(text, body);
    box->setObjectName(QString::fromLatin1(name));
    controls->addWidget(box);
    connect(box, &QCheckBox::toggled, this, &TPicturePane::LayersChanged);
    return box;
  };
  FTypes = layer(tr("Types"), "cbPictureTypes");
  FQuant = layer(tr("Quant"), "cbPictureQuant");
  FVectors = layer(tr("Vectors"), "cbPictureVectors");
  FSlices = layer(tr("Slices"), "cbPictureSlices");
  controls->addStretch(1);
  layout->addLayout(controls);

  FView = new TPictureView;
  FScroll = new QScrollArea(body);
  FScroll->setWidget(FView);
  FScroll->setWidgetResizable(true);
  FScroll->setAlignment(Qt::AlignCenter);
  layout->addWidget(FScroll, 1);
  FLegend = new QLabel(body);
  layout->addWidget(FLegend);
  FStatus = new QLabel(body);
  FStatus->setObjectName(QStringLiteral("lbPictureStatus"));
  FStatus->setWordWrap(true);
  layout->addWidget(FStatus);
  setWidget(body);

  connect(FZoomBox, &QComboBox::currentIndexChanged, this, &TPicturePane::ZoomChanged);
  connect(FFieldBox, &QComboBox::currentIndexChanged, this, [this] { RefreshImage(); });
  connect(FView, &TPictureView::MacroblockClicked, this, &TPicturePane::MacroblockClicked);
  LayersChanged();
  FWorker = std::thread([this] { WorkerLoop(); });
}

TPicturePane::~TPicturePane() {
  {
    std::lock_guard lock(FLock);
    FQuit = true;
    FCancel = true;
  }
  FWake.notify_all();
  FWorker.join();
}

QString TPicturePane::Status() const { return FStatus->text(); }

void TPicturePane::SetFile(const QString& path, std::int32_t stream) {
  FPath = path;
  FStreamIndex = stream;
  ShowPicture(-1);
}

void TPicturePane::Reload() {
  ++FGeneration;
  if (!isHidden()) ShowPicture(FRequestedOffset);
}

void TPicturePane::ShowPicture(std::int64_t offset) {
  FRequestedOffset = offset;
  {
    std::lock_guard lock(FLock);
    FPending = TRequest{FPath, FStreamIndex, offset, FGeneration};
    FCancel = true;  // whatever runs is for a selection that has moved on
  }
  FWake.notify_all();
  if (offset < 0 || FPath.isEmpty()) {
    FShownOffset = -1;
    FPicture.reset();
    FMap = std::make_shared<const TMacroblockMap>();
    FView->SetPicture({}, nullptr, TFieldView::Frame);
    FStatus->clear();
    return;
  }
  FStatus->setText(tr("Decoding..."));
}

void TPicturePane::WorkerLoop() {
  std::unique_ptr<TPictureLoader> loader;
  std::int32_t loaderStream = -1;
  std::uint64_t loaderGeneration = 0;
  for (;;) {
    TRequest request;
    {
      std::unique_lock lock(FLock);
      FWake.wait(lock, [this] { return FQuit || FPending.has_value(); });
      if (FQuit) return;
      request = *FPending;
      FPending.reset();
      FCancel = false;
    }
    if (request.Offset < 0 || request.Path.isEmpty()) continue;
    auto result = std::make_shared<TResult>();
    result->Offset = request.Offset;
    Trap("TPicturePane.WorkerLoop", [&] {
      const std::string path = request.Path.toStdString();
      if (!loader || loader->Path() != path || loaderStream != request.Stream ||
          loaderGeneration != request.Generation) {
        loader = std::make_unique<TPictureLoader>(path, request.Stream);
        loaderStream = request.Stream;
        loaderGeneration = request.Generation;
      }
      const TPictureResult decoded = loader->LoadPicture(request.Offset, &FCancel);
      if (decoded.Status == TPictureResult::TStatus::Cancelled) {
        result.reset();
        return;
      }
      if (decoded.Status != TPictureResult::TStatus::Ok) {
        result->Message = QString::fromStdString(decoded.Message);
        return;
      }
      result->Picture = decoded.Picture;
      result->Image = PictureToImage(*result->Picture);
      if (result->Picture->Damaged) result->Message = tr("The decoder concealed damage in this picture.");
    });
    if (!result) continue;
    // The picture goes on screen first; the analyser's findings follow it.
    QMetaObject::invokeMethod(this, [this, result] { Deliver(result); }, Qt::QueuedConnection);
    if (!loader || !result->Picture || FCancel) continue;
    TPictureLoader::TMapPtr map;
    Trap("TPicturePane.WorkerLoop", [&] { map = loader->Map(request.Offset); });
    if (map) {
      QMetaObject::invokeMethod(this, [this, offset = request.Offset, map] { DeliverMap(offset, map); },
                                Qt::QueuedConnection);
    }
    // Stepping on through the group is then served from the caches.
    if (!FCancel) loader->Prefetch(&FCancel);
  }
}

void TPicturePane::Deliver(std::shared_ptr<TResult> result) {
  {
    std::lock_guard lock(FLock);
    if (FPending.has_value()) return;  // a newer selection is on its way
  }
  FShownOffset = result->Offset;
  FPicture = result->Picture;
  FMap = std::make_shared<const TMacroblockMap>();
  FView->SetHighlight({});
  if (FPicture) {
    const TFieldView view = static_cast<TFieldView>(FFieldBox->currentIndex());
    FView->SetPicture(view == TFieldView::Frame ? result->Image : PictureToImage(*FPicture, view), FMap.get(), view);
    FStatus->setText(result->Message.isEmpty()
                         ? tr("%1x%2 %3 picture at $%4")
                               .arg(FPicture->Width)
                               .arg(FPicture->Height)
                               .arg(QChar(FPicture->PictureType))
                               .arg(QString::number(result->Offset, 16).rightJustified(8, QChar('0')).toUpper())
                         : result->Message);
  } else {
    FView->SetPicture({}, nullptr, TFieldView::Frame);
    FStatus->setText(result->Message);
  }
  emit PictureShown(result->Offset);
}

void TPicturePane::DeliverMap(std::int64_t offset, TPictureLoader::TMapPtr map) {
  if (offset != FShownOffset || !FPicture) return;
  FMap = std::move(map);
  RefreshImage();
  emit MapShown(offset);
}

void TPicturePane::RefreshImage() {
  if (!FPicture) return;
  const TFieldView view = static_cast<TFieldView>(FFieldBox->currentIndex());
  FView->SetPicture(PictureToImage(*FPicture, view), FMap.get(), view);
}

TOverlayLayers TPicturePane::Layers() const {
  TOverlayLayers layers;
  layers.Types = FTypes->isChecked();
  layers.Quant = FQuant->isChecked();
  layers.Vectors = FVectors->isChecked();
  layers.Slices = FSlices->isChecked();
  return layers;
}

void TPicturePane::SetLayers(const TOverlayLayers& layers) {
  FTypes->setChecked(layers.Types);
  FQuant->setChecked(layers.Quant);
  FVectors->setChecked(layers.Vectors);
  FSlices->setChecked(layers.Slices);
}

TFieldView TPicturePane::FieldView() const { return static_cast<TFieldView>(FFieldBox->currentIndex()); }

void TPicturePane::SetFieldView(TFieldView view) { FFieldBox->setCurrentIndex(static_cast<int>(view)); }

void TPicturePane::LayersChanged() {
  const TOverlayLayers layers = Layers();
  FView->SetLayers(layers);
  FLegend->setPixmap(QPixmap::fromImage(PaintLegend(layers, 600)));
}

void TPicturePane::ZoomChanged(int index) {
  static constexpr double kZooms[] = {0, 1, 2, 4};
  const double zoom = kZooms[std::clamp(index, 0, 3)];
  FScroll->setWidgetResizable(zoom <= 0);
  FView->SetZoom(zoom);
}

void TPicturePane::HighlightMacroblock(int sliceIndex, int numberInSlice) {
  TOverlayHighlight highlight;
  if (sliceIndex >= 0) {
    highlight.SliceIndex = sliceIndex;
    if (numberInSlice >= 0) {
      for (const TMacroblockInfo& mb : FMap->Macroblocks) {
        if (mb.SliceIndex == sliceIndex && mb.NumberInSlice == numberInSlice) highlight.Address = mb.Address;
      }
    }
  }
  FView->SetHighlight(highlight);
}

} // namespace varlow
