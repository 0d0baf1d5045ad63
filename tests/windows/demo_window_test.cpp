// The demo window: Refresh against servers that answer, fail or say nothing; the transfer's final
// message and failures; no work nested inside running work.
#include <optional>

#include <QComboBox>
#include <QLabel>
#include <QPointer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "LirvoDemo.h"
#include "scripted_server.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

using ::testing::HasSubstr;
using Names = std::vector<std::string>;

constexpr const char* kSuccess = "Data Exported to Tally successfully!!";

class DemoTest : public ::testing::Test {
 protected:
  // Points the window (and the queries) at `url` from now on.
  void Serve(const std::string& url) {
    address.reset();
    address.emplace("LIRVO_TALLY_URL", url);
  }
  // Builds the window against `url`, shows it and runs its load; the previous window goes.
  void Open(const std::string& url) {
    delete window.data();
    messages.shown.clear();
    Serve(url);
    window = new LirvoDemo;
    window->showMessage = messages.recorder();
    window->setDatabasePath(LIRVO_TEST_DATA_DIR "/three-rows.mdb");
    window->show();
    window->Form_Load();
  }
  QComboBox* List() const { return Child<QComboBox>(*window, "cmbCurrentCompanyList"); }
  Names Entries() const {
    Names entries;
    for (int i = 0; i < List()->count(); ++i) {
      entries.push_back(List()->itemText(i).toStdString());
    }
    return entries;
  }
  QLabel* Status() const { return Child<QLabel>(*window, "lblProc"); }
  // The whole server line, as the label's tooltip holds it.
  std::string WholeVersion() const {
    return Child<QLabel>(*window, "lblVer")->toolTip().toStdString();
  }
  bool ProcessEnabled() const { return Child<QPushButton>(*window, "cmdProcess")->isEnabled(); }

  void TearDown() override {
    delete window.data();
    modTally::TallyUrl.clear();
  }

  std::optional<ScopedEnv> address;
  MessageLog messages;
  QPointer<LirvoDemo> window;
};

