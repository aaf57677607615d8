#pragma once
#include <cstdint>
#include <string_view>

#include "support/SyntaxElement.h"

namespace varlow {

// Where the header tree and the slice analyser put their nodes. The same producer fills a
// QTreeWidget, a test's in-memory tree and the command-line tool's text through this interface.
// Syntax elements arrive as data through Add; plain nodes (the container trees') as text through
// AddChild.
class TTreeSink {
public:
  using NodeId = std::int32_t;
  static constexpr NodeId kRoot = -1;  // parent of top-level nodes
  static constexpr std::int64_t kNoPosition = -1;

  virtual ~TTreeSink() = default;

  // Appends the node of one syntax element as the last child of `parent`. The default makes its
  // text with ElementText and adds it as AddChild or AddDamage would; sinks that keep the data
  // (names and values for JSON, records) override it.
  virtual NodeId Add(NodeId parent, const TElement& element) {
    const std::string text = ElementText(element);
    if (element.Kind == TElementKind::Damage) return AddDamage(parent, text, element.BitPos);
    return AddChild(parent, text, element.BitPos, element.BitWidth);
  }

  // Appends a node as the last child of `parent` and returns its id. `bitPos` is the position
  // of the element shown, in bits from the start of the block it was read from, and `bitWidth`
  // its width; nodes that stand for no single element pass kNoPosition and 0.
  virtual NodeId AddChild(NodeId parent, std::string_view text, std::int64_t bitPos = kNoPosition,
                          std::int32_t bitWidth = 0) = 0;

  // Appends a node that marks where the data stops making sense (a code no table knows) at
  // `bitPos`. Sinks that can show it apart (a colour, a flag) do so; others add a plain node.
  virtual NodeId AddDamage(NodeId parent, std::string_view text, std::int64_t bitPos) {
    return AddChild(parent, text, bitPos, 0);
  }

  // Gives a node added without a position the bit range it spans, once its last element has
  // been read (a macroblock, a block). Sinks that keep no positions ignore it.
  virtual void SetRange(NodeId /*node*/, std::int64_t /*bitPos*/, std::int32_t /*bitWidth*/) {}

  // Says what the coded value of an element node stands for ("25 frames/s" for a
  // frame_rate_code of 3), beside its text, which stays as it is. Sinks that show no more than
  // the text ignore it.
  virtual void SetMeaning(NodeId /*node*/, std::string_view /*meaning*/) {}
};

} // namespace varlow
