// Any column values for a sales voucher: the request is one line, loads as XML, and every value
// reads back unchanged from its places; the amounts balance. After the layout the sender applies,
// the server reads the same values. A voucher is refused only for a missing or unusable amount.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include <lirvo/books/sales.h>
#include <lirvo/books/send.h>
#include <lirvo/modTally.h>

namespace {

using lirvo::books::SalesRow;
using Value = std::optional<std::string>;

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// XML cannot carry a NUL character at all; database text never holds one (the reader hands
// values over as C strings), so the fuzzer's values drop it too.
Value Take(FuzzedDataProvider& provider) {
  if (provider.ConsumeBool()) {
    return std::nullopt;
  }
  std::string text = provider.ConsumeRandomLengthString(64);
  std::erase(text, '\0');
  return text;
}

// How a value reads back from element text: loading drops text made of blanks only.
std::string AsText(const Value& value) {
  const std::string text = value.value_or("");
  return text.find_first_not_of(' ') == std::string::npos ? std::string() : text;
}

// Element text after a trip through XML written with raw line ends: CR LF and CR become LF, and
// text that is then only white space is dropped on loading.
std::string AfterLineEnds(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
    } else {
      out += text[i];
    }
  }
  return out.find_first_not_of(" \t\n") == std::string::npos ? std::string() : out;
}

std::string At(const pugi::xml_document& document, const char* path) {
  const pugi::xpath_node found = document.select_node(path);
  Require(static_cast<bool>(found));
  return modTally::NodeText(found.node());
}

// Every place a column's value goes, read from `document`; `text` maps a value to how it reads
// back there.
template <class Map>
void CheckValues(const pugi::xml_document& document, const SalesRow& row, const Map& text) {
  const pugi::xml_node voucher = document.select_node("//VOUCHER").node();
  Require(voucher.attribute("REMOTEID").value() == text(row.VoucherID.value_or(""), true));
  Require(At(document, "//VOUCHER/GUID") == text(AsText(row.VoucherID), false));
  for (const char* path :
       {"//VOUCHER/DATE", "//VOUCHER/EFFECTIVEDATE", "//BATCHALLOCATIONS.LIST/MFDON"}) {
    Require(At(document, path) == text(AsText(row.VoucherDate), false));
  }
  Require(At(document, "//REFERENCE") == text(AsText(row.RefNo), false));
  Require(At(document, "//PARTYLEDGERNAME") == text(AsText(row.PartyName), false));
  Require(At(document, "//LEDGERENTRIES.LIST[1]/LEDGERNAME") == text(AsText(row.PartyName), false));
  Require(At(document, "//LEDGERENTRIES.LIST[2]/LEDGERNAME") == text(AsText(row.TaxAc), false));
  Require(At(document, "//STOCKITEMNAME") == text(AsText(row.ItemName), false));
  Require(At(document, "//ACCOUNTINGALLOCATIONS.LIST/LEDGERNAME") ==
          text(AsText(row.SalesLedger), false));
  for (const char* path :
       {"//ALLINVENTORYENTRIES.LIST/AMOUNT", "//ACCOUNTINGALLOCATIONS.LIST/AMOUNT",
        "//BATCHALLOCATIONS.LIST/AMOUNT"}) {
    Require(At(document, path) == text(AsText(row.Amount), false));
  }
  const std::string quantity = AsText(" " + row.Qty.value_or("") + " " + row.Unit.value_or(""));
  for (const char* path :
       {"//ALLINVENTORYENTRIES.LIST/ACTUALQTY", "//ALLINVENTORYENTRIES.LIST/BILLEDQTY",
        "//BATCHALLOCATIONS.LIST/ACTUALQTY", "//BATCHALLOCATIONS.LIST/BILLEDQTY"}) {
    Require(At(document, path) == text(quantity, false));
  }
  Require(At(document, "//RATE") ==
          text(" " + row.Rate.value_or("") + "/" + row.Unit.value_or(""), false));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  SalesRow row;
  for (Value* column :
       {&row.VoucherID, &row.VoucherDate, &row.RefNo, &row.PartyName, &row.SalesLedger, &row.TaxAc,
        &row.ItemName, &row.Unit, &row.Qty, &row.Rate, &row.Amount, &row.TaxPer}) {
    *column = Take(provider);
  }

  std::string request;
  try {
    request = lirvo::books::BuildSalesVoucher(row, "");
  } catch (const modTally::Failure& failure) {
    Require(failure.number() == modTally::FailureNumber::kValue);
    return 0;
  }
  Require(request.find_first_of("\r\n") == std::string::npos);

  pugi::xml_document document;
  Require(modTally::LoadXml(document, request));
  const auto unchanged = [](const std::string& value, bool) { return value; };
  CheckValues(document, row, unchanged);

  // The amounts: the party pays the gross amount, which is the sales amount and the tax.
  const double party = lirvo::books::ReadNumber(At(document, "//LEDGERENTRIES.LIST[1]/AMOUNT"));
  const double tax = lirvo::books::ReadNumber(At(document, "//LEDGERENTRIES.LIST[2]/AMOUNT"));
  const double amount = lirvo::books::ReadNumber(*row.Amount);
  const double scale = std::fabs(party) + std::fabs(tax) + std::fabs(amount);
  Require(std::fabs(party + tax + amount) <= scale * 1e-13 + 1e-300);

  // The layout the sender applies, and the server reading the text. Attribute values keep every
  // character (line ends are written as references there); element text has its line ends
  // normalised, as any XML reader does.
  pugi::xml_document received;
  Require(modTally::LoadXml(received, lirvo::books::LaidOutXml(document)));
  const auto on_the_wire = [](const std::string& value, bool attribute) {
    return attribute ? value : AfterLineEnds(value);
  };
  CheckValues(received, row, on_the_wire);
  return 0;
}
