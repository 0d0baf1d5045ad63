// Sending a request: load it, lay it out one element per line in one pass, post it.
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include <lirvo/books/send.h>

namespace lirvo::books {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

bool IsText(const pugi::xml_node& node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// The deepest level an element may sit at (the root element is level 1). Real requests nest about
// a dozen levels; the indentation of a line grows with its level, so a bound on the level keeps the
// laid-out text within about fifty times the size of the request whatever its shape.
constexpr int kMaxLevels = 100;

// How many levels deep the elements of `document` nest (the root element alone is 1). The walk
// keeps its own list, so no nesting can exhaust the stack.
int Levels(const pugi::xml_document& document) {
  int deepest = 0;
  std::vector<std::pair<pugi::xml_node, int>> pending{{document.document_element(), 1}};
  while (!pending.empty()) {
    const auto [node, level] = pending.back();
    pending.pop_back();
    deepest = std::max(deepest, level);
    for (const pugi::xml_node child : node.children()) {
      if (child.type() == pugi::node_element) {
        pending.emplace_back(child, level + 1);
      }
    }
  }
  return deepest;
}

[[noreturn]] void TooDeep(const pugi::xml_document& document) {
  throw Failure(FailureNumber::kDepth, "the request nests " + std::to_string(Levels(document)) +
                                           " levels deep; at most " + std::to_string(kMaxLevels) +
                                           " are sent, so nothing was sent");
}

// A name as the document writer writes it: one a caller left empty as ":anonymous".
std::string_view Named(const char* name) {
  return *name != '\0' ? std::string_view(name) : std::string_view(":anonymous");
}

// Appends what pugixml's writer writes for `node`, unformatted.
class AppendingWriter : public pugi::xml_writer {
 public:
  explicit AppendingWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

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

// The laid-out text of `document`, written in one pass without changing the document. Every
// pugixml accessor is a call into the library, so each node's type, name and children are asked
// for once. Nodes beside the root element, and below it anything but elements and text (comments,
// processing instructions, elements with a value of their own, which only a caller building a
// document can make), are written as the document writer writes them, unchanged inside but laid
// out like a leaf.
// Long: one pass over the tree with its own stack, which split would have to be handed around.
std::string WriteLaidOut(const pugi::xml_document& document) {
  const pugi::xml_node root = document.document_element();
  if (!root) {
    throw Failure(FailureNumber::kDocument, "cannot lay out the request: it has no root element");
  }
  struct Frame {
    std::string_view name;
    int depth;
    pugi::xml_node next;  // the child to write next
    bool line_break;      // whether the whitespace before it starts with a line break
  };
  std::vector<Frame> stack;
  std::string out;
  Whitespace whitespace;
  AppendingWriter writer(out);

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
      return;
    }
    if (depth > 2 * (kMaxLevels - 1)) {
      TooDeep(document);
    }
    if (type != pugi::node_element || *node.value() != '\0') {
      node.print(writer, "", pugi::format_raw);
      return;
    }
    const std::string_view name = Named(node.name());
    out.append("<").append(name);
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
      out.append(" ").append(Named(attribute.name())).append("=\"");
      AppendEscaped(out, attribute.value(), kInAttribute);
      out.append("\"");
    }
    const pugi::xml_node first = node.first_child();
    if (!first) {
      out.append("/>");
      return;
    }
    out.append(">");
    // Most elements hold one text and nothing else: written at once.
    const pugi::xml_node_type first_type = first.type();
    if ((first_type == pugi::node_pcdata || first_type == pugi::node_cdata) &&
        !first.next_sibling()) {
      text(first, first_type);
      out.append("</").append(name).append(">");
      return;
    }
    for (pugi::xml_node child = first; child; child = child.next_sibling()) {
      if (!IsText(child)) {
        stack.push_back({name, depth, first, true});
        return;
      }
    }
    for (pugi::xml_node child = first; child; child = child.next_sibling()) {
      text(child, child.type());
    }
    out.append("</").append(name).append(">");
  };

  for (pugi::xml_node top = document.first_child(); top; top = top.next_sibling()) {
    if (top != root) {
      top.print(writer, "", pugi::format_raw);
      continue;
    }
    open(root, root.type(), 0);
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
      const int child_depth = frame.depth + 2;
      const bool indented = type != pugi::node_pcdata && type != pugi::node_cdata;
      out.append(whitespace.Get(frame.line_break, indented ? child_depth : 0));
      frame.line_break = indented;
      open(child, type, child_depth);  // may grow the stack: `frame` is not used after
    }
  }
  return out;
}

}  // namespace

std::string LaidOutXml(const pugi::xml_document& document) {
  return WriteLaidOut(document);
}

modTally::Reply SendRequest(const modTally::Server& server, const std::string& request) {
  if (server.url.empty()) {
    throw Failure(FailureNumber::kHttpClient,
                  "cannot send the request: no server address is given");
  }
  if (server.Cancelled()) {
    // The number an exchange cancelled in hand carries: libcurl's CURLE_ABORTED_BY_CALLBACK.
    constexpr int kAbortedByCallback = 42;
    throw Failure(modTally::FailureKind::Cancelled, kAbortedByCallback,
                  "the request for " + modTally::ShownUrl(server.url) +
                      " was cancelled before it was sent; nothing was sent");
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
  return modTally::Exchange(server, std::optional<std::string_view>(body), server.Import());
}

modTally::Reply SendRequest(const std::string& request) {
  if (modTally::TallyUrl.empty()) {
    throw Failure(FailureNumber::kHttpClient,
                  "cannot send the request: no server address is set (TallyUrl is empty)");
  }
  return SendRequest(modTally::Server::At(modTally::TallyUrl), request);
}

std::string SendToTally(const std::string& request) {
  return SendRequest(request).text;
}

}  // namespace lirvo::books
