// File > Recent Files, kept between runs, and the status bar: the file's size, the selected
// pack's offset and how far into the file it lies.
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>

#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListView.h"
#include "support/Format.h"

namespace varlow {

namespace {

constexpr int kMaxRecentFiles = 8;
const QString kRecentFilesKey = QStringLiteral("RecentFiles");

QSettings RecentFileSettings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow Recent")); }

}  // namespace

QStringList TForm1::RecentFiles() const { return RecentFileSettings().value(kRecentFilesKey).toStringList(); }

void TForm1::CreateRecentMenu(QMenu* file) {
  RecentFiles1 = file->addMenu(QStringLiteral("&Recent Files"));
  RecentFiles1->setObjectName(QStringLiteral("RecentFiles1"));
  FillRecentMenu();
}

void TForm1::AddRecentFile(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList files = RecentFiles();
  files.removeAll(absolute);
  files.prepend(absolute);
  while (files.size() > kMaxRecentFiles) files.removeLast();
  RecentFileSettings().setValue(kRecentFilesKey, files);
  FillRecentMenu();
}

void TForm1::ForgetMissingRecentFile(const QString& path) {
  const QFileInfo info(path);
  if (info.exists()) return;
  QStringList files = RecentFiles();
  if (files.removeAll(info.absoluteFilePath()) == 0) return;
  RecentFileSettings().setValue(kRecentFilesKey, files);
  FillRecentMenu();
}

void TForm1::FillRecentMenu() {
  if (RecentFiles1 == nullptr) return;
  RecentFiles1->clear();
  const QStringList files = RecentFiles();
  RecentFiles1->setEnabled(!files.isEmpty());
  for (int i = 0; i < files.size(); ++i) {
    const QString path = files.at(i);
    // "&1 clip.m2v" with the whole path as its tip.
    QAction* action = RecentFiles1->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
    action->setObjectName(QStringLiteral("RecentFile%1").arg(i + 1));
    action->setToolTip(path);
    action->setStatusTip(path);
    action->setData(path);
    connect(action, &QAction::triggered, this, [this, path] { OpenFile(path); });
  }
  if (files.isEmpty()) return;
  RecentFiles1->addSeparator();
  QAction* clear = RecentFiles1->addAction(QStringLiteral("&Clear List"));
  clear->setObjectName(QStringLiteral("ClearRecentFiles1"));
  connect(clear, &QAction::triggered, this, [this] {
    RecentFileSettings().remove(kRecentFilesKey);
    FillRecentMenu();
  });
}

void TForm1::CreateStatusBar() {
  StatusSize = new QLabel(this);
  StatusSize->setObjectName(QStringLiteral("StatusSize"));
  StatusPack = new QLabel(this);
  StatusPack->setObjectName(QStringLiteral("StatusPack"));
  StatusPosition = new QLabel(this);
  StatusPosition->setObjectName(QStringLiteral("StatusPosition"));
  statusBar()->addWidget(StatusSize);
  statusBar()->addWidget(StatusPack);
  statusBar()->addWidget(StatusPosition);
  UpdateStatusBar();
}

void TForm1::UpdateStatusBar() {
  if (StatusSize == nullptr) return;
  const std::int64_t size = FIndex.Stream() != nullptr ? FIndex.FileSize() : -1;
  const int row = ListView1->SelectedRow();
  const std::int64_t pack = size >= 0 && row >= 0 && row < FIndex.PackCount() ? FIndex.Pack(row).Offset : -1;
  StatusSize->setText(size >= 0 ? QStringLiteral("%1 bytes").arg(QLocale::c().toString(static_cast<qlonglong>(size)))
                                : QString());
  StatusPack->setText(
      pack >= 0
          ? QStringLiteral("Pack at $%1").arg(QString::fromStdString(HexUpper(static_cast<std::uint64_t>(pack), 8)))
          : QString());
  StatusPosition->setText(pack >= 0 && size > 0
                              ? QStringLiteral("%1% into the file")
                                    .arg(100.0 * static_cast<double>(pack) / static_cast<double>(size), 0, 'f', 1)
                              : QString());
}

}  // namespace varlow
