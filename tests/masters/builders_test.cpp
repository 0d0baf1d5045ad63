// The master builders and lirvo build: the console's sample requests, the frame shared by all six
// kinds, the path of every record field to its element, and the command's wiring.
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

#include "raw_server.h"

namespace {

using ::testing::HasSubstr;
using Values = std::map<std::string, std::string>;  // field -> value; fields not named are empty

// One kind of master: its names, its fields in record order, and its builder fed by field name.
struct Kind {
  std::string cli_name, element;
  std::vector<std::string> fields;
  std::function<std::string(const std::string& company, const Values&, const std::string& action)>
      build;
};

template <class Record>
Kind MakeKind(std::string cli_name, std::string element,
              std::string (*builder)(const std::string&, const Record&, const std::string&)) {
  const auto fields = modTallyIm::FieldsOf<Record>();
  Kind kind{std::move(cli_name), std::move(element), {}, {}};
  for (const auto& field : fields) {
    kind.fields.emplace_back(field.name);
  }
  kind.build = [builder, fields](const std::string& company, const Values& values,
                                 const std::string& action) {
    Record record;
    for (const auto& [name, value] : values) {
      const auto field =
          std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.name == name; });
      if (field == fields.end()) {
        throw std::logic_error("test asks for a field the record lacks: " + name);
      }
      record.*field->member = value;
    }
    return builder(company, record, action);
  };
  return kind;
}

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      MakeKind("unit", "UNIT", &modTallyIm::BuildUnit),
      MakeKind("ledger", "LEDGER", &modTallyIm::BuildLedger),
      MakeKind("stockitem", "STOCKITEM", &modTallyIm::BuildStockItem),
      MakeKind("godown", "GODOWN", &modTallyIm::BuildGodown),
      MakeKind("group", "GROUP", &modTallyIm::BuildGroup),
      MakeKind("stockgroup", "STOCKGROUP", &modTallyIm::BuildStockGroup),
  };
  return kinds;
}

// The child elements of `parent` as "NAME(attribute=value, ...)=text[children]" joined by "; ",
// each part only when not empty (blank text is text), so that tests compare structure, not text.
std::string Render(const pugi::xml_node& parent) {
  std::string out;
  for (const pugi::xml_node& child : parent.children()) {
    if (child.type() == pugi::node_element) {
      out += (out.empty() ? "" : "; ") + std::string(child.name());
      for (const pugi::xml_attribute& a : child.attributes()) {
        out += (a == child.first_attribute() ? "(" : ", ") + std::string(a.name()) + "=" +
               a.value() + (a.next_attribute() ? "" : ")");
      }
      const std::string text = child.text().get();
      const std::string inner = Render(child);
      out += (text.empty() ? "" : "=" + text) + (inner.empty() ? "" : "[" + inner + "]");
    }
  }
  return out;
}

// The envelope's SVCURRENTCOMPANY, the master's head ("UNIT(NAME=Nos, ACTION=Create)") and its
// rendered children ("NAME=Nos; ISSIMPLEUNIT=Yes").
struct MasterRequest {
  std::string company, head, children;
};

