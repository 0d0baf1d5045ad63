// Parses a master request back into a tree, checking the envelope around the master on the way,
// so tests compare structure rather than text.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace lirvo::test {

// An element: its name, its own text, and its child elements in order.
struct Element {
  std::string name;
  std::string text;
  std::vector<Element> children;
  bool operator==(const Element&) const = default;
};
void PrintTo(const Element& element, std::ostream* out);

// The master element of one request, and the company its envelope addresses.
struct MasterRequest {
  std::string company;
  std::string element;                                          // "UNIT", "LEDGER", ...
  std::vector<std::pair<std::string, std::string>> attributes;  // in document order
  std::vector<Element> children;
};

// Throws std::runtime_error, saying what is wrong, unless `text` is a well-formed import
// envelope (exactly the documented tree) whose REQUESTDATA holds one TALLYMESSAGE with the
// xmlns:UDF declaration and one master element. Whitespace-only text is kept as text.
MasterRequest ParseMasterRequest(const std::string& text);

}  // namespace lirvo::test
