#pragma once
// The bit-rate field of the transrate dialog. A stand-in with the 64-bit spin edit's interface
// until that control is in the tree; this is the only place that names the field's class.
#include <QSpinBox>
#include <QtGlobal>
#include <algorithm>
#include <limits>

namespace varlow {

class TBitrateSpinEdit final : public QSpinBox {
 public:
  explicit TBitrateSpinEdit(QWidget* parent = nullptr) : QSpinBox(parent) {
    setRange(0, std::numeric_limits<int>::max());
  }
  qint64 Value() const { return value(); }
  void SetValue(qint64 v) { setValue(static_cast<int>(std::clamp<qint64>(v, minimum(), maximum()))); }
  void SetMinValue(qint64 v) { setMinimum(static_cast<int>(v)); }
  void SetMaxValue(qint64 v) { setMaximum(static_cast<int>(v)); }
  void SetIncrement(qint64 v) { setSingleStep(static_cast<int>(v)); }
  qint64 MinValue() const { return minimum(); }
  qint64 MaxValue() const { return maximum(); }
};

}  // namespace varlow
