// The transfer end to end against tally-standin on an ephemeral port: what the server holds
// afterwards, the status lines, rejections, failures part-way, and the lirvo command over it.
#include <array>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/transfer.h>

#include "lirvo_command.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

using lirvo::test::Data;
using lirvo::test::Lirvo;
using lirvo::test::StandinProcess;
using lirvo::test::StandinStore;
using lirvo::transfer::DataToTally;
using lirvo::transfer::FinalMessage;
using lirvo::transfer::kSuccessMessage;
using lirvo::transfer::TransferResult;
using Names = std::vector<std::string>;
using ::testing::AllOf;
using ::testing::HasSubstr;

constexpr const char* kCompany = lirvo::test::kStandinCompany;

// A stand-in with its store in a folder of its own, removed at the end of the test.
class Standin {
 public:
  explicit Standin(std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"--data", Store(), "--company", kCompany});
    process_.emplace(LIRVO_STANDIN_PATH, extra);
    modTally::TallyUrl = process_->url();
  }
  ~Standin() { modTally::TallyUrl.clear(); }

  std::string Store() const { return folder_.File("store.db").string(); }

 private:
  const lirvo::test::TempDir folder_{"lirvo-transfer"};
  std::optional<StandinProcess> process_;  // stops before the folder goes
};

// Runs the transfer, keeping every status line (a failure throws, and the test fails with it).
struct Outcome {
  std::vector<std::string> stats;
  TransferResult result;
};

Outcome Transfer(const std::string& database) {
  Outcome run;
  run.result = DataToTally(
      kCompany, [&](const std::string& message) { run.stats.push_back(message); }, database);
  return run;
}

// The status lines of a transfer that handles these many rows in each of the six phases.
std::vector<std::string> Stats(std::array<int, 6> rows) {
  const char* const phases[] = {"Creaing Units",         "Creaing Customer Ledgers",
                                "Creaing Sales Acounts", "Creaing Tax Acounts",
                                "Creaing Items",         "Creaing Sales Vouchers"};
  std::vector<std::string> stats;
  for (std::size_t phase = 0; phase < 6; ++phase) {
    if (phase < 5) {
      stats.push_back(phases[phase]);  // the vouchers have no heading
    }
    for (int row = 1; row <= rows[phase]; ++row) {
      stats.push_back(std::string(phases[phase]) + " - " + std::to_string(row));
    }
  }
  return stats;
}

