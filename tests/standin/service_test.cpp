// The stand-in's answers, called in-process, checked against what lands in its store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <lirvo/standin/service.h>
#include <pugixml.hpp>

#include "requests.h"
#include "standin_store.h"

namespace {

using lirvo::standin::Options;
using lirvo::standin::Service;
using lirvo::test::ImportReply;
using lirvo::test::ImportRequest;
using lirvo::test::MasterXml;
using lirvo::test::StandinStore;
using lirvo::test::VoucherValues;
using lirvo::test::VoucherXml;
using Names = std::vector<std::string>;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr const char* kCompany = "Demo Trading Co";

// The request as the sender lays it out: one element a line, two blanks a level, CR LF.
std::string ReIndented(const std::string& text) {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_string(text.c_str()));
  std::ostringstream out;
  document.save(out, "  ", pugi::format_indent | pugi::format_no_declaration);
  std::string laid_out;
  for (const char c : out.str()) {
    laid_out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  return laid_out;
}

class ServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    directory_ = std::filesystem::temp_directory_path() /
                 ("standin-service-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(directory_);
    Open();
  }
  void TearDown() override {
    service_.reset();
    std::filesystem::remove_all(directory_);
  }

  void Open(bool strict = false, std::vector<std::string> companies = {}) {
    service_.reset();
    service_ = std::make_unique<Service>(Options{path(), std::move(companies), strict});
  }
  std::string path() const { return (directory_ / "store.db").string(); }

  ImportReply Post(const std::string& body) {
    const lirvo::standin::HttpReply reply = service_->Post(body);
    return lirvo::test::ReadReply(reply.status, reply.body);
  }
  // Posts and expects every item accepted; returns the counters.
  ImportReply Accepted(const std::string& body) {
    ImportReply reply = Post(body);
    EXPECT_EQ(reply.status, 200) << reply.message;
    EXPECT_THAT(reply.line_errors, testing::IsEmpty());
    EXPECT_EQ(reply.Count("ERRORS"), 0);
    return reply;
  }
  Names Stored(const std::string& kind) { return StandinStore(path()).Masters(kCompany, kind); }

  std::filesystem::path directory_;
  std::unique_ptr<Service> service_;
};

TEST_F(ServiceTest, CreateAlterRenameAndDeleteEveryMasterKind) {
  for (const std::string kind : {"UNIT", "LEDGER", "STOCKITEM", "GODOWN", "GROUP", "STOCKGROUP"}) {
    SCOPED_TRACE(kind);
    auto counters = Accepted(ImportRequest(MasterXml(kind, "First", "Create", "First")));
    EXPECT_EQ(counters.Count("CREATED"), 1);
    EXPECT_GT(counters.Count("LASTMID"), 0);
    // Creating it again, in other letter case, alters it.
    counters = Accepted(ImportRequest(MasterXml(kind, "FIRST", "Create", "FIRST")));
    EXPECT_EQ(counters.Count("ALTERED"), 1);
    EXPECT_EQ(counters.Count("CREATED"), 0);
    EXPECT_EQ(Stored(kind), Names{"FIRST"});
    // Alter renames through the NAME attribute, which carries the old name.
    counters = Accepted(ImportRequest(MasterXml(kind, "first", "Alter", "Second")));
    EXPECT_EQ(counters.Count("ALTERED"), 1);
    EXPECT_EQ(Stored(kind), Names{"Second"});
    counters = Accepted(ImportRequest(MasterXml(kind, "Second", "Delete", "Second")));
    EXPECT_EQ(counters.Count("DELETED"), 1);
    EXPECT_THAT(Stored(kind), testing::IsEmpty());
  }
}

TEST_F(ServiceTest, MissingMastersByModeAndAction) {
  struct Case {
    bool strict;
    std::string action;
    const char* counter;  // the counter that becomes 1
  };
  for (const Case& c : {Case{false, "Alter", "CREATED"}, Case{true, "Alter", "ERRORS"},
                        Case{false, "Delete", "ERRORS"}, Case{true, "Delete", "ERRORS"}}) {
    SCOPED_TRACE(c.action + (c.strict ? " strict" : " default"));
    Open(c.strict);
    const ImportReply reply = Post(ImportRequest(MasterXml("LEDGER", "Ghost", c.action, "Ghost")));
    EXPECT_EQ(reply.counters.at(c.counter), 1);
    const bool rejected = std::string(c.counter) == "ERRORS";
    EXPECT_EQ(reply.line_errors, rejected ? Names{"Ledger 'Ghost' does not exist!"} : Names{});
    EXPECT_EQ(Stored("LEDGER"), rejected ? Names{} : Names{"Ghost"});
    Post(ImportRequest(MasterXml("LEDGER", "Ghost", "Delete", "Ghost")));
  }
}

