#include "inputs.h"

#include <cstdio>
#include <stdexcept>

#include <lirvo/books/sales.h>
#include <lirvo/salesdb.h>

namespace lirvo::bench {

modTallyIm::LedgerMaster VatOutputLedger() {
  modTallyIm::LedgerMaster ledger;
  ledger.Name = "VAT OUTPUT 4%";
  ledger.Parent = "Sundry Creditors";
  ledger.IsBillWiseOn = "Yes";
  for (std::string* flag :
       {&ledger.AffectsStock, &ledger.AllowInMobile, &ledger.ForPayroll, &ledger.InterestOnBillWise,
        &ledger.IgnoreTdsExempt, &ledger.IsCostCentresOn, &ledger.IsCondensed, &ledger.IsInterestOn,
        &ledger.IsTcsApplicable, &ledger.IsTdsApplicable, &ledger.IsFbtApplicable,
        &ledger.IsGstApplicable, &ledger.OverrideInterest, &ledger.OverrideAdvInterest,
        &ledger.UseForVat}) {
    *flag = "No";
  }
  return ledger;
}

books::SalesRow FirstSampleRow() {
  access::SalesDatabase database(LIRVO_SAMPLE_DATA);
  const access::Recordset rows = database.Open("Select * from SalesMst");
  return books::ReadSalesRow(rows);
}

std::vector<std::string> VoucherPieces(const books::SalesRow& row) {
  const auto text = [](const std::optional<std::string>& value) {
    return modTally::EscapeXml(value.value_or(std::string()));
  };
  const double amount = books::ReadNumber(row.Amount.value_or("0"));
  const double tax_percent = books::ReadNumber(row.TaxPer.value_or("0"));
  const std::string tax = books::FormatAmount((amount * tax_percent) / 100);
  const std::string gross = books::FormatAmount(-(amount + (tax_percent * amount) / 100));
  const std::string id = text(row.VoucherID);
  const std::string date = text(row.VoucherDate);
  const std::string party = text(row.PartyName);
  const std::string quantity = " " + text(row.Qty) + " " + text(row.Unit);
  const std::string amount_text = text(row.Amount);
  return {
      "<ENVELOPE>",
      "<HEADER>",
      "<TALLYREQUEST>Import Data</TALLYREQUEST>",
      "</HEADER>",
      "<BODY>",
      "<IMPORTDATA>",
      "<REQUESTDESC>",
      "<REPORTNAME>All Masters</REPORTNAME>",
      "<STATICVARIABLES><SVCURRENTCOMPANY></SVCURRENTCOMPANY></STATICVARIABLES></REQUESTDESC>",
      "<REQUESTDATA>",
      "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\">",
      "<VOUCHER REMOTEID=\"" + id + "\" VCHTYPE=\"Sales\" ACTION=\"Create\">",
      "<ISOPTIONAL>No</ISOPTIONAL>",
      "<USEFORGAINLOSS>No</USEFORGAINLOSS>",
      "<USEFORCOMPOUND>No</USEFORCOMPOUND>",
      "<VOUCHERTYPENAME>Sales</VOUCHERTYPENAME>",
      "<DATE>" + date + "</DATE>",
      "<EFFECTIVEDATE>" + date + "</EFFECTIVEDATE>",
      "<ISCANCELLED>No</ISCANCELLED>",
      "<USETRACKINGNUMBER>No</USETRACKINGNUMBER>",
      "<ISPOSTDATED>No</ISPOSTDATED>",
      "<ISINVOICE>Yes</ISINVOICE>",
      "<DIFFACTUALQTY>No</DIFFACTUALQTY>",
      "<VOUCHERNUMBER>1</VOUCHERNUMBER>",
      "<REFERENCE>" + text(row.RefNo) + "</REFERENCE>",
      "<PARTYLEDGERNAME>" + party + "</PARTYLEDGERNAME>",
      "<ASPAYSLIP>No</ASPAYSLIP>",
      "<GUID>" + id + "</GUID>",
      "<ALTERID> 1</ALTERID>",
      "<NARRATION/>",
      "<LEDGERENTRIES.LIST>",
      "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>",
      "<ISDEEMEDPOSITIVE>Yes</ISDEEMEDPOSITIVE>",
      "<LEDGERFROMITEM>No</LEDGERFROMITEM>",
      "<LEDGERNAME>" + party + "</LEDGERNAME>",
      "<AMOUNT>" + gross + "</AMOUNT>",
      "</LEDGERENTRIES.LIST>",
      "<LEDGERENTRIES.LIST>",
      "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>",
      "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>",
      "<LEDGERFROMITEM>No</LEDGERFROMITEM>",
      "<LEDGERNAME>" + text(row.TaxAc) + "</LEDGERNAME>",
      "<AMOUNT>" + tax + "</AMOUNT>",
      "</LEDGERENTRIES.LIST>",
      "<ALLINVENTORYENTRIES.LIST>",
      "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>",
      "<STOCKITEMNAME>" + text(row.ItemName) + "</STOCKITEMNAME>",
      "<AMOUNT>" + amount_text + "</AMOUNT>",
      "<ACTUALQTY>" + quantity + "</ACTUALQTY>",
      "<BILLEDQTY>" + quantity + "</BILLEDQTY>",
      "<RATE> " + text(row.Rate) + "/" + text(row.Unit) + "</RATE>",
      "<ACCOUNTINGALLOCATIONS.LIST>",
      "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>",
      "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>",
      "<LEDGERFROMITEM>No</LEDGERFROMITEM>",
      "<LEDGERNAME>" + text(row.SalesLedger) + "</LEDGERNAME>",
      "<AMOUNT>" + amount_text + "</AMOUNT>",
      "</ACCOUNTINGALLOCATIONS.LIST>",
      "<BATCHALLOCATIONS.LIST>",
      "<TRACKINGNUMBER/>",
      "<BATCHNAME>Primary Batch</BATCHNAME>",
      "<GODOWNNAME>Main Location</GODOWNNAME>",
      "<MFDON>" + date + "</MFDON>",
      "<EXPIRYPERIOD/>",
      "<AMOUNT>" + amount_text + "</AMOUNT>",
      "<ACTUALQTY>" + quantity + "</ACTUALQTY>",
      "<BILLEDQTY>" + quantity + "</BILLEDQTY>",
      "<ORDERNO/>",
      "</BATCHALLOCATIONS.LIST>",
      "</ALLINVENTORYENTRIES.LIST>",
      "</VOUCHER>",
      "</TALLYMESSAGE>",
      "</REQUESTDATA>",
      "</IMPORTDATA>",
      "</BODY>",
      "</ENVELOPE>",
  };
}

std::string LedgerImport(std::size_t messages) {
  // One customer ledger as the transfer builds it, with a placeholder name replaced per message.
  constexpr std::string_view kPlaceholder = "@@@@@@";
  modTallyIm::LedgerMaster ledger;
  ledger.OldName = "Customer Ledger " + std::string(kPlaceholder);
  ledger.Name = ledger.OldName;
  ledger.Parent = "Sundry Debtors";
  const std::string request = modTallyIm::BuildLedger(kCompany, ledger, "Alter");
  const std::size_t first = request.find("<TALLYMESSAGE");
  const std::size_t last = request.find("</TALLYMESSAGE>");
  if (first == std::string::npos || last == std::string::npos) {
    throw std::runtime_error("BuildLedger wrote no TALLYMESSAGE: " + request);
  }
  const std::size_t end = last + std::string_view("</TALLYMESSAGE>").size();
  const std::string message = request.substr(first, end - first);

  std::string text = request.substr(0, first);
  text.reserve(text.size() + messages * message.size() + (request.size() - end));
  for (std::size_t i = 0; i < messages; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%06zu", i % 1000000);
    std::size_t from = 0;
    for (std::size_t at = message.find(kPlaceholder); at != std::string::npos;
         at = message.find(kPlaceholder, from)) {
      text.append(message, from, at - from);
      text.append(number);
      from = at + kPlaceholder.size();
    }
    text.append(message, from);
  }
  text.append(request, end);
  return text;
}

}  // namespace lirvo::bench
