// The sales voucher request: fixed pieces joined on one line around the values of one row.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <lirvo/books/sales.h>
#include <lirvo/salesdb.h>

namespace lirvo::books {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Appends the value as XML character data or attribute value (modTally::AppendXmlText): line
// breaks and tabs become character references, so the request stays on one line and the value
// reads back with them (a reader turns a raw tab in an attribute value into a blank).
void AppendText(std::string& out, const std::optional<std::string>& value) {
  if (value) {
    modTally::AppendXmlText(out, *value);
  }
}

// Appends FormatAmount's text of `value`, without building strings on the way.
void AppendAmount(std::string& out, double value) {
  if (!std::isfinite(value)) {
    throw Failure(FailureNumber::kValue, "an amount is too large to be written");
  }
  if (value == 0) {
    out += '0';
    return;
  }
  // d.dddddddddddddde±x: the value rounded to 15 significant digits.
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                     std::chars_format::scientific, 14);
  const std::string_view scientific(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const std::size_t e = scientific.find('e');
  char digits_buffer[16];
  std::size_t count = 0;
  digits_buffer[count++] = scientific[0];
  for (std::size_t i = 2; i < e && count < sizeof digits_buffer; ++i) {
    digits_buffer[count++] = scientific[i];
  }
  while (count > 1 && digits_buffer[count - 1] == '0') {
    --count;
  }
  const std::string_view digits(digits_buffer, count);
  int exponent = 0;
  const std::string_view exponent_text = scientific.substr(e + 1);
  std::from_chars(exponent_text.data() + (exponent_text[0] == '+' ? 1 : 0),
                  exponent_text.data() + exponent_text.size(), exponent);
  if (value < 0) {
    out += '-';
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (digits.size() <= static_cast<std::size_t>(exponent) + 1) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
    out += '.';
    out += digits.substr(static_cast<std::size_t>(exponent) + 1);
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

// Appends the TALLYMESSAGE holding the voucher of `row` as the server exports an item invoice:
// the invoice view and entry mode, the VoucherID as the voucher's number (unique in the table, as
// the server's own numbers are in a company; RefNo may be empty or repeat, and goes as the
// reference), no GUID and no ALTERID (both are the server's to give), the items before the ledger
// entries. The element order follows the server's own exports; beyond the views, the entry
// mode and the lists, which elements an import needs is unconfirmed.
void AppendInvoiceMessage(std::string& v, const SalesRow& row, double tax, double gross) {
  const auto element = [&v](std::string_view open, const std::optional<std::string>& value,
                            std::string_view close) { AppendElement(v, open, value, close); };
  const auto quantity = [&](std::string_view open, std::string_view close) {
    AppendQuantity(v, row, open, close);
  };

  v += "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\">";
  element("<VOUCHER REMOTEID=\"", row.VoucherID,
          "\" VCHTYPE=\"Sales\" ACTION=\"Create\" OBJVIEW=\"Invoice Voucher View\">");
  element("<DATE>", row.VoucherDate, "</DATE>");
  element("<VCHSTATUSDATE>", row.VoucherDate, "</VCHSTATUSDATE>");
  v += "<NARRATION/>"
       "<VOUCHERTYPENAME>Sales</VOUCHERTYPENAME>";
  element("<PARTYLEDGERNAME>", row.PartyName, "</PARTYLEDGERNAME>");
  element("<VOUCHERNUMBER>", row.VoucherID, "</VOUCHERNUMBER>");
  element("<REFERENCE>", row.RefNo, "</REFERENCE>");
  v += "<PERSISTEDVIEW>Invoice Voucher View</PERSISTEDVIEW>"
       "<VCHENTRYMODE>Item Invoice</VCHENTRYMODE>"
       "<DIFFACTUALQTY>No</DIFFACTUALQTY>"
       "<ISOPTIONAL>No</ISOPTIONAL>";
  element("<EFFECTIVEDATE>", row.VoucherDate, "</EFFECTIVEDATE>");
  v += "<USEFORGAINLOSS>No</USEFORGAINLOSS>"
       "<USEFORCOMPOUND>No</USEFORCOMPOUND>"
       "<ISCANCELLED>No</ISCANCELLED>"
       "<USETRACKINGNUMBER>No</USETRACKINGNUMBER>"
       "<ISPOSTDATED>No</ISPOSTDATED>"
       "<ISINVOICE>Yes</ISINVOICE>"
       "<ASPAYSLIP>No</ASPAYSLIP>";
  // The item, credited, with its batch and its sales ledger.
  v += "<ALLINVENTORYENTRIES.LIST>";
  element("<STOCKITEMNAME>", row.ItemName, "</STOCKITEMNAME>");
  v += "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>";
  AppendRate(v, row);
  element("<AMOUNT>", row.Amount, "</AMOUNT>");
  quantity("<ACTUALQTY>", "</ACTUALQTY>");
  quantity("<BILLEDQTY>", "</BILLEDQTY>");
  v += "<BATCHALLOCATIONS.LIST>"
       "<GODOWNNAME>Main Location</GODOWNNAME>"
       "<BATCHNAME>Primary Batch</BATCHNAME>"
       "<ORDERNO/>"
       "<TRACKINGNUMBER/>";
  element("<AMOUNT>", row.Amount, "</AMOUNT>");
  quantity("<ACTUALQTY>", "</ACTUALQTY>");
  quantity("<BILLEDQTY>", "</BILLEDQTY>");
  v += "</BATCHALLOCATIONS.LIST>"
       "<ACCOUNTINGALLOCATIONS.LIST>";
  element("<LEDGERNAME>", row.SalesLedger, "</LEDGERNAME>");
  v += "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>"
       "<LEDGERFROMITEM>No</LEDGERFROMITEM>"
       "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>"
       "<ISPARTYLEDGER>No</ISPARTYLEDGER>";
  element("<AMOUNT>", row.Amount, "</AMOUNT>");
  v += "</ACCOUNTINGALLOCATIONS.LIST>"
       "</ALLINVENTORYENTRIES.LIST>";
  const auto ledger_entry = [&](std::string_view deemed_positive, std::string_view party,
                                const std::optional<std::string>& ledger, double value) {
    v += "<LEDGERENTRIES.LIST>";
    element("<LEDGERNAME>", ledger, "</LEDGERNAME>");
    v += "<ISDEEMEDPOSITIVE>";
    v += deemed_positive;
    v += "</ISDEEMEDPOSITIVE>"
         "<LEDGERFROMITEM>No</LEDGERFROMITEM>"
         "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>"
         "<ISPARTYLEDGER>";
    v += party;
    v += "</ISPARTYLEDGER>";
    AppendAmountElement(v, value);
    v += "</LEDGERENTRIES.LIST>";
  };
  // The party debited with the gross amount, negated as a number; the tax credited.
  ledger_entry("Yes", "Yes", row.PartyName, -gross);
  ledger_entry("No", "No", row.TaxAc, tax);
  v += "</VOUCHER>"
       "</TALLYMESSAGE>";
}

}  // namespace

SalesRow ReadSalesRow(const access::Recordset& rows) {
  SalesRow row;
  row.VoucherID = rows.Field("VoucherID");
  row.VoucherDate = rows.Field("VoucherDate");
  row.RefNo = rows.Field("RefNo");
  row.PartyName = rows.Field("PartyName");
  row.SalesLedger = rows.Field("SalesLedger");
  row.TaxAc = rows.Field("TaxAc");
  row.ItemName = rows.Field("ItemName");
  row.Unit = rows.Field("Unit");
  row.Qty = rows.Field("Qty");
  row.Rate = rows.Field("Rate");
  row.Amount = rows.Field("Amount");
  row.TaxPer = rows.Field("TaxPer");
  return row;
}

double ReadNumber(std::string_view text) {
  // The text without its blanks, tabs and line feeds; a copy only when it holds any.
  std::string without_blanks;
  std::string_view compact = text;
  if (text.find_first_of(" \t\n") != std::string_view::npos) {
    without_blanks.reserve(text.size());
    for (const char c : text) {
      if (c != ' ' && c != '\t' && c != '\n') {
        without_blanks += c;
      }
    }
    compact = without_blanks;
  }
  const std::size_t size = compact.size();
  std::size_t end = 0;
  const bool negative = end < size && compact[end] == '-';
  if (end < size && (compact[end] == '+' || compact[end] == '-')) {
    ++end;
  }
  const std::size_t mantissa = end;
  int digits = 0;
  for (; end < size && IsDigit(compact[end]); ++end) {
    ++digits;
  }
  if (end < size && compact[end] == '.') {
    ++end;
    for (; end < size && IsDigit(compact[end]); ++end) {
      ++digits;
    }
  }
  if (digits == 0) {
    return 0;
  }
  const std::size_t mantissa_end = end;
  long long exponent_value = 0;  // saturated: only its sign and rough size matter
  if (end < size && (compact[end] == 'e' || compact[end] == 'E')) {
    std::size_t exponent = end + 1;
    const bool negative_exponent = exponent < size && compact[exponent] == '-';
    if (exponent < size && (compact[exponent] == '+' || compact[exponent] == '-')) {
      ++exponent;
    }
    std::size_t exponent_end = exponent;
    for (; exponent_end < size && IsDigit(compact[exponent_end]); ++exponent_end) {
      exponent_value =
          std::min(exponent_value * 10 + (compact[exponent_end] - '0'), 1'000'000'000LL);
    }
    if (exponent_end > exponent) {
      end = exponent_end;  // an exponent without digits is not part of the number
      exponent_value = negative_exponent ? -exponent_value : exponent_value;
    } else {
      exponent_value = 0;
    }
  }
  double value = 0;
  const char* const first = compact.data() + mantissa;
  const auto result = std::from_chars(first, compact.data() + end, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range either way: the power of ten of the first significant digit tells which.
    const std::string_view digits_text(first, mantissa_end - mantissa);
    const std::size_t point = std::min(digits_text.find('.'), digits_text.size());
    const std::size_t leading = digits_text.find_first_not_of("0.");
    const long long power = leading < point ? static_cast<long long>(point - leading) - 1
                                            : -static_cast<long long>(leading - point);
    if (power + exponent_value < 0) {
      return 0;  // too small to tell from 0
    }
    throw Failure(FailureNumber::kValue,
                  "the number \"" + std::string(text) + "\" is too large to be an amount");
  }
  return negative ? -value : value;
}

std::string FormatAmount(double value) {
  std::string text;
  AppendAmount(text, value);
  return text;
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

void AppendSalesVoucherMessage(std::string& v, const SalesRow& row, VoucherForm form) {
  const SalesVoucherFigures figures = VoucherFigures(row);
  // Nothing is appended unless the whole message can be written.
  const std::size_t start = v.size();
  try {
    if (form == VoucherForm::kInvoice) {
      AppendInvoiceMessage(v, row, figures.tax, figures.gross);
    } else {
      AppendMessage(v, row, figures.tax, figures.gross);
    }
  } catch (...) {
    v.resize(start);
    throw;
  }
}

}  // namespace lirvo::books
