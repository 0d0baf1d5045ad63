// lirvo sync end to end against tally-standin: the whole of sales-20k.mdb, rows refused locally
// and by the server, runs killed or interrupted in the middle and run again, and the progress
// shown on a terminal and on a pipe.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/sync.h>

#include "standin_process.h"
#include "standin_store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using lirvo::test::StandinProcess;
using lirvo::test::StandinStore;
using ::testing::HasSubstr;

constexpr const char* kCompany = "Demo Trading Co";

// Under the address sanitizer the whole of sales-20k takes about a minute: the first 5,000 rows
// stand for it there.
#ifdef __SANITIZE_ADDRESS__
constexpr long kRows = 5000;
constexpr std::size_t kLedgers = 1845, kItems = 3157;
constexpr long kStoppedRows = 2000;
#else
constexpr long kRows = 20000;
constexpr std::size_t kLedgers = 2004, kItems = 4910;
constexpr long kStoppedRows = 4000;
#endif

std::string Data(const char* name) {
  return std::string(LIRVO_TEST_DATA_DIR) + "/" + name;
}

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits for `condition`, polling, until `seconds` have passed.
bool WaitFor(const std::function<bool()>& condition, int seconds = 60) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (Clock::now() > deadline) {
      return false;
    }
    poll(nullptr, 0, 5);
  }
  return true;
}

// A fresh folder per test, removed afterwards.
class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ =
        fs::temp_directory_path() / ("lirvo-sync-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

// `lirvo sync ARGS` as a child process with LIRVO_TALLY_URL set, stdout and stderr in files (or
// stderr on a pseudo-terminal).
class Lirvo {
 public:
  Lirvo(const std::string& url, std::vector<std::string> args, const fs::path& dir,
        bool terminal = false)
      : out_(dir / "out.txt"), err_(dir / "err.txt") {
    int master = -1;
    int slave = -1;
    if (terminal && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    args.insert(args.begin(), {LIRVO_CLI_PATH, "sync"});
    pid_ = fork();
    if (pid_ == 0) {
      setenv("LIRVO_TALLY_URL", url.c_str(), 1);
      const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = terminal ? slave : open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& arg : args) {
        argv.push_back(arg.data());
      }
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (terminal) {
      close(slave);
      master_ = master;
    }
  }
  ~Lirvo() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
      close(master_);
    }
  }

  void Signal(int signal) const { kill(pid_, signal); }

  // The exit status, or 128 + the signal that ended it; -1 when it did not end in time.
  int Wait() {
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    for (;;) {
      if (master_ >= 0) {
        pollfd fd{master_, POLLIN, 0};
        char buffer[4096];
        while (poll(&fd, 1, 0) > 0) {
          const ssize_t got = read(master_, buffer, sizeof buffer);
          if (got <= 0) {
            break;
          }
          terminal_.append(buffer, static_cast<std::size_t>(got));
        }
      }
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        if (master_ >= 0) {
          continue_reading_after_exit();
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() > deadline) {
        return -1;
      }
      poll(nullptr, 0, 5);
    }
  }

  std::string out() const { return Read(out_); }
  std::string err() const { return master_ >= 0 ? terminal_ : Read(err_); }

 private:
  void continue_reading_after_exit() {
    char buffer[4096];
    pollfd fd{master_, POLLIN, 0};
    while (poll(&fd, 1, 50) > 0) {
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) {
        break;
      }
      terminal_.append(buffer, static_cast<std::size_t>(got));
    }
  }

  fs::path out_, err_;
  pid_t pid_ = -1;
  int master_ = -1;
  std::string terminal_;
};

// Runs lirvo sync to the end; the exit status.
int Sync(const std::string& url, const std::vector<std::string>& args, const fs::path& dir,
         std::string* out = nullptr) {
  Lirvo lirvo(url, args, dir);
  const int status = lirvo.Wait();
  if (out) {
    *out = lirvo.out();
  }
  return status;
}

