// Judging an import reply. The server answers 200 whatever happened and its counters can lie, so
// a reply is taken as success only when it is an import response that counts something done and
// reports no error; anything else is a rejection with a reason that says what came back.
#include <string_view>
#include <vector>

#include <lirvo/judge.h>
#include <lirvo/text.h>
#include <lirvo/transfer.h>

namespace lirvo::transfer {

namespace {

std::string Shortened(std::string_view text) {
  constexpr std::size_t kLongest = 300;
  return text.size() > kLongest ? std::string(text.substr(0, kLongest)) + "..." : std::string(text);
}

double Count(const pugi::xml_node& node) {
  try {
    return ReadNumber(modTally::NodeText(node));
  } catch (const modTally::Failure&) {
    return 1;  // a count too large to read is still above zero
  }
}

// The value of the reply header `name` ("" when absent).
std::string Header(const std::string& headers, std::string_view name) {
  std::string_view rest = headers;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && text::EqualsNoCase(line.substr(0, colon), name)) {
      return std::string(text::Trim(line.substr(colon + 1)));
    }
  }
  return {};
}

struct Verdict {
  bool rejected = false;
  std::string reason;
  double created = 0;
};

constexpr std::string_view kNotImport = "the server's reply is not an import response: ";

// The element that holds an import's counters: a RESPONSE root, or in the versioned envelope
// ENVELOPE/BODY/DATA (or the IMPORTRESULT inside it). Null when the document has neither.
pugi::xml_node CounterHolder(const pugi::xml_document& document) {
  const pugi::xml_node root = document.document_element();
  if (std::string_view(root.name()) == "RESPONSE") {
    return root;
  }
  if (std::string_view(root.name()) != "ENVELOPE") {
    return {};
  }
  const pugi::xml_node data = root.child("BODY").child("DATA");
  const pugi::xml_node result = data.child("IMPORTRESULT");
  return result ? result : data;
}

// What the body is when it is not an import response ("empty body", "an HTML page", ...); empty
// when it is one. `document` receives the body.
std::string NotImport(const std::string& body, pugi::xml_document& document) {
  const std::string_view trimmed = text::Trim(body);
  if (trimmed.empty()) {
    return "empty body";
  }
  const std::string start = text::FoldCase(trimmed.substr(0, 14));
  if (start.starts_with("<!doctype html") || start.starts_with("<html")) {
    return "an HTML page";
  }
  if (!modTally::LoadXml(document, body)) {
    return "not XML (\"" + Shortened(trimmed.substr(0, 60)) + "\")";
  }
  if (!CounterHolder(document)) {
    return std::string("an XML document whose root is <") + document.document_element().name() +
           ">";
  }
  return {};
}

// The reasons an import response gives for rejecting something; empty when it gives none.
std::vector<std::string> Errors(const pugi::xml_document& document) {
  std::vector<std::string> reasons;
  for (const pugi::xpath_node& line : document.select_nodes("//LINEERROR")) {
    const std::string whole = modTally::NodeText(line.node());
    const std::string_view text = text::Trim(whole);
    reasons.push_back(text.empty() ? "an empty LINEERROR" : Shortened(text));
  }
  const pugi::xml_node root = document.document_element();
  if (reasons.empty() && std::string_view(root.name()) == "RESPONSE" &&
      !root.find_child(
          [](const pugi::xml_node& child) { return child.type() == pugi::node_element; })) {
    const std::string whole = modTally::NodeText(root);
    const std::string_view text = text::Trim(whole);
    reasons.push_back(text.empty() ? "the server answered with an empty RESPONSE"
                                   : Shortened(text));
  }
  if (reasons.empty()) {
    for (const char* counter : {"ERRORS", "EXCEPTIONS"}) {
      for (const pugi::xpath_node& found :
           document.select_nodes((std::string("//") + counter).c_str())) {
        if (Count(found.node()) > 0) {
          const std::string count = modTally::NodeText(found.node());
          reasons.push_back("the server counted " + std::string(text::Trim(count)) + " " + counter);
          break;
        }
      }
    }
  }
  return reasons;
}

bool CountsSomethingDone(const pugi::xml_node& holder) {
  for (const char* counter :
       {"CREATED", "ALTERED", "DELETED", "COMBINED", "IGNORED", "CANCELLED"}) {
    for (const pugi::xml_node found : holder.children(counter)) {
      if (Count(found) > 0) {
        return true;
      }
    }
  }
  return false;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    text += (text.empty() ? "" : "; ") + part;
  }
  return text;
}

Verdict Judge(const modTally::Reply& reply) {
  pugi::xml_document document;
  const std::string not_import = NotImport(reply.text, document);
  const std::vector<std::string> errors =
      not_import.empty() ? Errors(document) : std::vector<std::string>();
  if (reply.status >= 400) {
    const std::string detail = not_import.empty() ? Joined(errors) : not_import;
    return {true,
            "HTTP status " + std::to_string(reply.status) + (detail.empty() ? "" : ": " + detail)};
  }
  if (reply.status < 200 || reply.status >= 300) {
    std::string what = "HTTP " + std::to_string(reply.status);
    const std::string location = Header(reply.headers, "Location");
    if (!location.empty()) {
      what += " to " + Shortened(location);
    }
    return {true, std::string(kNotImport) + what + (not_import.empty() ? "" : ", " + not_import)};
  }
  if (!not_import.empty()) {
    return {true, std::string(kNotImport) + not_import};
  }
  if (!errors.empty()) {
    return {true, Joined(errors)};
  }
  const pugi::xml_node holder = CounterHolder(document);
  if (!CountsSomethingDone(holder)) {
    const std::string name = holder.name();
    const bool vowel = std::string_view("AEIOU").find(name.front()) != std::string_view::npos;
    return {true, std::string(kNotImport) + (vowel ? "an " : "a ") + name +
                      " whose counters are all zero, with no error"};
  }
  Verdict accepted;
  for (const pugi::xml_node found : holder.children("CREATED")) {
    accepted.created += Count(found);
  }
  return accepted;
}

}  // namespace

bool IsRejection(const modTally::Reply& reply) {
  return Judge(reply).rejected;
}

std::string RejectionText(const modTally::Reply& reply) {
  return Judge(reply).reason;
}

double CreatedCount(const modTally::Reply& reply) {
  return Judge(reply).created;
}

}  // namespace lirvo::transfer
