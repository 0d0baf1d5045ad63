// Sending a request: load it, lay it out one element per line, post it; and reading what an
// import reply says about rejected data.
#include <limits>

#include <lirvo/transfer.h>

namespace lirvo::demo {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

bool IsText(const pugi::xml_node& node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

void Check(const pugi::xml_node& inserted) {
  if (!inserted) {
    throw Failure(FailureNumber::kDocument, "cannot lay out the request: a node cannot be added");
  }
}

pugi::xml_node NewText(pugi::xml_node inserted, const std::string& text) {
  Check(inserted);
  if (!inserted.set_value(text.c_str())) {
    throw Failure(FailureNumber::kDocument, "cannot lay out the request: a text cannot be set");
  }
  return inserted;
}

const std::string kLineBreak = "\r\n";

int ChildDepth(int depth) {
  if (depth > std::numeric_limits<std::int16_t>::max() - 2) {
    throw Failure(FailureNumber::kDepth,
                  "the request nests elements too deeply to be laid out (more than " +
                      std::to_string(std::numeric_limits<std::int16_t>::max() / 2) +
                      " levels); nothing was sent");
  }
  return depth + 2;
}

// The node's own indentation and the line break after it, once its children are laid out.
void Close(pugi::xml_node node, int depth, bool only_text) {
  if (depth <= 0) {
    return;
  }
  pugi::xml_node parent = node.parent();
  const std::string blanks(static_cast<std::size_t>(depth), ' ');
  NewText(parent.insert_child_before(pugi::node_pcdata, node), blanks);
  if (!only_text) {
    NewText(node.append_child(pugi::node_pcdata), blanks);
  }
  const pugi::xml_node next = node.next_sibling();
  if (next) {
    NewText(parent.insert_child_before(pugi::node_pcdata, next), kLineBreak);
  } else {
    NewText(parent.append_child(pugi::node_pcdata), kLineBreak);
  }
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

// The walk keeps its own stack rather than recursing, so a deeply nested request cannot exhaust
// the thread's stack before the depth limit is reached. Children are visited by following the
// sibling chain, so the line breaks inserted on the way are reached too and left alone.
void IndentNode(pugi::xml_node node, std::int16_t depth) {
  struct Frame {
    pugi::xml_node node;
    int depth;
    bool only_text;
    pugi::xml_node next;  // the child to visit next
  };
  std::vector<Frame> stack;
  const auto enter = [&stack](pugi::xml_node entered, int entered_depth) {
    if (IsText(entered)) {
      return;
    }
    bool only_text = true;
    for (const pugi::xml_node child : entered.children()) {
      if (!IsText(child)) {
        only_text = false;
        break;
      }
    }
    if (!entered.first_child()) {
      Close(entered, entered_depth, only_text);
      return;
    }
    if (!only_text) {
      NewText(entered.insert_child_before(pugi::node_pcdata, entered.first_child()), kLineBreak);
    }
    stack.push_back({entered, entered_depth, only_text, entered.first_child()});
  };

  enter(node, depth);
  while (!stack.empty()) {
    if (!stack.back().next) {
      const Frame done = stack.back();
      stack.pop_back();
      Close(done.node, done.depth, done.only_text);
      if (!stack.empty()) {
        stack.back().next = done.node.next_sibling();
      }
      continue;
    }
    const pugi::xml_node child = stack.back().next;
    const int child_depth = ChildDepth(stack.back().depth);
    const std::size_t frames = stack.size();
    enter(child, child_depth);
    if (stack.size() == frames) {
      stack.back().next = child.next_sibling();
    }
  }
}

void FormatXml(pugi::xml_document& document) {
  const pugi::xml_node root = document.document_element();
  if (!root) {
    throw Failure(FailureNumber::kDocument, "cannot lay out the request: it has no root element");
  }
  IndentNode(root, 0);
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
  FormatXml(document);
  return modTally::Exchange(modTally::TallyUrl, document);
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

}  // namespace lirvo::demo