TEST_F(ServiceTest, AlterMergesValuesAndRefusesToTakeAnotherName) {
  Accepted(ImportRequest(
      MasterXml("LEDGER", "Cash & Co", "Create", "Cash & Co",
                "<ADDRESS.LIST/><PARENT>Sundry Debtors</PARENT><ISBILLWISEON>Yes</ISBILLWISEON>") +
      MasterXml("LEDGER", "Bank", "Create", "Bank")));
  Accepted(ImportRequest(
      MasterXml("LEDGER", "Cash & Co", "Alter", "Cash & Co", "<ISBILLWISEON>No</ISBILLWISEON>")));
  const auto master = StandinStore(path()).Master(kCompany, "LEDGER", "cash & co");
  ASSERT_TRUE(master.has_value());
  EXPECT_EQ(master->parent, "Sundry Debtors");
  EXPECT_EQ(master->Value("ISBILLWISEON"), "No");
  EXPECT_EQ(master->Value("NAME.LIST/NAME"), "Cash & Co");

  const ImportReply reply = Post(ImportRequest(MasterXml("LEDGER", "Bank", "Alter", "CASH & CO")));
  EXPECT_EQ(reply.line_errors, Names{"Ledger 'CASH & CO' already exists!"});
  EXPECT_EQ(Stored("LEDGER"), (Names{"Cash & Co", "Bank"}));
}

TEST_F(ServiceTest, ReIndentedSalesVoucherIsStoredAsSent) {
  Accepted(lirvo::test::VoucherMastersRequest());
  const auto counters = Accepted(ReIndented(ImportRequest(VoucherXml({}))));
  EXPECT_EQ(counters.Count("CREATED"), 1);
  EXPECT_GT(counters.Count("LASTVCHID"), 0);

  const auto vouchers = StandinStore(path()).Vouchers(kCompany);
  ASSERT_EQ(vouchers.size(), 1u);
  const auto& voucher = vouchers[0];
  EXPECT_EQ(voucher.remote_id, "SV-1");
  EXPECT_EQ(voucher.guid, "SV-1");
  EXPECT_EQ(voucher.date, "20160401");
  EXPECT_EQ(voucher.type, "Sales");
  EXPECT_EQ(voucher.party, "Anand Hardware");
  EXPECT_EQ(voucher.reference, "INV/101");
  ASSERT_EQ(voucher.entries.size(), 4u);
  const std::vector<std::array<std::string, 3>> expected = {{"ledger", "Anand Hardware", "-1040"},
                                                            {"ledger", "Output VAT @ 4%", "40"},
                                                            {"inventory", "Cable Tie", "1000"},
                                                            {"allocation", "Sales @ 4%", "1000"}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(voucher.entries[i].kind, expected[i][0]);
    EXPECT_EQ(voucher.entries[i].name, expected[i][1]);
    EXPECT_EQ(voucher.entries[i].amount, expected[i][2]);
  }
  EXPECT_EQ(voucher.entries[2].actual_qty, " 10 Nos");
  EXPECT_EQ(voucher.entries[2].rate, " 100/Nos");

  // The same remote id again replaces the voucher rather than adding a second one.
  VoucherValues again;
  again.amount = "2000";
  again.tax_amount = "80";
  again.party_amount = "-2080";
  EXPECT_EQ(Accepted(ImportRequest(VoucherXml(again))).Count("ALTERED"), 1);
  const auto replaced = StandinStore(path()).Vouchers(kCompany);
  ASSERT_EQ(replaced.size(), 1u);
  EXPECT_EQ(replaced[0].entries[0].amount, "-2080");

  // A ledger that vouchers use cannot be deleted.
  const ImportReply refused =
      Post(ImportRequest(MasterXml("LEDGER", "Anand Hardware", "Delete", "Anand Hardware")));
  EXPECT_EQ(refused.Count("ERRORS"), 1);
  EXPECT_EQ(StandinStore(path()).CountMasters(kCompany, "LEDGER"), 3);
}