// Parses a request back; throws unless it is exactly the import envelope whose REQUESTDATA holds
// one TALLYMESSAGE (xmlns:UDF="TallyUDF") holding one master element without text.
MasterRequest ParseMasterRequest(const std::string& text) {
  pugi::xml_document document;
  document.load_string(text.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  const pugi::xml_node message = document.select_node("//TALLYMESSAGE").node();
  const std::string master = Render(message);
  const std::string children = Render(message.first_child());
  const std::string inner = children.empty() ? "" : "[" + children + "]";
  MasterRequest request{document.select_node("//SVCURRENTCOMPANY").node().text().get(),
                        master.substr(0, master.size() - inner.size()), children};
  if (Render(document) !=
      "ENVELOPE[HEADER[TALLYREQUEST= Import Data ]; BODY[IMPORTDATA[REQUESTDESC[REPORTNAME=All "
      "Masters; STATICVARIABLES[SVCURRENTCOMPANY" +
          (request.company.empty() ? "" : "=" + request.company) +
          "]]; REQUESTDATA[TALLYMESSAGE(xmlns:UDF=TallyUDF)[" + master + "]]]]]") {
    throw std::runtime_error("not one master in the import envelope: " + text);
  }
  return request;
}

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

// NAME is OldName only for exactly "Alter"; an empty record keeps only the elements written always.
TEST(Frame, NameAttributeAndEmptyRecord) {
  for (const auto& kind : Kinds()) {
    const std::string always = kind.element == "UNIT"     ? ""
                               : kind.element == "LEDGER" ? "ADDRESS.LIST; NAME.LIST"
                                                          : "NAME.LIST";
    for (const std::string action : {"Alter", "alter", "Alter ", "", "Create", "Delete"}) {
      SCOPED_TRACE(kind.element + " action \"" + action + "\"");
      const auto request =
          ParseMasterRequest(kind.build("Acme", {{"OldName", "Old"}, {"Name", "New"}}, action));
      EXPECT_EQ(request.head, kind.element + "(NAME=" + (action == "Alter" ? "Old" : "New") +
                                  ", ACTION=" + action + ")");
      const auto empty = ParseMasterRequest(kind.build("", {}, action));
      EXPECT_EQ(empty.head, kind.element + "(NAME=, ACTION=" + action + ")");
      EXPECT_EQ(empty.children, always);
    }
  }
}

// Each field set alone, to a unique text, "No", a single blank or markup, is held by exactly the
// element named after it (Name by its documented places), whatever the action.
TEST(Fields, EachFieldReachesItsOwnElement) {
  for (const auto& kind : Kinds()) {
    for (const auto& field : kind.fields) {
      if (field == "OldName") {
        continue;  // an attribute only, when altering
      }
      std::string element = field;
      std::transform(element.begin(), element.end(), element.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      for (const std::string& value : {"unique " + field, std::string("No"), std::string(" "),
                                       std::string("R&D <\"x\"> 'y'")}) {
        SCOPED_TRACE(kind.element + "." + field + " = \"" + value + "\"");
        Values values = {{field, value}};
        if (field == "OriginalName" || field == "DecimalPlaces") {
          values["IsSimpleUnit"] = "Yes";  // written for simple units only
        }
        const auto request = ParseMasterRequest(kind.build("Acme", values, "Create"));
        const bool listed = field == "Name" && kind.element != "UNIT";
        std::vector<std::string> places = {(listed ? "NAME.LIST[NAME" : element) + "=" + value};
        if (listed && kind.element == "LEDGER") {
          places.push_back("ADDITIONALNAME=" + value);
        }
        std::string rest = "; " + request.children;
        for (const std::string& place : places) {
          const auto at = rest.find("; " + place);
          ASSERT_NE(at, std::string::npos) << place << " not in " << request.children;
          rest.erase(at, place.size() + 2);
        }
        EXPECT_EQ(rest.find("=" + value), std::string::npos) << "held twice: " << request.children;
        for (const char* action : {"Alter", "Delete"}) {
          EXPECT_EQ(ParseMasterRequest(kind.build("Acme", values, action)).children,
                    request.children)
              << action;
        }
      }
    }
  }
}

// A company name that cannot stand in the envelope (a NUL byte ends the text the parser sees)
// leaves no REQUESTDATA: every builder throws instead of returning a request.
TEST(Frame, UnbuildableEnvelopeThrows) {
  for (const auto& kind : Kinds()) {
    try {
      ADD_FAILURE() << kind.element << " returned a request: "
                    << kind.build(std::string("Acme\0Sons", 9), {{"Name", "X"}}, "Create");
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.number(), modTally::FailureNumber::kDocument);
      EXPECT_THAT(failure.description(), HasSubstr(kind.element));
      EXPECT_THAT(failure.description(), HasSubstr("Acme?Sons"));
    }
  }
}

TEST(CliBuild, PrintsWhatTheLibraryBuilds) {
  for (const auto& kind : Kinds()) {
    const std::string command = LIRVO_CLI_PATH " build " + kind.cli_name;
    SCOPED_TRACE(command);
    Values values;
    std::string args = " --company 'Acme & <Sons>' --action=Alter";
    for (const auto& field : kind.fields) {
      values[field] = field + " <" + kind.element + "> & \"co\"";
      args += " --" + field + " '" + values[field] + "'";
    }
    const auto result = lirvo::test::RunCommand(command + args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, kind.build("Acme & <Sons>", values, "Alter") + "\n");

    // Without --company and --action: an empty company and "Create".
    const auto plain = lirvo::test::RunCommand(command + " --Name=Nos");
    EXPECT_EQ(plain.out, kind.build("", {{"Name", "Nos"}}, "Create") + "\n");
  }
}

}  // namespace
