// The sales voucher request: fixed pieces joined on one line around the values of one row.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <lirvo/books/sales.h>
#include <lirvo/salesdb.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using detail::AppendAmount;
using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

// Appends the value as XML character data or attribute value (modTally::AppendXmlText): line
// breaks and tabs become character references, so the request stays on one line and the value
// reads back with them (a reader turns a raw tab in an attribute value into a blank).
void AppendText(std::string& out, const std::optional<std::string>& value) {
  if (value) {
    modTally::AppendXmlText(out, *value);
  }
}

double Number(const std::optional<std::string>& value, const char* column) {
  if (!value) {
    throw Failure(FailureNumber::kValue,
                  std::string(column) + " is null, and a sales voucher needs a number there");
  }
  return ReadNumber(*value);
}

// The pieces both forms of the message are made of, each appended to the one string: no piece is
// put together on its own first.
void AppendElement(std::string& v, std::string_view open, const std::optional<std::string>& value,
                   std::string_view close) {
  v += open;
  AppendText(v, value);
  v += close;
}

void AppendAmountElement(std::string& v, double value) {
  v += "<AMOUNT>";
  AppendAmount(v, value);
  v += "</AMOUNT>";
}

// " 2 Nos": the quantity and unit as the server writes them.
void AppendQuantity(std::string& v, const SalesRow& row, std::string_view open,
                    std::string_view close) {
  v += open;
  v += ' ';
  AppendText(v, row.Qty);
  v += ' ';
  AppendText(v, row.Unit);
  v += close;
}

// " 600/Nos"
void AppendRate(std::string& v, const SalesRow& row) {
  v += "<RATE> ";
  AppendText(v, row.Rate);
  v += '/';
  AppendText(v, row.Unit);
  v += "</RATE>";
}

// Appends the TALLYMESSAGE holding the voucher of `row` in the demo's form, whose tax and gross are
// given.
// Long: the message's elements in the order sent, clearer whole.
void AppendMessage(std::string& v, const SalesRow& row, double tax, double gross) {
  const auto element = [&v](std::string_view open, const std::optional<std::string>& value,
                            std::string_view close) { AppendElement(v, open, value, close); };
  const auto quantity = [&](std::string_view open, std::string_view close) {
    AppendQuantity(v, row, open, close);
  };

  v += "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\">";
  element("<VOUCHER REMOTEID=\"", row.VoucherID, "\" VCHTYPE=\"Sales\" ACTION=\"Create\">");
  v += "<ISOPTIONAL>No</ISOPTIONAL>"
       "<USEFORGAINLOSS>No</USEFORGAINLOSS>"
       "<USEFORCOMPOUND>No</USEFORCOMPOUND>"
       "<VOUCHERTYPENAME>Sales</VOUCHERTYPENAME>";
  element("<DATE>", row.VoucherDate, "</DATE>");
  element("<EFFECTIVEDATE>", row.VoucherDate, "</EFFECTIVEDATE>");
  v += "<ISCANCELLED>No</ISCANCELLED>"
       "<USETRACKINGNUMBER>No</USETRACKINGNUMBER>"
       "<ISPOSTDATED>No</ISPOSTDATED>"
       "<ISINVOICE>Yes</ISINVOICE>"
       "<DIFFACTUALQTY>No</DIFFACTUALQTY>"
       "<VOUCHERNUMBER>1</VOUCHERNUMBER>";
  element("<REFERENCE>", row.RefNo, "</REFERENCE>");
  element("<PARTYLEDGERNAME>", row.PartyName, "</PARTYLEDGERNAME>");
  v += "<ASPAYSLIP>No</ASPAYSLIP>";
  element("<GUID>", row.VoucherID, "</GUID>");
  v += "<ALTERID> 1</ALTERID>"
       "<NARRATION/>";
  const auto ledger_entry = [&](std::string_view deemed_positive,
                                const std::optional<std::string>& ledger, double value) {
    v += "<LEDGERENTRIES.LIST>"
         "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>"
         "<ISDEEMEDPOSITIVE>";
    v += deemed_positive;
    v += "</ISDEEMEDPOSITIVE>"
         "<LEDGERFROMITEM>No</LEDGERFROMITEM>";
    element("<LEDGERNAME>", ledger, "</LEDGERNAME>");
    AppendAmountElement(v, value);
    v += "</LEDGERENTRIES.LIST>";
  };
  // The party's entry carries the gross amount, negated as a number; then the tax entry.
  ledger_entry("Yes", row.PartyName, -gross);
  ledger_entry("No", row.TaxAc, tax);
  // The inventory entry with its sales and batch allocations.
  v += "<ALLINVENTORYENTRIES.LIST>"
       "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>";
  element("<STOCKITEMNAME>", row.ItemName, "</STOCKITEMNAME>");
  element("<AMOUNT>", row.Amount, "</AMOUNT>");
  quantity("<ACTUALQTY>", "</ACTUALQTY>");
  quantity("<BILLEDQTY>", "</BILLEDQTY>");
  AppendRate(v, row);
  v += "<ACCOUNTINGALLOCATIONS.LIST>"
       "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>"
       "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>"
       "<LEDGERFROMITEM>No</LEDGERFROMITEM>";
  element("<LEDGERNAME>", row.SalesLedger, "</LEDGERNAME>");
  element("<AMOUNT>", row.Amount, "</AMOUNT>");
  v += "</ACCOUNTINGALLOCATIONS.LIST>"
       "<BATCHALLOCATIONS.LIST>"
       "<TRACKINGNUMBER/>"
       "<BATCHNAME>Primary Batch</BATCHNAME>"
       "<GODOWNNAME>Main Location</GODOWNNAME>";
  element("<MFDON>", row.VoucherDate, "</MFDON>");
  v += "<EXPIRYPERIOD/>";
  element("<AMOUNT>", row.Amount, "</AMOUNT>");
  quantity("<ACTUALQTY>", "</ACTUALQTY>");
  quantity("<BILLEDQTY>", "</BILLEDQTY>");
  v += "<ORDERNO/>"
       "</BATCHALLOCATIONS.LIST>"
       "</ALLINVENTORYENTRIES.LIST>"
       "</VOUCHER>"
       "</TALLYMESSAGE>";
}

}  // namespace

