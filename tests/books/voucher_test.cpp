// The sales voucher request: its exact text, the amounts, values that hold markup, and nulls.
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/books/readback.h>
#include <lirvo/books/sales.h>
#include <lirvo/verify.h>

#include "parsed.h"

namespace {

using lirvo::test::Parsed;

using lirvo::books::BuildSalesVoucher;
using lirvo::books::SalesRow;

SalesRow SampleRow() {
  return {.VoucherID = "SV-2016-0001",
          .VoucherDate = "20160401",
          .RefNo = "INV/101",
          .PartyName = "Anand Hardware Stores",
          .SalesLedger = "Sales @ 4%",
          .TaxAc = "Output VAT @ 4%",
          .ItemName = "Cable Tie 200mm",
          .Unit = "Pcs",
          .Qty = "500",
          .Rate = "1.2",
          .Amount = "600",
          .TaxPer = "4"};
}

std::string At(const pugi::xml_document& document, const char* xpath) {
  return modTally::NodeText(document.select_node(xpath).node());
}

TEST(SalesVoucher, IsTheWholeRequestOnOneLine) {
  // One line as sent; broken here between elements only.
  std::string expected = R"(<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER>
<BODY><IMPORTDATA><REQUESTDESC><REPORTNAME>All Masters</REPORTNAME><STATICVARIABLES>
<SVCURRENTCOMPANY>Acme &amp; Co</SVCURRENTCOMPANY></STATICVARIABLES></REQUESTDESC><REQUESTDATA>
<TALLYMESSAGE xmlns:UDF="TallyUDF"><VOUCHER REMOTEID="SV-2016-0001" VCHTYPE="Sales" ACTION="Create">
<ISOPTIONAL>No</ISOPTIONAL><USEFORGAINLOSS>No</USEFORGAINLOSS><USEFORCOMPOUND>No</USEFORCOMPOUND>
<VOUCHERTYPENAME>Sales</VOUCHERTYPENAME><DATE>20160401</DATE><EFFECTIVEDATE>20160401</EFFECTIVEDATE>
<ISCANCELLED>No</ISCANCELLED><USETRACKINGNUMBER>No</USETRACKINGNUMBER><ISPOSTDATED>No</ISPOSTDATED>
<ISINVOICE>Yes</ISINVOICE><DIFFACTUALQTY>No</DIFFACTUALQTY><VOUCHERNUMBER>1</VOUCHERNUMBER>
<REFERENCE>INV/101</REFERENCE><PARTYLEDGERNAME>Anand Hardware Stores</PARTYLEDGERNAME>
<ASPAYSLIP>No</ASPAYSLIP><GUID>SV-2016-0001</GUID><ALTERID> 1</ALTERID><NARRATION/>
<LEDGERENTRIES.LIST><REMOVEZEROENTRIES>No</REMOVEZEROENTRIES>
<ISDEEMEDPOSITIVE>Yes</ISDEEMEDPOSITIVE><LEDGERFROMITEM>No</LEDGERFROMITEM>
<LEDGERNAME>Anand Hardware Stores</LEDGERNAME><AMOUNT>-624</AMOUNT></LEDGERENTRIES.LIST>
<LEDGERENTRIES.LIST><REMOVEZEROENTRIES>No</REMOVEZEROENTRIES><ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>
<LEDGERFROMITEM>No</LEDGERFROMITEM><LEDGERNAME>Output VAT @ 4%</LEDGERNAME><AMOUNT>24</AMOUNT>
</LEDGERENTRIES.LIST><ALLINVENTORYENTRIES.LIST><ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>
<STOCKITEMNAME>Cable Tie 200mm</STOCKITEMNAME><AMOUNT>600</AMOUNT><ACTUALQTY> 500 Pcs</ACTUALQTY>
<BILLEDQTY> 500 Pcs</BILLEDQTY><RATE> 1.2/Pcs</RATE><ACCOUNTINGALLOCATIONS.LIST>
<REMOVEZEROENTRIES>No</REMOVEZEROENTRIES><ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>
<LEDGERFROMITEM>No</LEDGERFROMITEM><LEDGERNAME>Sales @ 4%</LEDGERNAME><AMOUNT>600</AMOUNT>
</ACCOUNTINGALLOCATIONS.LIST><BATCHALLOCATIONS.LIST><TRACKINGNUMBER/>
<BATCHNAME>Primary Batch</BATCHNAME><GODOWNNAME>Main Location</GODOWNNAME><MFDON>20160401</MFDON>
<EXPIRYPERIOD/><AMOUNT>600</AMOUNT><ACTUALQTY> 500 Pcs</ACTUALQTY><BILLEDQTY> 500 Pcs</BILLEDQTY>
<ORDERNO/></BATCHALLOCATIONS.LIST></ALLINVENTORYENTRIES.LIST></VOUCHER></TALLYMESSAGE></REQUESTDATA>
</IMPORTDATA></BODY></ENVELOPE>)";
  std::erase(expected, '\n');
  EXPECT_EQ(BuildSalesVoucher(SampleRow(), "Acme & Co"), expected);
}

