// The request console: its load harness, posting a file or the last sample request, showing and
// saving the reply, and its failures.
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <lirvo/modTally.h>

#include "Form1.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Makes `folder` the working directory for the guard's lifetime.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::filesystem::path& folder)
      : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~ScopedCurrentFolder() { std::filesystem::current_path(old_); }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::filesystem::path old_;
};

class ConsoleTest : public ::testing::Test {
 protected:
  // Loads a console against `server`, with message boxes recorded and the application's folder
  // in a folder of its own.
  void Load(const std::string& url) {
    const ScopedEnv address("LIRVO_TALLY_URL", url);
    console = new Form1;
    console->showMessage = messages.recorder();
    console->setApplicationFolder(QString::fromStdString(appFolder.path().toStdString()));
    console->Form_Load();
  }
  void Request(const QString& fileName) {
    Child<QLineEdit>(*console, "txtFileName")->setText(fileName);
    QTest::mouseClick(Child<QPushButton>(*console, "cmdRequest"), Qt::LeftButton);
  }
  QString Headers() const {
    return Child<QPlainTextEdit>(*console, "txtResponseHeaders")->toPlainText();
  }
  QString Body() const { return Child<QPlainTextEdit>(*console, "txtResponse")->toPlainText(); }

  void TearDown() override {
    delete console.data();
    modTally::TallyUrl.clear();
  }

  QTemporaryDir appFolder;
  QTemporaryDir workFolder;
  MessageLog messages;
  QPointer<Form1> console;
};

TEST_F(ConsoleTest, LoadShowsReplyLineAndCompanyAndKeepsTheCustomerLedgerAlteration) {
  ServerScript script;
  script.versionLine = "Stand-in 6.3 is running.";
  script.currentCompany = "North & Sons";
  RawServer server(Scripted(script));
  Load(server.url());

  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].title, "Korbex");
  EXPECT_EQ(messages.shown[0].text, "Tally Version: Stand-in 6.3 is running.");
  EXPECT_EQ(messages.shown[1].title, "Korbex");
  EXPECT_EQ(messages.shown[1].text, "Company Name: North & Sons");
  EXPECT_EQ(modTally::TallyUrl, server.url());
  EXPECT_EQ(server.requests().size(), 2u) << "the load only asks; it posts none of its requests";

  pugi::xml_document request;
  ASSERT_TRUE(request.load_string(console->LastRequest().c_str())) << console->LastRequest();
  const pugi::xml_node ledger = request.select_node("//TALLYMESSAGE/LEDGER").node();
  ASSERT_TRUE(ledger) << console->LastRequest();
  EXPECT_STREQ(ledger.attribute("ACTION").value(), "Alter");
  EXPECT_STREQ(ledger.child_value("PARENT"), "Sundry Debtors");
  EXPECT_STRNE(ledger.attribute("NAME").value(), "");
  EXPECT_STRNE(ledger.attribute("NAME").value(), ledger.child_value("NAME"))
      << "the alteration renames the customer";
  EXPECT_STREQ(request.select_node("//SVCURRENTCOMPANY").node().child_value(), "North & Sons");
}

TEST_F(ConsoleTest, LoadWithTheServerDownStillShowsBothBoxesAndBuildsTheRequests) {
  const std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort());
  Load(url);
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_THAT(messages.shown[0].text.toStdString(), StartsWith("Tally Version: "));
  EXPECT_THAT(messages.shown[1].text.toStdString(), StartsWith("Company Name: "));
  EXPECT_GT(messages.shown[0].text.size(), QString("Tally Version: ").size())
      << "the box names what went wrong";
  EXPECT_THAT(console->LastRequest(), HasSubstr("Sundry Debtors"));
}

TEST_F(ConsoleTest, EmptyFileNamePostsTheLastRequestAndSavesTheReplyInTheWorkingFolder) {
  RawServer server(Scripted({}));
  Load(server.url());
  const ScopedCurrentFolder here(workFolder.path().toStdString());
  Request(QString());

  EXPECT_TRUE(messages.shown.size() == 2u) << "no failure is reported";
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(BodyOf(server.requests().back()), console->LastRequest());
  EXPECT_THAT(Headers().toStdString(), HasSubstr("Content-Type: text/xml"));
  EXPECT_THAT(Body().toStdString(), HasSubstr("<CREATED>1</CREATED>"));

  const std::filesystem::path saved =
      std::filesystem::path(workFolder.path().toStdString()) / "Responce.xml";
  pugi::xml_document reply;
  ASSERT_TRUE(reply.load_file(saved.c_str())) << saved;
  EXPECT_STREQ(reply.select_node("/RESPONSE/CREATED").node().child_value(), "1");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(appFolder.path().toStdString()) /
                                       "Responce.xml"));
}