// A query that fails ends Refresh: its reason is the server line (elided to fit the label, whole
// in the tooltip), the status label is gone, and Process stays disabled until a Refresh succeeds.
TEST_F(DemoTest, FailedRefreshShowsTheWholeReasonHidesTheStatusAndDisablesProcess) {
  RawServer good(Scripted({}));
  const RefusedPort refused;
  const std::string down = refused.url();
  const struct {
    const char* failing;  // the query the server drops the connection on
    const char* first;    // what the first request's body holds
  } cases[] = {{"probe (server down)", nullptr},
               {"company list", "List of Companies"},
               {"current company", "List of Accounts"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    Open(good.url());
    ASSERT_TRUE(ProcessEnabled());
    std::optional<RawServer> dropping;
    if (c.first != nullptr) {
      const std::string marker = c.first;
      dropping.emplace([marker, scripted = Scripted({})](int socket, const std::string& request) {
        if (BodyText(request).find(marker) == std::string::npos) {
          scripted(socket, request);  // any other query is answered; this one gets no reply
        }
      });
    }
    const std::string url = dropping ? dropping->url() : down;
    Serve(url);
    Click(*window, "cmdRefresh");
    auto* line = Child<QLabel>(*window, "lblVer");
    EXPECT_THAT(WholeVersion(), HasSubstr(url));
    const QString shown = line->text();
    EXPECT_TRUE(shown.toStdString() == WholeVersion() ||
                (shown.endsWith(QChar(0x2026)) && line->toolTip().startsWith(shown.chopped(1))))
        << shown.toStdString();
    EXPECT_LE(line->fontMetrics().horizontalAdvance(shown), line->contentsRect().width());
    EXPECT_TRUE(Status()->isHidden());
    EXPECT_FALSE(ProcessEnabled());
    EXPECT_EQ(Entries(), Names{});
    EXPECT_EQ(window->CurrentCompany(), "");
    EXPECT_TRUE(messages.shown.empty());

    Serve(good.url());
    Click(*window, "cmdRefresh");
    EXPECT_TRUE(ProcessEnabled());
    EXPECT_EQ(WholeVersion(), ServerScript{}.versionLine);
  }
}

TEST_F(DemoTest, EmptyReplyLineSaysTallyIsNotRunningAndDisablesProcess) {
  ServerScript script;
  script.companies = {"Acme Traders", "Beta Co"};
  RawServer running(Scripted(script));
  Open(running.url());
  ASSERT_TRUE(ProcessEnabled());

  RawServer quiet(Scripted({.versionLine = "", .companies = {"Other"}}));
  Serve(quiet.url());
  Click(*window, "cmdRefresh");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Tally is not running.");
  EXPECT_EQ(messages.shown[0].title, "Project1");
  EXPECT_FALSE(ProcessEnabled());
  EXPECT_EQ(Child<QLabel>(*window, "lblVer")->text(), "");
  EXPECT_EQ(Entries(), script.companies) << "the list keeps what it held";
  EXPECT_EQ(window->CurrentCompany(), "Acme Traders");
  EXPECT_TRUE(Status()->isHidden());
}

TEST_F(DemoTest, CompanyListShapesDecideSelectionAndProcess) {
  const struct {
    const char* name;
    Names companies;
    std::string current;
    int selected;  // -1: none
    bool process;
  } cases[] = {
      {"ERROR inside a name", Names{"Alpha", "Big ERROR Co"}, "Big ERROR Co", 1, true},
      {"no company at all", Names{}, "Alpha", -1, false},
      {"current company in other case", Names{"Alpha", "Beta"}, "BETA", 1, true},
      {"current company not listed", Names{"Alpha", "Beta"}, "Gamma", -1, true},
      {"names beyond ASCII", Names{"Alpha", "\xc5\x9ar\xc4\xab Traders \xe2\x82\xb9"},
       "\xc5\x9ar\xc4\xab Traders \xe2\x82\xb9", 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer server(Scripted({.companies = c.companies, .currentCompany = c.current}));
    Open(server.url());
    EXPECT_EQ(Entries(), c.companies);
    EXPECT_EQ(List()->currentIndex(), c.selected);
    EXPECT_EQ(ProcessEnabled(), c.process);
    EXPECT_TRUE(Status()->isHidden());
    EXPECT_EQ(window->CurrentCompany(), c.current);
    EXPECT_TRUE(messages.shown.empty());
  }
}

TEST_F(DemoTest, ProcessSendsToTheCurrentCompanyAndItsMessageSaysWhatHappened) {
  const struct {
    const char* name;
    const char* database;
    std::string importReply;
    QMessageBox::Icon icon;
    const char* says;
    const char* status;  // where the status label stopped; "": hidden
    const char* sent;    // what a stop message says was sent
    int rejected = -1;   // how many imports get importReply; -1: every one
    bool down = false;   // the server is gone between Refresh and Process
  } cases[] = {
      {"all accepted", "three-rows.mdb", ServerScript{}.importReply, QMessageBox::Information,
       kSuccess, "", ""},
      {"one rejected", "three-rows.mdb",
       "<RESPONSE><CREATED>0</CREATED><ERRORS>1</ERRORS>"
       "<LINEERROR>Ledger 'Ghost' does not exist!</LINEERROR></RESPONSE>",
       QMessageBox::Warning, "rejected 1 of the 10 requests sent", "", "", 1},
      // Ten rejections are told; the eleventh is counted.
      {"rejected beyond what is told", "SampleData.mdb",
       "<RESPONSE><ERRORS>1</ERRORS><LINEERROR>No</LINEERROR></RESPONSE>", QMessageBox::Warning,
       ": No\n- and 1 more", "", "", 11},
      // Databases that fail at the start, at the first row, and part-way (damaged ones are in the
      // reliability tests).
      {"missing", "none.mdb", ServerScript{}.importReply, QMessageBox::Critical, "none.mdb", "",
       "Nothing was sent to Tally."},
      {"null unit", "null-unit.mdb", ServerScript{}.importReply, QMessageBox::Critical, "Unit",
       "Creaing Units - 1.........", "Nothing was sent to Tally."},
      {"null amount", "nulls.mdb", ServerScript{}.importReply, QMessageBox::Critical, "Amount",
       "Creaing Sales Vouchers - 3.........", "requests sent before it stopped stay in Tally."},
      {"server gone after Refresh", "three-rows.mdb", ServerScript{}.importReply,
       QMessageBox::Critical, "", "Creaing Units - 1.........", "Nothing was sent to Tally.", -1,
       true},
  };
  const RefusedPort refused;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer server(Scripted({.companies = {"Acme Traders", "Other Co"},
                               .importReply = c.importReply,
                               .importReplies = c.rejected}));
    Open(server.url());
    window->setDatabasePath(std::string(LIRVO_TEST_DATA_DIR "/") + c.database);
    List()->setCurrentIndex(1);  // the list's choice does not steer the transfer
    if (c.down) {
      modTally::TallyUrl = refused.url();
    }
    Click(*window, "cmdProcess");
    int masters = 0;
    for (const std::string& request : server.requests()) {
      const std::string body = BodyText(request);
      EXPECT_THAT(body, ::testing::Not(HasSubstr("Other Co")));
      masters +=
          body.find("<SVCURRENTCOMPANY>Acme Traders</SVCURRENTCOMPANY>") != std::string::npos;
    }
    const bool sent_some = std::string(c.sent).find("stay in Tally") != std::string::npos;
    EXPECT_EQ(masters > 0, c.icon != QMessageBox::Critical || sent_some);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, c.icon);
    EXPECT_EQ(messages.shown[0].title, "Lirvo 1.0 Demo");
    const std::string& text = messages.shown[0].text;
    EXPECT_THAT(text, HasSubstr(c.down ? refused.url() : c.says));
    if (c.icon == QMessageBox::Critical) {
      EXPECT_THAT(text, ::testing::StartsWith("The transfer stopped"));
      EXPECT_EQ(text.find("ransfer stopped", 6), std::string::npos) << "said once";
      EXPECT_THAT(text, HasSubstr(c.sent));
      EXPECT_EQ(text.find("Nothing was sent") == std::string::npos, sent_some);
    }
    EXPECT_EQ(Status()->isHidden() ? "" : Status()->text().toStdString(), c.status);
    EXPECT_FALSE(window->busy());

    // Still usable: Refresh asks again, and a transfer from good data runs to its end.
    const std::size_t asked = server.requests().size();
    Click(*window, "cmdRefresh");
    EXPECT_GT(server.requests().size(), asked);
    window->setDatabasePath(LIRVO_TEST_DATA_DIR "/three-rows.mdb");
    Click(*window, "cmdProcess");
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_NE(messages.shown[1].icon, QMessageBox::Critical) << messages.shown[1].text;
  }
}

