// The sales database reader on the Access fixtures: DISTINCT order and counts, text forms, nulls,
// and the failures a user would have to act on.
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>
#include <lirvo/salesdb.h>

namespace {

using lirvo::access::Recordset;
using lirvo::access::SalesDatabase;
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
  const struct {
    const char* file;
    const char* column;
    long count;
    Texts first;  // the first values, in order
  } cases[] = {
      {"SampleData.mdb", "Unit", 5, Texts{"Box", "Kgs", "Mtr", "Nos", "Pcs"}},
      {"SampleData.mdb", "PartyName", 8,
       Texts{"Anand Hardware Stores", "Bharat Electricals", "Chandra & Sons"}},
      {"SampleData.mdb", "VoucherID", 12, Texts{"SV-2016-0001", "SV-2016-0002"}},
      {"SampleData.mdb", "Amount", 12, Texts{"600", "885", "4065", "4600"}},
      // Dates and numbers sort by value, not by their text.
      {"SampleData.mdb", "VoucherDate", 11, Texts{"20160401", "20160402", "20160404"}},
      {"SampleData.mdb", "Qty", 12,
       Texts{"4", "6", "8.5", "10", "12", "30", "40", "60", "120", "250", "400"}},
      {"SampleData.mdb", "Rate", 11,
       Texts{"1.2", "14.75", "18.4", "22.75", "95", "135.5", "310.25", "640"}},
      {"SampleData.mdb", "TaxPer", 3, Texts{"4", "5", "12.5"}},
      // Names that differ only in capitals are one value, spelt as first met in the table.
      {"types.mdb", "PartyName", 2, Texts{"anand hardware", "chandra & sons"}},
      {"types.mdb", "Unit", 2, Texts{"mtr", "nos"}},
      {"types.mdb", "Rate", 3, Texts{"-50", "12.75", "100"}},
      // Other letters by their UTF-8 bytes, after ASCII.
      {"unicode.mdb", "Unit", 5, Texts{"Kgs", "Nos", "Pcs", "नग", "નંગ"}},
      {"unicode.mdb", "PartyName", 5,
       Texts{"Café Müller & Søn", "Zoë \"Quotes\" <Angle> Ltd", "श्री गणेश ट्रेडर्स", "શ્રી અંબિકા સ્ટોર્સ",
             "ஸ்ரீ முருகன் ஸ்டோர்ஸ்"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.column);
    SalesDatabase db(Data(c.file));
    // Keywords, table and column names are all case-insensitive.
    Recordset rows = db.Open(std::string("select distinct [") + c.column + "] FROM salesmst;");
    EXPECT_EQ(rows.RecordCount(), c.count);
    Texts values = Column(std::move(rows), c.column);
    EXPECT_EQ(static_cast<long>(values.size()), c.count);
    values.resize(c.first.size());
    EXPECT_EQ(values, c.first);
  }
}

// One column of every type a reader meets (types.mdb's README gives the stored values).
TEST(SalesDatabase, EveryColumnTypeHasItsTextForm) {
  const std::pair<const char*, Texts> columns[] = {
      {"Flag", {"Yes", "No", "Yes", "No", "Yes", "No"}},
      {"ByteCol", {"7", "255", "0", "(null)", "1", "2"}},
      {"IntCol", {"-300", "32767", "0", "(null)", "1", "2"}},
      {"LongCol", {"123456789", "-2147483648", "0", "(null)", "1", "2"}},
      {"SingleCol", {"2.5", "-0.001", "0", "(null)", "1", "0.1"}},
      {"DoubleCol", {"-0.125", "1e+21", "0", "(null)", "1", "0.1"}},
      {"MoneyCol", {"-12.5", "0", "922337203685477.5807", "(null)", "1", "0.1"}},
      {"NumericCol", {"1234.5678", "-0.0001", "99999999999999.9999", "(null)", "1", "0.1"}},
      {"MemoCol", {"a memo line\nand a second line", "", "(null)", "Banana split", "x", "y"}},
      {"GuidCol",
       {"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "{00000000-0000-0000-0000-000000000001}",
        "(null)", "(null)", "(null)", "(null)"}},
      {"WhenCol", {"20160229", "19991231", "(null)", "20240101", "20240101", "20160401"}},
  };
  SalesDatabase db(Data("types.mdb"));
  for (const auto& [column, values] : columns) {
    EXPECT_EQ(Column(db.Open("Select * from Types"), column), values) << column;
  }
  EXPECT_EQ(Column(db.Open("Select DISTINCT TextCol from Types"), "TextCol"),
            (Texts{"(null)", "apple", "banana"}));
  EXPECT_EQ(Column(db.Open("Select DISTINCT Flag from Types"), "Flag"), (Texts{"Yes", "No"}));
  // Names in other scripts come through as stored.
  EXPECT_EQ(Column(SalesDatabase(Data("unicode.mdb")).Open("Select * from SalesMst"), "ItemName"),
            (Texts{"पीतल का लोटा", "કાંસાની થાળી", "Crème brûlée set", "வெள்ளி விளக்கு",
                   "Tea – Darjeeling 1kg"}));
}

TEST(SalesDatabase, NullsAreNoValueAndComeFirstInDistinct) {
  SalesDatabase db(Data("nulls.mdb"));
  const std::pair<const char*, Texts> columns[] = {
      {"RefNo", {"(null)", "R2", "R3"}},
      {"Qty", {"2", "1", "(null)"}},
      {"Rate", {"10", "10", "(null)"}},
      {"Amount", {"20", "10", "(null)"}},
      {"taxper", {"4", "4", "4"}}};  // names in any case
  for (const auto& [column, values] : columns) {
    EXPECT_EQ(Column(db.Open("Select * from SalesMst"), column), values) << column;
  }
  EXPECT_EQ(Column(db.Open("Select DISTINCT RefNo from SalesMst"), "RefNo"),
            (Texts{"(null)", "R2", "R3"}));
  EXPECT_EQ(Column(db.Open("Select DISTINCT Amount from SalesMst"), "Amount"),
            (Texts{"(null)", "10", "20"}));
}

// Each recordset has a reader process of its own; one stopped early takes its reader with it.
TEST(SalesDatabase, RecordsetsReadInTurnAndStoppedEarlyLeaveNoReader) {
  {
    SalesDatabase db(Data("SampleData.mdb"));
    const Texts ids = Column(db.Open("Select * from SalesMst"), "VoucherID");
    ASSERT_EQ(ids.size(), 12u);
    Recordset first = db.Open("Select * from SalesMst");
    Recordset second = db.Open("Select * from SalesMst");
    second.MoveNext();
    for (std::size_t row = 1; row <= 11; ++row, first.MoveNext(), second.MoveNext()) {
      EXPECT_EQ(first.RowNumber(), static_cast<long>(row));
      EXPECT_EQ(first.Field("VoucherID"), ids[row - 1]);
      EXPECT_EQ(second.Field("VoucherID"), ids[row]);
    }
    EXPECT_TRUE(second.AtEnd());
    EXPECT_EQ(db.Open("Select DISTINCT PartyName from SalesMst").RecordCount(), 8);
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a reader process is left";
}

// Files that are not usable databases are in the reliability tests.
TEST(SalesDatabase, FailuresNameTheFileAndTheTableOrColumn) {
  const auto failure = [](const std::string& a, const std::string& b) {
    return ::testing::Throws<modTally::Failure>(AllOf(
        ::testing::Property(&modTally::Failure::kind, modTally::FailureKind::Database),
        ::testing::Property(&modTally::Failure::description, AllOf(HasSubstr(a), HasSubstr(b)))));
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
    EXPECT_THAT([&] { no_column.Open(statement); }, failure(statement, "only"));
  }
}

}  // namespace
