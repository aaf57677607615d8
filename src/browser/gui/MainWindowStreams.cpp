// File > Video Stream: the open container's streams, the MPEG-1/2 video ones to choose from.
#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include "browser/gui/MainWindow.h"
#include "container/ContainerLayout.h"
#include "support/Format.h"

namespace varlow {

namespace {

QString Hex(std::uint64_t value, int digits) {
  return QStringLiteral("0x") + QString::fromStdString(HexUpper(value, digits));
}

// "0   PID 0x0100   MPEG-2 video", as `varlow-cli streams` lists the stream.
QString StreamText(const TContainerStream& stream, const TContainerFormat& format) {
  QString id;
  if (format.Kind == TContainerKind::Transport)
    id = QStringLiteral("PID ") + Hex(stream.Pid, 4);
  else if (stream.StreamId == 0xBD)
    id = QStringLiteral("stream ID ") + Hex(stream.StreamId, 2) + QLatin1Char('/') + Hex(stream.SubStreamId, 2);
  else
    id = QStringLiteral("stream ID ") + Hex(stream.StreamId, 2);
  // The first ten are chosen by their digit from the keyboard.
  const QString number = stream.Index < 10 ? QStringLiteral("&%1").arg(stream.Index) : QString::number(stream.Index);
  return QStringLiteral("%1   %2   %3").arg(number, id, QString::fromStdString(stream.Codec));
}

} // namespace

void TForm1::FillStreamMenu() {
  if (VideoStream1 == nullptr) return;
  qDeleteAll(VideoStream1->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly));
  VideoStream1->clear();
  const TByteSource* source = FIndex.Stream();
  const TContainerLayout* layout = source != nullptr ? source->Layout() : nullptr;
  // A plain file is one stream: nothing to choose.
  VideoStream1->setEnabled(layout != nullptr && !FFileName.isEmpty());
  if (DumpFileBytes1 != nullptr) DumpFileBytes1->setEnabled(layout != nullptr);
  if (layout == nullptr) return;
  auto* group = new QActionGroup(VideoStream1);
  group->setExclusive(true);
  for (const TContainerStream& stream : layout->Streams) {
    QAction* action = VideoStream1->addAction(StreamText(stream, layout->Format));
    action->setObjectName(QStringLiteral("VideoStream%1").arg(stream.Index));
    action->setData(stream.Index);
    // Only MPEG-1/2 video can be browsed; the rest are listed so the user sees what is there.
    action->setEnabled(stream.Mpeg12Video);
    action->setCheckable(stream.Mpeg12Video);
    action->setChecked(stream.Index == layout->Chosen);
    if (stream.Mpeg12Video) group->addAction(action);
    const std::int32_t index = stream.Index;
    // Queued: reopening the file fills this menu again, which deletes the action that fired.
    connect(action, &QAction::triggered, this, [this, index] { ChooseStream(index); }, Qt::QueuedConnection);
  }
}

} // namespace varlow
