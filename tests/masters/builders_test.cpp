// The master builders and lirvo build: the console's sample requests, every element of the six
// kinds in wire order, the request text whole, and the command's wiring.
#include <algorithm>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <lirvo/master_message.h>
#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

#include "raw_server.h"

namespace {

using ::testing::HasSubstr;
using Values = std::map<std::string, std::string>;  // field -> value; fields not named are empty

// One kind of master: its names, its fields in record order, its builder and its message alone,
// fed by field name.
struct Kind {
  std::string cli_name, element;
  std::vector<std::string> fields;
  std::function<std::string(const std::string& company, const Values&, const std::string& action)>
      build;
  std::function<std::string(const Values&, const std::string& action)> message;
};

template <class Record>
Kind MakeKind(std::string cli_name, std::string element,
              std::string (*builder)(const std::string&, const Record&, const std::string&)) {
  const auto fields = modTallyIm::FieldsOf<Record>();
  Kind kind{std::move(cli_name), std::move(element), {}, {}, {}};
  for (const auto& field : fields) {
    kind.fields.emplace_back(field.name);
  }
  const auto record_of = [fields](const Values& values) {
    Record record;
    for (const auto& [name, value] : values) {
      const auto field =
          std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.name == name; });
      if (field == fields.end()) {
        throw std::logic_error("test asks for a field the record lacks: " + name);
      }
      record.*field->member = value;
    }
    return record;
  };
  kind.build = [builder, record_of](const std::string& company, const Values& values,
                                    const std::string& action) {
    return builder(company, record_of(values), action);
  };
  kind.message = [record_of](const Values& values, const std::string& action) {
    return modTallyIm::MasterMessage(record_of(values), action);
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

// Markup, quotes, control characters, line breaks and non-ASCII text in every field come back as
// given when the request is read, in the attribute and in the elements alike; and the request is
// written as pugixml writes what it reads (so as the envelope around the message is), empty
// masters included.
TEST(MasterMessages, EveryValueReadsBackAsGiven) {
  const std::string tail = " <x> & \"co\" 'x'\t\r\n\x01\x1f\xc3\xa9";
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.element);
    Values all;
    for (const std::string& field : kind.fields) {
      all[field] = field + tail;
    }
    for (const std::string action : {"Create", "Alter"}) {
      pugi::xml_document request;
      // Line ends kept as sent: the server reads them so.
      ASSERT_TRUE(request.load_string(kind.build("Acme", all, action).c_str(),
                                      pugi::parse_default & ~pugi::parse_eol));
      const pugi::xml_node master =
          request.select_node(("//TALLYMESSAGE/" + kind.element).c_str()).node();
      EXPECT_EQ(master.attribute("NAME").value(), (action == "Alter" ? "OldName" : "Name") + tail);
      int values = 0;
      for (const pugi::xpath_node& found : master.select_nodes(".//*[text()]")) {
        const pugi::xml_node element = found.node();
        const std::string text = element.text().get();
        EXPECT_TRUE(all.contains(text.substr(0, text.size() - tail.size())) && text.ends_with(tail))
            << element.name() << ": " << text;
        ++values;
      }
      EXPECT_GE(values, 2);
      for (const Values& given : {all, Values{}}) {
        const std::string text = kind.build("Acme", given, action);
        pugi::xml_document read;
        ASSERT_TRUE(read.load_string(text.c_str(), pugi::parse_default & ~pugi::parse_eol));
        EXPECT_EQ(modTally::DocumentXml(read), text);
      }
    }
  }
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

// The master element of a request: its head ("UNIT(NAME=Nos, ACTION=Create)") and its rendered
// children ("NAME=Nos; ISSIMPLEUNIT=Yes"). The envelope around it is compared whole below.
struct MasterRequest {
  std::string head, children;
};

MasterRequest ParseMasterRequest(const std::string& text) {
  pugi::xml_document document;
  document.load_string(text.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
  const pugi::xml_node message =
      document.select_node("/ENVELOPE/BODY/IMPORTDATA/REQUESTDATA/TALLYMESSAGE").node();
  const std::string master = Render(message);
  const std::string children = Render(message.first_child());
  const std::string inner = children.empty() ? "" : "[" + children + "]";
  return {master.substr(0, master.size() - inner.size()), children};
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
  const auto requests = modTallyIm::SampleRequests("Acme");
  ASSERT_EQ(requests.size(), std::size(expected));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE("sample call " + std::to_string(i + 1) + ": " + requests[i].first);
    const auto request = ParseMasterRequest(requests[i].second);
    EXPECT_EQ(request.head, expected[i][0]);
    EXPECT_EQ(request.children, expected[i][1]);
  }
}

