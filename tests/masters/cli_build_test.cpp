// lirvo build KIND: documented masters, agreement with the library, usage errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kinds.h"
#include "raw_server.h"
#include "request_tree.h"

namespace {

using lirvo::test::Kinds;
using lirvo::test::ParseMasterRequest;
using lirvo::test::RunCommand;
using lirvo::test::Values;

std::string BuildCommand(const std::string& kind, const std::vector<std::string>& args) {
  std::string line = LIRVO_CLI_PATH " build " + kind;
  for (const std::string& arg : args) {
    line += " '";
    for (const char c : arg) {
      line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    line += "'";
  }
  return line;
}

TEST(CliBuild, DocumentedMasters) {
  const struct {
    std::string kind;
    std::vector<std::string> args;
    std::string head, children;
  } cases[] = {
      {"unit",
       {"--Name", "Nos", "--IsSimpleUnit", "yes", "--OriginalName", "Nos", "--DecimalPlaces", "2"},
       "UNIT(NAME=Nos, ACTION=Create)",
       "NAME=Nos; ISSIMPLEUNIT=yes"},
      {"ledger",
       {"--company", "Acme", "--Name", "VAT OUTPUT 4%", "--Parent", "Sundry Creditors",
        "--IsBillWiseOn", "Yes"},
       "LEDGER(NAME=VAT OUTPUT 4%, ACTION=Create)",
       "ADDITIONALNAME=VAT OUTPUT 4%; ADDRESS.LIST; PARENT=Sundry Creditors; ISBILLWISEON=Yes; "
       "NAME.LIST[NAME=VAT OUTPUT 4%]"},
      {"godown",
       {"--action=Alter", "--OldName=Location2", "--Name=NumberLocation3"},
       "GODOWN(NAME=Location2, ACTION=Alter)",
       "NAME.LIST[NAME=NumberLocation3]"},
  };
  for (const auto& c : cases) {
    const std::string line = BuildCommand(c.kind, c.args);
    SCOPED_TRACE(line);
    const auto result = RunCommand(line);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const auto request = ParseMasterRequest(result.out);
    EXPECT_EQ(request.head, c.head);
    EXPECT_EQ(request.children, c.children);
  }
}

TEST(CliBuild, PrintsWhatTheLibraryBuilds) {
  for (const auto& kind : Kinds()) {
    SCOPED_TRACE(kind.cli_name);
    Values values;
    std::vector<std::string> args = {"--company", "Acme & 'Sons'", "--action=Alter"};
    for (const auto& field : kind.fields) {
      values[field] = field + " <" + kind.cli_name + "> & co";
      args.insert(args.end(), {"--" + field, values[field]});
    }
    const auto result = RunCommand(BuildCommand(kind.cli_name, args));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, kind.build("Acme & 'Sons'", values, "Alter") + "\n");

    // Without --company and --action: an empty company and "Create".
    const auto plain = RunCommand(BuildCommand(kind.cli_name, {"--Name=Nos"}));
    EXPECT_EQ(plain.out, kind.build("", {{"Name", "Nos"}}, "Create") + "\n");
  }
}

TEST(CliBuild, UsageErrorsNameTheirCauseAndExitTwo) {
  const struct {
    std::string kind;
    std::vector<std::string> args;
    std::string names;
  } cases[] = {
      {"ledger", {"--Colour", "red"}, "\"--Colour\""},
      {"group", {"--IsCostCentresOn", "No"}, "\"--IsCostCentresOn\""},  // the ledger's spelling
      {"shed", {"--Name", "A"}, "\"shed\""},
      {"", {}, "stockgroup"},
      {"unit", {"--Name"}, "needs a value"},
      {"unit", {"--Name", "A", "--Name=B"}, "twice"},
  };
  for (const auto& c : cases) {
    const std::string line = BuildCommand(c.kind, c.args);
    SCOPED_TRACE(line);
    const auto result = RunCommand(line);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(result.err, ::testing::HasSubstr(c.names));
  }
}

}  // namespace