SalesColumns SalesColumnsOf(const access::Recordset& rows) {
  SalesColumns at{};
  for (std::size_t i = 0; i < at.size(); ++i) {
    at[i] = rows.FieldIndex(kSalesMstColumns[i].second);
  }
  return at;
}

void ReadSalesRow(const access::Recordset& rows, const SalesColumns& at, SalesRow& row) {
  for (std::size_t i = 0; i < at.size(); ++i) {
    row.*kSalesMstColumns[i].first = rows.Field(at[i]);
  }
}

SalesRow ReadSalesRow(const access::Recordset& rows) {
  SalesRow row;
  ReadSalesRow(rows, SalesColumnsOf(rows), row);
  return row;
}

SalesVoucherFigures VoucherFigures(const SalesRow& row) {
  SalesVoucherFigures figures;
  figures.amount = Number(row.Amount, "Amount");
  figures.tax_percent = Number(row.TaxPer, "TaxPer");
  figures.tax = (figures.amount * figures.tax_percent) / 100;
  figures.gross = figures.amount + (figures.tax_percent * figures.amount) / 100;
  return figures;
}

std::string BuildSalesVoucher(const SalesRow& row, const std::string& company) {
  std::string v = modTally::ImportRequestHead(company);
  v.reserve(4096);
  AppendSalesVoucherMessage(v, row);
  v += modTally::kImportRequestTail;
  return v;
}

void AppendSalesVoucherMessage(std::string& v, const SalesRow& row) {
  const SalesVoucherFigures figures = VoucherFigures(row);
  // Nothing is appended unless the whole message can be written.
  const std::size_t start = v.size();
  try {
    AppendMessage(v, row, figures.tax, figures.gross);
  } catch (...) {
    v.resize(start);
    throw;
  }
}

}  // namespace lirvo::books