TEST_F(ConsoleTest, NamedFileIsPostedByteForByteAndItsReplySavedInTheApplicationFolder) {
  RawServer server(Scripted({}));
  Load(server.url());
  const std::string content =
      "<ENVELOPE>\r\n <HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER>\r\n"
      "<BODY><DESC NOTE=\"a, b\">Smith, \"Jones\" &amp; Co</DESC>\n,,\n</BODY>\r\n</ENVELOPE>\n";
  const std::filesystem::path file =
      std::filesystem::path(workFolder.path().toStdString()) / "request, with comma.xml";
  WriteFile(file, content);
  Request(QString::fromStdString(file.string()));

  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(BodyOf(server.requests().back()), content);
  const std::filesystem::path saved =
      std::filesystem::path(appFolder.path().toStdString()) / "Responce.xml";
  EXPECT_THAT(ReadFile(saved), HasSubstr("<CREATED>1</CREATED>"));
}

TEST_F(ConsoleTest, ReplyThatIsNotXmlIsShownAndSavedAsReceived) {
  const std::string text = "Unknown thing, <not closed\r\nsecond line";
  RawServer server([&](int socket, const std::string&) {
    RawServer::SendAll(socket, RawServer::HttpReply(500, text, "text/plain"));
  });
  Load(server.url());
  const ScopedCurrentFolder here(workFolder.path().toStdString());
  Request(QString());
  EXPECT_EQ(Body(), "Unknown thing, <not closed\nsecond line");
  EXPECT_EQ(ReadFile(std::filesystem::path(workFolder.path().toStdString()) / "Responce.xml"),
            text);
}

TEST_F(ConsoleTest, FailuresAreReportedWithNumberAndDescriptionAndKeepTheBoxes) {
  RawServer server(Scripted({}));
  Load(server.url());
  const ScopedCurrentFolder here(workFolder.path().toStdString());
  Request(QString());
  const QString headers = Headers();
  const QString body = Body();
  ASSERT_FALSE(body.isEmpty());
  const std::size_t posted = server.requests().size();

  // A file that is not there: reported, nothing posted.
  Request(QStringLiteral("no such request.xml"));
  ASSERT_EQ(messages.shown.size(), 3u);
  EXPECT_EQ(messages.shown.back().title, "Project1");
  EXPECT_THAT(messages.shown.back().text.toStdString(), StartsWith("Error 300: "));
  EXPECT_THAT(messages.shown.back().text.toStdString(), HasSubstr("no such request.xml"));
  EXPECT_EQ(server.requests().size(), posted);

  // A reply that cannot be saved: still shown, the failure reported.
  console->setApplicationFolder(appFolder.filePath(QStringLiteral("missing folder")));
  const std::filesystem::path file =
      std::filesystem::path(workFolder.path().toStdString()) / "r.xml";
  WriteFile(file, "<ENVELOPE/>");
  Child<QPlainTextEdit>(*console, "txtResponse")->clear();
  Request(QString::fromStdString(file.string()));
  EXPECT_EQ(Body(), body);
  ASSERT_EQ(messages.shown.size(), 4u);
  EXPECT_THAT(messages.shown.back().text.toStdString(), StartsWith("Error 300: "));
  EXPECT_THAT(messages.shown.back().text.toStdString(), HasSubstr("missing folder"));

  // The server gone: reported, the boxes keep the last reply.
  modTally::TallyUrl = "http://127.0.0.1:" + std::to_string(UnusedPort());
  Request(QString());
  ASSERT_EQ(messages.shown.size(), 5u);
  EXPECT_THAT(messages.shown.back().text.toStdString(), StartsWith("Error "));
  EXPECT_THAT(messages.shown.back().text.toStdString(), HasSubstr(modTally::TallyUrl));
  EXPECT_EQ(Headers(), headers);
  EXPECT_EQ(Body(), body);
}

TEST_F(ConsoleTest, FileChooserStartsInTheApplicationFolderAndCancelKeepsTheName) {
  RawServer server(Scripted({}));
  Load(server.url());
  std::vector<std::pair<QString, QString>> asked;
  QString answer;
  console->chooseFile = [&](const QString& folder, const QString& suffix) {
    asked.emplace_back(folder, suffix);
    return answer;
  };
  auto* fileName = Child<QLineEdit>(*console, "txtFileName");
  fileName->setText(QStringLiteral("typed.xml"));
  QTest::mouseClick(Child<QPushButton>(*console, "Command1"), Qt::LeftButton);
  EXPECT_EQ(fileName->text(), "typed.xml");
  answer = QStringLiteral("/tmp/chosen.xml");
  QTest::mouseClick(Child<QPushButton>(*console, "Command1"), Qt::LeftButton);
  EXPECT_EQ(fileName->text(), "/tmp/chosen.xml");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].first, appFolder.path());
  EXPECT_EQ(asked[0].second, "xml");
}

}  // namespace
}  // namespace lirvo::test
