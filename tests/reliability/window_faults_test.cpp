// The windows under faults: the server killed between Refresh and Process, the database gone or
// damaged when Process is pressed, a reply of several MiB in the console. Each time the window
// says what happened and stays usable.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "Form1.h"
#include "LirvoDemo.h"
#include "raw_server.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

namespace fs = std::filesystem;
using lirvo::test::RawServer;
using lirvo::test::ScopedEnv;
using lirvo::test::StandinProcess;
using lirvo::test::StandinStore;
using testing::HasSubstr;

constexpr const char* kCompany = "Demo Trading Co";
const fs::path kSample = fs::path(LIRVO_TEST_DATA_DIR) / "SampleData.mdb";

struct Shown {
  QMessageBox::Icon icon;
  std::string title;
  std::string text;
};

template <class T>
T* Child(const QWidget& window, const char* name) {
  T* child = window.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(child, nullptr) << "no control named " << name;
  return child;
}

void Click(const QWidget& window, const char* button) {
  QTest::mouseClick(Child<QPushButton>(window, button), Qt::LeftButton);
}

class DemoWindowFaults : public testing::Test {
 protected:
  void SetUp() override {
    data = dir.File("store.db").string();
    database = dir.File("SampleData.mdb");
    fs::copy_file(kSample, database);
  }
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
    window->showMessage = [this](QMessageBox::Icon icon, const QString& title,
                                 const QString& text) {
      shown.push_back({icon, title.toStdString(), text.toStdString()});
    };
    window->setDatabasePath(database);
    window->Form_Load();
    window->show();
  }

  // The window is ready for work: nothing running, both buttons take clicks.
  void ExpectUsable() const {
    EXPECT_FALSE(window->busy());
    EXPECT_TRUE(Child<QPushButton>(*window, "cmdRefresh")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(*window, "cmdProcess")->isEnabled());
    EXPECT_TRUE(window->isVisible());
  }

  // Refresh and Process against the server as it is now: the transfer goes through.
  void ExpectTransferWorks() {
    shown.clear();
    Click(*window, "cmdRefresh");
    Click(*window, "cmdProcess");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].icon, QMessageBox::Information) << shown[0].text;
    EXPECT_EQ(StandinStore(data).CountVouchers(kCompany), 5);
  }

  lirvo::test::TempDir dir{"window-faults"};
  std::string data;
  fs::path database;
  std::optional<StandinProcess> server;
  std::optional<ScopedEnv> address;
  QPointer<LirvoDemo> window;
  std::vector<Shown> shown;
};

TEST_F(DemoWindowFaults, ServerKilledBetweenRefreshAndProcess) {
  StartServer();
  OpenWindow();
  ASSERT_EQ(window->CurrentCompany(), kCompany);
  const std::string url = server->url();
  ASSERT_EQ(server->Stop(SIGKILL), 128 + SIGKILL);

  Click(*window, "cmdProcess");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].icon, QMessageBox::Critical);
  EXPECT_EQ(shown[0].title, "Lirvo 1.0 Demo");
  EXPECT_THAT(shown[0].text, HasSubstr(url)) << "the message names the server it could not reach";
  EXPECT_EQ(Child<QLabel>(*window, "lblProc")->text(), "Creaing Units - 1.........");
  ExpectUsable();

  StartServer();
  ExpectTransferWorks();
}

TEST_F(DemoWindowFaults, DatabaseGoneOrDamagedWhenProcessIsPressed) {
  StartServer();
  OpenWindow();
  const std::string sample = [] {
    std::ifstream in(kSample, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  std::string damaged = sample;
  damaged.at(2 * 4096 + 0x37) = '\xff';  // the catalog's page usage map: libmdb crashed on it
  const struct {
    const char* what;
    std::optional<std::string> bytes;  // no value: the file is removed
  } cases[] = {
      {"removed", std::nullopt},
      {"cut short", sample.substr(0, 100'000)},
      {"damaged", damaged},
      {"not a database", std::string("PartyName,Amount\n")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    shown.clear();
    fs::remove(database);
    if (c.bytes) {
      std::ofstream(database, std::ios::binary) << *c.bytes;
    }
    Click(*window, "cmdProcess");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].icon, QMessageBox::Critical);
    EXPECT_THAT(shown[0].text, HasSubstr(database.string()));
    ExpectUsable();
  }
  EXPECT_EQ(StandinStore(data).CountMasters(kCompany), 0) << "nothing was posted";

  fs::remove(database);
  fs::copy_file(kSample, database);
  ExpectTransferWorks();
}

// Changes the working folder for the guard's lifetime (the console saves the reply to the last
// sample request there).
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const fs::path& folder) : old_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~ScopedCurrentFolder() { fs::current_path(old_); }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  fs::path old_;
};

// A reply of `lines` lines of XML, each about a hundred bytes.
std::string LargeReply(int lines) {
  std::string body = "<ENVELOPE>\r\n";
  for (int i = 0; i < lines; ++i) {
    body += "  <LEDGER NAME=\"Customer " + std::to_string(i) +
            "\"><PARENT>Sundry Debtors</PARENT><OPENINGBALANCE>0</OPENINGBALANCE></LEDGER>\r\n";
  }
  return body + "</ENVELOPE>\r\n";
}

TEST(ConsoleFaults, ReplyOfSeveralMiBIsShownWholeAndTheConsoleStaysUsable) {
  const lirvo::test::TempDir dir("console-faults");
  const ScopedCurrentFolder folder(dir.path());
  const std::string large = LargeReply(80'000);
  ASSERT_GT(large.size(), 6u << 20);
  RawServer server([&large](int socket, const std::string& request) {
    const bool small = request.find("small") != std::string::npos;
    RawServer::SendAll(socket,
                       RawServer::HttpReply(200, small ? "<RESPONSE>small</RESPONSE>" : large));
  });

  std::vector<std::string> shown;
  QPointer<Form1> console;
  {
    const ScopedEnv address("LIRVO_TALLY_URL", server.url());
    console = new Form1;
    console->showMessage = [&shown](QMessageBox::Icon, const QString&, const QString& text) {
      shown.push_back(text.toStdString());
    };
    console->setApplicationFolder(QString::fromStdString(dir.path().string()));
    console->Form_Load();
  }
  console->show();
  shown.clear();

  const auto started = std::chrono::steady_clock::now();
  Click(*console, "cmdRequest");
  const QString body = Child<QPlainTextEdit>(*console, "txtResponse")->toPlainText();
  console->grab();  // draws the window with the reply in it
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(shown.empty()) << shown.front();
  EXPECT_EQ(body.size(), static_cast<qsizetype>(large.size() - 80'002)) << "CR LF shown as LF";
  EXPECT_TRUE(body.endsWith(QStringLiteral("</ENVELOPE>\n")));
  EXPECT_EQ(fs::file_size(dir.File("Responce.xml")) > 6u << 20, true);
  std::cout << large.size() << " bytes shown and saved in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";

  // The next request replaces it.
  const fs::path request = dir.File("small.xml");
  std::ofstream(request) << "<ENVELOPE>small</ENVELOPE>";
  Child<QLineEdit>(*console, "txtFileName")->setText(QString::fromStdString(request.string()));
  Click(*console, "cmdRequest");
  EXPECT_EQ(Child<QPlainTextEdit>(*console, "txtResponse")->toPlainText(),
            "<RESPONSE>small</RESPONSE>");
  EXPECT_TRUE(shown.empty());
  delete console.data();
  modTally::TallyUrl.clear();
}

}  // namespace
