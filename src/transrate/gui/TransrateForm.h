#pragma once
#include <QDialog>
#include <QtGlobal>
#include <cstdint>

#include "transrate/TransrateFile.h"
#include "transrate/TransrateMethod.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace varlow {
class TSpinEdit64;
}

namespace varlow {

// The small modal dialog that asks what to aim the output at — a maximum bit rate (100,000 to
// 50,000,000 bit/s, 5,000,000 to begin with), a size in bytes, or a share of the input's size —
// and how pictures are brought under it.
class TTransrateFrm final : public QDialog {
  Q_OBJECT
 public:
  static constexpr qint64 kMinBitrate = kMinTransrateBitrate;
  static constexpr qint64 kMaxBitrate = kMaxTransrateBitrate;
  static constexpr qint64 kDefaultBitrate = 5'000'000;
  static constexpr double kDefaultPercent = 60;

  enum class TTarget { Bitrate, Size, Ratio };

  explicit TTransrateFrm(QWidget* parent = nullptr);

  TTransrateMethod Method() const;
  void SetMethod(TTransrateMethod Method);
  TTarget Target() const;
  void SetTarget(TTarget Target);
  // The size typed, in bytes; 0 when the text is no size.
  std::int64_t SizeBytes() const;
  // The rate as last typed, before the box brought it into its range; 0 when nothing was typed
  // or it was no number.
  qint64 TypedBitrate() const { return FTypedBitrate; }

  QRadioButton* rbBitrate = nullptr;
  QLabel* Label1 = nullptr;
  TSpinEdit64* SpinEdit641 = nullptr;
  QLabel* Label2 = nullptr;
  QRadioButton* rbSize = nullptr;
  QLineEdit* edSize = nullptr;
  QLabel* lbSizeUnits = nullptr;
  QRadioButton* rbRatio = nullptr;
  QDoubleSpinBox* seRatio = nullptr;
  QLabel* Label3 = nullptr;
  QComboBox* cbMethod = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;

 public slots:
  // OK: a size that reads as none keeps the dialog open with the reason.
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void NoteTypedBitrate();

  qint64 FTypedBitrate = 0;
  bool FRateTyped = false;  // typed into since the text was last read
};

// Shows the dialog; true with Options' Bitrate, SizeBytes, Ratio and Method set when it closes
// with OK (a rate typed outside the range is brought to its nearest end, and the user is told),
// false (and Options untouched) otherwise.
bool GetTransrateTarget(TTransrateOptions& Options, QWidget* parent = nullptr);

// The same, for the rate alone: Bitrate and Method.
bool GetOutputMaxBitrate(std::int32_t& Bitrate, TTransrateMethod& Method, QWidget* parent = nullptr);

}  // namespace varlow