TEST(Transfer, EachPhaseTakesAtMostFiveRows) {
  const struct {
    const char* file;
    std::vector<std::string> stats;
    Names units;
    std::size_t items;
    std::size_t vouchers;
    std::string complaint;  // in the final message; none: the success message
  } cases[] = {
      {"three-rows.mdb", Stats({1, 2, 1, 1, 2, 3}), Names{"Nos"}, 2, 3, ""},
      // The first five units leave out "Nos", which every item names as its base unit: the server
      // refuses the items, and then the vouchers that sell them.
      {"seven-units.mdb", Stats({5, 5, 1, 1, 5, 5}), Names{"Box", "Doz", "Kgs", "Ltr", "Mtr"}, 0, 0,
       "Unit 'Nos' does not exist!"},
      {"empty.mdb", Stats({0, 0, 0, 0, 0, 0}), Names{}, 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Standin standin;
    const Outcome run = Transfer(Data(c.file));
    EXPECT_EQ(run.stats, c.stats);
    EXPECT_EQ(run.result.posted, static_cast<int>(c.stats.size()) - 5);  // a post a row
    EXPECT_THAT(FinalMessage(run.result),
                HasSubstr(c.complaint.empty() ? kSuccessMessage : c.complaint));
    const StandinStore store(standin.Store());
    EXPECT_EQ(store.Masters(kCompany, "UNIT"), c.units);
    EXPECT_EQ(store.Masters(kCompany, "STOCKITEM").size(), c.items);
    EXPECT_EQ(store.Vouchers(kCompany).size(), c.vouchers);
  }
}

// A transfer that stops says where and why once, and how many requests it had sent (counted by
// the server that received them); with no company it stops before posting anything.
TEST(Transfer, StopsSayingWhatWasSent) {
  const struct {
    const char* company;
    const char* file;
    const char* where;  // the start of the message
  } cases[] = {
      {"", "SampleData.mdb", "The transfer stopped before sending anything: there is no company"},
      {kCompany, "no-such.mdb", "The transfer stopped before sending anything: "},
      {kCompany, "nulls.mdb", "The transfer stopped at sales vouchers, row 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto server = lirvo::test::RawServer::Replying(
        lirvo::test::RawServer::HttpReply(200, "<RESPONSE><CREATED>1</CREATED></RESPONSE>"));
    try {
      DataToTally(modTally::Server{server.url()}, c.company, nullptr, Data(c.file));
      ADD_FAILURE() << "the transfer did not stop";
    } catch (const lirvo::transfer::TransferStopped& stopped) {
      const std::size_t posted = server.requests().size();
      EXPECT_EQ(static_cast<std::size_t>(stopped.posted()), posted);
      EXPECT_EQ(posted > 0, std::string(c.file) == "nulls.mdb");
      const std::string message = lirvo::transfer::StopMessage(stopped);
      EXPECT_THAT(message, ::testing::StartsWith(c.where));
      EXPECT_THAT(message, ::testing::Not(HasSubstr("stopped: the transfer")));
      EXPECT_THAT(
          message,
          ::testing::EndsWith(posted == 0 ? "\n\nNothing was sent to Tally."
                                          : "\n\nThe " + std::to_string(posted) +
                                                " requests sent before it stopped stay in Tally."));
    }
  }
}

// The server's cancel flag stops the transfer before its next request, saying where.
TEST(Transfer, TheCancelFlagStopsItBeforeTheNextRequest) {
  auto server = lirvo::test::RawServer::Replying(
      lirvo::test::RawServer::HttpReply(200, "<RESPONSE><CREATED>1</CREATED></RESPONSE>"));
  bool stop = false;  // raised as the sales ledgers begin, after three requests
  modTally::Server to{server.url()};
  to.cancelled = [&stop] { return stop; };
  try {
    DataToTally(
        to, kCompany,
        [&stop](const std::string& message) { stop = stop || message == "Creaing Sales Acounts"; },
        Data("three-rows.mdb"));
    ADD_FAILURE() << "the transfer did not stop";
  } catch (const lirvo::transfer::TransferStopped& stopped) {
    EXPECT_EQ(stopped.kind(), modTally::FailureKind::Cancelled);
    EXPECT_EQ(stopped.posted(), 3);
    EXPECT_THAT(stopped.description(), HasSubstr("at sales ledgers, row 1"));
  }
  EXPECT_EQ(server.requests().size(), 3u);
}

// lirvo transfer prints each status line and the final message, and SampleData.mdb arrives whole;
// its exit status tells done (0), failed (1) and rejected (3) apart; an empty table is said on
// stderr.
TEST(TransferCommand, SaysWhatItDoesAndTellsRejectedFromFailedByItsExitStatus) {
  {
    Standin standin;
    // No --db and no --company: SampleData.mdb beside lirvo, the server's current company.
    const auto result = Lirvo(modTally::TallyUrl, "transfer");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    std::string expected;
    for (const std::string& stat : Stats({5, 5, 2, 3, 5, 5})) {
      expected += stat + ".........\n";
    }
    EXPECT_EQ(result.out, expected + kSuccessMessage + "\n");
    EXPECT_EQ(result.err, "");
    const StandinStore store(standin.Store());
    EXPECT_EQ(store.Masters(kCompany, "UNIT"), (Names{"Box", "Kgs", "Mtr", "Nos", "Pcs"}));
    EXPECT_EQ(store.Masters(kCompany, "LEDGER"),
              (Names{"Anand Hardware Stores", "Bharat Electricals", "Chandra & Sons",
                     "Deccan Power Systems", "Eastern Lighting Co", "Sales @ 12.5%", "Sales @ 4%",
                     "Output VAT @ 12.5%", "Output VAT @ 4%", "Output VAT @ 5%"}));
    const auto debtor = store.Master(kCompany, "LEDGER", "Chandra & Sons");
    const auto tax = store.Master(kCompany, "LEDGER", "Output VAT @ 5%");
    const auto item = store.Master(kCompany, "STOCKITEM", "Ceiling Fan 48in");
    ASSERT_TRUE(debtor && tax && item);
    EXPECT_EQ(debtor->parent, "Sundry Debtors");
    EXPECT_EQ(tax->parent, "Sales Accounts");
    EXPECT_EQ(item->Value("BASEUNITS"), "Nos");
    EXPECT_EQ(store.Masters(kCompany, "STOCKITEM"),
              (Names{"Cable Tie 200mm", "Ceiling Fan 48in", "Copper Wire 1.5 sq mm",
                     "Distribution Box 8 Way", "Extension Cord 5m"}));
    const auto vouchers = store.Vouchers(kCompany);
    ASSERT_EQ(vouchers.size(), 5u);
    EXPECT_EQ(vouchers[0].date, "20160401");
    EXPECT_EQ(vouchers[2].party, "Chandra & Sons");
    ASSERT_GE(vouchers[1].entries.size(), 3u);  // row 2: 14500 at 12.5%
    EXPECT_EQ(vouchers[1].entries[0].amount, "-16312.5");
    EXPECT_EQ(vouchers[1].entries[1].amount, "1812.5");
    EXPECT_EQ(vouchers[1].entries[2].rate, " 1450/Nos");

    const auto failed = Lirvo(modTally::TallyUrl, "transfer --db " + Data("nulls.mdb"));
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_THAT(failed.err, HasSubstr("sales vouchers, row 3"));
    const auto empty = Lirvo(modTally::TallyUrl, "transfer --db " + Data("empty.mdb"));
    EXPECT_EQ(empty.exit_code, 0);
    EXPECT_THAT(empty.err,
                AllOf(HasSubstr("empty.mdb"), HasSubstr("has no rows: nothing was sent")));
  }
  // A strict server: everything is posted and every rejection counted; the final message gives the
  // first ten reasons with phase and row, and how many more there were. Altering the ten ledgers
  // is refused, and so are the five vouchers that name them.
  Standin strict({"--strict"});
  const auto rejected = Lirvo(modTally::TallyUrl, "transfer --company 'Demo Trading Co'");
  EXPECT_EQ(rejected.exit_code, 3);
  EXPECT_THAT(rejected.out, HasSubstr("\nThe server rejected 15 of the 25 requests sent"));
  EXPECT_THAT(rejected.out, HasSubstr("\n- customer ledgers, row 1 (\"Anand Hardware Stores\"): "
                                      "Ledger 'Anand Hardware Stores' does not exist!\n"));
  EXPECT_THAT(rejected.out, ::testing::EndsWith("\n- and 5 more\n"));
}

}  // namespace
