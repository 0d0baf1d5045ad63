// The master builders: the console's sample requests, the frame shared by all six kinds, and the
// path of every record field to its element.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

#include "kinds.h"
#include "request_tree.h"

namespace {

using lirvo::test::Kinds;
using lirvo::test::ParseMasterRequest;
using lirvo::test::Values;

TEST(SampleRequests, NineCallsBuildTheDocumentedMastersInOrder) {
  const char* const expected[][2] = {
      {"UNIT(NAME=Nos, ACTION=Create)",
       "NAME=Nos; ISSIMPLEUNIT=Yes; ORIGINALNAME=Nos; DECIMALPLACES=2"},
      {"UNIT(NAME=Doz of 12 Nos, ACTION=Create)",
       "NAME=Doz of 12 Nos; ISSIMPLEUNIT=No; BASEUNITS=Nos; ADDITIONALUNITS=Doz; CONVERSION=12"},
      {"GROUP(NAME=My NewGroup, ACTION=Create)",
       "ISBILLWISEON=No; ISADDABLE=No; ISSUBLEDGER=No; ISREVENUE=No; AFFECTSGROSSPROFIT=No; "
       "ISDEEMEDPOSITIVE=No; TRACKNEGATIVEBALANCES=No; ISCONDENSED=Yes; AFFECTSSTOCK=No; "
       "ISCOSTCENTREON=No; NAME.LIST[NAME=My NewGroup]"},
      {"LEDGER(NAME=VAT OUTPUT 4%, ACTION=Create)",
       "ADDITIONALNAME=VAT OUTPUT 4%; ADDRESS.LIST; PARENT=Sundry Creditors; ISBILLWISEON=Yes; "
       "ISCOSTCENTRESON=No; ISINTERESTON=No; ALLOWINMOBILE=No; ISCONDENSED=No; AFFECTSSTOCK=No; "
       "FORPAYROLL=No; INTERESTONBILLWISE=No; OVERRIDEINTEREST=No; OVERRIDEADVINTEREST=No; "
       "USEFORVAT=No; IGNORETDSEXEMPT=No; ISTCSAPPLICABLE=No; ISTDSAPPLICABLE=No; "
       "ISFBTAPPLICABLE=No; ISGSTAPPLICABLE=No; NAME.LIST[NAME=VAT OUTPUT 4%]"},
      {"STOCKGROUP(NAME=ItemGroup1, ACTION=Create)",
       "COSTINGMETHOD=Avg. Cost; VALUATIONMETHOD=Avg. Price; NAME.LIST[NAME=ItemGroup1]"},
      {"STOCKITEM(NAME=BUSH, ACTION=Create)",
       "COSTINGMETHOD=Avg. Cost; VALUATIONMETHOD=Avg. Price; BASEUNITS=Nos; DENOMINATOR=1; "
       "BASICRATEOFEXCISE=4; RATEOFVAT=4; NAME.LIST[NAME=BUSH]"},
      {"UNIT(NAME=Nos, ACTION=Delete)", "NAME=Nos"},
      {"GODOWN(NAME=Location2, ACTION=Alter)", "NAME.LIST[NAME=NumberLocation3]"},
      {"LEDGER(NAME=Ramesh Bhai, ACTION=Alter)",
       "ADDITIONALNAME=Ramesh Patel; ADDRESS.LIST; PARENT=Sundry Debtors; "
       "NAME.LIST[NAME=Ramesh Patel]"},
  };
  const auto requests = modTallyIm::SampleRequests("Acme & Sons");
  ASSERT_EQ(requests.size(), std::size(expected));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE("sample call " + std::to_string(i + 1) + ": " + requests[i].first);
    const auto request = ParseMasterRequest(requests[i].second);
    EXPECT_EQ(request.company, "Acme & Sons");
    EXPECT_EQ(request.head, expected[i][0]);
    EXPECT_EQ(request.children, expected[i][1]);
  }
}

