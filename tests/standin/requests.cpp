#include "requests.h"

#include <lirvo/modTally.h>

namespace lirvo::test {

std::string ImportRequest(const std::string& items, const std::optional<std::string>& company) {
  std::string text =
      "<ENVELOPE><HEADER><TALLYREQUEST> Import Data </TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
      "<REQUESTDESC><REPORTNAME>All Masters</REPORTNAME>";
  if (company) {
    text += "<STATICVARIABLES><SVCURRENTCOMPANY>" + modTally::EscapeXml(*company) +
            "</SVCURRENTCOMPANY></STATICVARIABLES>";
  }
  return text + "</REQUESTDESC><REQUESTDATA><TALLYMESSAGE xmlns:UDF=\"TallyUDF\">" + items +
         "</TALLYMESSAGE></REQUESTDATA></IMPORTDATA></BODY></ENVELOPE>";
}

std::string MasterXml(const std::string& kind, const std::string& attribute_name,
                      const std::string& action, const std::string& new_name,
                      const std::string& body) {
  const std::string name = modTally::EscapeXml(new_name);
  const std::string names = kind == "UNIT" ? "<NAME>" + name + "</NAME>"
                                           : "<NAME.LIST><NAME>" + name + "</NAME></NAME.LIST>";
  return "<" + kind + " NAME=\"" + modTally::EscapeXml(attribute_name) + "\" ACTION=\"" + action +
         "\">" + (kind == "UNIT" ? names + body : body + names) + "</" + kind + ">";
}

std::string VoucherXml(const VoucherValues& v) {
  return "<VOUCHER REMOTEID=\"" + v.remote_id +
         "\" VCHTYPE=\"Sales\" ACTION=\"Create\"><ISOPTIONAL>No</ISOPTIONAL>"
         "<VOUCHERTYPENAME>Sales</VOUCHERTYPENAME><DATE>" +
         v.date + "</DATE><EFFECTIVEDATE>" + v.date +
         "</EFFECTIVEDATE><ISINVOICE>Yes</ISINVOICE><VOUCHERNUMBER>1</VOUCHERNUMBER>"
         "<REFERENCE>INV/101</REFERENCE><PARTYLEDGERNAME>" +
         v.party + "</PARTYLEDGERNAME><GUID>" + v.remote_id +
         "</GUID><ALTERID> 1</ALTERID><NARRATION/>"
         "<LEDGERENTRIES.LIST><REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>"
         "<ISDEEMEDPOSITIVE>Yes</ISDEEMEDPOSITIVE><LEDGERFROMITEM>No</LEDGERFROMITEM><LEDGERNAME>" +
         v.party + "</LEDGERNAME><AMOUNT>" + v.party_amount +
         "</AMOUNT></LEDGERENTRIES.LIST><LEDGERENTRIES.LIST>"
         "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE><LEDGERNAME>" +
         v.tax_ledger + "</LEDGERNAME><AMOUNT>" + v.tax_amount +
         "</AMOUNT></LEDGERENTRIES.LIST><ALLINVENTORYENTRIES.LIST>"
         "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE><STOCKITEMNAME>" +
         v.item + "</STOCKITEMNAME><AMOUNT>" + v.amount +
         "</AMOUNT><ACTUALQTY> 10 Nos</ACTUALQTY><BILLEDQTY> 10 Nos</BILLEDQTY>"
         "<RATE> 100/Nos</RATE><ACCOUNTINGALLOCATIONS.LIST><ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>"
         "<LEDGERNAME>" +
         v.sales_ledger + "</LEDGERNAME><AMOUNT>" + v.amount +
         "</AMOUNT></ACCOUNTINGALLOCATIONS.LIST><BATCHALLOCATIONS.LIST><TRACKINGNUMBER/>"
         "<BATCHNAME>Primary Batch</BATCHNAME><GODOWNNAME>Main Location</GODOWNNAME>"
         "<AMOUNT>" +
         v.amount + "</AMOUNT></BATCHALLOCATIONS.LIST></ALLINVENTORYENTRIES.LIST></VOUCHER>";
}

std::string VoucherMastersRequest() {
  const VoucherValues v;
  return ImportRequest(
      MasterXml("LEDGER", v.party, "Alter", v.party, "<PARENT>Sundry Debtors</PARENT>") +
      MasterXml("LEDGER", v.tax_ledger, "Alter", v.tax_ledger,
                "<PARENT>Duties &amp; Taxes</PARENT>") +
      MasterXml("LEDGER", v.sales_ledger, "Alter", v.sales_ledger,
                "<PARENT>Sales Accounts</PARENT>") +
      MasterXml("UNIT", "Nos", "Create", "Nos", "<ISSIMPLEUNIT>Yes</ISSIMPLEUNIT>") +
      MasterXml("STOCKITEM", v.item, "Create", v.item, "<BASEUNITS>Nos</BASEUNITS>"));
}

ImportReply ReadReply(int status, const std::string& body) {
  ImportReply reply;
  reply.status = status;
  pugi::xml_document document;
  modTally::LoadXml(document, body);
  const pugi::xml_node response = document.child("RESPONSE");
  for (const pugi::xml_node child : response.children()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    if (std::string(child.name()) == "LINEERROR") {
      reply.line_errors.push_back(child.text().get());
    } else {
      reply.counters[child.name()] = child.text().as_llong(-1);
    }
  }
  if (reply.counters.empty()) {
    reply.message = modTally::NodeText(response);
  }
  return reply;
}

}  // namespace lirvo::test
