// Request texts for the stand-in tests, shaped as the system writes them, and a reader of the
// stand-in's replies.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lirvo::test {

// An "Import Data" envelope around `items`, all in one TALLYMESSAGE; names `company` in
// SVCURRENTCOMPANY when given.
std::string ImportRequest(const std::string& items,
                          const std::optional<std::string>& company = std::nullopt);

// A master element of `kind` ("UNIT", "LEDGER", ...) with the NAME and ACTION attributes, `body`
// as its children, and the new name where that kind carries it (NAME for a unit, NAME.LIST
// otherwise). `name` is escaped; `body` is used as it stands.
std::string MasterXml(const std::string& kind, const std::string& attribute_name,
                      const std::string& action, const std::string& new_name,
                      const std::string& body = "");

// The demo's sales voucher in one line, with the values given (already escaped).
struct VoucherValues {
  std::string remote_id = "SV-1";
  std::string date = "20160401";
  std::string party = "Anand Hardware";
  std::string tax_ledger = "Output VAT @ 4%";
  std::string sales_ledger = "Sales @ 4%";
  std::string item = "Cable Tie";
  std::string party_amount = "-1040";
  std::string tax_amount = "40";
  std::string amount = "1000";
};
std::string VoucherXml(const VoucherValues& values);

// Creates the ledgers, unit and stock item the default VoucherValues name.
std::string VoucherMastersRequest();

// The reply to an import or any other request, read back.
struct ImportReply {
  int status = 0;
  std::map<std::string, long long> counters;  // CREATED, ALTERED, ...
  std::vector<std::string> line_errors;
  std::string message;  // the RESPONSE text when it holds no counters

  // The counter `name`, or -1 when the reply has none.
  long long Count(const std::string& name) const {
    const auto found = counters.find(name);
    return found == counters.end() ? -1 : found->second;
  }
};
ImportReply ReadReply(int status, const std::string& body);

}  // namespace lirvo::test