TEST(SalesVoucher, AmountsBalanceAndAreWrittenAsPlainNumbers) {
  const struct {
    const char* amount;
    const char* tax_percent;
    const char* party;  // the party's AMOUNT: the gross, negated
    const char* tax;
  } cases[] = {
      {"1000", "4", "-1040", "40"},
      {"200", "12.5", "-225", "25"},
      {"1000", "0", "-1000", "0"},
      {"1000", "4%", "-1040", "40"},
      {" 1 000 ", "\t4\n", "-1040", "40"},
      {"-50", "0", "50", "0"},          // never "--50"
      {"abc", "4", "0", "0"},           // never "-0"
      {"0.1", "3", "-0.103", "0.003"},  // 15 significant digits hide binary rounding
      {"12345678901234567", "0", "-12345678901234600", "0"},
      {"1e15", "0", "-1000000000000000", "0"},
      // Numbers are read from the start of the text.
      {"+7", "0", "-7", "0"},
      {".5", "0", "-0.5", "0"},
      {"2E-2x", "1e3", "-0.22", "0.2"},
      {"1.2.3", "1e", "-1.212", "0.012"},
      {"1e-400", "-", "0", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.amount) + " at " + c.tax_percent);
    SalesRow row = SampleRow();
    row.Amount = c.amount;
    row.TaxPer = c.tax_percent;
    const auto document = Parsed(BuildSalesVoucher(row, ""));
    EXPECT_EQ(At(document, "//LEDGERENTRIES.LIST[1]/AMOUNT"), c.party);
    EXPECT_EQ(At(document, "//LEDGERENTRIES.LIST[2]/AMOUNT"), c.tax);
    // The inventory, sales and batch amounts are the column's own text.
    for (const char* path :
         {"//ALLINVENTORYENTRIES.LIST/AMOUNT", "//ACCOUNTINGALLOCATIONS.LIST/AMOUNT",
          "//BATCHALLOCATIONS.LIST/AMOUNT"}) {
      EXPECT_EQ(At(document, path), c.amount) << path;
    }
  }
}

// An amount is the value rounded to 15 significant digits, written plainly: as printf's %.15g
// writes it wherever that is plain, whether the value is a short decimal or any other double.
TEST(SalesVoucher, AmountsAreTheValueToFifteenDigits) {
  std::mt19937_64 random(7);
  std::vector<double> values = {
      0.1 + 0.2,        1.0 / 3, 2.0 / 3,     1e-4,      0.000123, 999999999999999.0,
      99999999999999.9, 0.5,     1234567.125, 0.0000015, 100,      1e14};
  for (int i = 0; i < 20000; ++i) {
    const auto n = static_cast<double>(random() % 1'000'000'000'000'000);
    const double power = std::pow(10.0, static_cast<int>(random() % 9));
    values.push_back(n / power);                          // a decimal of up to 8 places
    values.push_back(-std::round(n / 1e9) / 100 * 1.04);  // a price with 4 % on it
    values.push_back(std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(i % 60)));
  }
  for (const double value : values) {
    if (std::fabs(value) < 1e-4 || std::fabs(value) >= 1e15) {
      continue;  // %.15g writes these with an exponent
    }
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.15g", value);
    ASSERT_EQ(lirvo::books::FormatAmount(value), expected) << std::hexfloat << value;
  }
}

TEST(SalesVoucher, ValuesWithMarkupOrLineBreaksArePostedIntact) {
  SalesRow row = SampleRow();
  row.VoucherID = "A\"1<'>\t";
  row.PartyName = "Chandra & Sons";
  row.ItemName = "<Wire> 1.5 & more";
  row.RefNo = "line one\r\nline two";
  const std::string text = BuildSalesVoucher(row, "");
  EXPECT_EQ(text.find_first_of("\r\n\t"), std::string::npos);
  const auto document = Parsed(text);
  EXPECT_STREQ(document.select_node("//VOUCHER/@REMOTEID").attribute().value(), "A\"1<'>\t");
  EXPECT_EQ(At(document, "//GUID"), "A\"1<'>\t");
  EXPECT_EQ(At(document, "//PARTYLEDGERNAME"), "Chandra & Sons");
  EXPECT_EQ(At(document, "//LEDGERENTRIES.LIST[1]/LEDGERNAME"), "Chandra & Sons");
  EXPECT_EQ(At(document, "//STOCKITEMNAME"), "<Wire> 1.5 & more");
  EXPECT_EQ(At(document, "//REFERENCE"), "line one\r\nline two");
}

TEST(SalesVoucher, NullsAreEmptyExceptTheAmountsWhichFailAsDoOnesTooLarge) {
  SalesRow row = SampleRow();
  row.RefNo.reset();
  row.Qty.reset();
  EXPECT_THAT(BuildSalesVoucher(row, ""),
              ::testing::AllOf(::testing::HasSubstr("<REFERENCE></REFERENCE>"),
                               ::testing::HasSubstr("<ACTUALQTY>  Pcs</ACTUALQTY>")));
  const std::pair<std::optional<std::string> SalesRow::*, std::optional<std::string>> cases[] = {
      {&SalesRow::Amount, std::nullopt},
      {&SalesRow::TaxPer, std::nullopt},
      {&SalesRow::Amount, "1e400"}};
  for (const auto& [member, value] : cases) {
    SalesRow incomplete = SampleRow();
    incomplete.*member = value;
    EXPECT_THROW(BuildSalesVoucher(incomplete, ""), modTally::Failure) << value.value_or("null");
  }
}

}  // namespace
