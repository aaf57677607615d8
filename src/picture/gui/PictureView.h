#pragma once
#include <QImage>
#include <QWidget>

#include "picture/MacroblockMap.h"
#include "picture/gui/OverlayPainter.h"

namespace varlow {

// Paints one picture with its overlay, scaled to fit its widget or at a fixed zoom, and turns a
// click into the macroblock under it.
class TPictureView final : public QWidget {
  Q_OBJECT
public:
  explicit TPictureView(QWidget* parent = nullptr);

  // `image` is the frame or one field of it (half as high); the map and layers are drawn over it.
  void SetPicture(const QImage& image, const TMacroblockMap* map, TFieldView view);
  void SetLayers(const TOverlayLayers& layers);
  void SetHighlight(const TOverlayHighlight& highlight);
  // 0: fit the widget; otherwise picture pixels per frame pixel (1 = 1:1).
  void SetZoom(double zoom);
  double Zoom() const { return FZoom; }
  const TOverlayHighlight& Highlight() const { return FHighlight; }
  // Where frame pixel `framePoint` lands in the widget.
  QPointF ToWidget(QPointF framePoint) const;
  QSize sizeHint() const override;

signals:
  void MacroblockClicked(int sliceIndex, int numberInSlice, int address);

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

private:
  // Frame pixels to widget pixels: scale and offset.
  QTransform FrameToWidget() const;

  QImage FImage;
  const TMacroblockMap* FMap = nullptr;
  TFieldView FView = TFieldView::Frame;
  TOverlayLayers FLayers;
  TOverlayHighlight FHighlight;
  double FZoom = 0;
};

} // namespace varlow
