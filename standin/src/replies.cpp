#include "replies.h"

#include <utility>

#include "text.h"
#include "values.h"

namespace lirvo::standin {

HttpReply XmlReply(int status, const pugi::xml_document& document) {
  return {status, "text/xml; charset=utf-8", Serialize(document)};
}

HttpReply MessageReply(int status, std::string_view message) {
  pugi::xml_document document;
  document.append_child("RESPONSE").text().set(std::string(message).c_str());
  return XmlReply(status, document);
}

HttpReply LineErrorReply(std::string_view message) {
  pugi::xml_document document;
  document.append_child("RESPONSE")
      .append_child("LINEERROR")
      .text()
      .set(std::string(message).c_str());
  return XmlReply(200, document);
}

HttpReply ProbeReply() {
  return MessageReply(200, kRunningLine);
}

HttpReply UnknownRequestReply() {
  return MessageReply(200, kUnknownRequest);
}

std::string CompanyNotOpen(std::string_view company) {
  return "Could not set 'SVCurrentCompany' to " + Quoted(company);
}

std::string ReportNotFound(std::string_view report) {
  return "Could not find Report " + Quoted(report) + "!";
}

HttpReply CountersReply(const Counters& counters) {
  pugi::xml_document document;
  pugi::xml_node response = document.append_child("RESPONSE");
  const std::pair<const char*, std::int64_t> fields[] = {
      {"CREATED", counters.created},        {"ALTERED", counters.altered},
      {"DELETED", counters.deleted},        {"LASTVCHID", counters.last_voucher_id},
      {"LASTMID", counters.last_master_id}, {"COMBINED", counters.combined},
      {"IGNORED", counters.ignored},        {"ERRORS", counters.errors},
      {"CANCELLED", counters.cancelled},    {"EXCEPTIONS", counters.exceptions}};
  for (const auto& [name, value] : fields) {
    response.append_child(name).text().set(static_cast<long long>(value));
  }
  for (const std::string& line : counters.line_errors) {
    response.append_child("LINEERROR").text().set(line.c_str());
  }
  return XmlReply(200, document);
}

}  // namespace lirvo::standin