TEST_F(DemoTest, ClicksDuringRefreshOrTransferStartNothingAndACloseWaitsForTheEnd) {
  RawServer server(Scripted({}));
  Open(server.url());
  const std::size_t refresh = server.requests().size();  // what the load's Refresh sent
  for (const char* work : {"cmdRefresh", "cmdProcess"}) {
    SCOPED_TRACE(work);
    std::size_t before = server.requests().size();
    Click(*window, work);
    const std::size_t once = server.requests().size() - before;
    // Clicks queued now run inside the work, while Stat lets events through.
    Later([this] {
      for (const char* button : {"cmdProcess", "cmdRefresh", "cmdClose"}) {
        Click(*window, button);
      }
    });
    before = server.requests().size();
    Click(*window, work);
    EXPECT_EQ(server.requests().size(), before + once) << "exactly one more run, nothing inside";
    FlushDeferredDeletes();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
  }
  EXPECT_EQ(messages.shown.size(), 2u) << "one final message per transfer, none from Refresh";

  // Closing the window during Refresh is held off until Refresh is done, then happens.
  bool closedInside = true;
  Later([this, &closedInside] {
    window->close();
    closedInside = !window->isVisible();
  });
  const std::size_t before = server.requests().size();
  Click(*window, "cmdRefresh");
  EXPECT_FALSE(closedInside);
  EXPECT_EQ(server.requests().size(), before + refresh) << "Refresh ran to its end";
  FlushDeferredDeletes();
  EXPECT_TRUE(window.isNull());
}

}  // namespace
}  // namespace lirvo::test
