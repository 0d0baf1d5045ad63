// The import envelope, the element operations and the document helpers over pugixml.
#include <algorithm>
#include <array>

#include "lirvo/modTally.h"

namespace modTally {

bool LoadXml(pugi::xml_document& document, std::string_view text) {
  // Texts are UTF-8 throughout (replies are decoded on arrival): pugixml is not left to guess from
  // a declaration, which may still name the encoding the text arrived in.
  const pugi::xml_parse_result result =
      document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  // pugixml accepts several top-level elements; a well-formed document has exactly one.
  const auto elements = document.children();
  const auto roots = std::count_if(elements.begin(), elements.end(), [](const pugi::xml_node& n) {
    return n.type() == pugi::node_element;
  });
  if (!result || roots != 1) {
    // pugixml keeps what it parsed before the error; the system expects nothing at all.
    document.reset();
    return false;
  }
  return true;
}

namespace {

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

}  // namespace

std::string DocumentXml(const pugi::xml_document& document) {
  std::string text;
  StringWriter writer(text);
  document.save(writer, "", pugi::format_raw | pugi::format_no_declaration);
  return text;
}

std::string NodeXml(const pugi::xml_node& node) {
  std::string text;
  StringWriter writer(text);
  node.print(writer, "", pugi::format_raw);
  return text;
}

std::string NodeText(const pugi::xml_node& node) {
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
    return node.value();
  }
  std::string text;
  // Iterative walk in document order: a hostile reply may nest deeper than the stack allows.
  pugi::xml_node current = node.first_child();
  while (current && current != node) {
    if (current.type() == pugi::node_pcdata || current.type() == pugi::node_cdata) {
      text += current.value();
    }
    if (current.first_child()) {
      current = current.first_child();
      continue;
    }
    while (current && current != node && !current.next_sibling()) {
      current = current.parent();
    }
    if (current && current != node) {
      current = current.next_sibling();
    }
  }
  return text;
}

namespace {

// The character reference that stands for `c` in XML text: the markup characters and quotes, and
// with `line_breaks` line breaks and tabs; empty for any other character.
std::string_view Reference(char c, bool line_breaks) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    case '\r':
      return line_breaks ? "&#13;" : "";
    case '\n':
      return line_breaks ? "&#10;" : "";
    case '\t':
      return line_breaks ? "&#9;" : "";
    default:
      return {};
  }
}

// Appends `text` with each character that has a reference replaced by it; the runs between go in
// whole, so a value with nothing to replace is one append.
void AppendEscaped(std::string& out, std::string_view text, bool line_breaks) {
  // Which bytes may have a reference: a table, so that the bytes between, nearly all of them,
  // cost one look each.
  static constexpr std::array<bool, 256> kMaybe = [] {
    std::array<bool, 256> maybe{};
    for (const unsigned char c : {'&', '<', '>', '"', '\'', '\r', '\n', '\t'}) {
      maybe[c] = true;
    }
    return maybe;
  }();
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!kMaybe[static_cast<unsigned char>(text[i])]) {
      continue;
    }
    const std::string_view reference = Reference(text[i], line_breaks);
    if (!reference.empty()) {
      out.append(text.substr(run, i - run)).append(reference);
      run = i + 1;
    }
  }
  out.append(text.substr(run));
}

}  // namespace

std::string EscapeXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text, false);
  return out;
}

void AppendXmlText(std::string& out, std::string_view text) {
  AppendEscaped(out, text, true);
}

std::string CompanyVariable(std::string_view company) {
  std::string variable = "<SVCURRENTCOMPANY>";
  AppendXmlText(variable, company);
  variable += "</SVCURRENTCOMPANY>";
  return variable;
}

