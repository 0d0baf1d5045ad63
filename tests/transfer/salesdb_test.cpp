// The sales database reader on the Access fixtures: DISTINCT order and counts, text forms, nulls,
// and the failures a user would have to act on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/salesdb.h>
#include <lirvo/transfer.h>

namespace {

using lirvo::transfer::Recordset;
using lirvo::transfer::SalesDatabase;
using ::testing::AllOf;
using ::testing::HasSubstr;
using Texts = std::vector<std::string>;

std::string Data(const char* file) {
  return std::string(LIRVO_TEST_DATA_DIR) + "/" + file;
}

// The column's values from the current row to the end, a null as "(null)".
Texts Column(Recordset rows, const std::string& column) {
  Texts values;
  for (; !rows.AtEnd(); rows.MoveNext()) {
    values.push_back(rows.Field(column).value_or("(null)"));
  }
  return values;
}

TEST(SalesDatabase, DistinctGivesEachValueOnceInAscendingOrder) {
  SalesDatabase db(Data("SampleData.mdb"));
  const struct {
    const char* column;
    long count;
    Texts first;  // the first values, in order
  } cases[] = {
      {"Unit", 5, {"Box", "Kgs", "Mtr", "Nos", "Pcs"}},
      {"PartyName", 8, {"Anand Hardware Stores", "Bharat Electricals", "Chandra & Sons"}},
      {"SalesLedger", 2, {"Sales @ 12.5%", "Sales @ 4%"}},
      {"TaxAc", 3, {"Output VAT @ 12.5%", "Output VAT @ 4%", "Output VAT @ 5%"}},
      {"ItemName", 11, {"Cable Tie 200mm", "Ceiling Fan 48in"}},
      {"VoucherID", 12, {"SV-2016-0001", "SV-2016-0002"}},
      {"RefNo", 12, {"INV/101", "INV/102"}},
      // Dates and numbers sort by value, not by their text.
      {"VoucherDate", 11, {"20160401", "20160402", "20160404"}},
      {"Qty", 12, {"4", "6", "8.5", "10", "12", "30", "40", "60", "120", "250", "400"}},
      {"Rate", 11, {"1.2", "14.75", "18.4", "22.75", "95", "135.5", "310.25", "640"}},
      {"Amount", 12, {"600", "885", "4065", "4600"}},
      {"TaxPer", 3, {"4", "5", "12.5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    // Keywords, table and column names are all case-insensitive.
    Recordset rows = db.Open(std::string("select distinct [") + c.column + "] FROM salesmst;");
    EXPECT_EQ(rows.RecordCount(), c.count);
    Texts values = Column(std::move(rows), c.column);
    EXPECT_EQ(static_cast<long>(values.size()), c.count);
    values.resize(c.first.size());
    EXPECT_EQ(values, c.first);
  }
}

TEST(SalesDatabase, SelectAllReadsEveryRowForwardWithItsTextForms) {
  SalesDatabase db(Data("SampleData.mdb"));
  Recordset rows = db.Open("Select * from SalesMst");
  ASSERT_EQ(rows.RecordCount(), 12);
  EXPECT_EQ(rows.FieldNames().size(), 12u);
  // A date, a currency with decimals (1.2000) and without (600.0000), whole and fractional doubles.
  EXPECT_EQ(rows.Field("VoucherDate"), "20160401");
  EXPECT_EQ(rows.Field("Rate"), "1.2");
  EXPECT_EQ(rows.Field("Amount"), "600");
  EXPECT_EQ(rows.Field("taxper"), "4");  // column names are case-insensitive
  EXPECT_EQ(Column(std::move(rows), "Qty").at(8), "8.5");
}

TEST(SalesDatabase, NullsAreNoValueAndComeFirstInDistinct) {
  SalesDatabase db(Data("nulls.mdb"));
  const std::pair<const char*, Texts> columns[] = {{"RefNo", {"(null)", "R2", "R3"}},
                                                   {"Qty", {"2", "1", "(null)"}},
                                                   {"Rate", {"10", "10", "(null)"}},
                                                   {"Amount", {"20", "10", "(null)"}},
                                                   {"TaxPer", {"4", "4", "4"}}};
  for (const auto& [column, values] : columns) {
    EXPECT_EQ(Column(db.Open("Select * from SalesMst"), column), values) << column;
  }
  EXPECT_EQ(Column(db.Open("Select DISTINCT RefNo from SalesMst"), "RefNo"),
            (Texts{"(null)", "R2", "R3"}));
  EXPECT_EQ(Column(db.Open("Select DISTINCT Amount from SalesMst"), "Amount"),
            (Texts{"(null)", "10", "20"}));
}

// Every recordset on one file shares libmdb's page buffer; reading one must not disturb another.
TEST(SalesDatabase, RecordsetsReadInTurnDoNotDisturbEachOther) {
  SalesDatabase db(Data("SampleData.mdb"));
  Recordset first = db.Open("Select * from SalesMst");
  Recordset second = db.Open("Select * from SalesMst");
  second.MoveNext();
  const auto id = [](int row) {
    return "SV-2016-" + std::string(row < 10 ? "000" : "00") + std::to_string(row);
  };
  for (int row = 1; row <= 11; ++row, first.MoveNext(), second.MoveNext()) {
    ASSERT_EQ(db.Open("Select DISTINCT PartyName from SalesMst").RecordCount(), 8);
    // A failed open stops after reading the table's definition page.
    EXPECT_THROW(db.Open("Select DISTINCT NoSuchColumn from SalesMst"), modTally::Failure);
    EXPECT_EQ(first.Field("VoucherID"), id(row));
    EXPECT_EQ(second.Field("VoucherID"), id(row + 1));
  }
  EXPECT_TRUE(second.AtEnd());
}

// Files that are not usable databases are in the reliability tests.
TEST(SalesDatabase, FailuresNameTheFileAndTheTableOrColumn) {
  const auto failure = [](const std::string& a, const std::string& b) {
    return ::testing::ThrowsMessage<modTally::Failure>(AllOf(HasSubstr(a), HasSubstr(b)));
  };
  SalesDatabase no_table(Data("no-salesmst.mdb"));
  EXPECT_THAT([&] { no_table.Open("Select * from SalesMst"); },
              failure("no-salesmst.mdb", "\"SalesMst\""));
  SalesDatabase no_column(Data("no-taxper.mdb"));
  EXPECT_THAT([&] { no_column.Open("Select DISTINCT TaxPer from SalesMst"); },
              failure("no-taxper.mdb", "\"TaxPer\""));
  const Recordset rows = no_column.Open("Select * from SalesMst");
  EXPECT_THAT([&] { rows.Field("TaxPer"); }, failure("no-taxper.mdb", "\"TaxPer\""));
  for (const char* statement :
       {"Select Unit from SalesMst", "Select DISTINCT Unit, Qty from SalesMst", "Select * from"}) {
    EXPECT_THROW(no_column.Open(statement), modTally::Failure) << statement;
  }
}

}  // namespace
