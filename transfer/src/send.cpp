// Sending a request: load it, lay it out one element per line, post it; and reading what an
// import reply says about rejected data.
#include <array>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <lirvo/transfer.h>

namespace lirvo::transfer {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

bool IsText(const pugi::xml_node& node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

int ChildDepth(int depth) {
  if (depth > std::numeric_limits<std::int16_t>::max() - 2) {
    throw Failure(FailureNumber::kDepth,
                  "the request nests elements too deeply to be laid out (more than " +
                      std::to_string(std::numeric_limits<std::int16_t>::max() / 2) +
                      " levels); nothing was sent");
  }
  return depth + 2;
}

// The whitespace the layout inserts: a line break, blanks, or a line break and then blanks, all
// cut from one buffer that grows with the deepest level met.
class Whitespace {
 public:
  std::string_view Get(bool line_break, int blanks) {
    const std::size_t count = blanks > 0 ? static_cast<std::size_t>(blanks) : 0;
    if (text_.size() < 2 + count) {
      text_.resize(2 + count, ' ');
    }
    return line_break ? std::string_view(text_.data(), 2 + count)
                      : std::string_view(text_.data() + 2, count);
  }

 private:
  std::string text_ = "\r\n";
};

// Inserts a text node holding `text` into `parent` before `before` (at the end when null).
void InsertText(pugi::xml_node parent, pugi::xml_node before, std::string_view text) {
  if (text.empty()) {
    return;
  }
  pugi::xml_node inserted = before ? parent.insert_child_before(pugi::node_pcdata, before)
                                   : parent.append_child(pugi::node_pcdata);
  if (!inserted) {
    throw Failure(FailureNumber::kDocument, "cannot lay out the request: a node cannot be added");
  }
  if (!inserted.set_value(text.data(), text.size())) {
    throw Failure(FailureNumber::kDocument, "cannot lay out the request: a text cannot be set");
  }
}

// Lays out the children of `element`, which sits `depth` blanks deep: each child that is not text
// gets its indentation before it and a line break after it, the first child a line break before
// it, and the closing tag its own indentation. Whitespace that falls between two children goes
// into one text node; the text written is the same as with a node for each piece. Children that
// have children of their own are added to `pending`. An element whose children are all text is
// left as it is.
void LayOutChildren(pugi::xml_node element, int depth, Whitespace& whitespace,
                    std::vector<std::pair<pugi::xml_node, int>>& pending) {
  if (!element.first_child()) {
    return;
  }
  const int child_depth = ChildDepth(depth);
  bool only_text = true;
  for (const pugi::xml_node child : element.children()) {
    if (!IsText(child)) {
      only_text = false;
      break;
    }
  }
  if (only_text) {
    return;
  }
  // A child is indented, and followed by a line break, only at a depth above 0.
  const bool children_laid_out = child_depth > 0;
  bool line_break = true;  // the line break after the opening tag
  for (pugi::xml_node child = element.first_child(); child;) {
    const pugi::xml_node next = child.next_sibling();
    const bool indented = children_laid_out && !IsText(child);
    InsertText(element, child, whitespace.Get(line_break, indented ? child_depth : 0));
    if (!IsText(child) && child.first_child()) {
      pending.emplace_back(child, child_depth);
    }
    line_break = indented;
    child = next;
  }
  InsertText(element, pugi::xml_node(), whitespace.Get(line_break, depth));
}

// Which characters the document writer escapes: kInText in character data (&, <, > and control
// characters but tab, line feed and carriage return), kInAttribute in attribute values (&, <, "
// and every control character). The terminating NUL is marked for both, to end the scan.
constexpr unsigned char kInText = 1;
constexpr unsigned char kInAttribute = 2;
constexpr auto kEscaped = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 32; ++c) {
    table[static_cast<std::size_t>(c)] = kInText | kInAttribute;
  }
  for (const char c : {'\t', '\n', '\r'}) {
    table[static_cast<unsigned char>(c)] = kInAttribute;
  }
  table['&'] = kInText | kInAttribute;
  table['<'] = kInText | kInAttribute;
  table['>'] = kInText;
  table['"'] = kInAttribute;
  return table;
}();

// Appends `text` escaped as the document writer escapes it (in character data, or in an
// attribute value when `in` is kInAttribute): &, <, > and " as entities, control characters as
// two-digit character references.
void AppendEscaped(std::string& out, const char* text, unsigned char in) {
  for (;;) {
    const char* run = text;
    while ((kEscaped[static_cast<unsigned char>(*text)] & in) == 0) {
      ++text;
    }
    out.append(run, static_cast<std::size_t>(text - run));
    const auto code = static_cast<unsigned char>(*text);
    switch (code) {
      case '\0':
        return;
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      case '"':
        out.append("&quot;");
        break;
      default: {
        const char reference[] = {'&', '#', static_cast<char>('0' + code / 10),
                                  static_cast<char>('0' + code % 10), ';'};
        out.append(reference, sizeof reference);
      }
    }
    ++text;
  }
}

