// Reading the books back: the collection export requests for documents by date range and for
// masters. lirvo::feed reads their replies.
#include <lirvo/books/readback.h>
#include <lirvo/modTally.h>

namespace lirvo::books {

namespace {

constexpr const char* kVoucherCollection = "LirvoSalesVouchers";

std::string Envelope(const std::string& id, const std::string& statics,
                     const std::string& collection) {
  return "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST>"
         "<TYPE>Collection</TYPE><ID>" +
         id + "</ID></HEADER><BODY><DESC><STATICVARIABLES>" + statics +
         "<SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT></STATICVARIABLES><TDL><TDLMESSAGE>" +
         collection + "</TDLMESSAGE></TDL></DESC></BODY></ENVELOPE>";
}

}  // namespace

std::string VoucherExportRequest(const std::string& company, std::string_view from,
                                 std::string_view to, std::string_view type) {
  return Envelope(kVoucherCollection,
                  modTally::CompanyVariable(company) + "<SVFROMDATE>" + modTally::EscapeXml(from) +
                      "</SVFROMDATE><SVTODATE>" + modTally::EscapeXml(to) + "</SVTODATE>",
                  std::string("<COLLECTION NAME=\"") + kVoucherCollection +
                      "\" ISMODIFY=\"No\"><TYPE>Voucher</TYPE><FETCH>Date, Guid, RemoteId, "
                      "VoucherTypeName, VoucherNumber, Reference, PartyLedgerName, "
                      "AllLedgerEntries, AllInventoryEntries</FETCH><FILTER>LirvoIsSales</FILTER>"
                      "</COLLECTION><SYSTEM TYPE=\"Formulae\" NAME=\"LirvoIsSales\">"
                      "$VoucherTypeName = &quot;" +
                      modTally::EscapeXml(type) + "&quot;</SYSTEM>");
}

std::string CollectionRequest(const std::string& company, std::string_view type,
                              std::string_view fetch) {
  std::string id = "Lirvo";
  for (const char c : type) {
    if (c != ' ') {
      id += c;
    }
  }
  return Envelope(id, modTally::CompanyVariable(company),
                  "<COLLECTION NAME=\"" + id + "\" ISMODIFY=\"No\"><TYPE>" +
                      modTally::EscapeXml(type) + "</TYPE><FETCH>" + modTally::EscapeXml(fetch) +
                      "</FETCH></COLLECTION>");
}

}  // namespace lirvo::books
