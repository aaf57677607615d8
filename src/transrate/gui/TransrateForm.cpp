#include "transrate/gui/TransrateForm.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "support/Trap.h"
#include "support/gui/MessageBox.h"
#include "support/gui/SpinEdit64.h"
#include "transrate/SizeTarget.h"

namespace varlow {

namespace {

// Selects `choice` whenever its field takes the focus, so typing into a field chooses it.
class TChooseOnFocus final : public QObject {
 public:
  TChooseOnFocus(QWidget* field, QRadioButton* choice) : QObject(field), FChoice(choice) {
    field->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::FocusIn) FChoice->setChecked(true);
    return false;
  }

 private:
  QRadioButton* FChoice;
};

}  // namespace

TTransrateFrm::TTransrateFrm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TransrateFrm"));
  setWindowTitle(QStringLiteral("Transrate"));
  setModal(true);

  rbBitrate = new QRadioButton(this);
  rbBitrate->setObjectName(QStringLiteral("rbBitrate"));
  rbBitrate->setChecked(true);
  Label1 = new QLabel(QStringLiteral("Output Max Bitrate"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  SpinEdit641 = new TSpinEdit64(this);
  SpinEdit641->setObjectName(QStringLiteral("SpinEdit641"));
  SpinEdit641->SetMinValue(kMinBitrate);
  SpinEdit641->SetMaxValue(kMaxBitrate);
  SpinEdit641->SetIncrement(1);
  SpinEdit641->SetValue(kDefaultBitrate);
  SpinEdit641->setMinimumWidth(121);
  Label1->setBuddy(SpinEdit641);
  Label2 = new QLabel(QStringLiteral("bits/sec"), this);
  Label2->setObjectName(QStringLiteral("Label2"));

  rbSize = new QRadioButton(this);
  rbSize->setObjectName(QStringLiteral("rbSize"));
  auto* sizeLabel = new QLabel(QStringLiteral("Output Size"), this);
  edSize = new QLineEdit(this);
  edSize->setObjectName(QStringLiteral("edSize"));
  edSize->setPlaceholderText(QStringLiteral("4.3G"));
  sizeLabel->setBuddy(edSize);
  lbSizeUnits = new QLabel(QStringLiteral("bytes (k, M, G, KiB, MiB, GiB)"), this);

  rbRatio = new QRadioButton(this);
  rbRatio->setObjectName(QStringLiteral("rbRatio"));
  auto* ratioLabel = new QLabel(QStringLiteral("Output Share"), this);
  seRatio = new QDoubleSpinBox(this);
  seRatio->setObjectName(QStringLiteral("seRatio"));
  seRatio->setRange(1, 100);
  seRatio->setDecimals(1);
  seRatio->setValue(kDefaultPercent);
  ratioLabel->setBuddy(seRatio);
  auto* ratioUnits = new QLabel(QStringLiteral("% of the input's size"), this);

  new TChooseOnFocus(SpinEdit641, rbBitrate);
  SpinEdit641->installEventFilter(this);
  connect(SpinEdit641, &QLineEdit::textEdited, this, [this] { FRateTyped = true; });
  new TChooseOnFocus(edSize, rbSize);
  new TChooseOnFocus(seRatio, rbRatio);
  connect(edSize, &QLineEdit::textEdited, rbSize, [this] { rbSize->setChecked(true); });
  connect(seRatio, &QDoubleSpinBox::valueChanged, rbRatio, [this] { rbRatio->setChecked(true); });

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
  fields->addWidget(rbBitrate, 0, 0);
  fields->addWidget(Label1, 0, 1);
  fields->addWidget(SpinEdit641, 0, 2);
  fields->addWidget(Label2, 0, 3);
  fields->addWidget(rbSize, 1, 0);
  fields->addWidget(sizeLabel, 1, 1);
  fields->addWidget(edSize, 1, 2);
  fields->addWidget(lbSizeUnits, 1, 3);
  fields->addWidget(rbRatio, 2, 0);
  fields->addWidget(ratioLabel, 2, 1);
  fields->addWidget(seRatio, 2, 2);
  fields->addWidget(ratioUnits, 2, 3);
  fields->addWidget(Label3, 3, 1);
  fields->addWidget(cbMethod, 3, 2, 1, 2);
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

TTransrateFrm::TTarget TTransrateFrm::Target() const {
  if (rbSize->isChecked()) return TTarget::Size;
  if (rbRatio->isChecked()) return TTarget::Ratio;
  return TTarget::Bitrate;
}

void TTransrateFrm::SetTarget(TTarget Target) {
  (Target == TTarget::Size ? rbSize : Target == TTarget::Ratio ? rbRatio : rbBitrate)->setChecked(true);
}

std::int64_t TTransrateFrm::SizeBytes() const {
  return ParseSize(edSize->text().trimmed().toStdString()).value_or(0);
}

// The box writes its value back in range when it loses the focus: the typed text is read first.
bool TTransrateFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == SpinEdit641 && event->type() == QEvent::FocusOut) NoteTypedBitrate();
  return QDialog::eventFilter(watched, event);
}

