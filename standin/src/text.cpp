#include "text.h"

#include <cstdint>
#include <cstring>
#include <sstream>

namespace lirvo::standin {

std::string LeafText(const pugi::xml_node& element) {
  std::string text;
  for (const pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    }
  }
  return text;
}

// Eight bytes at a time, as a request runs to megabytes: a byte equal to `c` is a zero byte of
// the word XORed with `c` in every byte, and each zero byte leaves a one in a byte of `zeros`,
// which the multiplication adds up in the top byte.
std::size_t CountOf(std::string_view text, char c) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const std::uint64_t pattern = kOnes * static_cast<unsigned char>(c);
  std::size_t count = 0;
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    const std::uint64_t x = word ^ pattern;
    const std::uint64_t nonzero = ((x & kLow7) + kLow7) | x;  // top bit set in each nonzero byte
    const std::uint64_t zeros = (~nonzero & ~kLow7) >> 7;
    count += static_cast<std::size_t>((zeros * kOnes) >> 56);
  }
  for (; at < text.size(); ++at) {
    count += text[at] == c ? 1 : 0;
  }
  return count;
}

std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string Serialize(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  return out.str();
}

}  // namespace lirvo::standin