// Appends a CDATA section as the document writer writes it: a "]]>" inside is split across two
// sections.
void AppendCdata(std::string& out, const char* text) {
  do {
    const char* const start = text;
    while (*text != '\0' && !(text[0] == ']' && text[1] == ']' && text[2] == '>')) {
      ++text;
    }
    if (*text != '\0') {
      text += 2;  // "]]" ends this section, ">" starts the next
    }
    out.append("<![CDATA[").append(start, static_cast<std::size_t>(text - start)).append("]]>");
  } while (*text != '\0');
}

// Writes the laid-out text of a document made of one root element holding elements, character
// data and CDATA only (all that loading a request text keeps), in one pass and without changing
// the document. No value for any other document. Every pugixml accessor is a call into the
// library, so each node's type, name and children are asked for once.
std::optional<std::string> WriteLaidOut(const pugi::xml_document& document) {
  const pugi::xml_node root = document.document_element();
  if (!root || root.previous_sibling() || root.next_sibling()) {
    return std::nullopt;
  }
  struct Frame {
    std::string_view name;
    int depth;
    int child_depth;
    pugi::xml_node next;  // the child to write next
    bool line_break;      // whether the whitespace before it starts with a line break
  };
  std::vector<Frame> stack;
  std::string out;
  Whitespace whitespace;

  const auto text = [&out](const pugi::xml_node& node, pugi::xml_node_type type) {
    if (type == pugi::node_pcdata) {
      AppendEscaped(out, node.value(), kInText);
    } else {
      AppendCdata(out, node.value());
    }
  };
  // Writes a node, or the opening tag of an element whose children are laid out (pushing it).
  const auto open = [&](const pugi::xml_node& node, pugi::xml_node_type type, int depth) {
    if (type == pugi::node_pcdata || type == pugi::node_cdata) {
      text(node, type);
      return true;
    }
    const std::string_view name = type == pugi::node_element ? node.name() : "";
    if (name.empty() || *node.value() != '\0') {
      return false;
    }
    out.append("<").append(name);
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
      const std::string_view attribute_name = attribute.name();
      if (attribute_name.empty()) {
        return false;
      }
      out.append(" ").append(attribute_name).append("=\"");
      AppendEscaped(out, attribute.value(), kInAttribute);
      out.append("\"");
    }
    const pugi::xml_node first = node.first_child();
    if (!first) {
      out.append("/>");
      return true;
    }
    out.append(">");
    const int child_depth = ChildDepth(depth);
    // Most elements hold one text and nothing else: written at once.
    const pugi::xml_node_type first_type = first.type();
    if ((first_type == pugi::node_pcdata || first_type == pugi::node_cdata) &&
        !first.next_sibling()) {
      text(first, first_type);
      out.append("</").append(name).append(">");
      return true;
    }
    for (pugi::xml_node child = first; child; child = child.next_sibling()) {
      if (!IsText(child)) {
        stack.push_back({name, depth, child_depth, first, true});
        return true;
      }
    }
    for (pugi::xml_node child = first; child; child = child.next_sibling()) {
      text(child, child.type());
    }
    out.append("</").append(name).append(">");
    return true;
  };

  if (!open(root, root.type(), 0)) {
    return std::nullopt;
  }
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (!frame.next) {
      out.append(whitespace.Get(frame.line_break, frame.depth));
      out.append("</").append(frame.name).append(">");
      stack.pop_back();
      continue;
    }
    const pugi::xml_node child = frame.next;
    frame.next = child.next_sibling();
    const pugi::xml_node_type type = child.type();
    const bool indented =
        frame.child_depth > 0 && type != pugi::node_pcdata && type != pugi::node_cdata;
    out.append(whitespace.Get(frame.line_break, indented ? frame.child_depth : 0));
    frame.line_break = indented;
    if (!open(child, type, frame.child_depth)) {  // may grow the stack: `frame` is not used after
      return std::nullopt;
    }
  }
  return out;
}

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

std::string Shortened(std::string text) {
  constexpr std::size_t kLongest = 300;
  if (text.size() > kLongest) {
    text.resize(kLongest);
    text += "...";
  }
  return text;
}

bool CountAboveZero(const pugi::xml_document& document, const char* query) {
  for (const pugi::xpath_node& found : document.select_nodes(query)) {
    try {
      if (ReadNumber(modTally::NodeText(found.node())) > 0) {
        return true;
      }
    } catch (const Failure&) {
      return true;  // a count too large to read is still above zero
    }
  }
  return false;
}

