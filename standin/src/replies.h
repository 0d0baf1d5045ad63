// The replies the stand-in gives, in the accounting server's forms: an XML document, a RESPONSE
// holding one message, and the counters of an import with its LINEERROR lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include <lirvo/standin/service.h>

namespace lirvo::standin {

// `document` as the body of a reply with `status`.
HttpReply XmlReply(int status, const pugi::xml_document& document);

// <RESPONSE>message</RESPONSE> with `status`. The server answers 200 whatever happened, with the
// outcome in the body; other statuses are only for what the stand-in refuses to read at all.
HttpReply MessageReply(int status, std::string_view message);

// <RESPONSE><LINEERROR>message</LINEERROR></RESPONSE> with status 200: how the server refuses an
// export ("Could not find Report 'X'!", "Could not set 'SVCurrentCompany' to 'X'").
HttpReply LineErrorReply(std::string_view message);

// The probe's running line.
HttpReply ProbeReply();

// The reply to malformed XML and to requests the stand-in does not know (status 200, as the
// server gives it).
HttpReply UnknownRequestReply();

// The message for a request that names a company that is not open, as the server words it.
std::string CompanyNotOpen(std::string_view company);

// The message for an export of a report the server does not have, as the server words it.
std::string ReportNotFound(std::string_view report);

// What one import did, in the counters the accounting server reports.
struct Counters {
  std::int64_t created = 0;
  std::int64_t altered = 0;
  std::int64_t deleted = 0;
  std::int64_t last_voucher_id = 0;
  std::int64_t last_master_id = 0;
  std::int64_t combined = 0;
  std::int64_t ignored = 0;
  std::int64_t errors = 0;
  std::int64_t cancelled = 0;
  std::int64_t exceptions = 0;
  std::vector<std::string> line_errors;

  // Counts an error and keeps its LINEERROR.
  void Reject(std::string message) {
    ++errors;
    line_errors.push_back(std::move(message));
  }
};

// The import's RESPONSE: the ten counters in the server's order, then one LINEERROR per error.
HttpReply CountersReply(const Counters& counters);

}  // namespace lirvo::standin
