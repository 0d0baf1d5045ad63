// The command-line programs: the queries' output, the behaviour every command and program shares
// (help, version, usage errors) and send's exit statuses. The transfer command is in the transfer
// tests.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "lirvo_command.h"

namespace {

using lirvo::test::Lirvo;
using lirvo::test::RawServer;
using lirvo::test::RunCommand;
using ::testing::HasSubstr;

// A query prints its answer and exits 0; a server that is down, answers an HTTP error, a web page
// or a LINEERROR is described on stderr with the address and what came back, and the exit status
// is 1.
TEST(Cli, QueriesPrintTheAnswerOrTheFailure) {
  auto server = RawServer::Replying(RawServer::HttpReply(
      200,
      "<ENVELOPE><RESPONSE>Running fine</RESPONSE><SVCURRENTCOMPANY>Acme</SVCURRENTCOMPANY>"
      "<COMPANYNAME>Acme</COMPANYNAME><COMPANYNAME>Beta &amp; Co</COMPANYNAME></ENVELOPE>"));
  const lirvo::test::RefusedPort down;
  auto not_found = RawServer::Replying(RawServer::HttpReply(404, "<RESPONSE>x</RESPONSE>"));
  auto web_page = RawServer::Replying(
      RawServer::HttpReply(200, "<!DOCTYPE html><html><title>Router</title></html>", "text/html"));
  auto refusing = RawServer::Replying(RawServer::HttpReply(
      200,
      "<RESPONSE><LINEERROR>Could not find Report 'List of Companies'!</LINEERROR></RESPONSE>"));
  const std::pair<std::string, std::string> failing[] = {
      {down.url(), "cannot exchange a request"},
      {not_found.url(), "HTTP 404"},
      {web_page.url(), "an HTML page (\"<!DOCTYPE html><html><title>Router"},
      {refusing.url(), "Could not find Report 'List of Companies'!"}};
  for (const auto& [command, out] :
       {std::pair{"probe", "Running fine\n"}, std::pair{"current-company", "Acme\n"},
        std::pair{"companies", "Acme\nBeta & Co\n"}}) {
    SCOPED_TRACE(command);
    const auto result = Lirvo(server.url(), command);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, out);
    for (const auto& [url, says] : failing) {
      const auto failed = Lirvo(url, command);
      EXPECT_EQ(failed.exit_code, 1) << url;
      EXPECT_EQ(failed.out, "");
      EXPECT_THAT(failed.err, HasSubstr(url));
      EXPECT_THAT(failed.err, HasSubstr(says));
    }
  }
  EXPECT_THAT(Lirvo(web_page.url(), "probe").err, HasSubstr("not the accounting server"));
}

// Every program and command: --help and --version on stdout with status 0; a usage error names
// what was wrong on stderr with a one-line hint, prints nothing on stdout and exits 2.
TEST(Cli, HelpVersionAndUsageErrorsBehaveAlikeInEveryProgramAndCommand) {
  constexpr const char* kVersion = LIRVO_VERSION "\n";
  const struct {
    std::string program;
    const char* arguments;
    int status;
    const char* says;  // on stdout for status 0, on stderr otherwise
  } cases[] = {
      {LIRVO_CLI_PATH, "--help", 0, "2 usage error; 3 the server rejected something"},
      {LIRVO_CLI_PATH, "transfer --help", 0, "--company NAME"},
      {LIRVO_CLI_PATH, "build ledger --help", 0, "--IsBillWiseOn"},
      {LIRVO_CLI_PATH, "--version", 0, kVersion},
      {LIRVO_CLI_PATH, "build unit --version", 0, kVersion},
      {LIRVO_CLI_PATH, "", 2, "a command is needed: one of probe"},
      {LIRVO_CLI_PATH, "build", 2, "one of unit, ledger, stockitem, godown, group, stockgroup"},
      {LIRVO_CLI_PATH, "frobnicate", 2, "unknown command \"frobnicate\""},
      {LIRVO_CLI_PATH, "probe extra", 2, "extra"},
      {LIRVO_CLI_PATH, "send", 2, "FILE"},
      {LIRVO_CLI_PATH, "transfer --company A --company B", 2, "--company"},
      {LIRVO_CLI_PATH, "build ledger --Name x --Colour red", 2, "--Colour"},
      {LIRVO_CLI_PATH, "build ledger --action Modify --Name x", 2, "--action"},
      {LIRVO_CLI_PATH, "build ledger --action Alter --Name x", 2, "--OldName"},
      // Options are checked before anything is asked of a server, each in one short line.
      {LIRVO_CLI_PATH, "sync", 2,
       "--db FILE or --source URI (where the rows of SalesMst come from) is required"},
      {LIRVO_CLI_PATH, "verify", 2,
       "--db FILE or --source URI (where the rows of SalesMst come from) is required"},
      {LIRVO_CLI_PATH, "sync --db x --limit 0", 2, "--limit: a whole number from 1 up, not \"0\""},
      {LIRVO_CLI_PATH, "sync --db x --batch abc", 2, "a whole number from 1 to 500, not \"abc\""},
      {LIRVO_CLI_PATH, "verify --db x --from 20161301", 2, "--from: a date is a day of the"},
      {LIRVO_CLI_PATH, "verify --db x --from 20160501 --to 20160401", 2, "comes after --to"},
      {LIRVO_CLI_PATH, "sync --db x --year 2016-18", 2, "--year"},
      {LIRVO_CLI_PATH, "sync --db x --year 2016-17 --to 20160502", 2, "--year"},
#ifdef LIRVO_DEMO_PATH
      {LIRVO_DEMO_PATH, "--help", 0, "--screenshot FILE"},
      {LIRVO_DEMO_PATH, "--version", 0, kVersion},
      {LIRVO_DEMO_PATH, "--bogus", 2, "--bogus"},
      {LIRVO_DEMO_PATH, "--screenshot", 2, "--screenshot"},
      {LIRVO_DEMO_PATH, "--console --export", 2, "--export"},
      {LIRVO_DEMO_PATH, "--click cmdProcess", 2, "--screenshot"},
      // No display: said before Qt is asked for one, with what to run instead.
      {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " LIRVO_DEMO_PATH, "", 1,
       "Run \"lirvo transfer\""},
      {"env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " LIRVO_DEMO_PATH, "", 1,
       "xvfb-run lirvo-demo --screenshot"},
#endif
  };
  const lirvo::test::RefusedPort down;  // nothing here may reach a server
  const std::string url = down.url();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + " " + c.arguments);
    const auto result = RunCommand("LIRVO_TALLY_URL=" + url + " " + c.program + " " + c.arguments);
    EXPECT_EQ(result.exit_code, c.status) << result.err;
    if (c.status == 0) {
      EXPECT_THAT(result.out, HasSubstr(c.says));
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_EQ(result.out, "");
      EXPECT_THAT(result.err, HasSubstr(c.says));
    }
    if (c.status == 2) {
      EXPECT_THAT(result.err, ::testing::EndsWith(" --help)\n"));
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << "one-line hint";
    }
  }
