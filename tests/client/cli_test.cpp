// The lirvo command's query subcommands: output and exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "raw_server.h"

namespace {

using lirvo::test::RawServer;
using lirvo::test::RunCommand;

std::string Cli(const std::string& url, const std::string& arguments) {
  return "LIRVO_TALLY_URL=" + url + " " LIRVO_CLI_PATH " " + arguments;
}

TEST(Cli, QueriesPrintTheAnswerAndExitZero) {
  auto server = RawServer::Replying(RawServer::HttpReply(
      200,
      "<ENVELOPE><RESPONSE>Running fine</RESPONSE><SVCURRENTCOMPANY>Acme</SVCURRENTCOMPANY>"
      "<COMPANYNAME>Acme</COMPANYNAME><COMPANYNAME>Beta &amp; Co</COMPANYNAME></ENVELOPE>"));
  const struct {
    const char* command;
    const char* out;
  } cases[] = {{"probe", "Running fine\n"},
               {"current-company", "Acme\n"},
               {"companies", "Acme\nBeta & Co\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const auto result = RunCommand(Cli(server.url(), c.command));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, c.out);
  }
}

TEST(Cli, ServerDownPrintsTheDescriptionAndExitsOne) {
  const lirvo::test::RefusedPort refused;
  const std::string url = refused.url();
  for (const char* command : {"probe", "current-company", "companies"}) {
    SCOPED_TRACE(command);
    const auto result = RunCommand(Cli(url, command));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(result.err, ::testing::HasSubstr(url));
  }
}

TEST(Cli, UsageErrorsExitTwoAndHelpListsCommands) {
  EXPECT_EQ(RunCommand(LIRVO_CLI_PATH " frobnicate").exit_code, 2);
  EXPECT_EQ(RunCommand(LIRVO_CLI_PATH " probe extra").exit_code, 2);
  const auto help = RunCommand(LIRVO_CLI_PATH " --help");
  EXPECT_EQ(help.exit_code, 0);
  for (const char* command : {"probe", "current-company", "companies"}) {
    EXPECT_THAT(help.out, ::testing::HasSubstr(command));
  }
}

}  // namespace