// The VoucherIDs the journal holds as accepted.
std::set<std::string> JournalAccepted(const fs::path& journal) {
  sqlite3* db = nullptr;
  std::set<std::string> ids;
  if (sqlite3_open_v2(journal.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT voucher_id FROM vouchers WHERE outcome='accepted'", -1,
                       &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
      ids.insert(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return ids;
}

std::set<std::string> StoredIds(const StandinStore& store) {
  std::set<std::string> ids;
  for (const auto& voucher : store.Vouchers(kCompany)) {
    ids.insert(voucher.remote_id);
  }
  return ids;
}

TEST(SyncLocalCheck, RefusesWhatCannotBecomeAVoucher) {
  const lirvo::transfer::SalesRow good{"V1",   "20160401", "R1", "Party", "Sales", "VAT",
                                       "Item", "Nos",      "2",  "5",     "10",    "4"};
  EXPECT_EQ(lirvo::transfer::LocalCheck(good), std::nullopt);
  using Member = std::optional<std::string> lirvo::transfer::SalesRow::*;
  const struct {
    Member member;
    std::optional<std::string> value;
    const char* reason;
  } cases[] = {
      {&lirvo::transfer::SalesRow::PartyName, "  ", "no PartyName"},
      {&lirvo::transfer::SalesRow::TaxAc, std::nullopt, "no TaxAc"},
      {&lirvo::transfer::SalesRow::VoucherDate, "1/4/2016", "is not a date"},
      {&lirvo::transfer::SalesRow::Amount, "1,000", "is not a number"},
      {&lirvo::transfer::SalesRow::Amount, "1e400", "is not a number"},
      {&lirvo::transfer::SalesRow::TaxPer, "VAT", "is not a number"},
      {&lirvo::transfer::SalesRow::TaxPer, "1e308", "too large"},
  };
  for (const auto& c : cases) {
    lirvo::transfer::SalesRow row = good;
    row.*c.member = c.value;
    EXPECT_THAT(lirvo::transfer::LocalCheck(row).value_or("accepted"), HasSubstr(c.reason))
        << c.value.value_or("null");
  }
}

TEST_F(SyncTest, SalesTwentyThousandArriveOnceWithTheirMastersAndARerunSendsNothing) {
  const std::string data = (dir_ / "store.db").string();
  StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", data});
  const std::vector<std::string> args{"--db",      Data("sales-20k.mdb"),
                                      "--journal", (dir_ / "journal.sqlite").string(),
                                      "--limit",   std::to_string(kRows)};
  std::string out;
  ASSERT_EQ(Sync(standin.url(), args, dir_, &out), 0) << out;

  const StandinStore store(data);
  const auto vouchers = store.Vouchers(kCompany);
  ASSERT_EQ(vouchers.size(), static_cast<std::size_t>(kRows));
  for (const auto& voucher : vouchers) {
    // Ledger lines and the inventory line's allocation carry the balance.
    double balance = 0;
    for (const auto& entry : voucher.entries) {
      balance += entry.kind == "inventory" ? 0 : std::stod(entry.amount);
    }
    ASSERT_LT(std::fabs(balance), 0.005) << voucher.remote_id;
  }
  for (const auto& [kind, count] : {std::pair<const char*, std::size_t>{"UNIT", 10},
                                    {"LEDGER", kLedgers},
                                    {"STOCKITEM", kItems}}) {
    EXPECT_EQ(store.Masters(kCompany, kind).size(), count) << kind;
  }
  EXPECT_EQ(JournalAccepted(dir_ / "journal.sqlite"), StoredIds(store));

  ASSERT_EQ(Sync(standin.url(), args, dir_, &out), 0) << out;
  EXPECT_THAT(out, HasSubstr(std::to_string(kRows) + " unchanged"));
  EXPECT_THAT(out, HasSubstr("Requests: 0 import requests"));
  EXPECT_EQ(store.CountVouchers(kCompany), kRows);
}

TEST_F(SyncTest, BadRowsAreRefusedLocallyAndReported) {
  const std::string data = (dir_ / "store.db").string();
  StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", data});
  const fs::path report = dir_ / "report.csv";
  std::vector<std::string> args{"--db",      Data("bad-rows.mdb"),
                                "--journal", (dir_ / "journal.sqlite").string(),
                                "--report",  report.string()};
  const std::string expected =
      "VoucherID,row,reason\n"
      "BR-004,4,no PartyName (the party ledger)\n"
      "BR-009,9,no Amount\n"
      "BR-013,13,no VoucherDate\n"
      "BR-017,17,no ItemName (the stock item)\n";

  // A dry run posts nothing but says what it would do.
  args.push_back("--dry-run");
  std::string out;
  EXPECT_EQ(Sync(standin.url(), args, dir_, &out), 3);
  EXPECT_THAT(out, HasSubstr("16 to send, 4 rejected"));
  EXPECT_EQ(Read(report), expected);
  const StandinStore store(data);
  EXPECT_EQ(store.CountMasters(kCompany) + store.CountVouchers(kCompany), 0);

  args.pop_back();
  EXPECT_EQ(Sync(standin.url(), args, dir_, &out), 3);
  EXPECT_THAT(out, HasSubstr("16 accepted, 4 rejected (4 by the local checks, 0 by the server)"));
  EXPECT_THAT(out, HasSubstr("row 4 (VoucherID \"BR-004\"): no PartyName"));
  EXPECT_EQ(Read(report), expected);
  EXPECT_EQ(store.CountVouchers(kCompany), 16);
}

// In process: a ledger present at the pre-flight is deleted before the vouchers go, so the one
// voucher that names it is refused inside a batch; the batch is split to name it.
TEST_F(SyncTest, AVoucherTheServerRefusesInABatchIsNamedAndTheOthersAccepted) {
  StandinProcess standin(LIRVO_STANDIN_PATH);
  const std::string create =
      lirvo::transfer::ImportRequestHead(kCompany) +
      R"(<TALLYMESSAGE><LEDGER NAME="Party Two" ACTION="Create"><NAME.LIST><NAME>Party Two</NAME></NAME.LIST><PARENT>Sundry Debtors</PARENT></LEDGER></TALLYMESSAGE>)" +
      std::string(lirvo::transfer::kImportRequestTail);
  std::string remove = create;
  remove.replace(remove.find("Create"), 6, "Delete");
  ASSERT_FALSE(lirvo::transfer::IsRejection(modTally::Exchange(standin.url(), create)));

  lirvo::transfer::SyncOptions options;
  options.url = standin.url();
  options.company = kCompany;
  options.database = Data("three-rows.mdb");
  options.journal = dir_ / "journal.sqlite";
  std::vector<lirvo::transfer::SyncRejection> rejected;
  bool deleted = false;
  options.progress = [&](const lirvo::transfer::SyncProgress& progress) {
    if (progress.phase == lirvo::transfer::SyncPhase::kVouchers && !deleted) {
      deleted = true;
      EXPECT_FALSE(lirvo::transfer::IsRejection(modTally::Exchange(standin.url(), remove)));
    }
  };
  options.rejected = [&](const lirvo::transfer::SyncRejection& r) { rejected.push_back(r); };
  const lirvo::transfer::SyncSummary summary = lirvo::transfer::Sync(options);
  EXPECT_EQ(summary.ledgers.present, 1);
  EXPECT_EQ(summary.accepted, 2);
  ASSERT_EQ(rejected.size(), 1u);
  EXPECT_EQ(rejected[0].voucher_id, "A3");
  EXPECT_EQ(rejected[0].row, 3);
  EXPECT_THAT(rejected[0].reason, HasSubstr("Ledger 'Party Two' does not exist!"));
  EXPECT_GT(summary.split_requests, 0);
  EXPECT_EQ(summary.ExitStatus(), 3);
}

// A run stopped in the middle (lirvo killed, the server killed and restarted, Ctrl-C) and run
// again leaves every voucher in the books once, and the journal agrees with them.
TEST_F(SyncTest, ARunStoppedInTheMiddleCompletesWhenRunAgain) {
  enum class Stop { kKillLirvo, kKillServer, kInterrupt };
  for (const Stop stop : {Stop::kKillLirvo, Stop::kKillServer, Stop::kInterrupt}) {
    SCOPED_TRACE(static_cast<int>(stop));
    const fs::path case_dir = dir_ / std::to_string(static_cast<int>(stop));
    fs::create_directories(case_dir);
    const std::string data = (case_dir / "store.db").string();
    const fs::path journal = case_dir / "journal.sqlite";
    auto standin = std::make_unique<StandinProcess>(LIRVO_STANDIN_PATH,
                                                    std::vector<std::string>{"--data", data});
    const std::string url = standin->url();
    // kStoppedRows rows in batches of 50, stopped after the first quarter of the vouchers.
    const std::vector<std::string> args{
        "--db",    Data("sales-20k.mdb"),       "--journal", journal.string(), "--batch", "50",
        "--limit", std::to_string(kStoppedRows)};
    {
      Lirvo lirvo(url, args, case_dir);
      ASSERT_TRUE(WaitFor([&] {
        return fs::exists(data) && StandinStore(data).CountVouchers(kCompany) >= kStoppedRows / 4;
      })) << lirvo.out()
          << lirvo.err();
      if (stop == Stop::kKillLirvo) {
        lirvo.Signal(SIGKILL);
        EXPECT_EQ(lirvo.Wait(), 128 + SIGKILL);
      } else if (stop == Stop::kKillServer) {
        standin->Stop(SIGKILL);
        EXPECT_EQ(lirvo.Wait(), 1);
        EXPECT_THAT(lirvo.err(), HasSubstr("the sync stopped: the request for voucher"));
        standin = std::make_unique<StandinProcess>(
            LIRVO_STANDIN_PATH,
            std::vector<std::string>{"--data", data, "--port", std::to_string(standin->port())});
        ASSERT_EQ(standin->url(), url);
      } else {
        lirvo.Signal(SIGINT);
        EXPECT_EQ(lirvo.Wait(), 130);
        EXPECT_THAT(lirvo.out(), HasSubstr("Interrupted"));
        EXPECT_THAT(lirvo.out(), HasSubstr("skipped"));
      }
    }
    std::string out;
    ASSERT_EQ(Sync(url, args, case_dir, &out), 0) << out;
    EXPECT_THAT(out, ::testing::Not(HasSubstr(" 0 unchanged")));  // it resumed
    const StandinStore store(data);
    EXPECT_EQ(store.CountVouchers(kCompany), kStoppedRows);
    EXPECT_EQ(JournalAccepted(journal), StoredIds(store));
    EXPECT_EQ(JournalAccepted(journal).size(), static_cast<std::size_t>(kStoppedRows));
  }
}

TEST_F(SyncTest, ProgressIsOneRewrittenLineOnATerminalAndPlainLinesOnAPipe) {
  StandinProcess standin(LIRVO_STANDIN_PATH);
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    Lirvo lirvo(standin.url(),
                {"--db", Data("bad-rows.mdb"), "--journal",
                 (dir_ / (terminal ? "t.sqlite" : "p.sqlite")).string()},
                dir_, terminal);
    EXPECT_EQ(lirvo.Wait(), 3);
    const std::string err = lirvo.err();
    EXPECT_THAT(err, HasSubstr("checking rows: 20 of 20"));
    EXPECT_THAT(err, HasSubstr("sending vouchers: 16 of 16"));
    EXPECT_EQ(err.find('\r') != std::string::npos, terminal) << err;
  }
}

}  // namespace