TEST(Frame, NameAttributeIsOldNameOnlyForExactlyAlter) {
  for (const auto& kind : Kinds()) {
    for (const std::string action : {"Alter", "alter", "Alter ", "", "Create", "Delete"}) {
      SCOPED_TRACE(kind.element + " action \"" + action + "\"");
      const auto request =
          ParseMasterRequest(kind.build("Acme", {{"OldName", "Old"}, {"Name", "New"}}, action));
      EXPECT_EQ(request.head, kind.element + "(NAME=" + (action == "Alter" ? "Old" : "New") +
                                  ", ACTION=" + action + ")");
    }
    EXPECT_EQ(ParseMasterRequest(kind.build("Acme", {{"Name", "New"}}, "Alter")).head,
              kind.element + "(NAME=, ACTION=Alter)");
  }
}

TEST(Frame, EmptyRecordKeepsOnlyTheElementsWrittenAlways) {
  const std::map<std::string, std::string> expected = {{"UNIT", ""},
                                                       {"LEDGER", "ADDRESS.LIST; NAME.LIST"},
                                                       {"STOCKITEM", "NAME.LIST"},
                                                       {"GODOWN", "NAME.LIST"},
                                                       {"GROUP", "NAME.LIST"},
                                                       {"STOCKGROUP", "NAME.LIST"}};
  for (const auto& kind : Kinds()) {
    const auto request = ParseMasterRequest(kind.build("", {}, "Delete"));
    EXPECT_EQ(request.head, kind.element + "(NAME=, ACTION=Delete)");
    EXPECT_EQ(request.children, expected.at(kind.element)) << kind.element;
  }
}

