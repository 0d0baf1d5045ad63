// lirvo build KIND: the documented masters, agreement with the library, usage errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kinds.h"
#include "raw_server.h"
#include "request_tree.h"

namespace {

using lirvo::test::Element;
using lirvo::test::Kinds;
using lirvo::test::ParseMasterRequest;
using lirvo::test::RunCommand;
using lirvo::test::Values;
using Attributes = std::vector<std::pair<std::string, std::string>>;

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string BuildCommand(const std::string& kind, const std::vector<std::string>& args) {
  std::string line = LIRVO_CLI_PATH " build " + kind;
  for (const std::string& arg : args) {
    line += " " + Quote(arg);
  }
  return line;
}

Element E(std::string name, std::string text = "", std::vector<Element> children = {}) {
  return Element{std::move(name), std::move(text), std::move(children)};
}
Element NameList(std::string name = "") {
  return name.empty() ? E("NAME.LIST") : E("NAME.LIST", "", {E("NAME", std::move(name))});
}

TEST(CliBuild, DocumentedMasters) {
  const struct {
    std::string kind;
    std::vector<std::string> args;
    Attributes attributes;
    std::vector<Element> children;
  } cases[] = {
      {"unit",
       {"--Name", "Nos", "--IsSimpleUnit", "Yes", "--OriginalName", "Nos", "--DecimalPlaces", "2",
        "--BaseUnits", "ignored", "--Conversion", "ignored"},
       {{"NAME", "Nos"}, {"ACTION", "Create"}},
       {E("NAME", "Nos"), E("ISSIMPLEUNIT", "Yes"), E("ORIGINALNAME", "Nos"),
        E("DECIMALPLACES", "2")}},
      {"unit",
       {"--Name", "Doz of 12 Nos", "--IsSimpleUnit", "No", "--BaseUnits", "Nos",
        "--AdditionalUnits", "Doz", "--Conversion", "12", "--OriginalName", "ignored"},
       {{"NAME", "Doz of 12 Nos"}, {"ACTION", "Create"}},
       {E("NAME", "Doz of 12 Nos"), E("ISSIMPLEUNIT", "No"), E("BASEUNITS", "Nos"),
        E("ADDITIONALUNITS", "Doz"), E("CONVERSION", "12")}},
      {"unit",
       {"--Name", "Nos", "--IsSimpleUnit", "yes", "--OriginalName", "Nos", "--DecimalPlaces", "2"},
       {{"NAME", "Nos"}, {"ACTION", "Create"}},
       {E("NAME", "Nos"), E("ISSIMPLEUNIT", "yes")}},
      {"unit",
       {"--Name", "Box", "--BaseUnits", "Nos", "--DecimalPlaces", "2"},
       {{"NAME", "Box"}, {"ACTION", "Create"}},
       {E("NAME", "Box"), E("BASEUNITS", "Nos")}},
      {"unit",
       {"--action", "Delete", "--Name", "Nos"},
       {{"NAME", "Nos"}, {"ACTION", "Delete"}},
       {E("NAME", "Nos")}},
      {"unit",
       {"--action", "Alter", "--Name", "Pcs"},
       {{"NAME", ""}, {"ACTION", "Alter"}},
       {E("NAME", "Pcs")}},
      {"unit",
       {"--action", "alter", "--OldName", "Nos", "--Name", "Pcs"},
       {{"NAME", "Pcs"}, {"ACTION", "alter"}},
       {E("NAME", "Pcs")}},
      {"unit",
       {"--action", "", "--Name", "Nos"},
       {{"NAME", "Nos"}, {"ACTION", ""}},
       {E("NAME", "Nos")}},
      {"ledger",
       {"--Name", "VAT OUTPUT 4%", "--Parent", "Sundry Creditors", "--IsBillWiseOn", "Yes"},
       {{"NAME", "VAT OUTPUT 4%"}, {"ACTION", "Create"}},
       {E("ADDITIONALNAME", "VAT OUTPUT 4%"), E("ADDRESS.LIST"), E("PARENT", "Sundry Creditors"),
        E("ISBILLWISEON", "Yes"), NameList("VAT OUTPUT 4%")}},
      {"ledger",
       {"--action", "Alter", "--OldName", "Ramesh Patel", "--Name", "Ramesh Patel"},
       {{"NAME", "Ramesh Patel"}, {"ACTION", "Alter"}},
       {E("ADDITIONALNAME", "Ramesh Patel"), E("ADDRESS.LIST"), NameList("Ramesh Patel")}},
      {"ledger",
       {"--action", "Alter", "--OldName", "Ramesh Bhai", "--Name", "Ramesh Patel", "--Parent",
        "Sundry Debtors"},
       {{"NAME", "Ramesh Bhai"}, {"ACTION", "Alter"}},
       {E("ADDITIONALNAME", "Ramesh Patel"), E("ADDRESS.LIST"), E("PARENT", "Sundry Debtors"),
        NameList("Ramesh Patel")}},
      {"ledger",
       {"--Parent", "Sundry Debtors", "--UseForVat", "No"},
       {{"NAME", ""}, {"ACTION", "Create"}},
       {E("ADDRESS.LIST"), E("PARENT", "Sundry Debtors"), E("USEFORVAT", "No"), NameList()}},
      {"ledger",
       {"--action", "Delete"},
       {{"NAME", ""}, {"ACTION", "Delete"}},
       {E("ADDRESS.LIST"), NameList()}},
      {"stockitem",
       {"--Name", "BUSH", "--BaseUnits", "Nos", "--CostingMethod", "Avg. Cost", "--ValuationMethod",
        "Avg. Price", "--Denominator", "1", "--BasicRateOfExcise", "4", "--RateOfVat", "4"},
       {{"NAME", "BUSH"}, {"ACTION", "Create"}},
       {E("COSTINGMETHOD", "Avg. Cost"), E("VALUATIONMETHOD", "Avg. Price"), E("BASEUNITS", "Nos"),
        E("DENOMINATOR", "1"), E("BASICRATEOFEXCISE", "4"), E("RATEOFVAT", "4"), NameList("BUSH")}},
      {"stockitem", {"--action", "Delete"}, {{"NAME", ""}, {"ACTION", "Delete"}}, {NameList()}},
      {"godown",
       {"--action", "Alter", "--OldName", "Location2", "--Name", "NumberLocation3"},
       {{"NAME", "Location2"}, {"ACTION", "Alter"}},
       {NameList("NumberLocation3")}},
      {"group",
       {"--Name",
        "My NewGroup",
        "--IsCondensed",
        "Yes",
        "--IsBillWiseOn",
        "No",
        "--IsCostCentreOn",
        "No",
        "--IsAddable",
        "No",
        "--IsSubLedger",
        "No",
        "--IsRevenue",
        "No",
        "--AffectsGrossProfit",
        "No",
        "--IsDeemedPositive",
        "No",
        "--TrackNegativeBalances",
        "No",
        "--AffectsStock",
        "No"},
       {{"NAME", "My NewGroup"}, {"ACTION", "Create"}},
       {E("ISBILLWISEON", "No"), E("ISADDABLE", "No"), E("ISSUBLEDGER", "No"), E("ISREVENUE", "No"),
        E("AFFECTSGROSSPROFIT", "No"), E("ISDEEMEDPOSITIVE", "No"),
        E("TRACKNEGATIVEBALANCES", "No"), E("ISCONDENSED", "Yes"), E("AFFECTSSTOCK", "No"),
        E("ISCOSTCENTREON", "No"), NameList("My NewGroup")}},
      {"stockgroup",
       {"--Name", "ItemGroup1", "--CostingMethod", "Avg. Cost", "--ValuationMethod", "Avg. Price"},
       {{"NAME", "ItemGroup1"}, {"ACTION", "Create"}},
       {E("COSTINGMETHOD", "Avg. Cost"), E("VALUATIONMETHOD", "Avg. Price"),
        NameList("ItemGroup1")}},
  };
  for (const auto& c : cases) {
    const std::string line = BuildCommand(c.kind, c.args);
    SCOPED_TRACE(line);
    const auto result = RunCommand(line);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const auto request = ParseMasterRequest(result.out);
    EXPECT_EQ(request.company, "");
    EXPECT_EQ(request.attributes, c.attributes);
    EXPECT_EQ(request.children, c.children);
  }
}

TEST(CliBuild, PrintsWhatTheLibraryBuilds) {
  for (const auto& kind : Kinds()) {
    SCOPED_TRACE(kind.cli_name);
    Values values;
    std::vector<std::string> args = {"--company", "Acme & 'Sons'", "--action=Alter"};
    for (const auto& field : kind.fields) {
      values[field] = field + " <" + kind.cli_name + "> & co";
      args.push_back("--" + field);
      args.push_back(values[field]);
    }
    const auto result = RunCommand(BuildCommand(kind.cli_name, args));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, kind.build("Acme & 'Sons'", values, "Alter") + "\n");

    // Without --company and --action: an empty company and "Create".
    const auto plain = RunCommand(BuildCommand(kind.cli_name, {"--Name=Nos"}));
    EXPECT_EQ(plain.out, kind.build("", {{"Name", "Nos"}}, "Create") + "\n");
  }
}

TEST(CliBuild, UsageErrorsNameTheirCauseAndExitTwo) {
  const struct {
    std::string kind;
    std::vector<std::string> args;
    std::string names;
  } cases[] = {
      {"ledger", {"--Colour", "red"}, "\"--Colour\""},
      {"group", {"--IsCostCentresOn", "No"}, "\"--IsCostCentresOn\""},  // the ledger's spelling
      {"unit", {"--name", "Nos"}, "\"--name\""},                        // names are case-sensitive
      {"shed", {"--Name", "A"}, "\"shed\""},
      {"", {}, "stockgroup"},
      {"unit", {"--Name"}, "needs a value"},
      {"unit", {"--Name", "A", "--Name=B"}, "twice"},
      {"unit", {"Nos"}, "\"Nos\""},
  };
  for (const auto& c : cases) {
    const std::string line = BuildCommand(c.kind, c.args);
    SCOPED_TRACE(line);
    const auto result = RunCommand(line);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(result.err, ::testing::HasSubstr(c.names));
  }
}

}  // namespace