#ifdef LIRVO_DEMO_PATH
  const auto unknown = RunCommand("LIRVO_TALLY_URL=" + url + " QT_QPA_PLATFORM=offscreen " +
                                  LIRVO_DEMO_PATH + " --screenshot /dev/null --click cmdGo");
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_THAT(unknown.err, HasSubstr("no button named \"cmdGo\"; its buttons are cmdRefresh"));
#endif
}

TEST(Cli, SendExitsZeroWhenAcceptedThreeWhenRejectedOneOnFailure) {
  const lirvo::test::TempDir dir("cli-send");
  const std::string file = dir.File("request.xml").string();
  lirvo::test::WriteFile(file, "<ENVELOPE><BODY>x</BODY></ENVELOPE>");
  const std::string bad = dir.File("bad.xml").string();
  lirvo::test::WriteFile(bad, "<ENVELOPE><BODY>x</ENVELOPE>");
  const struct {
    int http;
    const char* body;
    int status;
    const char* out;  // the reply, printed as it came
    const char* err;
  } cases[] = {
      {200, "<RESPONSE><CREATED>1</CREATED><ERRORS>0</ERRORS></RESPONSE>", 0, "<CREATED>1", ""},
      {200,
       "<RESPONSE><CREATED>0</CREATED><ERRORS>1</ERRORS>"
       "<LINEERROR>Ledger 'Ghost' does not exist!</LINEERROR></RESPONSE>",
       3, "<LINEERROR>", "Ledger 'Ghost' does not exist!"},
      {400, "<RESPONSE>Unknown Request, cannot be processed</RESPONSE>", 3, "Unknown Request",
       "HTTP status 400: Unknown Request, cannot be processed"},
      {413, "", 3, "", "HTTP status 413"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.http);
    auto server = RawServer::Replying(RawServer::HttpReply(c.http, c.body));
    const auto result = Lirvo(server.url(), "send " + file);
    EXPECT_EQ(result.exit_code, c.status) << result.err;
    EXPECT_THAT(result.out, HasSubstr(c.out));
    EXPECT_THAT(result.err, HasSubstr(c.err));
    if (c.status == 3) {
      EXPECT_THAT(result.err, HasSubstr(file));
    }
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(lirvo::test::BodyText(server.requests()[0]),
              "<ENVELOPE>\r\n  <BODY>x</BODY>\r\n</ENVELOPE>");  // laid out
    EXPECT_EQ(Lirvo(server.url(), "send " + bad).exit_code, 1);
    EXPECT_EQ(server.requests().size(), 1u);
  }
  // A request of two vouchers answered CREATED 1 is not accepted.
  const std::string two = dir.File("two.xml").string();
  lirvo::test::WriteFile(two,
                         "<ENVELOPE><TALLYMESSAGE><VOUCHER/><VOUCHER/></TALLYMESSAGE></ENVELOPE>");
  auto short_of_one =
      RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE><CREATED>1</CREATED></RESPONSE>"));
  const auto short_run = Lirvo(short_of_one.url(), "send " + two);
  EXPECT_EQ(short_run.exit_code, 3);
  EXPECT_THAT(short_run.err, HasSubstr("account for 1 of the 2 objects sent"));
  const lirvo::test::RefusedPort down;
  EXPECT_EQ(Lirvo(down.url(), "send " + file).exit_code, 1);
  const auto missing = Lirvo(down.url(), "send " + dir.File("none.xml").string());
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_THAT(missing.err, HasSubstr("none.xml: No such file or directory"));
}

}  // namespace
