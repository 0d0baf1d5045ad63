// The sales database reader on the Access fixtures: DISTINCT order and counts, text forms, nulls,
// and the failures a user would have to act on.
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/salesdb.h>
#include <lirvo/transfer.h>

namespace {

using lirvo::demo::FieldValue;
using lirvo::demo::Recordset;
using lirvo::demo::SalesDatabase;
using ::testing::AllOf;
using ::testing::HasSubstr;

template <class Matcher>
auto ThrowsFailure(Matcher matcher) {
  return ::testing::ThrowsMessage<modTally::Failure>(matcher);
}

std::string Data(const char* file) {
  return std::string(LIRVO_TEST_DATA_DIR) + "/" + file;
}

std::vector<FieldValue> Column(Recordset rows, const std::string& column) {
  std::vector<FieldValue> values;
  while (!rows.AtEnd()) {
    values.push_back(rows.Field(column));
    rows.MoveNext();
  }
  return values;
}

std::vector<FieldValue> Values(std::initializer_list<const char*> texts) {
  std::vector<FieldValue> values;
  for (const char* text : texts) {
    values.push_back(text == nullptr ? FieldValue() : FieldValue(text));
  }
  return values;
}

TEST(SalesDatabase, DistinctGivesEachValueOnceInAscendingOrder) {
  SalesDatabase db(Data("SampleData.mdb"));
  const struct {
    const char* column;
    long count;
    std::vector<FieldValue> first;  // the first values, in order
  } cases[] = {
      {"Unit", 5, Values({"Box", "Kgs", "Mtr", "Nos", "Pcs"})},
      {"PartyName", 8, Values({"Anand Hardware Stores", "Bharat Electricals", "Chandra & Sons"})},
      {"SalesLedger", 2, Values({"Sales @ 12.5%", "Sales @ 4%"})},
      {"TaxAc", 3, Values({"Output VAT @ 12.5%", "Output VAT @ 4%", "Output VAT @ 5%"})},
      {"ItemName", 11, Values({"Cable Tie 200mm", "Ceiling Fan 48in"})},
      {"VoucherID", 12, Values({"SV-2016-0001", "SV-2016-0002"})},
      {"RefNo", 12, Values({"INV/101", "INV/102"})},
      // Dates and numbers sort by value, not by their text.
      {"VoucherDate", 11, Values({"20160401", "20160402", "20160404"})},
      {"Qty", 12, Values({"4", "6", "8.5", "10", "12", "30", "40", "60", "120", "250", "400"})},
      {"Rate", 11, Values({"1.2", "14.75", "18.4", "22.75", "95", "135.5", "310.25", "640"})},
      {"Amount", 12, Values({"600", "885", "4065", "4600"})},
      {"TaxPer", 3, Values({"4", "5", "12.5"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    // Keywords, table and column names are all case-insensitive.
    Recordset rows = db.Open(std::string("select distinct [") + c.column + "] FROM salesmst;");
    EXPECT_EQ(rows.RecordCount(), c.count);
    const auto values = Column(std::move(rows), c.column);
    ASSERT_EQ(static_cast<long>(values.size()), c.count);
    EXPECT_TRUE(std::equal(c.first.begin(), c.first.end(), values.begin()));
  }
}

TEST(SalesDatabase, SelectAllReadsEveryRowForwardWithItsTextForms) {
  SalesDatabase db(Data("SampleData.mdb"));
  Recordset rows = db.Open("Select * from SalesMst");
  ASSERT_EQ(rows.RecordCount(), 12);
  EXPECT_EQ(rows.FieldNames().size(), 12u);
  // A date, a currency with decimals (1.2000) and without (600.0000), a whole double.
  EXPECT_EQ(rows.Field("VoucherDate"), "20160401");
  EXPECT_EQ(rows.Field("Rate"), "1.2");
  EXPECT_EQ(rows.Field("Amount"), "600");
  EXPECT_EQ(rows.Field("taxper"), "4");  // column names are case-insensitive
  const auto quantities = Column(std::move(rows), "Qty");
  ASSERT_EQ(quantities.size(), 12u);
  EXPECT_EQ(quantities[8], "8.5");  // a fractional double
}

TEST(SalesDatabase, NullsStayApartFromEmptyTextAndComeFirstInDistinct) {
  SalesDatabase db(Data("nulls.mdb"));
  Recordset rows = db.Open("Select * from SalesMst");
  EXPECT_EQ(rows.Field("RefNo"), std::nullopt);  // N1
  EXPECT_EQ(rows.Field("Amount"), "20");
  rows.MoveNext();
  rows.MoveNext();
  EXPECT_EQ(rows.Field("VoucherID"), "N3");
  for (const char* column : {"Qty", "Rate", "Amount"}) {
    EXPECT_EQ(rows.Field(column), std::nullopt) << column;
  }
  EXPECT_EQ(rows.Field("TaxPer"), "4");

  EXPECT_EQ(Column(db.Open("Select DISTINCT RefNo from SalesMst"), "RefNo"),
            Values({nullptr, "R2", "R3"}));
  EXPECT_EQ(Column(db.Open("Select DISTINCT Amount from SalesMst"), "Amount"),
            Values({nullptr, "10", "20"}));
}

// Every recordset on one file shares libmdb's page buffer; reading one must not disturb another.
TEST(SalesDatabase, RecordsetsReadInTurnDoNotDisturbEachOther) {
  SalesDatabase db(Data("SampleData.mdb"));
  Recordset first = db.Open("Select * from SalesMst");
  Recordset second = db.Open("Select * from SalesMst");
  second.MoveNext();
  for (int row = 1; row <= 11; ++row) {
    SCOPED_TRACE(row);
    const Recordset distinct = db.Open("Select DISTINCT PartyName from SalesMst");
    ASSERT_EQ(distinct.RecordCount(), 8);
    // A failed open stops after reading the table's definition page.
    EXPECT_THROW(db.Open("Select DISTINCT NoSuchColumn from SalesMst"), modTally::Failure);
    char id[16];
    std::snprintf(id, sizeof id, "SV-2016-%04d", row);
    EXPECT_EQ(first.Field("VoucherID"), id);
    std::snprintf(id, sizeof id, "SV-2016-%04d", row + 1);
    EXPECT_EQ(second.Field("VoucherID"), id);
    first.MoveNext();
    second.MoveNext();
  }
  EXPECT_TRUE(second.AtEnd());
}

TEST(SalesDatabase, FailuresNameTheFileAndTheTableOrColumn) {
  const std::string not_access = ::testing::TempDir() + "/not-access.mdb";
  std::ofstream(not_access) << "Anand Hardware Stores,Pcs,500\n";
  EXPECT_THAT([] { SalesDatabase db(Data("there-is-no-such.mdb")); },
              ThrowsFailure(HasSubstr("there-is-no-such.mdb")));
  EXPECT_THAT([&] { SalesDatabase db(not_access); },
              ThrowsFailure(AllOf(HasSubstr(not_access), HasSubstr("not an Access database"))));
  const std::string damaged = ::testing::TempDir() + "/damaged.mdb";
  {
    std::ifstream whole(Data("SampleData.mdb"), std::ios::binary);
    std::string first_page(4096, '\0');
    whole.read(first_page.data(), 4096);
    std::ofstream(damaged, std::ios::binary) << first_page;
  }
  EXPECT_THAT([&] { SalesDatabase db(damaged); },
              ThrowsFailure(AllOf(HasSubstr(damaged), HasSubstr("damaged"))));

  SalesDatabase no_table(Data("no-salesmst.mdb"));
  EXPECT_THAT([&] { no_table.Open("Select * from SalesMst"); },
              ThrowsFailure(AllOf(HasSubstr("no-salesmst.mdb"), HasSubstr("\"SalesMst\""))));
  SalesDatabase no_column(Data("no-taxper.mdb"));
  EXPECT_THAT([&] { no_column.Open("Select DISTINCT TaxPer from SalesMst"); },
              ThrowsFailure(AllOf(HasSubstr("no-taxper.mdb"), HasSubstr("\"TaxPer\""))));
  const Recordset rows = no_column.Open("Select * from SalesMst");
  EXPECT_THAT([&] { rows.Field("TaxPer"); },
              ThrowsFailure(AllOf(HasSubstr("no-taxper.mdb"), HasSubstr("\"TaxPer\""))));
  for (const char* statement :
       {"Select Unit from SalesMst", "Select DISTINCT Unit, Qty from SalesMst", "Select * from"}) {
    EXPECT_THROW(no_column.Open(statement), modTally::Failure) << statement;
  }
}

}  // namespace
