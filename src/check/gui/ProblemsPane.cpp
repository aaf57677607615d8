#include "check/gui/ProblemsPane.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "container/OpenSource.h"
#include "support/Format.h"
#include "support/Trap.h"

namespace varlow {

namespace {

enum TColumn { kOffset, kBit, kElement, kValue, kRule };

}  // namespace

TProblemsPane::TProblemsPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ProblemsPane"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* top = new QHBoxLayout();
  FStatus = new QLabel(this);
  FStatus->setObjectName(QStringLiteral("lbProblemsStatus"));
  FProgress = new QProgressBar(this);
  FProgress->setObjectName(QStringLiteral("pbProblems"));
  FProgress->setRange(0, 1000);
  FProgress->setTextVisible(false);
  FProgress->hide();
  FCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  FCancel->setObjectName(QStringLiteral("btProblemsCancel"));
  FCancel->hide();
  top->addWidget(FStatus, 1);
  top->addWidget(FProgress, 1);
  top->addWidget(FCancel);
  layout->addLayout(top);
  FList = new QTreeWidget(this);
  FList->setObjectName(QStringLiteral("tvProblems"));
  FList->setRootIsDecorated(false);
  FList->setUniformRowHeights(true);
  FList->setHeaderLabels({QStringLiteral("Offset"), QStringLiteral("Bit"), QStringLiteral("Element"),
                          QStringLiteral("Value"), QStringLiteral("Rule")});
  FList->header()->setStretchLastSection(true);
  layout->addWidget(FList, 1);
  connect(FCancel, &QPushButton::clicked, this, &TProblemsPane::CancelCheck);
  const auto choose = [this](QTreeWidgetItem* item) {
    if (item != nullptr) emit ProblemChosen(item->data(kOffset, Qt::UserRole).toLongLong());
  };
  connect(FList, &QTreeWidget::itemClicked, this, choose);
  connect(FList, &QTreeWidget::itemActivated, this, choose);
  Clear();
}

TProblemsPane::~TProblemsPane() { StopWorker(); }

void TProblemsPane::StopWorker() {
  FStop = true;
  if (FWorker.joinable()) FWorker.join();
  FStop = false;
}

void TProblemsPane::Clear() {
  StopWorker();
  ++FRun;
  FDone = true;
  FList->clear();
  FFound.clear();
  FProgress->hide();
  FCancel->hide();
  FStatus->setText(QStringLiteral("No file"));
}

void TProblemsPane::CancelCheck() {
  if (!Checking()) return;
  FStop = true;  // the worker ends its check early and reports what it found
}

QString TProblemsPane::Status() const { return FStatus->text(); }

void TProblemsPane::StartCheck(const QString& Path, int Stream) {
  StopWorker();
  const int run = ++FRun;
  FDone = false;
  FList->clear();
  FFound.clear();
  FProgress->setValue(0);
  FProgress->show();
  FCancel->show();
  FStatus->setText(QStringLiteral("Checking..."));
  QPointer<TProblemsPane> self(this);
  const std::string path = Path.toStdString();
  FWorker = std::thread([this, self, run, path, Stream] {
    TCheckReport report;
    QString refusal;
    Trap("TProblemsPane.Check", [&] {
      TOpenedSource opened = OpenVideoSource(path, TFileStream::Mode::ReadOnly, Stream);
      if (!opened.Source) {
        refusal = QString::fromStdString(opened.Refusal);
        return;
      }
      int shown = -1;
      TCheckControl control;
      control.Cancel = &FStop;
      control.Progress = [&](std::int64_t done, std::int64_t total) {
        const int permille = total > 0 ? static_cast<int>(done * 1000 / total) : 0;
        if (permille == shown) return;
        shown = permille;
        QMetaObject::invokeMethod(self, [self, run, done, total] {
          if (self && self->FRun == run) self->Progress(done, total);
        }, Qt::QueuedConnection);
      };
      report = CheckStream(*opened.Source, control);
    });
    auto found = std::make_shared<TCheckReport>(std::move(report));
    QMetaObject::invokeMethod(self, [self, run, found, refusal] {
      if (self && self->FRun == run) self->Finished(*found, refusal);
    }, Qt::QueuedConnection);
  });
}

std::vector<TViolation> TProblemsPane::ProblemsAt(std::int64_t Offset) const {
  // In file order: the ones at Offset lie together.
  const auto first = std::lower_bound(FFound.begin(), FFound.end(), Offset,
                                      [](const TViolation& v, std::int64_t at) { return v.Offset < at; });
  auto last = first;
  while (last != FFound.end() && last->Offset == Offset) ++last;
  return {first, last};
}

void TProblemsPane::Progress(std::int64_t Done, std::int64_t Total) {
  if (Total > 0) FProgress->setValue(static_cast<int>(Done * 1000 / Total));
}

void TProblemsPane::Finished(const TCheckReport& Report, const QString& Refusal) {
  if (FWorker.joinable()) FWorker.join();
  FDone = true;
  FProgress->hide();
  FCancel->hide();
  FList->setUpdatesEnabled(false);
  for (const TViolation& v : Report.Violations) {
    auto* item = new QTreeWidgetItem(FList);
    item->setText(kOffset, QString::fromStdString(Format("$%.8x", {v.Offset})));
    item->setData(kOffset, Qt::UserRole, QVariant::fromValue<qint64>(v.Offset));
    item->setText(kBit, QString::number(v.Bit));
    item->setText(kElement, QString::fromStdString(v.Element));
    item->setText(kValue, QString::number(v.Value));
    item->setText(kRule, QString::fromStdString(v.Rule));
  }
  FList->setUpdatesEnabled(true);
  FFound = Report.Violations;
  for (int c = kOffset; c < kRule; ++c) FList->resizeColumnToContents(c);
  QString status;
  if (!Refusal.isEmpty()) {
    status = Refusal;
  } else if (Report.Count == 0) {
    status = QStringLiteral("No problems found");
  } else {
    status = Report.Count == 1 ? QStringLiteral("1 problem") : QStringLiteral("%1 problems").arg(Report.Count);
    if (Report.Count > static_cast<std::int64_t>(Report.Violations.size()))
      status += QStringLiteral(" (the first %1 listed)").arg(Report.Violations.size());
  }
  if (Report.Cancelled) status += QStringLiteral("; cancelled before the end");
  if (Report.ReadFailed) status += QStringLiteral("; the file could not be read to its end");
  FStatus->setText(status);
  emit CheckFinished();
}

}  // namespace varlow
