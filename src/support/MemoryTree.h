#pragma once
#include <string>
#include <vector>

#include "support/TreeSink.h"

namespace varlow {

// A tree held in memory: what tests inspect and what the command-line tool prints.
class TMemoryTree final : public TTreeSink {
public:
  struct Node {
    std::string text;
    std::int64_t bitPos = kNoPosition;
    std::int32_t bitWidth = 0;
    NodeId parent = kRoot;
    bool damage = false;  // marks where the data stops making sense
    std::vector<NodeId> children;
    std::string meaning;  // what the element's coded value stands for; empty: nothing to say
    // The element's data, for nodes added through Add: its name (a string literal), indices,
    // value and, for a run/level code, its run.
    std::string_view name;
    std::int64_t value = 0;
    std::int32_t run = 0;
    std::int8_t index[3] = {};
    std::uint8_t indexCount = 0;
    bool hasValue = false;
    bool hasRun = false;
  };

  NodeId Add(NodeId parent, const TElement& element) override;
  NodeId AddChild(NodeId parent, std::string_view text, std::int64_t bitPos = kNoPosition,
                  std::int32_t bitWidth = 0) override;
  NodeId AddDamage(NodeId parent, std::string_view text, std::int64_t bitPos) override;
  void SetRange(NodeId node, std::int64_t bitPos, std::int32_t bitWidth) override;
  void SetMeaning(NodeId node, std::string_view meaning) override;

  const Node& At(NodeId id) const { return nodes_.at(static_cast<std::size_t>(id)); }
  const std::vector<NodeId>& Roots() const { return roots_; }
  const std::vector<NodeId>& Children(NodeId id) const { return id == kRoot ? roots_ : At(id).children; }
  std::size_t Size() const { return nodes_.size(); }
  void Clear();

  // Depth of a node: 0 for top-level nodes.
  int Depth(NodeId id) const;
  // All nodes in display order (depth first), each once.
  std::vector<NodeId> Preorder() const;
  // Ids of every node whose text equals `text`, in display order.
  std::vector<NodeId> FindAll(std::string_view text) const;
  // Ids of every node whose text starts with `prefix`, in display order.
  std::vector<NodeId> FindPrefix(std::string_view prefix) const;
  // Ids of every damage node, in display order.
  std::vector<NodeId> Damage() const;

  // One node per line, indented by two spaces per depth level; damage nodes begin with "!! ".
  std::string ToText() const;
  // A JSON array of {"text", "name", "index", "value", "run", "bitPos", "bitWidth", "meaning",
  // "damage", "children"} objects. "name" is the element's name in the standard's words (a
  // group's name for groups), "index" its indices, "value" a field's value as a number and "run"
  // a run/level code's run; each is left out where the node has none, as are positions for
  // nodes without one, "meaning" for nodes without one and "damage" for nodes that do not mark
  // damage.
  std::string ToJson() const;

private:
  std::vector<Node> nodes_;
  std::vector<NodeId> roots_;
};

// JSON string literal of a text (quotes included); bytes >= 0x80 are passed through as Latin-1
// characters encoded in UTF-8, control characters escaped.
std::string JsonString(std::string_view text);

} // namespace varlow
