#include "transrate/gui/TransrateCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cmath>

#include "support/FileStream.h"
#include "support/gui/MessageBox.h"
#include "transrate/gui/OutputFileDialog.h"
#include "transrate/gui/TransrateForm.h"
#include "transrate/gui/TransrateProgressForm.h"

namespace varlow {

namespace {

// Whether `path` names the file `stream` has open (same device and inode).
bool IsFileOf(const QString& path, const TFileStream& stream) {
  const auto other = TFileStream::Open(QFile::encodeName(path).toStdString(), TFileStream::Mode::ReadOnly);
  return other && other->Device() == stream.Device() && other->Inode() == stream.Inode();
}

// "<folder>/<name>_transrated.<ext>" beside the input.
QString SuggestedOutput(const QString& InputPath) {
  const QFileInfo input(InputPath);
  const QString suffix = input.suffix().isEmpty() ? QStringLiteral("m2v") : input.suffix();
  return input.dir().filePath(input.completeBaseName() + QStringLiteral("_transrated.") + suffix);
}

QString Bytes(std::int64_t count) {
  const QLocale locale;
  return QStringLiteral("%1 bytes (%2)").arg(locale.toString(static_cast<qlonglong>(count)),
                                             locale.formattedDataSize(count));
}

}  // namespace

QString TransrateResultText(const TTransrateResult& Result, const QString& OutputPath, const TTransrateOptions& Options,
                            bool TargetExisted) {
  const QLocale locale;
  const QString untouched = TargetExisted ? QStringLiteral("\n%1 was left as it was.").arg(OutputPath) : QString();
  const QString shortfall = QString::fromStdString(TransrateShortfall(Result, Options));
  const QString headers = QString::fromStdString(TransrateHeadersNote(Result));
  const QString aim = Result.SizeAsked > 0 ? QStringLiteral("size asked %1").arg(Bytes(Result.SizeAsked))
                                           : QStringLiteral("maximum %1 bit/s").arg(locale.toString(Options.Bitrate));
  switch (Result.Status) {
    case TTransrateStatus::Succeeded:
      return QStringLiteral(
                 "Transrate finished: %1\n\n"
                 "Pictures: %2 in, %3 out\n"
                 "Input: %4\n"
                 "Output: %5\n"
                 "Average output rate: %6 bit/s (%7)\n"
                 "Groups of pictures over their budget: %8 of %9")
          .arg(OutputPath, locale.toString(static_cast<qlonglong>(Result.PicturesIn)),
               locale.toString(static_cast<qlonglong>(Result.PicturesOut)), Bytes(Result.InputBytes),
               Bytes(Result.OutputBytes), locale.toString(static_cast<qlonglong>(std::llround(Result.AverageBitrate))),
               aim, locale.toString(Result.GroupsOverBudget), locale.toString(Result.Groups)) +
             (Result.Carried.empty() ? QString()
                                     : QStringLiteral("\nVideo: %1 -> %2\nOther streams: %3")
                                           .arg(Bytes(Result.VideoBytesIn), Bytes(Result.VideoBytesOut),
                                                QString::fromStdString(Result.Carried))) +
             (headers.isEmpty() ? QString() : QStringLiteral("\nHeaders: ") + headers) +
             (shortfall.isEmpty() ? QString() : QStringLiteral("\n\n") + shortfall);
    case TTransrateStatus::Cancelled:
      return QStringLiteral("Transrate cancelled. No file was written.") + untouched;
    default:
      return QStringLiteral("Transrate failed: %1.\nNo file was written.").arg(QString::fromStdString(Result.Message)) +
             untouched;
  }
}

void RunTransrateCommand(QWidget* parent, const QString& InputPath, const TFileStream& OpenStream, std::int32_t Stream) {
  TTransrateOptions options;
  options.Stream = Stream;
  if (!GetTransrateTarget(options)) return;
  const QString output = AskOutputFileName(parent, QStringLiteral("Save transrated stream as"), SuggestedOutput(InputPath));
  if (output.isEmpty()) return;
  if (IsFileOf(output, OpenStream)) {
    ShowMessage(parent, QStringLiteral("%1 is the open file and cannot be its own output. Nothing was written.")
                            .arg(output));
    return;
  }
  // The run reads the file by its name: that must still be the file on show.
  if (!IsFileOf(InputPath, OpenStream)) {
    ShowMessage(parent, QStringLiteral("%1 was replaced or removed on disk. Open it again before transrating.")
                            .arg(InputPath));
    return;
  }
  const bool targetExisted = QFileInfo::exists(output);
  TTransrateProgressFrm progress(InputPath, output, options, parent);
  progress.exec();
  const TTransrateResult& result = progress.Result();
  // A run that kept its pictures but not its target ends under a warning, like a failure.
  const bool missed = !result.Succeeded() || !TransrateShortfall(result, options).empty();
  ShowMessage(parent, TransrateResultText(result, output, options, targetExisted),
              missed && result.Status != TTransrateStatus::Cancelled ? TMessageLevel::Warning
                                                                     : TMessageLevel::Information);
}

}  // namespace varlow
