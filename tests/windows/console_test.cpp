// The request console: its load harness, posting a file or the last sample request, showing and
// saving the reply, and its failures.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "Form1.h"
#include "scripted_server.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class ConsoleTest : public ::testing::Test {
 protected:
  // Loads a console against `url`, with message boxes recorded and the application's folder in a
  // folder of its own; the previous console goes.
  void Load(const std::string& url) {
    delete console.data();
    const ScopedEnv address("LIRVO_TALLY_URL", url);
    console = new Form1;
    console->showMessage = messages.recorder();
    console->setApplicationFolder(QString::fromStdString(app.path().string()));
    console->Form_Load();
  }
  void Request(const std::string& fileName) {
    Child<QLineEdit>(*console, "txtFileName")->setText(QString::fromStdString(fileName));
    Click(*console, "cmdRequest");
  }
  std::string Box(const char* name) const {
    return Child<QPlainTextEdit>(*console, name)->toPlainText().toStdString();
  }
  const std::string& LastShown() const { return messages.shown.back().text; }

  void TearDown() override {
    delete console.data();
    modTally::TallyUrl.clear();
  }

  TempDir app{"console-app"};
  TempDir work{"console-work"};
  MessageLog messages;
  QPointer<Form1> console;
};

TEST_F(ConsoleTest, LoadShowsReplyLineAndCompanyAndBuildsTheCustomerLedgerAlteration) {
  RawServer server(
      Scripted({.versionLine = "Stand-in 6.3 is running.", .currentCompany = "N & S"}));
  Load(server.url());
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].title, "Korbex");
  EXPECT_EQ(messages.shown[0].text, "Tally Version: Stand-in 6.3 is running.");
  EXPECT_EQ(messages.shown[1].title, "Korbex");
  EXPECT_EQ(messages.shown[1].text, "Company Name: N & S");
  EXPECT_EQ(modTally::TallyUrl, server.url());
  EXPECT_EQ(server.requests().size(), 2u) << "the load only asks; it posts none of its requests";

  EXPECT_THAT(console->LastRequest(),
              AllOf(HasSubstr("<SVCURRENTCOMPANY>N &amp; S</SVCURRENTCOMPANY>"),
                    HasSubstr("ACTION=\"Alter\""), HasSubstr("Sundry Debtors")));

  // With the server down the load still shows both boxes, naming what went wrong.
  const RefusedPort refused;
  const std::string down = refused.url();
  Load(down);
  ASSERT_EQ(messages.shown.size(), 4u);
  EXPECT_THAT(messages.shown[2].text, AllOf(StartsWith("Tally Version: "), HasSubstr(down)));
  EXPECT_THAT(messages.shown[3].text, StartsWith("Company Name: "));
  EXPECT_THAT(console->LastRequest(), HasSubstr("Sundry Debtors"));
}

TEST_F(ConsoleTest, ChosenFileIsPostedByteForByteAndTheReplyShownAndSavedAsReceived) {
  const lirvo::test::ScopedEnv wire("LIRVO_TALLY_ENCODING", "utf-8");  // a UTF-8 file as it stands
  // Several MiB of lines, shown and saved whole.
  std::string reply = "Unknown thing, <not closed\r\nsecond line";
  std::string shown = "Unknown thing, <not closed\nsecond line";
  for (int i = 0; i < 80'000; ++i) {
    const std::string line = "\n <LEDGER NAME=\"Customer " + std::to_string(i) +
                             "\"><PARENT>Sundry Debtors</PARENT><OPENINGBALANCE>0</OPENINGBALANCE>";
    reply += "\r" + line;
    shown += line;
  }
  RawServer server([&](int socket, const std::string&) {
    RawServer::SendAll(socket, RawServer::HttpReply(500, reply, "text/plain"));
  });
  Load(server.url());
  const std::string content =
      "<ENVELOPE>\r\n <HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER>\r\n"
      "<BODY><DESC NOTE=\"a, b\">Smith, \"Jones\" &amp; Co</DESC>\n,,\n</BODY>\r\n</ENVELOPE>\n";
  const std::filesystem::path file = work.File("request, with comma.xml");
  WriteFile(file, content);

  // The chooser starts in the application's folder, for .xml files; a cancel keeps the name.
  std::vector<QString> asked;
  QString answer;
  console->chooseFile = [&](const QString& folder, const QString& suffix) {
    asked.insert(asked.end(), {folder, suffix});
    return answer;
  };
  auto* fileName = Child<QLineEdit>(*console, "txtFileName");
  fileName->setText(QStringLiteral("typed.xml"));
  Click(*console, "Command1");
  EXPECT_EQ(fileName->text(), "typed.xml");
  answer = QString::fromStdString(file.string());
  Click(*console, "Command1");
  const QString folder = QString::fromStdString(app.path().string());
  EXPECT_EQ(asked, (std::vector<QString>{folder, "xml", folder, "xml"}));

  Click(*console, "cmdRequest");
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(BodyOf(server.requests().back()), content);
  EXPECT_TRUE(Box("txtResponse") == shown) << "not whole, or CR LF not shown as LF";
  console->grab();  // draws the window with the reply in it
  EXPECT_TRUE(ReadFile(app.File("Responce.xml")) == reply) << "not saved whole in the app folder";
}

