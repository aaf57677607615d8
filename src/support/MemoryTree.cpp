#include "support/MemoryTree.h"

#include <charconv>
#include <cstdio>
#include <functional>

namespace varlow {

TTreeSink::NodeId TMemoryTree::AddChild(NodeId parent, std::string_view text, std::int64_t bitPos,
                                        std::int32_t bitWidth) {
  auto id = static_cast<NodeId>(nodes_.size());
  Node node;
  node.text = std::string(text);
  node.bitPos = bitPos;
  node.bitWidth = bitWidth;
  node.parent = parent;
  nodes_.push_back(std::move(node));
  if (parent == kRoot) roots_.push_back(id);
  else nodes_.at(static_cast<std::size_t>(parent)).children.push_back(id);
  return id;
}

TTreeSink::NodeId TMemoryTree::Add(NodeId parent, const TElement& element) {
  const NodeId id = element.Kind == TElementKind::Damage
                        ? AddDamage(parent, ElementText(element), element.BitPos)
                        : AddChild(parent, ElementText(element), element.BitPos, element.BitWidth);
  Node& node = nodes_[static_cast<std::size_t>(id)];
  node.name = element.Name;
  node.hasValue = element.Kind == TElementKind::Field && element.HasValue;
  node.value = element.Value;
  node.hasRun = element.Form == TElementForm::RunLevel || element.Form == TElementForm::Escape;
  node.run = element.Run;
  node.indexCount = element.IndexCount;
  for (std::uint8_t i = 0; i < element.IndexCount; ++i) node.index[i] = static_cast<std::int8_t>(element.Index[i]);
  return id;
}

TTreeSink::NodeId TMemoryTree::AddDamage(NodeId parent, std::string_view text, std::int64_t bitPos) {
  const NodeId id = AddChild(parent, text, bitPos, 0);
  nodes_[static_cast<std::size_t>(id)].damage = true;
  return id;
}

void TMemoryTree::SetRange(NodeId node, std::int64_t bitPos, std::int32_t bitWidth) {
  if (node < 0 || static_cast<std::size_t>(node) >= nodes_.size()) return;
  nodes_[static_cast<std::size_t>(node)].bitPos = bitPos;
  nodes_[static_cast<std::size_t>(node)].bitWidth = bitWidth;
}

void TMemoryTree::SetMeaning(NodeId node, std::string_view meaning) {
  if (node < 0 || static_cast<std::size_t>(node) >= nodes_.size()) return;
  nodes_[static_cast<std::size_t>(node)].meaning = std::string(meaning);
}

void TMemoryTree::Clear() {
  nodes_.clear();
  roots_.clear();
}

int TMemoryTree::Depth(NodeId id) const {
  int depth = 0;
  for (NodeId p = At(id).parent; p != kRoot; p = At(p).parent) ++depth;
  return depth;
}

std::vector<TTreeSink::NodeId> TMemoryTree::Preorder() const {
  std::vector<NodeId> out;
  out.reserve(nodes_.size());
  std::function<void(NodeId)> walk = [&](NodeId id) {
    out.push_back(id);
    for (NodeId c : At(id).children) walk(c);
  };
  for (NodeId r : roots_) walk(r);
  return out;
}

std::vector<TTreeSink::NodeId> TMemoryTree::FindAll(std::string_view text) const {
  std::vector<NodeId> out;
  for (NodeId id : Preorder())
    if (At(id).text == text) out.push_back(id);
  return out;
}

std::vector<TTreeSink::NodeId> TMemoryTree::FindPrefix(std::string_view prefix) const {
  std::vector<NodeId> out;
  for (NodeId id : Preorder())
    if (std::string_view(At(id).text).substr(0, prefix.size()) == prefix) out.push_back(id);
  return out;
}

std::vector<TTreeSink::NodeId> TMemoryTree::Damage() const {
  std::vector<NodeId> out;
  for (NodeId id : Preorder())
    if (At(id).damage) out.push_back(id);
  return out;
}

std::string TMemoryTree::ToText() const {
  std::string out;
  for (NodeId id : Preorder()) {
    out.append(static_cast<std::size_t>(2 * Depth(id)), ' ');
    if (At(id).damage) out += "!! ";  // stands out in plain text as the colour does in the window
    out += At(id).text;
    out += '\n';
  }
  return out;
}

namespace {

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\t': out += "\\t"; break;
    default:
      if (c < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      } else if (c >= 0x80) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out += static_cast<char>(c);
      }
    }
  }
  out += '"';
}

void AppendNumber(std::string& out, std::int64_t value) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

} // namespace

std::string JsonString(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

std::string TMemoryTree::ToJson() const {
  std::string out;
  std::function<void(const std::vector<NodeId>&)> list = [&](const std::vector<NodeId>& ids) {
    out += '[';
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const Node& n = At(ids[i]);
      if (i) out += ',';
      out += "{\"text\":";
      AppendJsonString(out, n.text);
      if (!n.name.empty()) {
        out += ",\"name\":";
        AppendJsonString(out, n.name);
        if (n.indexCount > 0) {
          out += ",\"index\":[";
          for (std::uint8_t k = 0; k < n.indexCount; ++k) {
            if (k) out += ',';
            AppendNumber(out, n.index[k]);
          }
          out += ']';
        }
        if (n.hasValue) {
          out += ",\"value\":";
          AppendNumber(out, n.value);
        }
        if (n.hasRun) {
          out += ",\"run\":";
          AppendNumber(out, n.run);
        }
      }
      if (n.bitPos != kNoPosition) {
        out += ",\"bitPos\":";
        AppendNumber(out, n.bitPos);
        out += ",\"bitWidth\":";
        AppendNumber(out, n.bitWidth);
      }
      if (!n.meaning.empty()) {
        out += ",\"meaning\":";
        AppendJsonString(out, n.meaning);
      }
      if (n.damage) out += ",\"damage\":true";
      if (!n.children.empty()) {
        out += ",\"children\":";
        list(n.children);
      }
      out += '}';
    }
    out += ']';
  };
  list(roots_);
  return out;
}

} // namespace varlow
