// The master builders: the console's sample requests, the frame shared by all six kinds, and the
// path of every record field to its element.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

#include "kinds.h"
#include "request_tree.h"

namespace {

using lirvo::test::Element;
using lirvo::test::Kinds;
using lirvo::test::MasterRequest;
using lirvo::test::ParseMasterRequest;
using lirvo::test::Values;
using Attributes = std::vector<std::pair<std::string, std::string>>;

Element E(std::string name, std::string text = "", std::vector<Element> children = {}) {
  return Element{std::move(name), std::move(text), std::move(children)};
}
Element NameList(std::string name) {
  return E("NAME.LIST", "", {E("NAME", std::move(name))});
}

TEST(SampleRequests, NineCallsBuildTheDocumentedMastersInOrder) {
  const std::string kCustomerShort = "Ramesh Bhai";
  const std::string kCustomerFull = "Ramesh Patel";
  auto no = [](const char* element) { return E(element, "No"); };
  const struct {
    std::string element, name, action;
    std::vector<Element> children;
  } expected[] = {
      {"UNIT",
       "Nos",
       "Create",
       {E("NAME", "Nos"), E("ISSIMPLEUNIT", "Yes"), E("ORIGINALNAME", "Nos"),
        E("DECIMALPLACES", "2")}},
      {"UNIT",
       "Doz of 12 Nos",
       "Create",
       {E("NAME", "Doz of 12 Nos"), E("ISSIMPLEUNIT", "No"), E("BASEUNITS", "Nos"),
        E("ADDITIONALUNITS", "Doz"), E("CONVERSION", "12")}},
      {"GROUP",
       "My NewGroup",
       "Create",
       {no("ISBILLWISEON"), no("ISADDABLE"), no("ISSUBLEDGER"), no("ISREVENUE"),
        no("AFFECTSGROSSPROFIT"), no("ISDEEMEDPOSITIVE"), no("TRACKNEGATIVEBALANCES"),
        E("ISCONDENSED", "Yes"), no("AFFECTSSTOCK"), no("ISCOSTCENTREON"),
        NameList("My NewGroup")}},
      {"LEDGER",
       "VAT OUTPUT 4%",
       "Create",
       {E("ADDITIONALNAME", "VAT OUTPUT 4%"),
        E("ADDRESS.LIST"),
        E("PARENT", "Sundry Creditors"),
        E("ISBILLWISEON", "Yes"),
        no("ISCOSTCENTRESON"),
        no("ISINTERESTON"),
        no("ALLOWINMOBILE"),
        no("ISCONDENSED"),
        no("AFFECTSSTOCK"),
        no("FORPAYROLL"),
        no("INTERESTONBILLWISE"),
        no("OVERRIDEINTEREST"),
        no("OVERRIDEADVINTEREST"),
        no("USEFORVAT"),
        no("IGNORETDSEXEMPT"),
        no("ISTCSAPPLICABLE"),
        no("ISTDSAPPLICABLE"),
        no("ISFBTAPPLICABLE"),
        no("ISGSTAPPLICABLE"),
        NameList("VAT OUTPUT 4%")}},
      {"STOCKGROUP",
       "ItemGroup1",
       "Create",
       {E("COSTINGMETHOD", "Avg. Cost"), E("VALUATIONMETHOD", "Avg. Price"),
        NameList("ItemGroup1")}},
      {"STOCKITEM",
       "BUSH",
       "Create",
       {E("COSTINGMETHOD", "Avg. Cost"), E("VALUATIONMETHOD", "Avg. Price"), E("BASEUNITS", "Nos"),
        E("DENOMINATOR", "1"), E("BASICRATEOFEXCISE", "4"), E("RATEOFVAT", "4"), NameList("BUSH")}},
      {"UNIT", "Nos", "Delete", {E("NAME", "Nos")}},
      {"GODOWN", "Location2", "Alter", {NameList("NumberLocation3")}},
      {"LEDGER",
       kCustomerShort,
       "Alter",
       {E("ADDITIONALNAME", kCustomerFull), E("ADDRESS.LIST"), E("PARENT", "Sundry Debtors"),
        NameList(kCustomerFull)}},
  };

  const auto requests = modTallyIm::SampleRequests("Acme & Sons");
  ASSERT_EQ(requests.size(), std::size(expected));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE("sample call " + std::to_string(i + 1) + ": " + requests[i].first);
    const MasterRequest request = ParseMasterRequest(requests[i].second);
    EXPECT_EQ(request.company, "Acme & Sons");
    EXPECT_EQ(request.element, expected[i].element);
    EXPECT_EQ(request.attributes,
              (Attributes{{"NAME", expected[i].name}, {"ACTION", expected[i].action}}));
    EXPECT_EQ(request.children, expected[i].children);
  }
}