// A RESPONSE root without any counters: the server answered with a message only.
bool IsMessageOnly(const pugi::xml_document& document) {
  const pugi::xml_node root = document.document_element();
  if (std::string_view(root.name()) != "RESPONSE") {
    return false;
  }
  for (const pugi::xml_node child : root.children()) {
    if (child.type() == pugi::node_element) {
      return false;
    }
  }
  return true;
}

}  // namespace

// The walk keeps its own list of elements to lay out rather than recursing, so a deeply nested
// request cannot exhaust the thread's stack before the depth limit is reached.
void IndentNode(pugi::xml_node node, std::int16_t depth) {
  if (IsText(node)) {
    return;
  }
  Whitespace whitespace;
  std::vector<std::pair<pugi::xml_node, int>> pending{{node, depth}};
  while (!pending.empty()) {
    const auto [element, element_depth] = pending.back();
    pending.pop_back();
    LayOutChildren(element, element_depth, whitespace, pending);
  }
  if (depth > 0) {
    // The node's own indentation and the line break after it.
    pugi::xml_node parent = node.parent();
    InsertText(parent, node, whitespace.Get(false, depth));
    InsertText(parent, node.next_sibling(), whitespace.Get(true, 0));
  }
}

void FormatXml(pugi::xml_document& document) {
  const pugi::xml_node root = document.document_element();
  if (!root) {
    throw Failure(FailureNumber::kDocument, "cannot lay out the request: it has no root element");
  }
  IndentNode(root, 0);
}

std::string LaidOutXml(const pugi::xml_document& document) {
  if (std::optional<std::string> text = WriteLaidOut(document)) {
    return std::move(*text);
  }
  // Anything else (comments, processing instructions, ... built by a caller) is laid out in a
  // copy, node by node.
  pugi::xml_document copy;
  copy.reset(document);
  FormatXml(copy);
  return modTally::DocumentXml(copy);
}

modTally::Reply SendRequest(const std::string& request) {
  if (modTally::TallyUrl.empty()) {
    throw Failure(FailureNumber::kHttpClient,
                  "cannot send the request: no server address is set (TallyUrl is empty)");
  }
  pugi::xml_document document;
  if (!modTally::LoadXml(document, request)) {
    pugi::xml_document probe;
    const pugi::xml_parse_result parsed = probe.load_buffer(request.data(), request.size());
    const std::string reason =
        !parsed ? std::string(parsed.description()) + " at offset " + std::to_string(parsed.offset)
                : std::string("it needs exactly one root element");
    throw Failure(FailureNumber::kParse,
                  "the request is not well-formed XML (" + reason + "); nothing was sent");
  }
  const std::string body = LaidOutXml(document);
  return modTally::Exchange(modTally::TallyUrl, std::optional<std::string_view>(body));
}

std::string SendToTally(const std::string& request) {
  return SendRequest(request).text;
}

bool IsRejection(const modTally::Reply& reply) {
  if (reply.status >= 400) {
    return true;
  }
  pugi::xml_document document;
  if (!modTally::LoadXml(document, reply.text)) {
    return false;
  }
  return document.select_node("//LINEERROR") || CountAboveZero(document, "//ERRORS") ||
         CountAboveZero(document, "//EXCEPTIONS") || IsMessageOnly(document);
}

std::string RejectionText(const modTally::Reply& reply) {
  std::vector<std::string> reasons;
  pugi::xml_document document;
  if (modTally::LoadXml(document, reply.text)) {
    for (const pugi::xpath_node& line : document.select_nodes("//LINEERROR")) {
      const std::string text = Trimmed(modTally::NodeText(line.node()));
      if (!text.empty()) {
        reasons.push_back(Shortened(text));
      }
    }
    if (reasons.empty() && IsMessageOnly(document)) {
      const std::string text = Trimmed(modTally::NodeText(document.document_element()));
      reasons.push_back(text.empty() ? "the server answered with an empty RESPONSE"
                                     : Shortened(text));
    }
    if (reasons.empty()) {
      for (const char* counter : {"ERRORS", "EXCEPTIONS"}) {
        const std::string query = std::string("//") + counter;
        if (CountAboveZero(document, query.c_str())) {
          const pugi::xml_node found = document.select_node(query.c_str()).node();
          reasons.push_back("the server counted " + Trimmed(modTally::NodeText(found)) + " " +
                            counter);
        }
      }
    }
  }
  std::string text;
  for (const std::string& reason : reasons) {
    text += (text.empty() ? "" : "; ") + reason;
  }
  if (reply.status >= 400) {
    text = "HTTP status " + std::to_string(reply.status) + (text.empty() ? "" : ": " + text);
  }
  return text.empty() ? std::string("the server rejected the request") : text;
}

}  // namespace lirvo::transfer