TEST_F(ServiceTest, VoucherRejections) {
  Accepted(lirvo::test::VoucherMastersRequest());
  struct Case {
    std::string what;
    VoucherValues values;
    std::string line_error;
  };
  std::vector<Case> cases(7);
  cases[0] = {"party", {}, "Ledger 'Nobody' does not exist!"};
  cases[0].values.party = "Nobody";
  cases[1] = {"tax ledger", {}, "Ledger 'VAT 99%' does not exist!"};
  cases[1].values.tax_ledger = "VAT 99%";
  cases[2] = {"sales ledger", {}, "Ledger 'Nowhere Sales' does not exist!"};
  cases[2].values.sales_ledger = "Nowhere Sales";
  cases[3] = {"stock item", {}, "Stock Item 'Widget' does not exist!"};
  cases[3].values.item = "Widget";
  cases[4] = {"date", {}, "Voucher 'SV-1': date '04/01/16' is not a date of the form YYYYMMDD"};
  cases[4].values.date = "04/01/16";
  cases[5] = {
      "amount", {}, "Voucher 'SV-1': amount '--1040' of Ledger 'Anand Hardware' is not a number"};
  cases[5].values.party_amount = "--1040";
  cases[6] = {"balance", {}, "Voucher 'SV-1': the amounts do not balance (they add up to 2080.00)"};
  cases[6].values.party_amount = "1040";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ImportReply reply = Post(ImportRequest(VoucherXml(c.values)));
    EXPECT_EQ(reply.Count("ERRORS"), 1);
    EXPECT_EQ(reply.Count("CREATED"), 0);
    EXPECT_EQ(reply.line_errors, Names{c.line_error});
  }
  EXPECT_EQ(StandinStore(path()).CountVouchers(kCompany), 0);
}

TEST_F(ServiceTest, ImportsGoToTheNamedOpenCompanyOnly) {
  Open(false, {"Alpha & Sons", "Beta"});
  EXPECT_EQ(Accepted(ImportRequest(MasterXml("GODOWN", "Store", "Create", "Store"), "beta"))
                .Count("CREATED"),
            1);
  Accepted(ImportRequest(MasterXml("GODOWN", "Main", "Create", "Main")));  // the current company
  const ImportReply reply =
      Post(ImportRequest(MasterXml("GODOWN", "Lost", "Create", "Lost"), "Gamma Ltd"));
  EXPECT_EQ(reply.Count("ERRORS"), 1);
  EXPECT_EQ(reply.line_errors, Names{"Company 'Gamma Ltd' is not open!"});
  const StandinStore store(path());
  EXPECT_EQ(store.Masters("Beta", "GODOWN"), Names{"Store"});
  EXPECT_EQ(store.Masters("Alpha & Sons", "GODOWN"), Names{"Main"});
  EXPECT_EQ(store.Companies(), (Names{"Demo Trading Co", "Alpha & Sons", "Beta"}));
}

TEST_F(ServiceTest, OneRejectedItemLeavesTheOthersApplied) {
  const ImportReply reply = Post(ImportRequest(
      MasterXml("UNIT", "Nos", "Create", "Nos") + "<CURRENCY NAME=\"Rupee\"/>" +
      MasterXml("GROUP", "", "Create", "") + MasterXml("UNIT", "Box", "Create", "Box")));
  EXPECT_EQ(reply.Count("CREATED"), 2);
  EXPECT_EQ(reply.Count("ERRORS"), 2);
  EXPECT_EQ(reply.line_errors,
            (Names{"Cannot import 'CURRENCY': not a master or voucher this server knows",
                   "Group has no name!"}));
  EXPECT_EQ(Stored("UNIT"), (Names{"Nos", "Box"}));
}

