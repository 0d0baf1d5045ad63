// The three read-only queries: the probe, the current company and the company list.
#include "lirvo/modTally.h"

#include "lirvo/export_reply.h"

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
Reply QueryReply(const std::string& url, Reply reply) {
  if (reply.status >= 300) {
    const std::string_view phrase = ReasonPhrase(reply.status);
    throw Failure(FailureKind::Http, FailureNumber::kHttpStatus,
                  "the server at " + ShownUrl(url) + " answered HTTP " +
                      std::to_string(reply.status) + (phrase.empty() ? "" : " ") +
                      std::string(phrase),
                  {FailureCause::From::kHttpStatus, reply.status});
  }
  return reply;
}

Reply QueryReply(const std::string& url, const std::optional<std::string_view>& request) {
  return QueryReply(url, Exchange(url, request, QueryLimits()));
}

// The probe's answer: the server names itself in a RESPONSE; XML without one is the fixed line
// the system has always shown. A web page, an empty body or text that is not XML is some other
// program listening at the address, and a LINEERROR is the server refusing.
std::string ProbeAnswer(const Reply& reply, const std::string& url) {
  pugi::xml_document document;
  if (const std::optional<std::string> instead = LoadServerXml(document, reply)) {
    throw Failure(FailureNumber::kDocument, "the server at " + ShownUrl(url) +
                                                " answered the probe with " + *instead +
                                                ": not the accounting server, which answers "
                                                "with a RESPONSE line");
  }
  if (const pugi::xml_node error = FirstElement(document, "LINEERROR")) {
    throw Failure(
        FailureNumber::kDocument,
        "the server at " + ShownUrl(url) + " answered the probe: " + ReplyExcerpt(NodeText(error)));
  }
  const pugi::xml_node response = FirstElement(document, "RESPONSE");
  return response ? NodeText(response) : std::string(kServerRunningLine);
}

// The company list: "List of Companies", or where the server does not give one (a LINEERROR such
// as "Could not find Report", a refusal, no COMPANYNAME list) the Company collection. A failure
// to reach the server, or an HTTP error, is not retried.
// `post` sends a request and gives back the reply, a failure for an HTTP error status.
template <class Post>
std::vector<std::string> CompanyNames(const std::string& url, Post&& post) {
  const Reply reply = post(kListOfCompaniesRequest);
  try {
    return CompanyNamesOf(reply, url);
  } catch (const Failure& report) {
    if (report.kind() != FailureKind::Reply) {
      throw;
    }
    try {
      return CompanyCollectionNamesOf(post(CompanyCollectionRequest()), url);
    } catch (const Failure& collection) {
      throw Failure(collection, report.description() + "; " + collection.description());
    }
  }
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

const std::string kListOfAccountsRequest = ListOfAccountsRequest("Stock Items");

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
    return ProbeAnswer(QueryReply(TallyUrl, std::nullopt), TallyUrl);
  });
}

QueryResult<std::string> TryGetCurrentCompany() {
  return Attempt<std::string>([] {
    const std::string& request = kListOfAccountsRequest;
    TallyUrl = DefaultAddress();
    return CurrentCompanyOf(QueryReply(TallyUrl, request), TallyUrl);
  });
}

QueryResult<std::vector<std::string>> TryGetCompanyList() {
  return Attempt<std::vector<std::string>>([] {
    const std::string url = DefaultAddress();
    return CompanyNames(url,
                        [&url](const std::string& request) { return QueryReply(url, request); });
  });
}

std::vector<std::string> ListCompanies(const Server& server) {
  return CompanyNames(server.url, [&server](const std::string& request) {
    return QueryReply(server.url, Exchange(server, request, server.Query()));
  });
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