TEST(Frame, NameAttributeIsOldNameOnlyForExactlyAlter) {
  for (const auto& kind : Kinds()) {
    for (const std::string action : {"Alter", "alter", "ALTER", "Alter ", "", "Create", "Delete"}) {
      SCOPED_TRACE(kind.element + " action \"" + action + "\"");
      const auto request =
          ParseMasterRequest(kind.build("Acme", {{"OldName", "Old"}, {"Name", "New"}}, action));
      EXPECT_EQ(request.attributes,
                (Attributes{{"NAME", action == "Alter" ? "Old" : "New"}, {"ACTION", action}}));
    }
    SCOPED_TRACE(kind.element + " Alter without OldName");
    const auto request = ParseMasterRequest(kind.build("Acme", {{"Name", "New"}}, "Alter"));
    EXPECT_EQ(request.attributes, (Attributes{{"NAME", ""}, {"ACTION", "Alter"}}));
  }
}

TEST(Frame, EmptyRecordKeepsOnlyTheElementsWrittenAlways) {
  for (const auto& kind : Kinds()) {
    SCOPED_TRACE(kind.element);
    const auto request = ParseMasterRequest(kind.build("", {}, "Delete"));
    EXPECT_EQ(request.company, "");
    EXPECT_EQ(request.attributes, (Attributes{{"NAME", ""}, {"ACTION", "Delete"}}));
    std::vector<Element> expected;
    if (kind.element == "LEDGER") {
      expected.push_back(E("ADDRESS.LIST"));
    }
    if (kind.element != "UNIT") {
      expected.push_back(E("NAME.LIST"));
    }
    EXPECT_EQ(request.children, expected);
  }
}

TEST(Frame, ActionChangesNoChild) {
  for (const auto& kind : Kinds()) {
    SCOPED_TRACE(kind.element);
    Values values;
    for (const auto& field : kind.fields) {
      values[field] = "value of " + field;
    }
    const auto created = ParseMasterRequest(kind.build("Acme", values, "Create")).children;
    EXPECT_GT(created.size(), 3u);
    for (const std::string action : {"Alter", "Delete", "Anything"}) {
      EXPECT_EQ(ParseMasterRequest(kind.build("Acme", values, action)).children, created) << action;
    }
  }
}

// Every element anywhere below the master that holds `text`, as "parent/name".
void CollectHolding(const std::vector<Element>& children, const std::string& parent,
                    const std::string& text, std::vector<std::string>& paths) {
  for (const Element& child : children) {
    if (child.text == text) {
      paths.push_back(parent + "/" + child.name);
    }
    CollectHolding(child.children, child.name, text, paths);
  }
}

