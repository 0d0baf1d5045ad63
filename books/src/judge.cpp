// Judging an import reply. The server answers 200 whatever happened, counts per object, and its
// counters can lie, so a reply is taken as success only when it is an import response whose
// counters account for every object sent and that reports no error, ignored or cancelled object;
// anything else is a rejection the server stated, or no import reply at all.
#include <optional>
#include <string_view>
#include <vector>

#include <lirvo/books/judge.h>
#include <lirvo/books/sales.h>
#include <lirvo/text.h>

namespace lirvo::books {

namespace {

std::string Shortened(std::string_view text) {
  constexpr std::size_t kLongest = 300;
  return text.size() > kLongest ? std::string(text.substr(0, kLongest)) + "..." : std::string(text);
}

// The number a counter holds; `unreadable` when it holds none that can be read. A count of what
// went wrong reads as above zero then, a count of what was done as nothing.
double Count(const pugi::xml_node& node, double unreadable = 1) {
  try {
    return ReadNumber(modTally::NodeText(node));
  } catch (const modTally::Failure&) {
    return unreadable;
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

// The sum of the counters `name` directly under `holder`, each read as Count does.
double Sum(const pugi::xml_node& holder, const char* name, double unreadable) {
  double sum = 0;
  for (const pugi::xml_node found : holder.children(name)) {
    sum += Count(found, unreadable);
  }
  return sum;
}

std::string Number(double value) {
  return value >= 0 && value < 1e15 ? std::to_string(static_cast<long long>(value))
                                    : std::string("many");
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    text += (text.empty() ? "" : "; ") + part;
  }
  return text;
}

// The message a RESPONSE root or a versioned DATA holds in place of counters, and an ENVELOPE
// whose HEADER/STATUS is 0 (the versioned form of a refusal): empty when there is neither.
std::string StatedInstead(const pugi::xml_document& document, const pugi::xml_node& holder) {
  const pugi::xml_node root = document.document_element();
  const bool has_children = holder.find_child(
      [](const pugi::xml_node& child) { return child.type() == pugi::node_element; });
  if (!has_children) {
    const std::string whole = modTally::NodeText(holder);
    const std::string_view text = text::Trim(whole);
    if (std::string_view(holder.name()) == "RESPONSE") {
      return text.empty() ? "the server answered with an empty RESPONSE" : Shortened(text);
    }
    if (!text.empty()) {
      return Shortened(text);
    }
  }
  const pugi::xml_node status = root.child("HEADER").child("STATUS");
  if (status && text::Trim(modTally::NodeText(status)) == "0") {
    return "the server answered STATUS 0";
  }
  return {};
}

// Why the counters do not show every object sent in the books; empty when they do.
std::string Unaccounted(const pugi::xml_node& holder, const std::optional<SentObjects>& sent) {
  const double ignored = Sum(holder, "IGNORED", 1);
  const double cancelled = Sum(holder, "CANCELLED", 1);
  const double created = Sum(holder, "CREATED", 0);
  const double altered = Sum(holder, "ALTERED", 0);
  const double combined = Sum(holder, "COMBINED", 0);
  const double deleted = Sum(holder, "DELETED", 0);
  const long objects = sent ? sent->objects : 0;
  const std::string of = sent ? " of the " + std::to_string(objects) +
                                    (objects == 1 ? " object sent" : " objects sent")
                              : "";
  std::vector<std::string> reasons;
  if (ignored > 0) {
    const bool one = sent && objects == 1 && !sent->only.empty();
    if (one && !sent->only.starts_with("voucher")) {
      reasons.push_back("the server says it already holds " + sent->only +
                        " and left it alone (IGNORED 1), so it is not as sent");
    } else {
      reasons.push_back("the server ignored " + (one ? sent->only : Number(ignored) + of) +
                        " (IGNORED " + Number(ignored) + "): not in the books as sent");
    }
  }
  if (cancelled > 0) {
    reasons.push_back("the server cancelled " + Number(cancelled) + of + " (CANCELLED)");
  }
  if (!reasons.empty()) {
    return Joined(reasons);
  }
  // A deletion is accounted for by DELETED; DELETED means nothing for a request that deletes
  // nothing. Unconfirmed: which counter the real server raises for a Delete.
  const bool deletes = !sent || sent->deletions > 0;
  const double accounted = created + altered + combined + (deletes ? deleted : 0);
  const bool short_of = sent ? accounted < static_cast<double>(objects) : !(accounted > 0);
  if (!short_of) {
    return {};
  }
  std::string counts = "CREATED " + Number(created) + ", ALTERED " + Number(altered) +
                       ", COMBINED " + Number(combined);
  if (deletes) {
    counts += ", DELETED " + Number(deleted);
  }
  if (!sent) {
    return "the server's counters account for none of the objects sent (" + counts +
           "), with no error";
  }
  return "the server's counters account for " + Number(accounted) + of + " (" + counts +
         "): the rest are not in the books";
}

ImportVerdict Judge(const modTally::Reply& reply, const std::optional<SentObjects>& sent) {
  using Outcome = ImportOutcome;
  pugi::xml_document document;
  const std::string not_import = NotImport(reply.text, document);
  const std::vector<std::string> errors =
      not_import.empty() ? Errors(document) : std::vector<std::string>();
  if (reply.status >= 400) {
    // The real server answers 200 whatever happened: an error status comes from something else
    // (a proxy, a stand-in that refuses the whole request), never from a row of the request.
    std::string detail = not_import.empty() ? Joined(errors) : not_import;
    if (detail.empty()) {
      detail = StatedInstead(document, CounterHolder(document));
    }
    return {Outcome::kNotImportReply,
            "HTTP status " + std::to_string(reply.status) + (detail.empty() ? "" : ": " + detail)};
  }
  if (reply.status < 200 || reply.status >= 300) {
    std::string what = "HTTP " + std::to_string(reply.status);
    const std::string location = Header(reply.headers, "Location");
    if (!location.empty()) {
      what += " to " + Shortened(location);
    }
    return {Outcome::kNotImportReply,
            std::string(kNotImport) + what + (not_import.empty() ? "" : ", " + not_import)};
  }
  if (!not_import.empty()) {
    return {Outcome::kNotImportReply, std::string(kNotImport) + not_import};
  }
  if (!errors.empty()) {
    return {Outcome::kRejected, Joined(errors)};
  }
  const pugi::xml_node holder = CounterHolder(document);
  if (std::string instead = StatedInstead(document, holder); !instead.empty()) {
    return {Outcome::kRejected, std::move(instead)};
  }
  if (std::string missing = Unaccounted(holder, sent); !missing.empty()) {
    return {Outcome::kRejected, std::move(missing)};
  }
  return {Outcome::kAccepted, {}, Sum(holder, "CREATED", 0)};
}

// What an object is called in messages: its element name in words and its name.
std::string Describe(const pugi::xml_node& object) {
  std::string kind = text::FoldCase(object.name());
  if (kind == "stockitem" || kind == "stockgroup") {
    kind.insert(5, " ");
  }
  std::string name = object.attribute("NAME").value();
  if (name.empty()) {
    name = modTally::NodeText(object.child("NAME.LIST").child("NAME"));
  }
  if (name.empty()) {
    name = modTally::NodeText(object.child("NAME"));
  }
  if (name.empty()) {
    name = object.attribute("REMOTEID").value();
  }
  return name.empty() ? kind : kind + " \"" + name + "\"";
}

}  // namespace

SentObjects CountSentObjects(std::string_view request) {
  SentObjects sent;
  pugi::xml_document document;
  if (!modTally::LoadXml(document, request)) {
    return sent;
  }
  for (const pugi::xpath_node& message : document.select_nodes("//TALLYMESSAGE")) {
    for (const pugi::xml_node object : message.node().children()) {
      if (object.type() != pugi::node_element) {
        continue;
      }
      if (++sent.objects == 1) {
        sent.only = Describe(object);
      }
      sent.deletions += text::EqualsNoCase(object.attribute("ACTION").value(), "Delete") ? 1 : 0;
    }
  }
  if (sent.objects != 1) {
    sent.only.clear();
  }
  return sent;
}

ImportVerdict JudgeImport(const modTally::Reply& reply, const std::optional<SentObjects>& sent) {
  return Judge(reply, sent);
}

bool IsRejection(const modTally::Reply& reply) {
  return Judge(reply, std::nullopt).outcome != ImportOutcome::kAccepted;
}

std::string RejectionText(const modTally::Reply& reply) {
  return Judge(reply, std::nullopt).reason;
}

double CreatedCount(const modTally::Reply& reply) {
  return Judge(reply, std::nullopt).created;
}

}  // namespace lirvo::books
