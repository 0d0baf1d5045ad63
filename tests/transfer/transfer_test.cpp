// The transfer end to end against tally-standin on an ephemeral port: what the server holds
// afterwards, the status lines, rejections, failures part-way, and the lirvo command over it.
#include <signal.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/transfer.h>

#include "raw_server.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

using lirvo::test::RunCommand;
using lirvo::test::StandinProcess;
using lirvo::test::StandinStore;
using lirvo::transfer::DataToTally;
using lirvo::transfer::FinalMessage;
using lirvo::transfer::kSuccessMessage;
using lirvo::transfer::TransferResult;
using Names = std::vector<std::string>;
using ::testing::AllOf;
using ::testing::HasSubstr;

constexpr const char* kCompany = "Demo Trading Co";

std::string Data(const char* file) {
  return std::string(LIRVO_TEST_DATA_DIR) + "/" + file;
}

// A stand-in with its store in a folder of its own, removed at the end of the test.
class Standin {
 public:
  explicit Standin(std::vector<std::string> extra = {}) {
    std::filesystem::create_directories(folder_);
    extra.insert(extra.end(), {"--data", Store(), "--company", kCompany});
    process_.emplace(LIRVO_STANDIN_PATH, extra);
    modTally::TallyUrl = process_->url();
  }
  ~Standin() {
    process_.reset();
    modTally::TallyUrl.clear();
    std::filesystem::remove_all(folder_);
  }

  std::string Store() const { return (folder_ / "store.db").string(); }
  StandinProcess& process() { return *process_; }

 private:
  static inline int count_ = 0;
  const std::filesystem::path folder_ =
      std::filesystem::temp_directory_path() /
      ("lirvo-transfer-" + std::to_string(getpid()) + "-" + std::to_string(count_++));
  std::optional<StandinProcess> process_;
};

// Runs the transfer, keeping every status line.
struct Outcome {
  std::vector<std::string> stats;
  std::optional<TransferResult> result;
  std::optional<modTally::Failure> failure;
};

