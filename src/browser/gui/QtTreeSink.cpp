#include "browser/gui/QtTreeSink.h"

namespace varlow {

TQtTreeSink::~TQtTreeSink() = default;

TTreeSink::NodeId TQtTreeSink::AddChild(NodeId parent, std::string_view text, std::int64_t bitPos,
                                        std::int32_t bitWidth) {
  auto item = std::make_unique<QTreeWidgetItem>();
  // Node texts are single-byte text, read as Latin-1 like the in-memory tree's JSON does.
  item->setText(0, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  if (bitPos != kNoPosition) {
    item->setData(0, kBitPosRole, QVariant::fromValue<qint64>(bitPos));
    item->setData(0, kBitWidthRole, bitWidth);
    item->setToolTip(0, ElementToolTip(bitPos, bitWidth));
  }
  QTreeWidgetItem* raw = item.get();
  if (QTreeWidgetItem* parentItem = Item(parent)) {
    parentItem->addChild(item.release());
  } else {
    FRoots.push_back(std::move(item));
  }
  FItems.push_back(raw);
  return static_cast<NodeId>(FItems.size() - 1);
}

TTreeSink::NodeId TQtTreeSink::AddDamage(NodeId parent, std::string_view text, std::int64_t bitPos) {
  const NodeId id = AddChild(parent, text, bitPos, 0);
  QTreeWidgetItem* item = Item(id);
  item->setData(0, kDamageRole, true);
  item->setForeground(0, QColor(0xB0, 0x00, 0x00));
  item->setBackground(0, QColor(0xFF, 0xDD, 0xDD));
  QFont font = item->font(0);
  font.setBold(true);
  item->setFont(0, font);
  return id;
}

void TQtTreeSink::SetRange(NodeId node, std::int64_t bitPos, std::int32_t bitWidth) {
  QTreeWidgetItem* item = Item(node);
  if (item == nullptr) return;
  item->setData(0, kBitPosRole, QVariant::fromValue<qint64>(bitPos));
  item->setData(0, kBitWidthRole, bitWidth);
  item->setToolTip(0, ElementToolTip(bitPos, bitWidth));
}

void TQtTreeSink::SetMeaning(NodeId node, std::string_view meaning) {
  QTreeWidgetItem* item = Item(node);
  if (item == nullptr || meaning.empty()) return;
  const QString text = QString::fromLatin1(meaning.data(), static_cast<qsizetype>(meaning.size()));
  item->setData(0, kMeaningRole, text);
  const QString place = item->toolTip(0);
  item->setToolTip(0, place.isEmpty() ? text : text + QLatin1Char('\n') + place);
}

void TQtTreeSink::Flush() {
  if (FRoots.empty()) return;
  QList<QTreeWidgetItem*> roots;
  roots.reserve(static_cast<qsizetype>(FRoots.size()));
  for (auto& root : FRoots) roots.append(root.release());
  FRoots.clear();
  FTree->addTopLevelItems(roots);
}

QTreeWidgetItem* TQtTreeSink::Item(NodeId id) const {
  if (id < 0 || static_cast<std::size_t>(id) >= FItems.size()) return nullptr;
  return FItems[static_cast<std::size_t>(id)];
}

QString ElementToolTip(std::int64_t bitPos, std::int32_t bitWidth) {
  if (bitWidth <= 0) return QStringLiteral("bit %1 (byte %2, bit %3)").arg(bitPos).arg(bitPos / 8).arg(bitPos % 8);
  return QStringLiteral("bit %1 (byte %2, bit %3), %4 %5")
      .arg(bitPos)
      .arg(bitPos / 8)
      .arg(bitPos % 8)
      .arg(bitWidth)
      .arg(bitWidth == 1 ? QStringLiteral("bit") : QStringLiteral("bits"));
}

}  // namespace varlow
