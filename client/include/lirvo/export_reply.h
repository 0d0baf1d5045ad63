// Export replies: one judgement for every answer to a request that reads from the server (List of
// Accounts, List of Companies, a collection export), so that a web page, a refusal or an empty
// envelope is never read as "nothing there"; and the export requests the client builds.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "lirvo/modTally.h"

namespace modTally {

// The "List of Accounts" request for masters of `type` ("Units", "Ledgers", "Stock Items", ...)
// in `company` (in the current company when there is none), laid out as kListOfAccountsRequest,
// which is ListOfAccountsRequest("Stock Items", std::nullopt). Names are escaped.
std::string ListOfAccountsRequest(std::string_view type,
                                  const std::optional<std::string>& company = std::nullopt);

// The collection export of every company the server has open (TYPE Company, FETCH Name), for a
// server that does not know the "List of Companies" report.
std::string CompanyCollectionRequest();

// Up to about 200 characters of `text`, trimmed, cut on a character boundary, "..." when cut.
std::string ReplyExcerpt(std::string_view text);

// Loads the reply's text into `document` when it is an XML document the server could have
// written. Otherwise returns what it is instead, for a failure to name: "an empty reply", "an
// HTML page (...)", "text that is not well-formed XML (...)". Never throws.
std::optional<std::string> LoadServerXml(pugi::xml_document& document, const Reply& reply);

// What an export reply is checked against.
struct ExportCheck {
  // Begins every failure's description; says what was asked of which server and company, such
  // as "cannot read the Units of \"Acme\" from http://127.0.0.1:9000".
  std::string what;
  // When not empty, a SVCURRENTCOMPANY in the reply must name this company (ASCII letters
  // without regard to case, blanks at the ends ignored).
  std::string company{};
  // Whether an ENVELOPE with nothing inside is an answer (a server with no company loaded names
  // no current company) rather than a failure.
  bool empty_envelope_is_answer = false;
};

// Loads `reply` into `document` and returns its ENVELOPE root when the reply is an export's
// answer: an HTTP 2xx status, an XML document (not an HTML page), no LINEERROR anywhere, a
// HEADER/STATUS of 1 where there is one, the root ENVELOPE with something inside, and the company
// asked where the reply names one. Anything else throws Failure: kHttpStatus (kind Http) for the
// status, kDocument otherwise, its description "WHAT: " followed by what came back (the server's
// own words for a LINEERROR or a RESPONSE message, else the start of the reply). An unknown
// company ("Could not set 'SVCurrentCompany' to ...") adds that `lirvo companies` lists the open
// ones.
pugi::xml_node ReadExportReply(pugi::xml_document& document, const Reply& reply,
                               const ExportCheck& check);

// The current company a List of Accounts reply names: the text of its first SVCURRENTCOMPANY,
// "" when it names none. The reply is judged by ReadExportReply, an empty
// ENVELOPE being an answer; throws Failure as that does, naming `url`.
std::string CurrentCompanyOf(const Reply& reply, const std::string& url);

// The company names a reply to kListOfCompaniesRequest gives (every COMPANYNAME, in order, as
// sent), or to CompanyCollectionRequest() (the NAME attribute, else the NAME child, of every
// COMPANY in a COLLECTION). Judged by ReadExportReply; throws Failure (kDocument) as that does,
// and when the reply holds no COMPANYNAME list, or no COLLECTION, respectively.
std::vector<std::string> CompanyNamesOf(const Reply& reply, const std::string& url);
std::vector<std::string> CompanyCollectionNamesOf(const Reply& reply, const std::string& url);

}  // namespace modTally
