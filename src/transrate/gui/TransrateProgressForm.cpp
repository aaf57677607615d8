#include "transrate/gui/TransrateProgressForm.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "transrate/gui/TransrateWorker.h"

namespace varlow {

namespace {

constexpr int kBarSteps = 1000;

}  // namespace

TTransrateProgressFrm::TTransrateProgressFrm(const QString& InputPath, const QString& OutputPath,
                                             const TTransrateOptions& Options, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TransrateProgressFrm"));
  setWindowTitle(QStringLiteral("Transrate"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* target = new QLabel(QStringLiteral("%1 \u2192 %2").arg(QFileInfo(InputPath).fileName(),
                                                                QFileInfo(OutputPath).fileName()), this);
  layout->addWidget(target);
  pbRead = new QProgressBar(this);
  pbRead->setObjectName(QStringLiteral("pbRead"));
  pbRead->setRange(0, kBarSteps);
  pbRead->setValue(0);
  layout->addWidget(pbRead);
  lbRead = new QLabel(this);
  lbRead->setObjectName(QStringLiteral("lbRead"));
  lbPictures = new QLabel(QStringLiteral("Pictures written: 0"), this);
  lbPictures->setObjectName(QStringLiteral("lbPictures"));
  lbRate = new QLabel(QStringLiteral("Output rate so far: -"), this);
  lbRate->setObjectName(QStringLiteral("lbRate"));
  layout->addWidget(lbRead);
  layout->addWidget(lbPictures);
  layout->addWidget(lbRate);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  bbtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  bbtnCancel->setObjectName(QStringLiteral("bbtnCancel"));
  buttons->addWidget(bbtnCancel);
  layout->addLayout(buttons);
  setMinimumWidth(380);

  FWorker = new TTransrateWorker(InputPath, OutputPath, Options, this);
  connect(FWorker, &TTransrateWorker::Progressed, this, &TTransrateProgressFrm::ShowProgress);
  connect(FWorker, &TTransrateWorker::Finished, this, &TTransrateProgressFrm::RunFinished);
  connect(bbtnCancel, &QPushButton::clicked, this, &TTransrateProgressFrm::reject);
  ShowProgress({});
}

TTransrateProgressFrm::~TTransrateProgressFrm() = default;  // the worker, a child, cancels and joins

void TTransrateProgressFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!FFinished) FWorker->Start();
}

void TTransrateProgressFrm::ShowProgress(const TTransrateProgress& Progress) {
  const QLocale locale;
  pbRead->setValue(static_cast<int>(std::lround(Progress.Share() * kBarSteps)));
  lbRead->setText(QStringLiteral("Read: %1 of %2")
                      .arg(locale.formattedDataSize(Progress.InputRead), locale.formattedDataSize(Progress.InputSize)));
  lbPictures->setText(QStringLiteral("Pictures written: %1").arg(locale.toString(Progress.PicturesOut)));
  lbRate->setText(Progress.OutputBitrate > 0 ? QStringLiteral("Output rate so far: %1 bit/s")
                                                   .arg(locale.toString(std::llround(Progress.OutputBitrate)))
                                             : QStringLiteral("Output rate so far: -"));
  emit ProgressShown(Progress);
}

void TTransrateProgressFrm::RunFinished(const TTransrateResult& Result) {
  FResult = Result;
  FFinished = true;
  done(Result.Succeeded() ? QDialog::Accepted : QDialog::Rejected);
}

void TTransrateProgressFrm::reject() {
  if (FFinished) {
    QDialog::reject();
    return;
  }
  FWorker->Cancel();
  bbtnCancel->setEnabled(false);
  bbtnCancel->setText(QStringLiteral("Cancelling..."));
}

void TTransrateProgressFrm::closeEvent(QCloseEvent* event) {
  if (FFinished) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();  // the window goes when the run has removed its temporary file
  reject();
}

}  // namespace varlow
