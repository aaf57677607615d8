#include "browser/gui/OpenRefusal.h"

#include <QDir>
#include <QFileInfo>

namespace varlow {

namespace {

const QString kNotVideo = QStringLiteral("Not valid MPEG-2 video elementary stream");

QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

QString CannotOpen(const QString& path, const QString& why) {
  return QStringLiteral("Cannot open %1: %2").arg(Shown(path), why);
}

}  // namespace

QString PathProblem(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return CannotOpen(path, QStringLiteral("there is no such file."));
  if (info.isDir()) return CannotOpen(path, QStringLiteral("it is a folder, not a file."));
  if (!info.isReadable()) return CannotOpen(path, QStringLiteral("there is no permission to read it."));
  if (info.isFile() && info.size() == 0) return CannotOpen(path, QStringLiteral("the file is empty."));
  return {};
}

QString RefusalMessage(const QString& path, const QString& refusal) {
  if (refusal.isEmpty() || refusal == kNotVideo) return kNotVideo + QStringLiteral(": ") + Shown(path);
  return refusal + QStringLiteral(" (") + Shown(path) + QStringLiteral(")");
}

QString CannotReadMessage(const QString& path) { return CannotOpen(path, QStringLiteral("the file cannot be read.")); }

}  // namespace varlow
