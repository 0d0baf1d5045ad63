// Export replies: the one judgement every reader of the server's exports goes through, and the
// export requests the client builds.
#include "lirvo/export_reply.h"

#include <string.h>

#include <initializer_list>
#include <utility>

#include "lirvo/text.h"

namespace modTally {

namespace {

using lirvo::text::EqualsNoCase;
using lirvo::text::FoldCase;
using lirvo::text::Trim;

std::string JoinLines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (const std::string_view line : lines) {
    text.append(line).append("\r\n");
  }
  return text;
}

// The value of the reply header `name` ("" when absent).
std::string_view HeaderValue(std::string_view headers, std::string_view name) {
  while (!headers.empty()) {
    const std::size_t end = headers.find('\n');
    const std::string_view line = headers.substr(0, end);
    headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 1);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualsNoCase(Trim(line.substr(0, colon)), name)) {
      return Trim(line.substr(colon + 1));
    }
  }
  return {};
}

// The first element named `name` in document order; the walk is iterative, so any depth is safe.
pugi::xml_node FirstElement(const pugi::xml_node& root, std::string_view name) {
  return root.find_node([name](const pugi::xml_node& node) {
    return node.type() == pugi::node_element && name == node.name();
  });
}

// FirstElement of a document parsed from `text`, which is searched first: an element named `name`
// shows in the text as "<name", so a text without it spares the walk over the whole tree. A reply
// of thousands of vouchers is megabytes: a search that stops at every '<' took a tenth of a
// re-run's instructions, and the C library's memmem is six times as fast as std::search with a
// Boyer-Moore-Horspool searcher (30 MB of vouchers: 1.9 ms against 11 ms).
pugi::xml_node FirstElementOf(std::string_view text, const pugi::xml_node& root,
                              std::string_view name) {
  const std::string opening = "<" + std::string(name);
  if (memmem(text.data(), text.size(), opening.data(), opening.size()) == nullptr) {
    return {};
  }
  return FirstElement(root, name);
}

bool HasElementChild(const pugi::xml_node& node) {
  for (const pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_element) {
      return true;
    }
  }
  return false;
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

}  // namespace

std::string ListOfAccountsRequest(std::string_view type,
                                  const std::optional<std::string>& company) {
  std::string text = JoinLines({
      "<ENVELOPE>",
      "<HEADER>",
      "<TALLYREQUEST> Export Data </TALLYREQUEST>",
      "</HEADER>",
      "<BODY>",
      "<EXPORTDATA>",
      "<REQUESTDESC>",
      "<REPORTNAME>List of Accounts</REPORTNAME>",
      "<STATICVARIABLES>",
  });
  if (company) {
    text += CompanyVariable(*company) + "\r\n";
  }
  text += JoinLines({"<SVEXPORTFORMAT> $$SysName:XML </SVEXPORTFORMAT>"});
  text += "<ACCOUNTTYPE>" + EscapeXml(type) + "</ACCOUNTTYPE>\r\n";
  text += JoinLines({
      "</STATICVARIABLES>",
      "</REQUESTDESC>",
      "</EXPORTDATA>",
      "</BODY>",
      "</ENVELOPE>",
  });
  return text;
}

std::string CompanyCollectionRequest() {
  return "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST>"
         "<TYPE>Collection</TYPE><ID>LirvoCompanies</ID></HEADER><BODY><DESC><STATICVARIABLES>"
         "<SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT></STATICVARIABLES><TDL><TDLMESSAGE>"
         "<COLLECTION NAME=\"LirvoCompanies\" ISMODIFY=\"No\"><TYPE>Company</TYPE>"
         "<FETCH>Name</FETCH></COLLECTION></TDLMESSAGE></TDL></DESC></BODY></ENVELOPE>";
}