void TTransrateFrm::NoteTypedBitrate() {
  if (!FRateTyped) return;
  FRateTyped = false;
  bool isNumber = false;
  const qlonglong typed = SpinEdit641->text().trimmed().toLongLong(&isNumber);
  FTypedBitrate = isNumber ? typed : 0;
}

void TTransrateFrm::accept() {
  NoteTypedBitrate();  // typed but never left: the text is still as typed
  if (Target() == TTarget::Size && SizeBytes() <= 0) {
    ShowMessage(this, QStringLiteral("\"%1\" is not a size: give bytes, or a number with k, M, G, KiB, MiB or GiB.")
                          .arg(edSize->text()));
    edSize->setFocus();
    return;
  }
  QDialog::accept();
}

bool GetTransrateTarget(TTransrateOptions& Options, QWidget* parent) {
  bool result = false;
  Trap("GetTransrateTarget", [&] {
    const auto form = std::make_unique<TTransrateFrm>(parent);
    if (form->exec() != QDialog::Accepted) return;
    TTransrateOptions chosen = Options;
    chosen.Method = form->Method();
    chosen.SizeBytes = 0;
    chosen.Ratio = 0;
    const qint64 value = std::clamp(form->SpinEdit641->Value(), TTransrateFrm::kMinBitrate, TTransrateFrm::kMaxBitrate);
    chosen.Bitrate = static_cast<std::int32_t>(value);
    switch (form->Target()) {
      case TTransrateFrm::TTarget::Size: chosen.SizeBytes = form->SizeBytes(); break;
      case TTransrateFrm::TTarget::Ratio: chosen.Ratio = form->seRatio->value() / 100; break;
      case TTransrateFrm::TTarget::Bitrate: {
        // The box reads a number below its range as its minimum: say so rather than run at a
        // rate nobody typed.
        const qint64 typed = form->TypedBitrate();
        const QLocale locale;
        if (typed > 0 && typed != value)
          ShowMessage(parent, QStringLiteral("The rate %1 bit/s lies outside %2 to %3 bit/s: it was %4 to %5 bit/s.")
                                  .arg(locale.toString(typed), locale.toString(TTransrateFrm::kMinBitrate),
                                       locale.toString(TTransrateFrm::kMaxBitrate),
                                       typed < value ? QStringLiteral("raised") : QStringLiteral("lowered"),
                                       locale.toString(value)));
        break;
      }
    }
    Options = chosen;
    result = true;
  });
  return result;
}

bool GetOutputMaxBitrate(std::int32_t& Bitrate, TTransrateMethod& Method, QWidget* parent) {
  TTransrateOptions options;
  if (!GetTransrateTarget(options, parent)) return false;
  Bitrate = options.Bitrate;
  Method = options.Method;
  return true;
}

}  // namespace varlow