TEST_F(ServiceTest, BadInputIsRefusedWithoutHarm) {
  std::string nested;
  for (int i = 0; i < 100'000; ++i) {
    nested += "<A>";
  }
  nested += "x";
  for (int i = 0; i < 100'000; ++i) {
    nested += "</A>";
  }
  struct Case {
    std::string what;
    std::string body;
    int status;
    std::string text;  // the message, or the one LINEERROR
  };
  const std::vector<Case> cases = {
      {"malformed", "<ENVELOPE><HEADER>", 400, "Unknown Request, cannot be processed"},
      {"not xml", "hello", 400, "Unknown Request, cannot be processed"},
      {"entity declaration",
       "<!DOCTYPE ENVELOPE [<!ENTITY x \"boom\">]>" +
           ImportRequest(MasterXml("UNIT", "N", "Create", "N", "<ISSIMPLEUNIT>&x;</ISSIMPLEUNIT>")),
       400, "Unknown Request, cannot be processed"},
      {"unknown report",
       "<ENVELOPE><HEADER><TALLYREQUEST>Export Data</TALLYREQUEST></HEADER><BODY><EXPORTDATA>"
       "<REQUESTDESC><REPORTNAME>Balance Sheet</REPORTNAME></REQUESTDESC></EXPORTDATA></BODY>"
       "</ENVELOPE>",
       400, "Unknown Request, cannot be processed"},
      {"empty TALLYMESSAGE", ImportRequest(""), 200,
       "Nothing to import: no master or voucher in REQUESTDATA"},
      {"deep nesting in a master",
       ImportRequest(MasterXml("LEDGER", "Deep", "Create", "Deep", nested)), 200,
       "Ledger 'Deep': values nested deeper than 16 levels"},
      {"deep nesting elsewhere", "<ENVELOPE>" + nested + "</ENVELOPE>", 400,
       "Unknown Request, cannot be processed"},
      {"oversize", std::string(lirvo::standin::kMaxRequestBytes + 1, ' '), 413,
       "Request too large: 16777217 bytes, the limit is 16777216"},
      {"too much markup", std::string(lirvo::standin::kMaxMarkup + 1, '<'), 413,
       "Request too large: more than 1000000 elements"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ImportReply reply = Post(c.body);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.line_errors.empty() ? reply.message : reply.line_errors.at(0), c.text);
  }
  EXPECT_EQ(StandinStore(path()).CountMasters(kCompany), 0);
  // Still serving.
  EXPECT_EQ(Post("").message, lirvo::standin::kRunningLine);
}

TEST_F(ServiceTest, ListOfAccountsGivesTheCurrentCompanyAndTheRequestedKind) {
  Accepted(lirvo::test::VoucherMastersRequest());
  const std::string request =
      "<ENVELOPE><HEADER><TALLYREQUEST> Export Data </TALLYREQUEST></HEADER><BODY><EXPORTDATA>"
      "<REQUESTDESC><REPORTNAME>List of Accounts</REPORTNAME><STATICVARIABLES>"
      "<SVEXPORTFORMAT> $$SysName:XML </SVEXPORTFORMAT><ACCOUNTTYPE>Stock Items</ACCOUNTTYPE>"
      "</STATICVARIABLES></REQUESTDESC></EXPORTDATA></BODY></ENVELOPE>";
  pugi::xml_document reply;
  ASSERT_TRUE(reply.load_string(service_->Post(request).body.c_str()));
  EXPECT_STREQ(reply.select_node("//SVCURRENTCOMPANY").node().text().get(), kCompany);
  const pugi::xpath_node_set items = reply.select_nodes("//TALLYMESSAGE/*");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_STREQ(items[0].node().name(), "STOCKITEM");
  EXPECT_STREQ(items[0].node().attribute("NAME").value(), "Cable Tie");
  EXPECT_STREQ(items[0].node().child("BASEUNITS").text().get(), "Nos");
}

TEST_F(ServiceTest, HtmlOverviewShowsWhatArrivedEscaped) {
  Accepted(lirvo::test::VoucherMastersRequest());
  Accepted(ImportRequest(MasterXml("GROUP", "R&D <Lab>", "Create", "R&D <Lab>") + VoucherXml({})));
  const auto page = service_->Get("text/html,application/xhtml+xml");
  EXPECT_EQ(page.status, 200);
  EXPECT_THAT(page.content_type, HasSubstr("text/html"));
  EXPECT_THAT(page.body, HasSubstr("Demo Trading Co (current company)"));
  EXPECT_THAT(page.body, HasSubstr("R&amp;D &lt;Lab&gt;"));
  EXPECT_THAT(page.body, HasSubstr("SV-1"));
  EXPECT_THAT(page.body, HasSubstr("-1040"));
  EXPECT_EQ(lirvo::test::ReadReply(200, service_->Get("*/*").body).message,
            lirvo::standin::kRunningLine);
}

TEST_F(ServiceTest, RefusesAFileThatIsNotItsStoreAndATwiceNamedCompany) {
  service_.reset();
  const std::string other = (directory_ / "other.db").string();
  std::ofstream(other) << "not a database at all, just some text that is long enough";
  EXPECT_THROW(Service(Options{other, {}, false}), std::runtime_error);
  EXPECT_THROW(Service(Options{"", {"Acme", "ACME"}, false}), std::runtime_error);
}

}  // namespace
