#include "picture/gui/PictureView.h"

#include <QMouseEvent>
#include <QPainter>

namespace varlow {

TPictureView::TPictureView(QWidget* parent) : QWidget(parent) {
  setMinimumSize(64, 48);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPictureView::SetPicture(const QImage& image, const TMacroblockMap* map, TFieldView view) {
  FImage = image;
  FMap = map;
  FView = view;
  if (FZoom > 0) resize(sizeHint());
  update();
}

void TPictureView::SetLayers(const TOverlayLayers& layers) {
  FLayers = layers;
  update();
}

void TPictureView::SetHighlight(const TOverlayHighlight& highlight) {
  FHighlight = highlight;
  update();
}

void TPictureView::SetZoom(double zoom) {
  FZoom = zoom;
  if (FZoom > 0) resize(sizeHint());
  updateGeometry();
  update();
}

QSize TPictureView::sizeHint() const {
  if (FImage.isNull()) return {320, 240};
  const double zoom = FZoom > 0 ? FZoom : 1.0;
  // A field shows at the frame's height: each field line stands for two frame lines.
  const int frameHeight = FView == TFieldView::Frame ? FImage.height() : FImage.height() * 2;
  return QSize(static_cast<int>(FImage.width() * zoom), static_cast<int>(frameHeight * zoom));
}

QTransform TPictureView::FrameToWidget() const {
  if (FImage.isNull()) return {};
  const double frameWidth = FImage.width();
  const double frameHeight = FView == TFieldView::Frame ? FImage.height() : FImage.height() * 2.0;
  double scale = FZoom;
  if (scale <= 0) scale = std::min(width() / frameWidth, height() / frameHeight);
  const double dx = std::max(0.0, (width() - frameWidth * scale) / 2);
  const double dy = std::max(0.0, (height() - frameHeight * scale) / 2);
  return QTransform(scale, 0, 0, scale, dx, dy);
}

QPointF TPictureView::ToWidget(QPointF framePoint) const { return FrameToWidget().map(framePoint); }

void TPictureView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Dark));
  if (FImage.isNull()) return;
  const QTransform transform = FrameToWidget();
  painter.setTransform(transform);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, transform.m11() < 1.0);
  const double frameHeight = FView == TFieldView::Frame ? FImage.height() : FImage.height() * 2.0;
  painter.drawImage(QRectF(0, 0, FImage.width(), frameHeight), FImage);
  if (FMap != nullptr) PaintOverlay(painter, *FMap, FLayers, FHighlight);
}

void TPictureView::mousePressEvent(QMouseEvent* event) {
  if (FMap == nullptr || FImage.isNull() || event->button() != Qt::LeftButton) return;
  bool invertible = false;
  const QPointF p = FrameToWidget().inverted(&invertible).map(event->position());
  if (!invertible || p.x() < 0 || p.y() < 0) return;
  const int rowHeight = FMap->PictureStructure == 3 ? 16 : 32;
  const TMacroblockInfo* mb = FMap->At(static_cast<int>(p.x()) / 16, static_cast<int>(p.y()) / rowHeight);
  if (mb != nullptr) emit MacroblockClicked(mb->SliceIndex, mb->NumberInSlice, mb->Address);
}

} // namespace varlow
