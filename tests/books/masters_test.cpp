// Masters from a source's rows: through the builders, with the columns checked; the masters a
// document needs; the order in which they are created.
#include <gtest/gtest.h>

#include <lirvo/books/masters.h>
#include <lirvo/text.h>

namespace {

using lirvo::books::MasterKind;
using lirvo::books::MasterRef;
using lirvo::books::SourceRow;

TEST(SourceMasters, EachTableGoesThroughItsBuilder) {
  struct Case {
    const char* table;
    SourceRow row;
    const char* element;  // what the request holds
  };
  const Case cases[] = {
      {"units",
       {{"NAME", "Nos"}, {"IsSimpleUnit", "Yes"}},
       "<UNIT NAME=\"Nos\" ACTION=\"Create\">"},
      {"Godowns", {{"Name", "Store 2"}, {"Parent", ""}}, "<GODOWN NAME=\"Store 2\""},
      {"LedgerGroups",
       {{"name", " Agents "}, {"parent", "Sundry Creditors"}},
       "<PARENT>Sundry Creditors</PARENT>"},
      {"LEDGERS",
       {{"Name", "Rao & Sons"}, {"Parent", "Agents"}},
       "<LEDGER NAME=\"Rao &amp; Sons\""},
      {"StockGroups", {{"Name", "Brassware"}}, "<STOCKGROUP NAME=\"Brassware\""},
      {"StockItems", {{"Name", "Lota"}, {"BaseUnits", "Nos"}}, "<BASEUNITS>Nos</BASEUNITS>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const std::optional<MasterKind> kind = lirvo::books::KindOfTable(c.table);
    ASSERT_TRUE(kind);
    const auto record = lirvo::books::MasterFromRow(*kind, c.row);
    EXPECT_EQ(lirvo::books::KindOf(record), *kind);
    const std::string message = lirvo::books::CreateMessage(record);
    EXPECT_NE(message.find(c.element), std::string::npos) << message;
  }
  EXPECT_FALSE(lirvo::books::KindOfTable("Vouchers"));
  EXPECT_EQ(lirvo::books::KindOfKindName("stock-items"), MasterKind::kStockItem);
}

TEST(SourceMasters, ColumnsTheRecordDoesNotHaveAreRefused) {
  struct Case {
    MasterKind kind;
    SourceRow row;
    const char* message;
  };
  const Case cases[] = {
      {MasterKind::kLedger,
       {{"Name", "A"}, {"Colour", "red"}},
       "table Ledgers, column Colour: a ledgers record has no such field"},
      {MasterKind::kUnit, {{"Name", "A"}, {"OldName", "B"}}, "table Units, column OldName:"},
      {MasterKind::kStockItem,
       {{"BaseUnits", "Nos"}, {"Name", " "}},
       "table StockItems, column Name: a row has no Name"},
  };
  for (const Case& c : cases) {
    try {
      lirvo::books::MasterFromRow(c.kind, c.row);
      ADD_FAILURE() << c.message;
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.description().rfind(c.message, 0), 0u) << failure.description();
    }
  }
}

TEST(SourceMasters, TextAMessageCannotCarryIsNamedByItsField) {
  const auto problem = [](MasterKind kind, const SourceRow& row) {
    return lirvo::books::TextProblem(lirvo::books::MasterFromRow(kind, row)).value_or("none");
  };
  EXPECT_EQ(problem(MasterKind::kLedger, {{"Name", "Rao"}, {"Parent", "Sundry Debtors"}}), "none");
  EXPECT_EQ(problem(MasterKind::kLedger, {{"Name", "Caf\xC3\xA9 \xE0\xA4\x95"}}), "none");
  EXPECT_EQ(problem(MasterKind::kUnit, {{"Name", std::string("N\0s", 3)}}),
            "Name: holds the control character 0x00, which an XML message cannot carry");
  EXPECT_EQ(
      problem(MasterKind::kLedger, {{"Name", "Rao"}, {"Parent", "Debtors\xFF"}}).substr(0, 48),
      "Parent: is not UTF-8 text (from its byte 8); fix");
  EXPECT_EQ(
      problem(MasterKind::kStockItem, {{"Name", "Lota"}, {"BaseUnits", "N\x1Fs"}}).substr(0, 45),
      "BaseUnits: holds the control character 0x1f, ");
  // Long values are read eight bytes at a time: what follows the first eight is looked at too.
  EXPECT_EQ(problem(MasterKind::kLedger, {{"Name", "Sundry\tDebtors of the North\r\n"}}), "none");
  EXPECT_EQ(problem(MasterKind::kLedger, {{"Name", "Debtors of the North\x07 zone"}}).substr(0, 38),
            "Name: holds the control character 0x07");
  EXPECT_EQ(problem(MasterKind::kLedger, {{"Name", "Debtors of the North \xC3"}}).substr(0, 42),
            "Name: is not UTF-8 text (from its byte 22)");
}

// A flag as databases write true and false is the server's Yes or No; anything else is refused.
TEST(SourceMasters, FlagsAreYesOrNo) {
  const auto ledger = [](const std::string& flag) {
    return lirvo::books::MasterFromRow(MasterKind::kLedger,
                                       {{"Name", "Rao"}, {"IsBillWiseOn", flag}, {"Parent", flag}});
  };
  for (const char* yes : {"1", "TRUE", " t ", "y", "Yes"}) {
    const modTallyIm::LedgerMaster record = std::get<modTallyIm::LedgerMaster>(ledger(yes));
    EXPECT_EQ(record.IsBillWiseOn, "Yes") << yes;
    EXPECT_EQ(record.Parent, lirvo::text::Trim(yes)) << "not a flag";
  }
  for (const char* no : {"0", "false", "F", "n", "NO"}) {
    EXPECT_EQ(std::get<modTallyIm::LedgerMaster>(ledger(no)).IsBillWiseOn, "No") << no;
  }
  EXPECT_EQ(lirvo::books::TextProblem(ledger("")), std::nullopt);
  EXPECT_EQ(lirvo::books::TextProblem(ledger("maybe")).value_or("none"),
            "IsBillWiseOn: \"maybe\" is neither Yes nor No");
  EXPECT_EQ(
      lirvo::books::TextProblem(
          lirvo::books::MasterFromRow(MasterKind::kUnit, {{"Name", "Box"}, {"IsSimpleUnit", "2"}}))
          .value_or("none"),
      "IsSimpleUnit: \"2\" is neither Yes nor No");
}

TEST(SourceMasters, ADocumentNeedsItsNamedMastersButNotThePredefinedOnes) {
  lirvo::books::Document d{"V-1", lirvo::books::DocumentType::kSales, "20250401", "", "", "Rao", "",
                           {}};
  d.lines = {{"1", "Sales", "Lota", "", "2", "Nos", "", "10"},
             {"2", "SALES", "Bowl", "Main Location", "1", "nos", "", "5"},
             {"3", "Cash", "", "", "", "", "", "1"}};
  const std::vector<MasterRef> expected = {{MasterKind::kLedger, "Rao"},
                                           {MasterKind::kLedger, "Sales"},
                                           {MasterKind::kUnit, "Nos"},
                                           {MasterKind::kStockItem, "Lota"},
                                           {MasterKind::kStockItem, "Bowl"}};
  EXPECT_EQ(lirvo::books::Needs(d), expected);
  EXPECT_TRUE(lirvo::books::IsPredefined({MasterKind::kLedgerGroup, "sundry debtors"}));
  EXPECT_FALSE(lirvo::books::IsPredefined({MasterKind::kLedger, "Sundry Debtors"}));
}

TEST(SourceMasters, ParentsAndUnitsComeFirst) {
  const auto row = [](MasterKind kind, SourceRow columns) {
    return lirvo::books::MasterFromRow(kind, columns);
  };
  const std::vector<lirvo::books::MasterRecord> records = {
      row(MasterKind::kLedger, {{"Name", "Rao"}, {"Parent", "North Agents"}}),
      row(MasterKind::kLedgerGroup, {{"Name", "North Agents"}, {"Parent", "agents"}}),
      row(MasterKind::kStockItem, {{"Name", "Lota"}, {"BaseUnits", "Box"}}),
      row(MasterKind::kLedgerGroup, {{"Name", "Agents"}, {"Parent", "Sundry Creditors"}}),
      row(MasterKind::kUnit, {{"Name", "Box"}, {"BaseUnits", "Nos"}, {"AdditionalUnits", "Nos"}}),
      row(MasterKind::kUnit, {{"Name", "Nos"}, {"IsSimpleUnit", "Yes"}}),
      row(MasterKind::kLedgerGroup, {{"Name", "Loop"}, {"Parent", "Loop"}}),
  };
  std::vector<const lirvo::books::MasterRecord*> pointers;
  for (const lirvo::books::MasterRecord& record : records) {
    pointers.push_back(&record);
  }
  std::vector<std::string> order;
  for (const std::size_t i : lirvo::books::DependencyOrder(pointers)) {
    order.push_back(lirvo::books::NameOf(records[i]));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Nos", "Box", "Agents", "North Agents", "Loop", "Rao",
                                             "Lota"}));
}

}  // namespace