// The children of a master whose fields each hold their own name, given its elements in order:
// each element holds the field spelled like it, ADDITIONALNAME and NAME.LIST the name.
std::string EveryFieldChildren(const Kind& kind, const std::string& elements,
                               const std::string& simple_unit) {
  std::string out;
  std::istringstream words(elements);
  for (std::string element; words >> element;) {
    std::string text = element == "ADDITIONALNAME" ? "=Name"
                       : element == "NAME.LIST"    ? "[NAME=Name]"
                       : element == "ISSIMPLEUNIT" ? "=" + simple_unit
                                                   : "";
    for (const auto& field : kind.fields) {
      std::string upper = field;
      std::transform(upper.begin(), upper.end(), upper.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      if (upper == element && text.empty()) {
        text = "=" + field;
      }
    }
    out += (out.empty() ? "" : "; ") + element + text;
  }
  return out;
}

const Kind& KindOf(const std::string& element) {
  const auto& kinds = Kinds();
  return *std::find_if(kinds.begin(), kinds.end(),
                       [&](const Kind& k) { return k.element == element; });
}

// Every field set to its own name: the whole child list in wire order (beyond what the samples
// set), the same for every action;
// NAME is OldName for exactly "Alter". "yes" is not "Yes": it builds a compound unit.
TEST(Builders, EveryFieldSetWritesEveryElementInWireOrder) {
  const struct {
    std::string element, simple_unit, elements;
  } rows[] = {
      {"UNIT", "Yes", "NAME ISSIMPLEUNIT ORIGINALNAME DECIMALPLACES"},
      {"UNIT", "yes", "NAME ISSIMPLEUNIT BASEUNITS ADDITIONALUNITS CONVERSION"},
      {"LEDGER", "",
       "ADDITIONALNAME ADDRESS.LIST CURRENCYNAME PRICELEVEL PARENT TAXCLASSIFICATIONNAME "
       "TAXTYPE GSTTYPE SERVICECATEGORY TDSDEDUCTEETYPE TDSRATENAME LEDGERFBTCATEGORY "
       "ISBILLWISEON ISCOSTCENTRESON ISINTERESTON ALLOWINMOBILE ISCONDENSED AFFECTSSTOCK "
       "FORPAYROLL INTERESTONBILLWISE OVERRIDEINTEREST OVERRIDEADVINTEREST USEFORVAT "
       "IGNORETDSEXEMPT ISTCSAPPLICABLE ISTDSAPPLICABLE ISFBTAPPLICABLE ISGSTAPPLICABLE "
       "SHOWINPAYSLIP USEFORGRATUITY FORSERVICETAX ISINPUTCREDIT ISEXEMPTED "
       "TDSDEDUCTEEISSPECIALRATE AUDITED SORTPOSITION NAME.LIST"},
      {"STOCKITEM", "",
       "PARENT CATEGORY TAXCLASSIFICATIONNAME COSTINGMETHOD VALUATIONMETHOD BASEUNITS "
       "ADDITIONALUNITS EXCISEITEMCLASSIFICATION ISCOSTCENTRESON ISBATCHWISEON "
       "ISPERISHABLEON IGNOREPHYSICALDIFFERENCE IGNORENEGATIVESTOCK TREATSALESASMANUFACTURED "
       "TREATPURCHASESASCONSUMED TREATREJECTSASSCRAP HASMFGDATE ALLOWUSEOFEXPIREDITEMS "
       "IGNOREBATCHES IGNOREGODOWNS ISMRPINCLOFTAX REORDERASHIGHER MINORDERASHIGHER "
       "DENOMINATOR BASICRATEOFEXCISE RATEOFVAT NAME.LIST"},
      {"GODOWN", "", "PARENT JOBNAME HASNOSPACE HASNOSTOCK NAME.LIST"},
      {"GROUP", "",
       "PARENT ISBILLWISEON ISADDABLE ISSUBLEDGER ISREVENUE AFFECTSGROSSPROFIT "
       "ISDEEMEDPOSITIVE TRACKNEGATIVEBALANCES ISCONDENSED SORTPOSITION AFFECTSSTOCK "
       "ISCOSTCENTREON NAME.LIST"},
      {"STOCKGROUP", "",
       "PARENT COSTINGMETHOD VALUATIONMETHOD BASEUNITS ADDITIONALUNITS ISBATCHWISEON "
       "ISPERISHABLEON ISADDABLE IGNOREPHYSICALDIFFERENCE IGNORENEGATIVESTOCK "
       "TREATSALESASMANUFACTURED TREATPURCHASESASCONSUMED TREATREJECTSASSCRAP HASMFGDATE "
       "ALLOWUSEOFEXPIREDITEMS IGNOREBATCHES IGNOREGODOWNS NAME.LIST"},
  };
  for (const auto& row : rows) {
    const Kind& kind = KindOf(row.element);
    Values values;
    for (const auto& field : kind.fields) {
      values[field] = field;
    }
    if (!row.simple_unit.empty()) {
      values["IsSimpleUnit"] = row.simple_unit;
    }
    for (const std::string action : {"Create", "Alter", "Delete", "alter", "Alter ", ""}) {
      SCOPED_TRACE(row.element + " " + row.simple_unit + " action \"" + action + "\"");
      const auto request = ParseMasterRequest(kind.build("Acme", values, action));
      EXPECT_EQ(request.head, kind.element + "(NAME=" + (action == "Alter" ? "OldName" : "Name") +
                                  ", ACTION=" + action + ")");
      EXPECT_EQ(request.children, EveryFieldChildren(kind, row.elements, row.simple_unit));
    }
  }
}

// An empty record keeps only the elements written always.
TEST(Builders, EmptyRecordKeepsTheElementsWrittenAlways) {
  for (const auto& kind : Kinds()) {
    const std::string always = kind.element == "UNIT"     ? ""
                               : kind.element == "LEDGER" ? "ADDRESS.LIST; NAME.LIST"
                                                          : "NAME.LIST";
    const auto empty = ParseMasterRequest(kind.build("", {}, "Create"));
    EXPECT_EQ(empty.head, kind.element + "(NAME=, ACTION=Create)");
    EXPECT_EQ(empty.children, always) << kind.element;
  }
}

// The bytes on the wire, whole: markup in the company (an entity's text too), the attribute and the
// text is escaped, and a blank value is a value.
TEST(Builders, RequestTextWithMarkupIsEscaped) {
  EXPECT_EQ(
      KindOf("GODOWN").build("R&D <Co> &amp;", {{"Name", "A \"B\" & 'C' <D>"}, {"Parent", " "}},
                             "Create"),
      "<ENVELOPE><HEADER><TALLYREQUEST> Import Data </TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
      "<REQUESTDESC><REPORTNAME>All Masters</REPORTNAME><STATICVARIABLES>"
      "<SVCURRENTCOMPANY>R&amp;D &lt;Co&gt; &amp;amp;</SVCURRENTCOMPANY></STATICVARIABLES>"
      "</REQUESTDESC><REQUESTDATA><TALLYMESSAGE xmlns:UDF=\"TallyUDF\">"
      "<GODOWN NAME=\"A &quot;B&quot; &amp; 'C' &lt;D>\" ACTION=\"Create\"><PARENT> </PARENT>"
      "<NAME.LIST><NAME>A \"B\" &amp; 'C' &lt;D&gt;</NAME></NAME.LIST></GODOWN></TALLYMESSAGE>"
      "</REQUESTDATA></IMPORTDATA></BODY></ENVELOPE>");
}

// What cannot stand in a request makes every builder throw instead of returning a cut one: a NUL
// in the company (the envelope then has no REQUESTDATA) or in a value.
TEST(Builders, NulInCompanyOrValueThrows) {
  const struct {
    std::string company, name, names;
  } cases[] = {
      {std::string("Acme\0Sons", 9), "X", "Acme?Sons"},
      {"Acme", std::string("X\0Y", 3), "NUL character"},
  };
  for (const auto& c : cases) {
    for (const auto& kind : Kinds()) {
      try {
        ADD_FAILURE() << kind.element << " returned a request: "
                      << kind.build(c.company, {{"OldName", "Old"}, {"Name", c.name}}, "Alter");
      } catch (const modTally::Failure& failure) {
        EXPECT_EQ(failure.number(), modTally::FailureNumber::kDocument);
        EXPECT_THAT(failure.description(), HasSubstr(c.names));
      }
      if (c.company == "Acme") {  // the message alone, written without the document, fails alike
        try {
          ADD_FAILURE() << kind.message({{"Name", c.name}}, "Create");
        } catch (const modTally::Failure& failure) {
          EXPECT_EQ(failure.description(),
                    "cannot write attribute \"NAME\": its value holds a NUL character");
        }
      }
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
