// The windows under faults: the server killed between Refresh and Process, the database gone or
// damaged when Process is pressed, a reply of several MiB in the console. Each time the window
// says what happened and stays usable.
#include <signal.h>

#include <optional>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "Form1.h"
#include "LirvoDemo.h"
#include "raw_server.h"
#include "standin_process.h"
#include "standin_store.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

constexpr const char* kCompany = "Demo Trading Co";
const fs::path kSample = fs::path(LIRVO_TEST_DATA_DIR) / "SampleData.mdb";

class DemoWindowFaults : public testing::Test {
 protected:
  void SetUp() override { fs::copy_file(kSample, database); }
  void TearDown() override {
    delete window.data();
    modTally::TallyUrl.clear();
  }

  // Starts (or starts again) the stand-in on the store file and points the window's queries at it.
  void StartServer() {
    server.reset();
    server.emplace(LIRVO_STANDIN_PATH, std::vector<std::string>{"--data", data});
    address.reset();
    address.emplace("LIRVO_TALLY_URL", server->url());
  }

  void OpenWindow() {
    window = new LirvoDemo;
    window->showMessage = messages.recorder();
    window->setDatabasePath(database);
    window->show();
    window->Form_Load();
  }

  // The one message a click on Process gave is a failure naming `names`; the window is ready for
  // work: nothing running, both buttons take clicks.
  void ExpectFailedAndUsable(const std::string& names) {
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(messages.shown[0].title, "Lirvo 1.0 Demo");
    EXPECT_THAT(messages.shown[0].text, HasSubstr(names));
    EXPECT_FALSE(window->busy());
    EXPECT_TRUE(Child<QPushButton>(*window, "cmdRefresh")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(*window, "cmdProcess")->isEnabled());
    EXPECT_TRUE(window->isVisible());
    messages.shown.clear();
  }

  // Refresh and Process against the server as it is now: the transfer goes through.
  void ExpectTransferWorks() {
    Click(*window, "cmdRefresh");
    Click(*window, "cmdProcess");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, QMessageBox::Information) << messages.shown[0].text;
    EXPECT_EQ(StandinStore(data).CountVouchers(kCompany), 5);
  }

  TempDir dir{"window-faults"};
  const std::string data = dir.File("store.db").string();
  const fs::path database = dir.File("SampleData.mdb");
  std::optional<StandinProcess> server;
  std::optional<ScopedEnv> address;
  MessageLog messages;
  QPointer<LirvoDemo> window;
};

TEST_F(DemoWindowFaults, ServerKilledBetweenRefreshAndProcess) {
  StartServer();
  OpenWindow();
  ASSERT_EQ(window->CurrentCompany(), kCompany);
  const std::string url = server->url();
  ASSERT_EQ(server->Stop(SIGKILL), 128 + SIGKILL);
  Click(*window, "cmdProcess");
  ExpectFailedAndUsable(url);
  EXPECT_EQ(Child<QLabel>(*window, "lblProc")->text(), "Creaing Units - 1.........");

  StartServer();
  ExpectTransferWorks();
}

TEST_F(DemoWindowFaults, DatabaseGoneOrDamagedWhenProcessIsPressed) {
  StartServer();
  OpenWindow();
  const std::string sample = ReadFile(kSample);
  std::string damaged = sample;
  damaged.at(2 * 4096 + 0x37) = '\xff';  // the catalog's page usage map: libmdb crashed on it
  // Gone, and damaged (the kinds of damage are in bad_database_test.cpp).
  for (const auto& bytes : {std::optional<std::string>(), std::optional<std::string>(damaged)}) {
    SCOPED_TRACE(bytes ? "damaged" : "removed");
    fs::remove(database);
    if (bytes) {
      WriteFile(database, *bytes);
    }
    Click(*window, "cmdProcess");
    ExpectFailedAndUsable(database.string());
    EXPECT_TRUE(Child<QLabel>(*window, "lblProc")->isHidden()) << "no phase began";
  }
  EXPECT_EQ(StandinStore(data).CountMasters(kCompany), 0) << "nothing was posted";

  WriteFile(database, sample);
  ExpectTransferWorks();
}

TEST(ConsoleFaults, ReplyOfSeveralMiBIsShownWholeAndTheConsoleStaysUsable) {
  const TempDir dir("console-faults");
  const ScopedCurrentFolder folder(dir.path());
  // 80000 lines of about a hundred bytes each.
  std::string large = "<ENVELOPE>\r\n";
  for (int i = 0; i < 80'000; ++i) {
    large += "  <LEDGER NAME=\"Customer " + std::to_string(i) +
             "\"><PARENT>Sundry Debtors</PARENT><OPENINGBALANCE>0</OPENINGBALANCE></LEDGER>\r\n";
  }
  large += "</ENVELOPE>\r\n";
  ASSERT_GT(large.size(), 6u << 20);
  RawServer server([&large](int socket, const std::string& request) {
    const bool small = BodyText(request).find("small") != std::string::npos;
    RawServer::SendAll(socket,
                       RawServer::HttpReply(200, small ? "<RESPONSE>small</RESPONSE>" : large));
  });
  MessageLog messages;
  QPointer<Form1> console;
  {
    const ScopedEnv address("LIRVO_TALLY_URL", server.url());
    console = new Form1;
    console->showMessage = messages.recorder();
    console->setApplicationFolder(QString::fromStdString(dir.path().string()));
    console->Form_Load();
  }
  console->show();
  messages.shown.clear();
  const auto reply = [&] {
    return Child<QPlainTextEdit>(*console, "txtResponse")->toPlainText().toStdString();
  };

  Click(*console, "cmdRequest");
  const std::string shown = reply();
  console->grab();  // draws the window with the reply in it
  EXPECT_TRUE(messages.shown.empty()) << messages.shown.front().text;
  EXPECT_EQ(shown.size(), large.size() - 80'002) << "CR LF shown as LF";
  EXPECT_THAT(shown, testing::EndsWith("</ENVELOPE>\n"));
  EXPECT_GT(fs::file_size(dir.File("Responce.xml")), 6u << 20);

  // The next request replaces it.
  WriteFile(dir.File("small.xml"), "<ENVELOPE>small</ENVELOPE>");
  Child<QLineEdit>(*console, "txtFileName")
      ->setText(QString::fromStdString(dir.File("small.xml").string()));
  Click(*console, "cmdRequest");
  EXPECT_EQ(reply(), "<RESPONSE>small</RESPONSE>");
  EXPECT_TRUE(messages.shown.empty());
  delete console.data();
  modTally::TallyUrl.clear();
}

}  // namespace
}  // namespace lirvo::test
