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
    std::vector<FieldValue> values;  // the whole result, or its first values when `count` is more
    long count;
  } cases[] = {
      {"Unit", Values({"Box", "Kgs", "Mtr", "Nos", "Pcs"}), 5},
      {"PartyName",
       Values({"Anand Hardware Stores", "Bharat Electricals", "Chandra & Sons",
               "Deccan Power Systems", "Eastern Lighting Co", "Falcon Traders", "Gokul Enterprises",
               "Harbour Supplies"}),
       8},
      {"SalesLedger", Values({"Sales @ 12.5%", "Sales @ 4%"}), 2},
      {"TaxAc", Values({"Output VAT @ 12.5%", "Output VAT @ 4%", "Output VAT @ 5%"}), 3},
      {"ItemName", Values({"Cable Tie 200mm", "Ceiling Fan 48in", "Copper Wire 1.5 sq mm"}), 11},
      {"VoucherID", Values({"SV-2016-0001", "SV-2016-0002"}), 12},
      {"RefNo", Values({"INV/101", "INV/102"}), 12},
      // Dates and numbers sort by value, not by their text.
      {"VoucherDate", Values({"20160401", "20160402", "20160404"}), 11},
      {"Qty", Values({"4", "6", "8.5", "10", "12", "30", "40", "60", "120", "250", "400", "500"}),
       12},
      {"Rate", Values({"1.2", "14.75", "18.4", "22.75", "95", "135.5", "310.25", "640"}), 11},
      {"Amount", Values({"600", "885", "4065", "4600"}), 12},
      {"TaxPer", Values({"4", "5", "12.5"}), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    Recordset rows = db.Open(std::string("Select DISTINCT ") + c.column + " from SalesMst");
    EXPECT_EQ(rows.RecordCount(), c.count);
    const auto values = Column(std::move(rows), c.column);
    ASSERT_EQ(static_cast<long>(values.size()), c.count);
    EXPECT_TRUE(std::equal(c.values.begin(), c.values.end(), values.begin()))
        << "first value read: " << values.front().value_or("(null)");
  }
}

TEST(SalesDatabase, SelectAllReadsEveryRowForwardWithItsTextForms) {
  SalesDatabase db(Data("SampleData.mdb"));
  Recordset rows = db.Open("Select * from SalesMst");
  ASSERT_EQ(rows.RecordCount(), 12);
  EXPECT_THAT(
      rows.FieldNames(),
      ::testing::ElementsAre("VoucherID", "VoucherDate", "RefNo", "PartyName", "SalesLedger",
                             "TaxAc", "ItemName", "Unit", "Qty", "Rate", "Amount", "TaxPer"));
  // Row 1: a date, a currency with decimals (1.2000) and without (600.0000), whole doubles.
  EXPECT_EQ(rows.Field("VoucherID"), "SV-2016-0001");
  EXPECT_EQ(rows.Field("VoucherDate"), "20160401");
  EXPECT_EQ(rows.Field("Rate"), "1.2");
  EXPECT_EQ(rows.Field("Amount"), "600");
  EXPECT_EQ(rows.Field("Qty"), "500");
  EXPECT_EQ(rows.Field("taxper"), "4");  // column names are case-insensitive
  for (int row = 2; row <= 9; ++row) {
    rows.MoveNext();
  }
  // Row 9: a fractional double.
  EXPECT_EQ(rows.Field("VoucherID"), "SV-2016-0009");
  EXPECT_EQ(rows.Field("Qty"), "8.5");
  EXPECT_EQ(rows.Field("TaxPer"), "5");
  int left = 0;
  while (!rows.AtEnd()) {
    rows.MoveNext();
    ++left;
  }
  EXPECT_EQ(left, 4);
  EXPECT_THROW(rows.Field("Unit"), modTally::Failure);
  EXPECT_THROW(rows.MoveNext(), modTally::Failure);
}

TEST(SalesDatabase, EmptyTableGivesNoRows) {
  SalesDatabase db(Data("empty.mdb"));
  for (const char* statement : {"Select * from SalesMst", "Select DISTINCT Unit from SalesMst"}) {
    SCOPED_TRACE(statement);
    const Recordset rows = db.Open(statement);
    EXPECT_EQ(rows.RecordCount(), 0);
    EXPECT_TRUE(rows.AtEnd());
  }
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

TEST(SalesDatabase, StatementsAreReadCaseInsensitively) {
  SalesDatabase db(Data("three-rows.mdb"));
  for (const char* statement :
       {"select distinct itemname from salesmst", "SELECT DISTINCT [ItemName] FROM [SALESMST];",
        "  Select\tDISTINCT ItemName\nfrom SalesMst  "}) {
    SCOPED_TRACE(statement);
    EXPECT_EQ(Column(db.Open(statement), "ItemName"), Values({"Item A", "Item B"}));
  }
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

TEST(SalesDatabase, RecordsetOutlivesTheDatabaseObject) {
  std::optional<Recordset> rows;
  {
    SalesDatabase db(Data("three-rows.mdb"));
    rows.emplace(db.Open("Select * from SalesMst"));
  }
  rows->MoveNext();
  EXPECT_EQ(rows->Field("VoucherID"), "A2");
}

TEST(SalesDatabase, FailuresNameTheFileAndTheTableOrColumn) {
  const std::string missing = Data("there-is-no-such.mdb");
  const std::string not_access = ::testing::TempDir() + "/not-access.mdb";
  std::ofstream(not_access) << "Anand Hardware Stores,Pcs,500\n";
  EXPECT_THAT([&] { SalesDatabase db(missing); },
              ::testing::ThrowsMessage<modTally::Failure>(HasSubstr(missing)));
  EXPECT_THAT([&] { SalesDatabase db(not_access); },
              ::testing::ThrowsMessage<modTally::Failure>(
                  AllOf(HasSubstr(not_access), HasSubstr("not an Access database"))));

  SalesDatabase no_table(Data("no-salesmst.mdb"));
  for (const char* statement : {"Select * from SalesMst", "Select DISTINCT Unit from SalesMst"}) {
    EXPECT_THAT([&] { no_table.Open(statement); },
                ::testing::ThrowsMessage<modTally::Failure>(
                    AllOf(HasSubstr("no-salesmst.mdb"), HasSubstr("\"SalesMst\""))))
        << statement;
  }

  SalesDatabase no_column(Data("no-taxper.mdb"));
  EXPECT_THAT([&] { no_column.Open("Select DISTINCT TaxPer from SalesMst"); },
              ::testing::ThrowsMessage<modTally::Failure>(
                  AllOf(HasSubstr("no-taxper.mdb"), HasSubstr("\"TaxPer\""))));
  const Recordset rows = no_column.Open("Select * from SalesMst");
  EXPECT_THAT([&] { rows.Field("TaxPer"); },
              ::testing::ThrowsMessage<modTally::Failure>(
                  AllOf(HasSubstr("no-taxper.mdb"), HasSubstr("\"TaxPer\""))));

  for (const char* statement : {"Select Unit from SalesMst",
                                "Select DISTINCT Unit, Qty from "
                                "SalesMst",
                                "Delete from SalesMst", "", "Select * from"}) {
    try {
      no_column.Open(statement);
      ADD_FAILURE() << "ran \"" << statement << "\"";
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.number(), modTally::FailureNumber::kDatabase) << statement;
    }
  }
}

}  // namespace