std::string ReplyExcerpt(std::string_view text) {
  constexpr std::size_t kLongest = 200;
  text = Trim(text);
  const bool cut = text.size() > kLongest;
  std::size_t end = cut ? kLongest : text.size();
  // Never end inside a UTF-8 sequence: back up over continuation bytes.
  while (cut && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  std::string excerpt;
  excerpt.reserve(end + 3);
  bool blank = false;
  for (const char c : text.substr(0, end)) {
    const bool is_blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (!is_blank || !blank) {
      excerpt += is_blank ? ' ' : c;
    }
    blank = is_blank;
  }
  return cut ? excerpt + "..." : excerpt;
}

std::optional<std::string> LoadServerXml(pugi::xml_document& document, const Reply& reply) {
  document.reset();
  const std::string_view body = Trim(reply.text);
  if (body.empty()) {
    return "an empty reply";
  }
  const std::string html = "an HTML page (" + Quoted(ReplyExcerpt(body)) + ")";
  const std::string start = FoldCase(body.substr(0, 14));
  if (FoldCase(HeaderValue(reply.headers, "Content-Type")).find("text/html") != std::string::npos ||
      start.starts_with("<!doctype html") || start.starts_with("<html")) {
    return html;
  }
  if (!LoadXml(document, reply.text)) {
    return "text that is not well-formed XML (" + std::to_string(reply.text.size()) +
           " bytes, cut short or malformed: " + Quoted(ReplyExcerpt(body)) + ")";
  }
  if (EqualsNoCase(document.document_element().name(), "html")) {
    document.reset();
    return html;
  }
  return std::nullopt;
}

pugi::xml_node ReadExportReply(pugi::xml_document& document, const Reply& reply,
                               const ExportCheck& check) {
  const auto fail = [&check](int number, const std::string& why) {
    return Failure(number, check.what + ": " + why);
  };
  if (reply.status < 200 || reply.status >= 300) {
    const std::string said = ReplyExcerpt(reply.text);
    throw Failure(FailureKind::Http, FailureNumber::kHttpStatus,
                  check.what + ": the server answered HTTP status " + std::to_string(reply.status) +
                      (said.empty() ? std::string() : " (" + Quoted(said) + ")"),
                  {FailureCause::From::kHttpStatus, reply.status});
  }
  if (const std::optional<std::string> instead = LoadServerXml(document, reply)) {
    throw fail(FailureNumber::kDocument, "the reply is " + *instead + ", not an export");
  }
  if (const pugi::xml_node error = FirstElementOf(reply.text, document, "LINEERROR")) {
    const std::string words = ReplyExcerpt(NodeText(error));
    constexpr std::string_view kUnknownCompany = "Could not set 'SVCurrentCompany'";
    throw fail(FailureNumber::kDocument,
               "the server says: " + words +
                   (EqualsNoCase(std::string_view(words).substr(0, kUnknownCompany.size()),
                                 kUnknownCompany)
                        ? " (no open company there has that name; `lirvo companies` lists the "
                          "open ones)"
                        : ""));
  }
  const pugi::xml_node root = document.document_element();
  if (std::string_view(root.name()) != "ENVELOPE") {
    const std::string message = ReplyExcerpt(NodeText(root));
    if (std::string_view(root.name()) == "RESPONSE" && !message.empty()) {
      throw fail(FailureNumber::kDocument,
                 "the server answered " + Quoted(message) + " (a RESPONSE, not an export)");
    }
    throw fail(FailureNumber::kDocument, "the reply is a " + std::string(root.name()) +
                                             ", not an ENVELOPE (" +
                                             Quoted(ReplyExcerpt(reply.text)) + ")");
  }
  const pugi::xml_node status = root.child("HEADER").child("STATUS");
  if (status && Trim(NodeText(status)) != "1") {
    const std::string data = ReplyExcerpt(NodeText(root.child("BODY")));
    throw fail(FailureNumber::kDocument, "the reply's STATUS is " +
                                             std::string(Trim(NodeText(status))) + ", not 1" +
                                             (data.empty() ? std::string() : ": " + data));
  }
  if (!HasElementChild(root) && !check.empty_envelope_is_answer) {
    throw fail(FailureNumber::kDocument, "the reply is an ENVELOPE with nothing in it (" +
                                             Quoted(ReplyExcerpt(reply.text)) + ")");
  }
  if (!Trim(check.company).empty()) {
    if (const pugi::xml_node named = FirstElementOf(reply.text, root, "SVCURRENTCOMPANY")) {
      const std::string company = NodeText(named);
      if (!EqualsNoCase(Trim(company), Trim(check.company))) {
        throw fail(FailureNumber::kDocument, "the reply is for the company " +
                                                 Quoted(Trim(company)) + ", not " +
                                                 Quoted(Trim(check.company)));
      }
    }
  }
  return root;
}

std::string CurrentCompanyOf(const Reply& reply, const std::string& url) {
  pugi::xml_document document;
  // A server with no company loaded may well answer with an empty ENVELOPE: it names none.
  const pugi::xml_node root = ReadExportReply(
      document, reply, {"cannot read the current company from " + ShownUrl(url), {}, true});
  const pugi::xml_node company = FirstElement(root, "SVCURRENTCOMPANY");
  return company ? NodeText(company) : std::string();
}

std::vector<std::string> CompanyNamesOf(const Reply& reply, const std::string& url) {
  pugi::xml_document document;
  const std::string what = "cannot read the list of companies from " + ShownUrl(url);
  const pugi::xml_node root = ReadExportReply(document, reply, {what, {}, false});
  std::vector<std::string> names;
  for (const pugi::xpath_node& selected : root.select_nodes(".//COMPANYNAME")) {
    names.push_back(NodeText(selected.node()));
  }
  if (names.empty() && !FirstElement(root, "COMPANYNAME.LIST")) {
    throw Failure(FailureNumber::kDocument, what + ": the reply holds no COMPANYNAME list (" +
                                                Quoted(ReplyExcerpt(reply.text)) + ")");
  }
  return names;
}

std::vector<std::string> CompanyCollectionNamesOf(const Reply& reply, const std::string& url) {
  pugi::xml_document document;
  const std::string what = "cannot read the Company collection from " + ShownUrl(url);
  const pugi::xml_node root = ReadExportReply(document, reply, {what, {}, false});
  // Only the objects of a COLLECTION are companies: the CMPINFO the server puts in DESC counts
  // them in an element that is also named COMPANY.
  const pugi::xpath_node_set collections = root.select_nodes(".//COLLECTION[not(ancestor::DESC)]");
  if (collections.empty()) {
    throw Failure(FailureNumber::kDocument, what + ": the reply holds no COLLECTION (" +
                                                Quoted(ReplyExcerpt(reply.text)) + ")");
  }
  std::vector<std::string> names;
  for (const pugi::xpath_node& collection : collections) {
    for (const pugi::xml_node company : collection.node().children("COMPANY")) {
      std::string name(Trim(company.attribute("NAME").value()));
      if (name.empty()) {
        name = std::string(Trim(NodeText(company.child("NAME"))));
      }
      if (!name.empty()) {
        names.push_back(std::move(name));
      }
    }
  }
  return names;
}

}  // namespace modTally
