// The demo window: Refresh against servers that answer, fail or say nothing; the transfer's final
// message and failures; no work nested inside running work.
#include <optional>

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "LirvoDemo.h"
#include "standin_process.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kSuccess = "Data Exported to Tally successfully!!";
const std::string kThreeRows = LIRVO_TEST_DATA_DIR "/three-rows.mdb";

std::string DownUrl() {
  return "http://127.0.0.1:" + std::to_string(UnusedPort());
}

class DemoTest : public ::testing::Test {
 protected:
  // Points the window (and the queries) at `url` from now on.
  void Serve(const std::string& url) {
    address.reset();
    address.emplace("LIRVO_TALLY_URL", url);
  }
  // Builds the window against `url`, runs its load and shows it.
  void Open(const std::string& url) {
    Serve(url);
    window = new LirvoDemo;
    window->showMessage = messages.recorder();
    window->setDatabasePath(kThreeRows);
    window->Form_Load();
    window->show();
  }
  void Click(const char* button) {
    QTest::mouseClick(Child<QPushButton>(*window, button), Qt::LeftButton);
  }
  QComboBox* List() const { return Child<QComboBox>(*window, "cmbCurrentCompanyList"); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> entries;
    for (int i = 0; i < List()->count(); ++i) {
      entries.push_back(List()->itemText(i).toStdString());
    }
    return entries;
  }
  QLabel* Status() const { return Child<QLabel>(*window, "lblProc"); }
  QString Version() const { return Child<QLabel>(*window, "lblVer")->text(); }
  bool ProcessEnabled() const { return Child<QPushButton>(*window, "cmdProcess")->isEnabled(); }

  void TearDown() override {
    delete window.data();
    modTally::TallyUrl.clear();
  }

  std::optional<ScopedEnv> address;
  MessageLog messages;
  QPointer<LirvoDemo> window;
};