Outcome Transfer(const std::string& database,
                 const std::function<void(const std::string&)>& also = nullptr) {
  Outcome run;
  try {
    run.result = DataToTally(
        kCompany,
        [&](const std::string& message) {
          run.stats.push_back(message);
          if (also) {
            also(message);
          }
        },
        database);
  } catch (const modTally::Failure& failure) {
    run.failure = failure;
  }
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

TEST(Transfer, SampleDataArrivesWhole) {
  Standin standin;
  const Outcome run = Transfer(Data("SampleData.mdb"));
  ASSERT_FALSE(run.failure) << run.failure->what();
  EXPECT_EQ(run.stats, Stats({5, 5, 2, 3, 5, 5}));
  EXPECT_EQ(run.result->posted, 25);
  EXPECT_EQ(run.result->rejected, 0);
  EXPECT_EQ(FinalMessage(*run.result), kSuccessMessage);

  const StandinStore store(standin.Store());
  EXPECT_EQ(store.Masters(kCompany, "UNIT"), (Names{"Box", "Kgs", "Mtr", "Nos", "Pcs"}));
  EXPECT_EQ(store.Masters(kCompany, "LEDGER"),
            (Names{"Anand Hardware Stores", "Bharat Electricals", "Chandra & Sons",
                   "Deccan Power Systems", "Eastern Lighting Co", "Sales @ 12.5%", "Sales @ 4%",
                   "Output VAT @ 12.5%", "Output VAT @ 4%", "Output VAT @ 5%"}));
  EXPECT_EQ(store.Master(kCompany, "LEDGER", "Chandra & Sons")->parent, "Sundry Debtors");
  EXPECT_EQ(store.Master(kCompany, "LEDGER", "Output VAT @ 5%")->parent, "Sales Accounts");
  EXPECT_EQ(store.Masters(kCompany, "STOCKITEM"),
            (Names{"Cable Tie 200mm", "Ceiling Fan 48in", "Copper Wire 1.5 sq mm",
                   "Distribution Box 8 Way", "Extension Cord 5m"}));
  EXPECT_EQ(store.Master(kCompany, "STOCKITEM", "Ceiling Fan 48in")->Value("BASEUNITS"), "Nos");

  const auto vouchers = store.Vouchers(kCompany);
  ASSERT_EQ(vouchers.size(), 5u);
  EXPECT_EQ(vouchers[0].date, "20160401");
  EXPECT_EQ(vouchers[2].party, "Chandra & Sons");
  // Row 2: 14500 at 12.5%.
  ASSERT_GE(vouchers[1].entries.size(), 3u);
  EXPECT_EQ(vouchers[1].entries[0].amount, "-16312.5");
  EXPECT_EQ(vouchers[1].entries[1].amount, "1812.5");
  EXPECT_EQ(vouchers[1].entries[2].rate, " 1450/Nos");
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
      {"three-rows.mdb", Stats({1, 2, 1, 1, 2, 3}), {"Nos"}, 2, 3, ""},
      // The first five units leave out "Nos", which every item names as its base unit: the server
      // refuses the items, and then the vouchers that sell them.
      {"seven-units.mdb",
       Stats({5, 5, 1, 1, 5, 5}),
       {"Box", "Doz", "Kgs", "Ltr", "Mtr"},
       0,
       0,
       "Unit 'Nos' does not exist!"},
      {"empty.mdb", Stats({0, 0, 0, 0, 0, 0}), {}, 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Standin standin;
    const Outcome run = Transfer(Data(c.file));
    ASSERT_FALSE(run.failure) << run.failure->what();
    EXPECT_EQ(run.stats, c.stats);
    EXPECT_EQ(run.result->posted, static_cast<int>(c.stats.size()) - 5);  // a post a row
    if (c.complaint.empty()) {
      EXPECT_EQ(FinalMessage(*run.result), kSuccessMessage);
    } else {
      EXPECT_THAT(FinalMessage(*run.result), HasSubstr(c.complaint));
    }
    const StandinStore store(standin.Store());
    EXPECT_EQ(store.Masters(kCompany, "UNIT"), c.units);
    EXPECT_EQ(store.Masters(kCompany, "STOCKITEM").size(), c.items);
    EXPECT_EQ(store.Vouchers(kCompany).size(), c.vouchers);
  }
}

TEST(Transfer, NullAmountStopsAtItsVoucherAndKeepsWhatWasPosted) {
  Standin standin;
  const Outcome run = Transfer(Data("nulls.mdb"));
  ASSERT_TRUE(run.failure);
  EXPECT_EQ(run.failure->number(), modTally::FailureNumber::kValue);
  EXPECT_THAT(run.failure->what(), AllOf(HasSubstr("sales vouchers, row 3"), HasSubstr("Amount")));
  EXPECT_EQ(run.stats.back(), "Creaing Sales Vouchers - 3");
  Names vouchers;
  for (const auto& voucher : StandinStore(standin.Store()).Vouchers(kCompany)) {
    vouchers.push_back(voucher.remote_id + " '" + voucher.reference + "'");
  }
  EXPECT_EQ(vouchers, (Names{"N1 ''", "N2 'R2'"}));
}

TEST(Transfer, StrictServerRejectionsAreCountedNotReportedAsSuccess) {
  Standin standin({"--strict"});
  const Outcome run = Transfer(Data("SampleData.mdb"));
  ASSERT_FALSE(run.failure) << run.failure->what();
  EXPECT_EQ(run.stats, Stats({5, 5, 2, 3, 5, 5}));  // the transfer goes on through every phase
  EXPECT_EQ(run.result->posted, 25);
  // Altering the ten ledgers is refused, and so are the five vouchers that name them.
  EXPECT_EQ(run.result->rejected, 15);
  ASSERT_FALSE(run.result->rejections.empty());
  EXPECT_THAT(run.result->rejections.front(),
              HasSubstr("Ledger 'Anand Hardware Stores' does not exist!"));
  const std::string message = FinalMessage(*run.result);
  EXPECT_NE(message, kSuccessMessage);
  EXPECT_THAT(message, HasSubstr("15"));
  EXPECT_THAT(message, HasSubstr("customer ledgers, row 1"));
}

TEST(Transfer, ServerGoneMidwayStopsAtThatRequest) {
  Standin standin;
  const Outcome run = Transfer(Data("SampleData.mdb"), [&](const std::string& message) {
    if (message == "Creaing Items - 1") {
      standin.process().Stop(SIGTERM);
    }
  });
  ASSERT_TRUE(run.failure);
  EXPECT_THAT(run.failure->what(), HasSubstr("stock items, row 1"));
  EXPECT_EQ(run.stats.back(), "Creaing Items - 1");
  const StandinStore store(standin.Store());
  EXPECT_EQ(store.CountMasters(kCompany, "UNIT"), 5);
  EXPECT_EQ(store.CountMasters(kCompany, "LEDGER"), 10);
  EXPECT_EQ(store.CountMasters(kCompany, "STOCKITEM"), 0);
}

// A transfer that stops says where and why once, and whether anything had been sent; with no
// company it stops before posting anything. The address given is the one posted to.
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
      DataToTally(server.url(), c.company, nullptr, Data(c.file));
      ADD_FAILURE() << "the transfer did not stop";
    } catch (const lirvo::transfer::TransferStopped& stopped) {
      const int posted = stopped.posted();
      EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(posted));
      const std::string message = lirvo::transfer::StopMessage(stopped);
      EXPECT_THAT(message, ::testing::StartsWith(c.where));
      EXPECT_THAT(message, ::testing::Not(HasSubstr("stopped: the transfer")));
      EXPECT_THAT(
          message,
          ::testing::EndsWith(posted == 0 ? "\n\nNothing was sent to Tally."
                                          : "\n\nThe " + std::to_string(posted) +
                                                " requests sent before it stopped stay in Tally."));
      EXPECT_EQ(posted > 0, std::string(c.file) == "nulls.mdb");
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The lirvo command

