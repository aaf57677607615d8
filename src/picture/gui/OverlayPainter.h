#pragma once
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <vector>

#include "picture/MacroblockMap.h"
#include "picture/gui/PictureImage.h"

namespace varlow {

// The layers drawn over a picture.
struct TOverlayLayers {
  bool Types = false;    // fill by prediction: intra, forward, backward, both, skipped, no motion
  bool Quant = false;    // quantiser_scale_code, as a shade and a number
  bool Vectors = false;  // motion vectors as arrows
  bool Slices = false;   // slice boundaries
  bool Any() const { return Types || Quant || Vectors || Slices; }
};

// Parses "types,quant,mv,slices" (any subset, any order); false on an unknown name.
bool ParseOverlayLayers(const QString& text, TOverlayLayers& layers);
// The layers that are on, in the form ParseOverlayLayers reads ("" when none is).
QString OverlayLayersText(const TOverlayLayers& layers);

QColor KindColour(TMacroblockKind kind);
QString KindName(TMacroblockKind kind);

// What the painter highlights: one slice's macroblocks, or one macroblock.
struct TOverlayHighlight {
  std::int32_t SliceIndex = -1;
  std::int32_t Address = -1;
};

// Draws the layers for `map` onto a painter whose coordinates are the frame's pixels (a field
// view scales them). Macroblocks the analyser never reached, and damaged slices, are always
// marked, since what shows there is the decoder's concealment.
void PaintOverlay(QPainter& painter, const TMacroblockMap& map, const TOverlayLayers& layers,
                  const TOverlayHighlight& highlight = {});

// The rectangle of a macroblock in frame pixels (two frame lines per field line in a field picture).
QRectF MacroblockRect(const TMacroblockMap& map, const TMacroblockInfo& mb);

// Legend of the layers shown, as rows of colour boxes and names, `width` pixels wide.
QImage PaintLegend(const TOverlayLayers& layers, int width);

// The picture as it is saved: the view of the frame, the layers drawn over it and, when any
// layer is on, the legend below it.
QImage ComposePicture(const TDecodedPicture& picture, const TMacroblockMap* map, const TOverlayLayers& layers,
                      TFieldView view = TFieldView::Frame, const TOverlayHighlight& highlight = {});

} // namespace varlow