TEST_F(DemoTest, StartUpAgainstTheStandInListsItsCompaniesAndSelectsTheCurrentOne) {
  const struct {
    std::vector<std::string> companies;
  } cases[] = {{{"North Traders", "Acme & Sons", "Zeta Ltd"}}, {{"Solo Company"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.companies.size());
    std::vector<std::string> arguments;
    for (const std::string& company : c.companies) {
      arguments.insert(arguments.end(), {"--company", company});
    }
    const StandinProcess standin(LIRVO_STANDIN_PATH, arguments);
    Open(standin.url());
    const std::string line = modTally::GetTallyVersion();

    EXPECT_EQ(Entries(), c.companies);
    EXPECT_EQ(List()->currentText().toStdString(), c.companies.front());
    EXPECT_EQ(window->CurrentCompany(), c.companies.front());
    EXPECT_TRUE(ProcessEnabled());
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(Version().toStdString(), line);
    EXPECT_EQ(window->TallyVersion(), line);
    EXPECT_TRUE(Status()->isHidden());
    EXPECT_TRUE(messages.shown.empty());
    delete window.data();
  }
}

TEST_F(DemoTest, ServerDownShowsTheReasonAndStopsAtTheVersionCheck) {
  const std::string down = DownUrl();
  Open(down);
  const std::string reason = modTally::GetTallyVersion();
  EXPECT_THAT(reason, HasSubstr(down));
  EXPECT_EQ(Version().toStdString(), reason);
  EXPECT_EQ(Entries(), std::vector<std::string>{""});
  EXPECT_FALSE(Status()->isHidden());
  EXPECT_EQ(Status()->text(), "Checking Tally Version.........");
  EXPECT_FALSE(ProcessEnabled()) << "Process keeps its state: disabled from the start";

  // After a good Refresh, a failing one leaves Process enabled too.
  RawServer server(Scripted({}));
  Serve(server.url());
  Click("cmdRefresh");
  ASSERT_TRUE(ProcessEnabled());
  ASSERT_EQ(window->CurrentCompany(), "Acme Traders");
  Serve(down);
  Click("cmdRefresh");
  EXPECT_TRUE(ProcessEnabled());
  EXPECT_EQ(Entries(), std::vector<std::string>{""});
  EXPECT_NE(window->CurrentCompany(), "Acme Traders") << "replaced by the query's result";
  EXPECT_FALSE(Status()->isHidden());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DemoTest, EmptyReplyLineSaysTallyIsNotRunningAndDisablesProcess) {
  ServerScript script;
  script.companies = {"Acme Traders", "Beta Co"};
  RawServer running(Scripted(script));
  Open(running.url());
  ASSERT_TRUE(ProcessEnabled());

  ServerScript silent = script;
  silent.versionLine.clear();
  silent.companies = {"Other"};
  RawServer quiet(Scripted(silent));
  Serve(quiet.url());
  Click("cmdRefresh");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Tally is not running.");
  EXPECT_EQ(messages.shown[0].title, "Project1");
  EXPECT_FALSE(ProcessEnabled());
  EXPECT_EQ(Version(), "");
  EXPECT_EQ(Entries(), script.companies) << "the list keeps what it held";
  EXPECT_EQ(window->CurrentCompany(), "Acme Traders");
  EXPECT_TRUE(Status()->isHidden());
}

TEST_F(DemoTest, CompanyListShapesDecideSelectionAndProcess) {
  const struct {
    const char* name;
    std::vector<std::string> companies;
    std::string current;
    int selected;  // -1: none
    bool process;
    bool statusHidden;
  } cases[] = {
      // "ERROR" anywhere in slot 1, in capitals, is the list's failure mark.
      {"ERROR in slot 1", {"Alpha", "Big ERROR Co"}, "Alpha", -1, false, false},
      {"error in lower case", {"Alpha", "Big error Co"}, "Alpha", 0, true, true},
      {"ERROR in slot 0 only", {"ERROR Alpha", "Beta"}, "Beta", 1, true, true},
      {"no company at all", {}, "Alpha", -1, false, true},
      {"current company not listed", {"Alpha", "Beta"}, "Gamma", -1, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ServerScript script;
    script.companies = c.companies;
    script.currentCompany = c.current;
    RawServer server(Scripted(script));
    Open(server.url());
    EXPECT_EQ(Entries(), c.companies);
    EXPECT_EQ(List()->currentIndex(), c.selected);
    EXPECT_EQ(ProcessEnabled(), c.process);
    EXPECT_EQ(Status()->isHidden(), c.statusHidden);
    EXPECT_EQ(window->CurrentCompany(), c.current);
    EXPECT_TRUE(messages.shown.empty());
    delete window.data();
  }
}

TEST_F(DemoTest, ProcessSendsToTheCurrentCompanyAndTheFinalMessageSaysWhatTheServerTook) {
  const struct {
    const char* name;
    std::string importReply;  // empty: the script's default, everything accepted
    QMessageBox::Icon icon;
    const char* says;
  } cases[] = {
      {"all accepted", "", QMessageBox::Information, kSuccess},
      {"rejected",
       "<RESPONSE><CREATED>0</CREATED><ERRORS>1</ERRORS><EXCEPTIONS>0</EXCEPTIONS>"
       "<LINEERROR>Ledger 'Ghost' does not exist!</LINEERROR></RESPONSE>",
       QMessageBox::Warning, "Ledger 'Ghost' does not exist!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ServerScript script;
    script.companies = {"Acme Traders", "Other Co"};
    if (!c.importReply.empty()) {
      script.importReply = c.importReply;
    }
    RawServer server(Scripted(script));
    Open(server.url());
    List()->setCurrentIndex(1);  // the list's choice does not steer the transfer
    Click("cmdProcess");

    int masters = 0;
    for (const std::string& body : ImportBodies(server)) {
      EXPECT_THAT(body, ::testing::Not(HasSubstr("Other Co")));
      if (body.find("SVCURRENTCOMPANY") != std::string::npos) {
        EXPECT_THAT(body, HasSubstr("<SVCURRENTCOMPANY>Acme Traders</SVCURRENTCOMPANY>"));
        ++masters;
      }
    }
    EXPECT_GT(masters, 0);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, c.icon);
    EXPECT_EQ(messages.shown[0].title, "Lirvo 1.0 Demo");
    EXPECT_THAT(messages.shown[0].text.toStdString(), HasSubstr(c.says));
    EXPECT_TRUE(Status()->isHidden());
    messages.shown.clear();
    delete window.data();
  }
}

TEST_F(DemoTest, AFailedTransferIsReportedAndTheWindowStaysUsable) {
  const struct {
    std::string database;
    const char* mentions;
    const char* status;  // where the status label stopped; nullptr: hidden (nothing began)
  } cases[] = {
      {"/nonexistent/folder/missing.mdb", "missing.mdb", nullptr},
      {LIRVO_TEST_DATA_DIR "/null-unit.mdb", "Unit", "Creaing Units - 1........."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.database);
    RawServer server(Scripted({}));
    Open(server.url());
    window->setDatabasePath(c.database);
    Click("cmdProcess");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(messages.shown[0].title, "Lirvo 1.0 Demo");
    EXPECT_THAT(messages.shown[0].text.toStdString(), HasSubstr(c.mentions));
    EXPECT_TRUE(ImportBodies(server).empty());
    EXPECT_EQ(Status()->isHidden(), c.status == nullptr);
    if (c.status != nullptr) {
      EXPECT_EQ(Status()->text(), c.status);
    }
    EXPECT_FALSE(window->busy());

    // Still usable: Refresh asks again, and a transfer from good data goes through.
    const std::size_t asked = server.requests().size();
    Click("cmdRefresh");
    EXPECT_GT(server.requests().size(), asked);
    window->setDatabasePath(kThreeRows);
    Click("cmdProcess");
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, kSuccess);
    messages.shown.clear();
    delete window.data();
  }
}

TEST_F(DemoTest, ClicksDuringRefreshStartNothingAndACloseWaitsForTheEnd) {
  RawServer server(Scripted({}));
  Open(server.url());
  const std::size_t afterLoad = server.requests().size();

  // Queued clicks run inside Refresh, while Stat lets events through.
  Later([this] {
    Click("cmdProcess");
    Click("cmdRefresh");
    Click("cmdClose");
  });
  Click("cmdRefresh");
  FlushDeferredDeletes();
  ASSERT_FALSE(window.isNull());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(ImportBodies(server).empty());
  EXPECT_EQ(server.requests().size(), 2 * afterLoad) << "exactly one more Refresh ran";
  EXPECT_TRUE(messages.shown.empty());

  // Closing the window during Refresh is held off until Refresh is done, then happens.
  bool closedInside = true;
  Later([this, &closedInside] {
    window->close();
    closedInside = !window->isVisible();
  });
  Click("cmdRefresh");
  EXPECT_FALSE(closedInside);
  EXPECT_EQ(server.requests().size(), 3 * afterLoad) << "Refresh ran to its end";
  FlushDeferredDeletes();
  EXPECT_TRUE(window.isNull());
}

TEST_F(DemoTest, ClicksDuringTheTransferStartNothing) {
  RawServer server(Scripted({}));
  Open(server.url());
  Click("cmdProcess");
  const std::size_t oneTransfer = ImportBodies(server).size();
  ASSERT_GT(oneTransfer, 0u);

  Later([this] {
    Click("cmdProcess");
    Click("cmdRefresh");
    Click("cmdClose");
  });
  Click("cmdProcess");
  EXPECT_EQ(ImportBodies(server).size(), 2 * oneTransfer);
  ASSERT_EQ(messages.shown.size(), 2u) << "one final message per transfer";
  FlushDeferredDeletes();
  ASSERT_FALSE(window.isNull());
  EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace lirvo::test
