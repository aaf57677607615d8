#pragma once
#include <QByteArray>
#include <QFont>
#include <QWidget>
#include <cstdint>
#include <mutex>
#include <vector>

#include "overview/OverviewRecords.h"
#include "overview/PictureSummary.h"

namespace varlow {

// Where everything of the graph goes at one size: the window, the PNG and the SVG export all
// paint from one of these.
struct TGraphLayout {
  QRect Plot;              // the bars' area
  double BarWidth = 0;     // pixels per picture at this size
  std::size_t First = 0;   // the first picture in view
  std::size_t Last = 0;    // the last picture with some of its bar in view (First..Last)
  QString SizeText;        // the largest picture's size, the top of the left scale
  QString RateText;        // the highest rate, the top of the right scale
  QRect SizeLabel;         // each label's box, as wide as its text
  QRect RateLabel;
  QRect FirstNumber;       // the first picture's number, under its bar
  QRect LastNumber;        // the last one's, under its bar; empty when it is the first
  QRect Legend;            // the row of the legend, under the numbers
};

// The picture-size graph: one bar per picture in stream order, coloured by coding type, dashed
// lines where groups begin, the bit rate of the last second as a line and the declared bit rate
// as a dashed line against the right-hand scale. Only the pictures in view are visited while the
// bars are a pixel wide or more; zoomed out further, each pixel column shows the largest of its
// pictures and the highest rate among them, taken from a summary per block of pictures, so a
// paint costs the columns, not the pictures.
//
// Wheel: zoom around the mouse; Shift+wheel or a horizontal wheel: scroll. Keys: + and -
// zoom, Left/Right a picture, PageUp/PageDown a screen, Home/End. A click emits the picture's
// file offset.
class TOverviewGraph final : public QWidget {
  Q_OBJECT
 public:
  explicit TOverviewGraph(QWidget* parent = nullptr);

  // The records to draw, read under `lock`; both outlive the graph or are reset with null.
  void SetData(const TOverviewData* data, std::mutex* lock);
  // Called when the records have grown (`final`: the scan has ended): takes the new pictures
  // into the summary, new scales and scroll range. Takes the lock itself.
  void DataGrew(double declaredBitRate, bool final);
  std::size_t PictureCount() const { return FCount; }

  // Zoom: pixels per picture (below 1, several pictures share a column).
  double BarWidth() const { return FBarWidth; }
  void SetBarWidth(double width, double anchorX);
  double MinBarWidth() const;
  // The first picture at the left edge (may be fractional).
  double FirstPicture() const { return FFirst; }
  void SetFirstPicture(double first);
  // Pictures that fit across the plot at the current zoom.
  double PicturesInView() const;

  // The picture under x in the plot, or -1.
  std::int64_t PictureAt(int x) const;
  // x of picture i's left edge.
  double XOf(std::size_t i) const;
  QRect PlotRect() const;

  // Marks the picture that holds `offset` (the list's selection) and scrolls it into view;
  // -1 clears the mark.
  void MarkOffset(std::int64_t offset);
  std::int64_t MarkedPicture() const { return FMarked; }

  // The layout of the graph as shown, drawn at `size` (the same pictures in view).
  TGraphLayout Layout(const QSize& size) const;
  // Draws the graph as shown into `painter` over `size`: on screen, into the PNG export's image
  // and into the SVG export's generator alike.
  void Render(QPainter& painter, const QSize& size) const;
  // The size the exports are drawn at.
  QSize ExportSize() const;
  // The graph as shown, as a PNG image and as an SVG document, both drawn by Render at
  // ExportSize; empty when drawing failed.
  QByteArray ToPng() const;
  QByteArray ToSvg() const;
  // The font the labels are drawn in: the widget's, at a fixed pixel size, so that every
  // device measures and draws them alike.
  QFont GraphFont() const;

 signals:
  void PictureClicked(qint64 offset);
  void ViewChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString ToolTipFor(std::size_t i) const;
  void ClampView();

  const TOverviewData* FData = nullptr;
  std::mutex* FLock = nullptr;
  TPictureSummary FSummary;  // of the records, for the zoomed-out view and the scales
  double FDeclared = 0;
  double FMaxRate = 1;
  std::int64_t FMaxBytes = 1;
  std::size_t FCount = 0;
  double FBarWidth = 4;
  double FFirst = 0;
  bool FFitAll = true;  // zoomed out to the whole stream: stays so while the scan adds pictures
  std::int64_t FMarked = -1;
};

} // namespace varlow
