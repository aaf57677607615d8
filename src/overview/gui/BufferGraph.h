#pragma once
#include <QWidget>
#include <cstdint>
#include <mutex>

#include "buffer/VbvCurve.h"
#include "overview/OverviewRecords.h"

namespace varlow {

// The buffer graph: the video buffering verifier's occupancy at every picture's decoding time
// (a rise as bits arrive, a drop as the picture leaves), the buffer size as a dashed line, and a
// red mark on every picture that underflows or overflows the buffer. Pictures run across in
// stream order: the whole stream at first; the wheel zooms round the mouse, Shift+wheel
// scrolls, Home shows all again. A click emits the picture's file offset.
class TBufferGraph final : public QWidget {
  Q_OBJECT
 public:
  explicit TBufferGraph(QWidget* parent = nullptr);

  // The records the offsets of clicked pictures are read from, under `lock`.
  void SetData(const TOverviewData* data, std::mutex* lock);
  // The model's result to draw (an empty curve: nothing).
  void SetCurve(TVbvCurve curve);
  const TVbvCurve& Curve() const { return FCurve; }
  void MarkPicture(std::int64_t picture);

  QRect PlotRect() const;
  // The picture under x in the plot, or -1; x of the middle of picture i's place.
  std::int64_t PictureAt(int x) const;
  double XOf(std::size_t i) const;
  // The pictures in view: [First, First + Span).
  double First() const { return FFirst; }
  double Span() const { return FSpan; }
  void SetView(double first, double span);

 signals:
  void PictureClicked(qint64 offset);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString ToolTipFor(std::size_t i) const;

  const TOverviewData* FData = nullptr;
  std::mutex* FLock = nullptr;
  TVbvCurve FCurve;
  double FFirst = 0;
  double FSpan = 0;
  std::int64_t FMarked = -1;
};

}  // namespace varlow
