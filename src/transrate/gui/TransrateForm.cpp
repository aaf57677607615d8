#include "transrate/gui/TransrateForm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "support/Trap.h"
#include "support/gui/SpinEdit64.h"

namespace varlow {

TTransrateFrm::TTransrateFrm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TransrateFrm"));
  setWindowTitle(QStringLiteral("Transrate"));
  setModal(true);

  Label1 = new QLabel(QStringLiteral("Output Max Bitrate"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  SpinEdit641 = new TSpinEdit64(this);
  SpinEdit641->setObjectName(QStringLiteral("SpinEdit641"));
  SpinEdit641->SetMinValue(kMinBitrate);
  SpinEdit641->SetMaxValue(kMaxBitrate);
  SpinEdit641->SetIncrement(1);
  SpinEdit641->SetValue(kDefaultBitrate);
  SpinEdit641->setMinimumWidth(121);
  Label2 = new QLabel(QStringLiteral("bits/sec"), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label3 = new QLabel(QStringLiteral("Method"), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  cbMethod = new QComboBox(this);
  cbMethod->setObjectName(QStringLiteral("cbMethod"));
  cbMethod->addItem(QStringLiteral("Requantise (better pictures)"), QStringLiteral("requant"));
  cbMethod->addItem(QStringLiteral("Cut coefficients"), QStringLiteral("cut"));
  Label3->setBuddy(cbMethod);

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  auto* fields = new QGridLayout;
  fields->addWidget(Label1, 0, 0);
  fields->addWidget(SpinEdit641, 0, 1);
  fields->addWidget(Label2, 0, 2);
  fields->addWidget(Label3, 1, 0);
  fields->addWidget(cbMethod, 1, 1, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  SpinEdit641->setFocus();
}

TTransrateMethod TTransrateFrm::Method() const {
  return ParseTransrateMethod(cbMethod->currentData().toString().toStdString()).value_or(TTransrateMethod::Requant);
}

void TTransrateFrm::SetMethod(TTransrateMethod Method) {
  cbMethod->setCurrentIndex(Method == TTransrateMethod::Cut ? 1 : 0);
}

bool GetOutputMaxBitrate(std::int32_t& Bitrate, TTransrateMethod& Method, QWidget* parent) {
  bool result = false;
  Trap("GetOutputMaxBitrate", [&] {
    const auto form = std::make_unique<TTransrateFrm>(parent);
    if (form->exec() != QDialog::Accepted) return;
    const qint64 value = std::clamp(form->SpinEdit641->Value(), TTransrateFrm::kMinBitrate, TTransrateFrm::kMaxBitrate);
    Bitrate = static_cast<std::int32_t>(value);
    Method = form->Method();
    result = true;
  });
  return result;
}

}  // namespace varlow
