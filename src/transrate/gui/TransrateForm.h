#pragma once
#include <QDialog>
#include <QtGlobal>
#include <cstdint>

#include "transrate/TransrateFile.h"
#include "transrate/TransrateMethod.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace varlow {
class TSpinEdit64;
}

namespace varlow {

// The small modal dialog that asks for the maximum output bit rate (100,000 to 50,000,000
// bit/s, 5,000,000 to begin with) and how pictures are brought under it.
class TTransrateFrm final : public QDialog {
  Q_OBJECT
 public:
  static constexpr qint64 kMinBitrate = kMinTransrateBitrate;
  static constexpr qint64 kMaxBitrate = kMaxTransrateBitrate;
  static constexpr qint64 kDefaultBitrate = 5'000'000;

  explicit TTransrateFrm(QWidget* parent = nullptr);

  TTransrateMethod Method() const;
  void SetMethod(TTransrateMethod Method);

  QLabel* Label1 = nullptr;
  TSpinEdit64* SpinEdit641 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QComboBox* cbMethod = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
};

// Shows the dialog; true with Bitrate and Method set when it closes with OK, false (and both
// untouched) otherwise.
bool GetOutputMaxBitrate(std::int32_t& Bitrate, TTransrateMethod& Method, QWidget* parent = nullptr);

}  // namespace varlow
