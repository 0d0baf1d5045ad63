// The sales voucher request: fixed pieces joined on one line around the values of one row.
#include <algorithm>
#include <charconv>
#include <cmath>

#include <lirvo/salesdb.h>
#include <lirvo/transfer.h>

namespace lirvo::demo {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A value as XML character data or attribute value. Line breaks and tabs become character
// references, so the request stays on one line and the value reads back with them (a reader
// turns a raw tab in an attribute value into a blank).
std::string Text(const std::optional<std::string>& value) {
  const std::string escaped = modTally::EscapeXml(value.value_or(std::string()));
  std::string text;
  text.reserve(escaped.size());
  for (const char c : escaped) {
    if (c == '\r') {
      text += "&#13;";
    } else if (c == '\n') {
      text += "&#10;";
    } else if (c == '\t') {
      text += "&#9;";
    } else {
      text += c;
    }
  }
  return text;
}

double Number(const std::optional<std::string>& value, const char* column) {
  if (!value) {
    throw Failure(FailureNumber::kValue,
                  std::string(column) + " is null, and a sales voucher needs a number there");
  }
  return ReadNumber(*value);
}

}  // namespace

SalesRow ReadSalesRow(const Recordset& rows) {
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
  std::string compact;
  compact.reserve(text.size());
  for (const char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') {
      compact += c;
    }
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
  if (!std::isfinite(value)) {
    throw Failure(FailureNumber::kValue, "an amount is too large to be written");
  }
  if (value == 0) {
    return "0";
  }
  // d.dddddddddddddde±x: the value rounded to 15 significant digits.
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                     std::chars_format::scientific, 14);
  const std::string_view scientific(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const std::size_t e = scientific.find('e');
  std::string digits;
  digits += scientific[0];
  digits += scientific.substr(2, e - 2);
  int exponent = 0;
  const std::string_view exponent_text = scientific.substr(e + 1);
  std::from_chars(exponent_text.data() + (exponent_text[0] == '+' ? 1 : 0),
                  exponent_text.data() + exponent_text.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  std::string text = value < 0 ? "-" : "";
  if (exponent < 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
  } else if (digits.size() <= static_cast<std::size_t>(exponent) + 1) {
    text += digits;
    text.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    text += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
    text += '.';
    text += digits.substr(static_cast<std::size_t>(exponent) + 1);
  }
  return text;
}

std::string BuildSalesVoucher(const SalesRow& row) {
  const double amount = Number(row.Amount, "Amount");
  const double tax_percent = Number(row.TaxPer, "TaxPer");
  const double tax = (amount * tax_percent) / 100;
  const double gross = amount + (tax_percent * amount) / 100;

  const std::string id = Text(row.VoucherID);
  const std::string date = Text(row.VoucherDate);
  const std::string party = Text(row.PartyName);
  const std::string amount_text = Text(row.Amount);
  const std::string qty = Text(row.Qty);
  const std::string unit = Text(row.Unit);
  const std::string quantity = " " + qty + " " + unit;

  std::string v;
  v.reserve(4096);
  v += "<ENVELOPE>";
  v += "<HEADER>";
  v += "<TALLYREQUEST>Import Data</TALLYREQUEST>";
  v += "</HEADER>";
  v += "<BODY>";
  v += "<IMPORTDATA>";
  v += "<REQUESTDESC>";
  v += "<REPORTNAME>All Masters</REPORTNAME>";
  v += "</REQUESTDESC>";
  v += "<REQUESTDATA>";
  v += "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\">";
  v += "<VOUCHER REMOTEID=\"" + id + "\" VCHTYPE=\"Sales\" ACTION=\"Create\">";
  v += "<ISOPTIONAL>No</ISOPTIONAL>";
  v += "<USEFORGAINLOSS>No</USEFORGAINLOSS>";
  v += "<USEFORCOMPOUND>No</USEFORCOMPOUND>";
  v += "<VOUCHERTYPENAME>Sales</VOUCHERTYPENAME>";
  v += "<DATE>" + date + "</DATE>";
  v += "<EFFECTIVEDATE>" + date + "</EFFECTIVEDATE>";
  v += "<ISCANCELLED>No</ISCANCELLED>";
  v += "<USETRACKINGNUMBER>No</USETRACKINGNUMBER>";
  v += "<ISPOSTDATED>No</ISPOSTDATED>";
  v += "<ISINVOICE>Yes</ISINVOICE>";
  v += "<DIFFACTUALQTY>No</DIFFACTUALQTY>";
  v += "<VOUCHERNUMBER>1</VOUCHERNUMBER>";
  v += "<REFERENCE>" + Text(row.RefNo) + "</REFERENCE>";
  v += "<PARTYLEDGERNAME>" + party + "</PARTYLEDGERNAME>";
  v += "<ASPAYSLIP>No</ASPAYSLIP>";
  v += "<GUID>" + id + "</GUID>";
  v += "<ALTERID> 1</ALTERID>";
  v += "<NARRATION/>";
  // The party's entry: the gross amount, negated as a number.
  v += "<LEDGERENTRIES.LIST>";
  v += "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>";
  v += "<ISDEEMEDPOSITIVE>Yes</ISDEEMEDPOSITIVE>";
  v += "<LEDGERFROMITEM>No</LEDGERFROMITEM>";
  v += "<LEDGERNAME>" + party + "</LEDGERNAME>";
  v += "<AMOUNT>" + FormatAmount(-gross) + "</AMOUNT>";
  v += "</LEDGERENTRIES.LIST>";
  // The tax entry.
  v += "<LEDGERENTRIES.LIST>";
  v += "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>";
  v += "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>";
  v += "<LEDGERFROMITEM>No</LEDGERFROMITEM>";
  v += "<LEDGERNAME>" + Text(row.TaxAc) + "</LEDGERNAME>";
  v += "<AMOUNT>" + FormatAmount(tax) + "</AMOUNT>";
  v += "</LEDGERENTRIES.LIST>";
  // The inventory entry with its sales and batch allocations.
  v += "<ALLINVENTORYENTRIES.LIST>";
  v += "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>";
  v += "<STOCKITEMNAME>" + Text(row.ItemName) + "</STOCKITEMNAME>";
  v += "<AMOUNT>" + amount_text + "</AMOUNT>";
  v += "<ACTUALQTY>" + quantity + "</ACTUALQTY>";
  v += "<BILLEDQTY>" + quantity + "</BILLEDQTY>";
  v += "<RATE> " + Text(row.Rate) + "/" + unit + "</RATE>";
  v += "<ACCOUNTINGALLOCATIONS.LIST>";
  v += "<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>";
  v += "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>";
  v += "<LEDGERFROMITEM>No</LEDGERFROMITEM>";
  v += "<LEDGERNAME>" + Text(row.SalesLedger) + "</LEDGERNAME>";
  v += "<AMOUNT>" + amount_text + "</AMOUNT>";
  v += "</ACCOUNTINGALLOCATIONS.LIST>";
  v += "<BATCHALLOCATIONS.LIST>";
  v += "<TRACKINGNUMBER/>";
  v += "<BATCHNAME>Primary Batch</BATCHNAME>";
  v += "<GODOWNNAME>Main Location</GODOWNNAME>";
  v += "<MFDON>" + date + "</MFDON>";
  v += "<EXPIRYPERIOD/>";
  v += "<AMOUNT>" + amount_text + "</AMOUNT>";
  v += "<ACTUALQTY>" + quantity + "</ACTUALQTY>";
  v += "<BILLEDQTY>" + quantity + "</BILLEDQTY>";
  v += "<ORDERNO/>";
  v += "</BATCHALLOCATIONS.LIST>";
  v += "</ALLINVENTORYENTRIES.LIST>";
  v += "</VOUCHER>";
  v += "</TALLYMESSAGE>";
  v += "</REQUESTDATA>";
  v += "</IMPORTDATA>";
  v += "</BODY>";
  v += "</ENVELOPE>";
  return v;
}

}  // namespace lirvo::demo
