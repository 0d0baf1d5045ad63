// The three read-only queries: the probe, the current company and the company list.
#include "lirvo/modTally.h"

namespace modTally {

namespace {

std::string JoinLines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (const std::string_view line : lines) {
    text.append(line).append("\r\n");
  }
  return text;
}

// Loads a reply; a reply that is not XML leaves the document empty, which the callers read as
// a reply without the element they look for.
pugi::xml_document LoadReply(std::string_view reply) {
  pugi::xml_document document;
  LoadXml(document, reply);
  return document;
}

// The first element named `name` anywhere in the document, in document order.
pugi::xml_node FirstElement(const pugi::xml_document& document, const char* name) {
  return document.find_node(
      [name](const pugi::xml_node& node) { return std::string_view(node.name()) == name; });
}

// The reason phrases of the statuses a misconfigured address commonly answers with.
std::string_view ReasonPhrase(long status) {
  switch (status) {
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "";
  }
}

// One query exchange under the query limits. A redirect or an HTTP error status is a failure:
// the server answers its queries with 200, so anything else is not the server's answer.
std::string QueryText(const std::string& url, const std::optional<std::string_view>& request) {
  const Reply reply = Exchange(url, request, QueryLimits());
  if (reply.status >= 300) {
    const std::string_view phrase = ReasonPhrase(reply.status);
    throw Failure(FailureNumber::kHttpStatus,
                  "the server at " + url + " answered HTTP " + std::to_string(reply.status) +
                      (phrase.empty() ? "" : " ") + std::string(phrase));
  }
  return reply.text;
}

template <class T, class Work>
QueryResult<T> Attempt(Work&& work) {
  QueryResult<T> result;
  try {
    result.value = work();
  } catch (const Failure& failure) {
    result.number = failure.number();
    result.kind = failure.kind();
    result.description = failure.description();
  } catch (const std::exception& error) {
    // Not a document operation: the query itself could not be carried out (memory, the system).
    result.number = FailureNumber::kHttpClient;
    result.kind = FailureKind::Transport;
    result.description = std::string("the query could not be carried out: ") + error.what();
  }
  return result;
}

}  // namespace

const std::string kListOfAccountsRequest = JoinLines({
    "<ENVELOPE>",
    "<HEADER>",
    "<TALLYREQUEST> Export Data </TALLYREQUEST>",
    "</HEADER>",
    "<BODY>",
    "<EXPORTDATA>",
    "<REQUESTDESC>",
    "<REPORTNAME>List of Accounts</REPORTNAME>",
    "<STATICVARIABLES>",
    "<SVEXPORTFORMAT> $$SysName:XML </SVEXPORTFORMAT>",
    "<ACCOUNTTYPE>Stock Items</ACCOUNTTYPE>",
    "</STATICVARIABLES>",
    "</REQUESTDESC>",
    "</EXPORTDATA>",
    "</BODY>",
    "</ENVELOPE>",
});

const std::string kListOfCompaniesRequest = JoinLines({
    "<ENVELOPE>",
    "<HEADER>",
    "<TALLYREQUEST>Export Data</TALLYREQUEST>",
    "</HEADER>",
    "<BODY>",
    "<EXPORTDATA>",
    "<REQUESTDESC>",
    "<REPORTNAME>List of Companies</REPORTNAME>",
    "<STATICVARIABLES>",
    "<SVEXPORTFORMAT> $$SysName:XML </SVEXPORTFORMAT>",
    "</STATICVARIABLES>",
    "</REQUESTDESC>",
    "</EXPORTDATA>",
    "</BODY>",
    "</ENVELOPE>",
});

std::string ReadVersionReply(std::string_view reply) {
  const pugi::xml_document document = LoadReply(reply);
  const pugi::xml_node response = FirstElement(document, "RESPONSE");
  return response ? NodeText(response) : std::string(kServerRunningLine);
}

std::string ReadCurrentCompanyReply(std::string_view reply) {
  const pugi::xml_document document = LoadReply(reply);
  const pugi::xml_node company = FirstElement(document, "SVCURRENTCOMPANY");
  return company ? NodeText(company) : std::string();
}

std::vector<std::string> ReadCompanyNames(std::string_view reply) {
  const pugi::xml_document document = LoadReply(reply);
  std::vector<std::string> names;
  for (const pugi::xpath_node& selected : document.select_nodes("//COMPANYNAME")) {
    names.push_back(NodeText(selected.node()));
  }
  return names;
}

QueryResult<std::string> TryGetTallyVersion() {
  return Attempt<std::string>([] {
    TallyUrl = DefaultAddress();
    return ReadVersionReply(QueryText(TallyUrl, std::nullopt));
  });
}

QueryResult<std::string> TryGetCurrentCompany() {
  return Attempt<std::string>([] {
    const std::string& request = kListOfAccountsRequest;
    TallyUrl = DefaultAddress();
    return ReadCurrentCompanyReply(QueryText(TallyUrl, request));
  });
}

QueryResult<std::vector<std::string>> TryGetCompanyList() {
  return Attempt<std::vector<std::string>>(
      [] { return ReadCompanyNames(QueryText(DefaultAddress(), kListOfCompaniesRequest)); });
}

std::string GetTallyVersion() {
  QueryResult<std::string> result = TryGetTallyVersion();
  return result ? std::move(*result.value) : std::move(result.description);
}

std::string GetCurrentCompany() {
  QueryResult<std::string> result = TryGetCurrentCompany();
  return result ? std::move(*result.value) : std::move(result.description);
}

CompanyList GetCompanyList() {
  QueryResult<std::vector<std::string>> result = TryGetCompanyList();
  if (!result) {
    return std::vector<std::string>{"", "ERROR " + result.description};
  }
  if (result.value->empty()) {
    return std::nullopt;
  }
  result.value->emplace_back();  // the trailing empty slot callers rely on
  return std::move(*result.value);
}

}  // namespace modTally
