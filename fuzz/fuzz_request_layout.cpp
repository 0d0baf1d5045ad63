// Any bytes as a request to lay out before sending: either it is refused before anything is sent
// (not XML, or nested too deeply), or the text posted is the one the layout made in the tree gives,
// that tree differs from the loaded one only by the line breaks and indentation the layout
// inserted, and the text posted loads as XML again.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <lirvo/modTally.h>
#include <lirvo/transfer.h>

namespace {

// Every node below the document with the indentation the layout gives it (two blanks a level,
// the root element at 0). The walk is iterative: requests may nest thousands of levels deep.
std::unordered_map<pugi::xml_node_struct*, int> Depths(const pugi::xml_document& document) {
  std::unordered_map<pugi::xml_node_struct*, int> depths;
  std::vector<std::pair<pugi::xml_node, int>> pending;
  for (pugi::xml_node top = document.first_child(); top; top = top.next_sibling()) {
    pending.emplace_back(top, 0);
  }
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    depths.emplace(node.internal_object(), depth);
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      pending.emplace_back(child, depth + 2);
    }
  }
  return depths;
}

// The blanks that end an inserted text ("" when it holds none), or no value when the text is not
// inserted whitespace: an optional CR LF followed by blanks, not empty.
std::optional<std::string_view> Indentation(std::string_view text) {
  std::string_view blanks = text;
  if (blanks.starts_with("\r\n")) {
    blanks.remove_prefix(2);
  }
  if (text.empty() || blanks.find_first_not_of(' ') != std::string_view::npos) {
    return std::nullopt;
  }
  return blanks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view request(reinterpret_cast<const char*>(data), size);
  pugi::xml_document document;
  if (!modTally::LoadXml(document, request)) {
    return 0;  // the sender refuses it before sending
  }
  const std::string loaded = modTally::DocumentXml(document);
  const auto depths = Depths(document);

  // What the sender posts, written in one pass; the document stays as it was.
  std::string sent;
  try {
    sent = lirvo::transfer::LaidOutXml(document);
  } catch (const modTally::Failure& failure) {
    // The only refusal of a loaded document: nesting too deep to indent.
    if (failure.number() != modTally::FailureNumber::kDepth) {
      std::abort();
    }
    return 0;
  }
  if (modTally::DocumentXml(document) != loaded) {
    std::abort();
  }

  // The same layout made in the tree gives the same text.
  lirvo::transfer::FormatXml(document);
  if (modTally::DocumentXml(document) != sent) {
    std::abort();
  }

  // Collect the inserted nodes (every node not there before) and check each is a line break, the
  // indentation of the node it precedes or of the element it closes, or a line break and then
  // that indentation.
  std::vector<pugi::xml_node> inserted;
  std::vector<pugi::xml_node> pending{document};
  while (!pending.empty()) {
    const pugi::xml_node node = pending.back();
    pending.pop_back();
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (depths.count(child.internal_object()) != 0) {
        pending.push_back(child);
        continue;
      }
      const std::optional<std::string_view> blanks = Indentation(child.value());
      if (child.type() != pugi::node_pcdata || !blanks) {
        std::abort();
      }
      if (!blanks->empty()) {
        const pugi::xml_node next = child.next_sibling();
        const auto owner = depths.find((next ? next : node).internal_object());
        if (owner == depths.end() || static_cast<std::size_t>(owner->second) != blanks->size()) {
          std::abort();
        }
      }
      inserted.push_back(child);
    }
  }
  for (const pugi::xml_node& node : inserted) {
    node.parent().remove_child(node);
  }
  if (modTally::DocumentXml(document) != loaded) {
    std::abort();
  }

  // What goes on the wire loads again.
  pugi::xml_document received;
  if (!modTally::LoadXml(received, sent)) {
    std::abort();
  }
  return 0;
}