namespace {

// The import request up to <REQUESTDATA>, the request named `request`.
std::string ImportHead(std::string_view request, std::string_view company) {
  std::string head;
  head.reserve(240 + company.size());
  head.append("<ENVELOPE><HEADER><TALLYREQUEST>")
      .append(request)
      .append(
          "</TALLYREQUEST></HEADER><BODY><IMPORTDATA><REQUESTDESC>"
          "<REPORTNAME>All Masters</REPORTNAME><STATICVARIABLES>")
      .append(CompanyVariable(company))
      .append("</STATICVARIABLES></REQUESTDESC><REQUESTDATA>");
  return head;
}

}  // namespace

std::string ImportRequestHead(std::string_view company) {
  return ImportHead("Import Data", company);
}

std::string ImportEnvelopeText(const std::string& company) {
  const std::string markup = ImportHead(" Import Data ", company) + std::string(kImportRequestTail);
  // One element a line: a line ends after every tag that another tag follows, and at the end.
  std::string text;
  text.reserve(markup.size() + 40);
  for (std::size_t i = 0; i < markup.size(); ++i) {
    text += markup[i];
    if (markup[i] == '>' && (i + 1 == markup.size() || markup[i + 1] == '<')) {
      text += "\r\n";
    }
  }
  return text;
}

pugi::xml_document CreateImportEnvelope(const std::string& company) {
  pugi::xml_document document;
  // As with any load, a failure leaves the document empty; the builders then find no
  // REQUESTDATA and fail there.
  LoadXml(document, ImportEnvelopeText(company));
  return document;
}

namespace {

// The messages name the attribute or element concerned as `kind` "name"; they are only put
// together when there is something to report, since the builders call these for every element.
std::string Named(const char* kind, const std::string& name) {
  return std::string(kind) + " \"" + name + "\"";
}

void RequireNodeOf(const pugi::xml_document& document, const pugi::xml_node& node,
                   pugi::xml_node_type type, const char* kind, const std::string& name) {
  if (!node || node.type() != type || node.root() != document.root()) {
    throw Failure(FailureNumber::kDocument, "cannot add " + Named(kind, name) +
                                                ": the node to add it to is not in the request "
                                                "document");
  }
}

// A NUL byte cannot travel in XML; writing the value would silently cut it short there, and a
// shortened name may address another master.
void RequireNoNul(const std::string& name, const std::string& value, const char* kind) {
  if (name.find('\0') != std::string::npos || value.find('\0') != std::string::npos) {
    throw Failure(FailureNumber::kDocument,
                  "cannot write " + Named(kind, name) + ": its value holds a NUL character");
  }
}

}  // namespace

void AddAttribute(pugi::xml_document& document, pugi::xml_node element, const std::string& name,
                  const std::string& value) {
  RequireNodeOf(document, element, pugi::node_element, "attribute", name);
  RequireNoNul(name, value, "attribute");
  pugi::xml_attribute attribute = element.attribute(name.c_str());
  if (!attribute) {
    attribute = element.append_attribute(name.c_str());
  }
  if (!attribute || !attribute.set_value(value.c_str())) {
    throw Failure(FailureNumber::kDocument, "cannot set attribute \"" + name + "\"");
  }
}

pugi::xml_node AddElement(pugi::xml_document& document, pugi::xml_node parent,
                          const std::string& name, const std::string& text) {
  if (!parent || parent.root() != document.root() ||
      (parent.type() != pugi::node_element && parent.type() != pugi::node_document)) {
    throw Failure(FailureNumber::kDocument,
                  "cannot add element \"" + name + "\": its parent is not in the request document");
  }
  RequireNoNul(name, text, "element");
  pugi::xml_node element = parent.append_child(name.c_str());
  if (!element) {
    throw Failure(FailureNumber::kDocument, "cannot add element \"" + name + "\"");
  }
  if (!text.empty() && !element.text().set(text.c_str())) {
    throw Failure(FailureNumber::kDocument, "cannot set the text of element \"" + name + "\"");
  }
  return element;
}

pugi::xml_node AddElementIfValue(pugi::xml_document& document, pugi::xml_node parent,
                                 const std::string& name, const std::string& text) {
  if (text.empty()) {
    return {};
  }
  return AddElement(document, parent, name, text);
}

}  // namespace modTally