// With every field set, the children come in the documented wire order whatever the action.
TEST(Frame, WireOrderIsTheSameForEveryAction) {
  const std::map<std::string, std::string> expected = {
      {"UNIT", "NAME; ISSIMPLEUNIT; BASEUNITS; ADDITIONALUNITS; CONVERSION"},
      {"LEDGER",
       "ADDITIONALNAME; ADDRESS.LIST; CURRENCYNAME; PRICELEVEL; PARENT; TAXCLASSIFICATIONNAME; "
       "TAXTYPE; GSTTYPE; SERVICECATEGORY; TDSDEDUCTEETYPE; TDSRATENAME; LEDGERFBTCATEGORY; "
       "ISBILLWISEON; ISCOSTCENTRESON; ISINTERESTON; ALLOWINMOBILE; ISCONDENSED; AFFECTSSTOCK; "
       "FORPAYROLL; INTERESTONBILLWISE; OVERRIDEINTEREST; OVERRIDEADVINTEREST; USEFORVAT; "
       "IGNORETDSEXEMPT; ISTCSAPPLICABLE; ISTDSAPPLICABLE; ISFBTAPPLICABLE; ISGSTAPPLICABLE; "
       "SHOWINPAYSLIP; USEFORGRATUITY; FORSERVICETAX; ISINPUTCREDIT; ISEXEMPTED; "
       "TDSDEDUCTEEISSPECIALRATE; AUDITED; SORTPOSITION; NAME.LIST[NAME]"},
      {"STOCKITEM",
       "CATEGORY; TAXCLASSIFICATIONNAME; COSTINGMETHOD; VALUATIONMETHOD; BASEUNITS; "
       "ADDITIONALUNITS; EXCISEITEMCLASSIFICATION; ISCOSTCENTRESON; ISBATCHWISEON; "
       "ISPERISHABLEON; IGNOREPHYSICALDIFFERENCE; IGNORENEGATIVESTOCK; TREATSALESASMANUFACTURED; "
       "TREATPURCHASESASCONSUMED; TREATREJECTSASSCRAP; HASMFGDATE; ALLOWUSEOFEXPIREDITEMS; "
       "IGNOREBATCHES; IGNOREGODOWNS; ISMRPINCLOFTAX; REORDERASHIGHER; MINORDERASHIGHER; "
       "DENOMINATOR; BASICRATEOFEXCISE; RATEOFVAT; NAME.LIST[NAME]"},
      {"GODOWN", "PARENT; JOBNAME; HASNOSPACE; HASNOSTOCK; NAME.LIST[NAME]"},
      {"GROUP",
       "PARENT; ISBILLWISEON; ISADDABLE; ISSUBLEDGER; ISREVENUE; AFFECTSGROSSPROFIT; "
       "ISDEEMEDPOSITIVE; TRACKNEGATIVEBALANCES; ISCONDENSED; SORTPOSITION; AFFECTSSTOCK; "
       "ISCOSTCENTREON; NAME.LIST[NAME]"},
      {"STOCKGROUP",
       "PARENT; COSTINGMETHOD; VALUATIONMETHOD; BASEUNITS; ADDITIONALUNITS; ISBATCHWISEON; "
       "ISPERISHABLEON; ISADDABLE; IGNOREPHYSICALDIFFERENCE; IGNORENEGATIVESTOCK; "
       "TREATSALESASMANUFACTURED; TREATPURCHASESASCONSUMED; TREATREJECTSASSCRAP; HASMFGDATE; "
       "ALLOWUSEOFEXPIREDITEMS; IGNOREBATCHES; IGNOREGODOWNS; NAME.LIST[NAME]"},
  };
  for (const auto& kind : Kinds()) {
    Values values;
    for (const auto& field : kind.fields) {
      values[field] = "v";
    }
    for (const std::string action : {"Create", "Alter", "Delete"}) {
      SCOPED_TRACE(kind.element + " " + action);
      std::string names = ParseMasterRequest(kind.build("Acme", values, action)).children;
      for (std::size_t at; (at = names.find("=v")) != std::string::npos;) {
        names.erase(at, 2);
      }
      EXPECT_EQ(names, expected.at(kind.element));
    }
  }
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Each field set alone, to a unique text, "No", a single blank or markup, is held by exactly the
// element named after it (Name by its documented places).
TEST(Fields, EachFieldReachesItsOwnElement) {
  for (const auto& kind : Kinds()) {
    for (const auto& field : kind.fields) {
      if (field == "OldName") {
        continue;  // an attribute only, when altering
      }
      std::string element = field;
      for (char& c : element) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
      for (const std::string& value : {"unique " + field, std::string("No"), std::string(" "),
                                       std::string("R&D <\"x\"> 'y'")}) {
        SCOPED_TRACE(kind.element + "." + field + " = \"" + value + "\"");
        Values values = {{field, value}};
        if (field == "OriginalName" || field == "DecimalPlaces") {
          values["IsSimpleUnit"] = "Yes";  // written for simple units only
        }
        const auto request = ParseMasterRequest(kind.build("Acme", values, "Create"));
        std::vector<std::string> places = {element + "=" + value};
        if (field == "Name" && kind.element != "UNIT") {
          places = {"NAME.LIST[NAME=" + value + "]"};
          if (kind.element == "LEDGER") {
            places.push_back("ADDITIONALNAME=" + value);
          }
        }
        for (const std::string& place : places) {
          EXPECT_THAT("; " + request.children, ::testing::HasSubstr("; " + place));
        }
        EXPECT_EQ(Occurrences(request.children, "=" + value), places.size()) << request.children;
      }
    }
  }
}

// A company name that cannot stand in the envelope (a NUL byte ends the text the parser sees)
// leaves no REQUESTDATA: every builder throws instead of returning a request.
TEST(Frame, UnbuildableEnvelopeThrows) {
  const std::string company("Acme\0Sons", 9);
  for (const auto& kind : Kinds()) {
    SCOPED_TRACE(kind.element);
    try {
      ADD_FAILURE() << "returned a request: " << kind.build(company, {{"Name", "X"}}, "Create");
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.number(), modTally::FailureNumber::kDocument);
      EXPECT_THAT(failure.description(), ::testing::HasSubstr(kind.element));
      EXPECT_THAT(failure.description(), ::testing::HasSubstr("Acme?Sons"));
    }
  }
}

}  // namespace
