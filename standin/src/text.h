// Small text helpers shared by the request handling and the HTML overview.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include <lirvo/text.h>

namespace lirvo::standin {

using lirvo::text::EqualsNoCase;
using lirvo::text::Trim;

// The text held directly by `element` (its text and CDATA children joined), "" for a null node.
std::string LeafText(const pugi::xml_node& element);

// How many bytes of `text` are `c`.
std::size_t CountOf(std::string_view text, char c);

// `text` escaped for HTML element content and attribute values.
std::string EscapeHtml(std::string_view text);

// `document` as text: no declaration, two blanks of indentation per level.
std::string Serialize(const pugi::xml_document& document);

}  // namespace lirvo::standin