std::size_t CountElements(const std::vector<Element>& children) {
  std::size_t count = children.size();
  for (const Element& child : children) {
    count += CountElements(child.children);
  }
  return count;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

// Each field set alone, to a unique text, "No", a single blank and markup, lands in exactly the
// element named after it (Name in its documented places) and adds nothing else.
TEST(Fields, EachFieldReachesItsOwnElementOnly) {
  for (const auto& kind : Kinds()) {
    for (const auto& field : kind.fields) {
      if (field == "OldName") {
        continue;  // only ever an attribute; covered by the Alter test
      }
      Values base;
      if (kind.element == "UNIT" && (field == "OriginalName" || field == "DecimalPlaces")) {
        base["IsSimpleUnit"] = "Yes";  // simple-unit fields are written for simple units only
      }
      std::vector<std::string> expected_paths = {kind.element + "/" + Upper(field)};
      if (field == "Name") {
        expected_paths = {kind.element == "UNIT" ? "UNIT/NAME" : "NAME.LIST/NAME"};
        if (kind.element == "LEDGER") {
          expected_paths.insert(expected_paths.begin(), "LEDGER/ADDITIONALNAME");
        }
      }
      const std::size_t base_count =
          CountElements(ParseMasterRequest(kind.build("Acme", base, "Create")).children);

      for (const std::string& value : {"unique " + field, std::string("No"), std::string(" "),
                                       std::string("R&D <\"x\"> 'y'")}) {
        SCOPED_TRACE(kind.element + "." + field + " = \"" + value + "\"");
        Values values = base;
        values[field] = value;
        const auto request = ParseMasterRequest(kind.build("Acme", values, "Create"));
        std::vector<std::string> paths;
        CollectHolding(request.children, kind.element, value, paths);
        EXPECT_EQ(paths, expected_paths);
        EXPECT_EQ(CountElements(request.children), base_count + expected_paths.size());
        if (field == "Name") {
          EXPECT_EQ(request.attributes.front().second, value);
        }
      }
    }
  }
}

TEST(Fields, WireOrderWithEveryFieldSet) {
  const std::map<std::string, std::vector<std::string>> expected = {
      {"UNIT", {"NAME", "ISSIMPLEUNIT", "BASEUNITS", "ADDITIONALUNITS", "CONVERSION"}},
      {"LEDGER", {"ADDITIONALNAME",   "ADDRESS.LIST",
                  "CURRENCYNAME",     "PRICELEVEL",
                  "PARENT",           "TAXCLASSIFICATIONNAME",
                  "TAXTYPE",          "GSTTYPE",
                  "SERVICECATEGORY",  "TDSDEDUCTEETYPE",
                  "TDSRATENAME",      "LEDGERFBTCATEGORY",
                  "ISBILLWISEON",     "ISCOSTCENTRESON",
                  "ISINTERESTON",     "ALLOWINMOBILE",
                  "ISCONDENSED",      "AFFECTSSTOCK",
                  "FORPAYROLL",       "INTERESTONBILLWISE",
                  "OVERRIDEINTEREST", "OVERRIDEADVINTEREST",
                  "USEFORVAT",        "IGNORETDSEXEMPT",
                  "ISTCSAPPLICABLE",  "ISTDSAPPLICABLE",
                  "ISFBTAPPLICABLE",  "ISGSTAPPLICABLE",
                  "SHOWINPAYSLIP",    "USEFORGRATUITY",
                  "FORSERVICETAX",    "ISINPUTCREDIT",
                  "ISEXEMPTED",       "TDSDEDUCTEEISSPECIALRATE",
                  "AUDITED",          "SORTPOSITION",
                  "NAME.LIST"}},
      {"STOCKITEM",
       {"CATEGORY",
        "TAXCLASSIFICATIONNAME",
        "COSTINGMETHOD",
        "VALUATIONMETHOD",
        "BASEUNITS",
        "ADDITIONALUNITS",
        "EXCISEITEMCLASSIFICATION",
        "ISCOSTCENTRESON",
        "ISBATCHWISEON",
        "ISPERISHABLEON",
        "IGNOREPHYSICALDIFFERENCE",
        "IGNORENEGATIVESTOCK",
        "TREATSALESASMANUFACTURED",
        "TREATPURCHASESASCONSUMED",
        "TREATREJECTSASSCRAP",
        "HASMFGDATE",
        "ALLOWUSEOFEXPIREDITEMS",
        "IGNOREBATCHES",
        "IGNOREGODOWNS",
        "ISMRPINCLOFTAX",
        "REORDERASHIGHER",
        "MINORDERASHIGHER",
        "DENOMINATOR",
        "BASICRATEOFEXCISE",
        "RATEOFVAT",
        "NAME.LIST"}},
      {"GODOWN", {"PARENT", "JOBNAME", "HASNOSPACE", "HASNOSTOCK", "NAME.LIST"}},
      {"GROUP",
       {"PARENT", "ISBILLWISEON", "ISADDABLE", "ISSUBLEDGER", "ISREVENUE", "AFFECTSGROSSPROFIT",
        "ISDEEMEDPOSITIVE", "TRACKNEGATIVEBALANCES", "ISCONDENSED", "SORTPOSITION", "AFFECTSSTOCK",
        "ISCOSTCENTREON", "NAME.LIST"}},
      {"STOCKGROUP",
       {"PARENT", "COSTINGMETHOD", "VALUATIONMETHOD", "BASEUNITS", "ADDITIONALUNITS",
        "ISBATCHWISEON", "ISPERISHABLEON", "ISADDABLE", "IGNOREPHYSICALDIFFERENCE",
        "IGNORENEGATIVESTOCK", "TREATSALESASMANUFACTURED", "TREATPURCHASESASCONSUMED",
        "TREATREJECTSASSCRAP", "HASMFGDATE", "ALLOWUSEOFEXPIREDITEMS", "IGNOREBATCHES",
        "IGNOREGODOWNS", "NAME.LIST"}},
  };
  for (const auto& kind : Kinds()) {
    SCOPED_TRACE(kind.element);
    Values values;
    for (const auto& field : kind.fields) {
      values[field] = field;
    }
    std::vector<std::string> names;
    for (const Element& child : ParseMasterRequest(kind.build("Acme", values, "Create")).children) {
      names.push_back(child.name);
    }
    EXPECT_EQ(names, expected.at(kind.element));
  }
}

// A company name that cannot stand in the envelope (a NUL byte ends the text the parser sees)
// leaves no REQUESTDATA: every builder throws instead of returning a request.
TEST(Frame, UnbuildableEnvelopeThrows) {
  const std::string company("Acme\0Sons", 9);
  for (const auto& kind : Kinds()) {
    SCOPED_TRACE(kind.element);
    try {
      const std::string text = kind.build(company, {{"Name", "X"}}, "Create");
      ADD_FAILURE() << "returned a request: " << text;
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.number(), modTally::FailureNumber::kDocument);
      EXPECT_THAT(failure.description(), ::testing::HasSubstr(kind.element));
      EXPECT_THAT(failure.description(), ::testing::HasSubstr("Acme?Sons"));
    }
  }
}

}  // namespace
