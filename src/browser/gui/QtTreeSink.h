#pragma once
#include <QTreeWidget>
#include <memory>
#include <vector>

#include "support/TreeSink.h"

namespace varlow {

// Item data roles holding a node's element position, for tooltips and the hex-dump selection.
inline constexpr int kBitPosRole = Qt::UserRole;
inline constexpr int kBitWidthRole = Qt::UserRole + 1;
// True on a node that marks where the data stops making sense.
inline constexpr int kDamageRole = Qt::UserRole + 2;
// What an element's coded value stands for, when the standard names it (also in the tooltip).
inline constexpr int kMeaningRole = Qt::UserRole + 3;

// Builds nodes for a QTreeWidget. Items are assembled off the widget (a slice tree can hold
// hundreds of thousands of nodes, and inserting each into a live view is slow) and handed to
// the widget in one step by Flush(). Items never flushed are freed with the sink.
class TQtTreeSink final : public TTreeSink {
 public:
  explicit TQtTreeSink(QTreeWidget* tree) : FTree(tree) {}
  ~TQtTreeSink() override;
  TQtTreeSink(const TQtTreeSink&) = delete;
  TQtTreeSink& operator=(const TQtTreeSink&) = delete;

  NodeId AddChild(NodeId parent, std::string_view text, std::int64_t bitPos = kNoPosition,
                  std::int32_t bitWidth = 0) override;
  // A damage node: red bold text on a pale red ground, marked with kDamageRole.
  NodeId AddDamage(NodeId parent, std::string_view text, std::int64_t bitPos) override;
  // The range of a container node: item data and tooltip as for an element.
  void SetRange(NodeId node, std::int64_t bitPos, std::int32_t bitWidth) override;
  // The meaning: item data and the tooltip's first line, above the element's place.
  void SetMeaning(NodeId node, std::string_view meaning) override;

  // Appends the top-level nodes built so far to the tree. Ids stay valid for Item().
  void Flush();
  // The item of a node (null for kRoot or an unknown id); owned by the tree after Flush().
  QTreeWidgetItem* Item(NodeId id) const;

 private:
  QTreeWidget* FTree;
  std::vector<QTreeWidgetItem*> FItems;                  // by NodeId
  std::vector<std::unique_ptr<QTreeWidgetItem>> FRoots;  // top-level items not yet in the tree
};

// The tooltip of a node: where its element lies and how wide it is (a width of 0: where only).
QString ElementToolTip(std::int64_t bitPos, std::int32_t bitWidth);

}  // namespace varlow