// An empty file name posts the last request and saves the reply in the working folder; failures
// are reported with number and description and keep the boxes.
TEST_F(ConsoleTest, EmptyFileNamePostsTheLastRequestAndFailuresKeepTheBoxes) {
  RawServer server(Scripted({}));
  Load(server.url());
  const ScopedCurrentFolder here(work.path());
  Request("");
  EXPECT_EQ(messages.shown.size(), 2u) << "no failure is reported";
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(BodyText(server.requests().back()), console->LastRequest());
  EXPECT_THAT(Box("txtResponseHeaders"), HasSubstr("Content-Type: text/xml"));
  EXPECT_EQ(Box("txtResponse"), ServerScript{}.importReply);
  EXPECT_THAT(ReadFile(work.File("Responce.xml")), HasSubstr("<CREATED>1</CREATED>"));
  EXPECT_FALSE(std::filesystem::exists(app.File("Responce.xml")));

  const std::string headers = Box("txtResponseHeaders");
  const std::string body = Box("txtResponse");
  const std::size_t posted = server.requests().size();

  // A file that is not there: reported, nothing posted.
  Request("no such request.xml");
  ASSERT_EQ(messages.shown.size(), 3u);
  EXPECT_EQ(messages.shown.back().title, "Project1");
  EXPECT_THAT(LastShown(), AllOf(StartsWith("Error 300: "), HasSubstr("no such request.xml")));
  EXPECT_EQ(server.requests().size(), posted);

  // A reply the application's folder cannot take (an installed copy): saved in the working folder,
  // saying where and why; when that fails too, the failure is reported with the system's reason.
  console->setApplicationFolder(QString::fromStdString(app.File("missing folder").string()));
  WriteFile(work.File("r.xml"), "<ENVELOPE/>");
  Request(work.File("r.xml").string());
  ASSERT_EQ(messages.shown.size(), 4u);
  EXPECT_EQ(messages.shown.back().icon, QMessageBox::Information);
  EXPECT_THAT(LastShown(),
              AllOf(HasSubstr("missing folder/Responce.xml: No such file or directory"),
                    HasSubstr(work.File("Responce.xml").string())));
  EXPECT_THAT(ReadFile(work.File("Responce.xml")), HasSubstr(body));
  {
    TempDir gone("console-gone");
    const ScopedCurrentFolder there(gone.path());
    std::filesystem::remove(gone.path());
    Child<QPlainTextEdit>(*console, "txtResponse")->clear();
    Request(work.File("r.xml").string());
    EXPECT_EQ(Box("txtResponse"), body) << "shown even when it cannot be saved";
    ASSERT_EQ(messages.shown.size(), 5u);
    EXPECT_THAT(LastShown(), AllOf(StartsWith("Error 300: cannot write the reply to "),
                                   HasSubstr("missing folder/Responce.xml: No such file")));
  }

  // The server gone: reported, the boxes keep the last reply.
  const RefusedPort refused;
  modTally::TallyUrl = refused.url();
  Request("");
  ASSERT_EQ(messages.shown.size(), 6u);
  EXPECT_THAT(LastShown(), AllOf(StartsWith("Error "), HasSubstr(modTally::TallyUrl)));
  EXPECT_EQ(Box("txtResponseHeaders"), headers);
  EXPECT_EQ(Box("txtResponse"), body);
}

}  // namespace
}  // namespace lirvo::test