lirvo::test::CommandResult Lirvo(const std::string& url, const std::string& arguments) {
  return RunCommand("LIRVO_TALLY_URL=" + url + " " LIRVO_CLI_PATH " " + arguments);
}

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
    EXPECT_EQ(StandinStore(standin.Store()).CountVouchers(kCompany), 5);

    const auto failed = Lirvo(modTally::TallyUrl, "transfer --db " + Data("nulls.mdb"));
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_THAT(failed.err, HasSubstr("sales vouchers, row 3"));
    EXPECT_EQ(Lirvo(modTally::TallyUrl, "transfer --db").exit_code, 2);
  }
  Standin strict({"--strict"});
  const auto rejected = Lirvo(modTally::TallyUrl, "transfer --company 'Demo Trading Co'");
  EXPECT_EQ(rejected.exit_code, 3);
  EXPECT_THAT(rejected.out, HasSubstr("rejected 15"));
}

TEST(SendCommand, PostsTheFileLaidOutAndPrintsTheReply) {
  const std::string reply = "<RESPONSE><CREATED>1</CREATED></RESPONSE>";
  auto server = lirvo::test::RawServer::Replying(lirvo::test::RawServer::HttpReply(200, reply));
  const std::string file = ::testing::TempDir() + "/lirvo-send-" + std::to_string(getpid());
  std::ofstream(file) << "<A><B>x</B></A>";
  const lirvo::test::ScopedEnv wire("LIRVO_TALLY_ENCODING", "utf-8");  // the layout's own bytes
  const auto sent = Lirvo(server.url(), "send " + file);
  EXPECT_EQ(sent.exit_code, 0) << sent.err;
  EXPECT_EQ(sent.out, reply + "\n");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_THAT(server.requests()[0], ::testing::EndsWith("\r\n\r\n<A>\r\n  <B>x</B>\r\n</A>"));

  std::ofstream(file) << "<A><B>x</A>";
  EXPECT_EQ(Lirvo(server.url(), "send " + file).exit_code, 1);
  EXPECT_EQ(server.requests().size(), 1u);
  std::filesystem::remove(file);
}

}  // namespace
