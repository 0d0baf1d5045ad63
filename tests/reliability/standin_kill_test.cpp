// tally-standin killed outright in the middle of a bounded load and started again on its --data
// file: every import it acknowledged is there afterwards, and every import is there whole (its
// customer ledger and its voucher with all lines) or not at all.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>
#include <lirvo/transfer.h>

#include "raw_server.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

using lirvo::test::StandinProcess;
using lirvo::test::StandinStore;
using Clock = std::chrono::steady_clock;

constexpr const char* kCompany = "Demo Trading Co";
constexpr int kImports = 240;
constexpr int kClients = 4;
// Each exchange is bounded, so a client never waits long on a server that has gone.
constexpr modTally::ExchangeLimits kLimits{2'000, 10'000};

std::string Customer(int n) {
  return "Customer " + std::to_string(n);
}

std::string VoucherId(int n) {
  return "K-" + std::to_string(n);
}

// The sales amount of import n: a multiple of 25, so its 4% tax is a whole number.
int Amount(int n) {
  return 25 * (n + 40);
}

std::string Ledger(const std::string& name, const char* parent) {
  modTallyIm::LedgerMaster ledger;
  ledger.Name = name;
  ledger.Parent = parent;
  return modTallyIm::BuildLedger(kCompany, ledger, "Create");
}

// One import, built as the transfer builds them: a new customer ledger and a sales voucher for it
// with 4% tax, in one request so that the server applies both or neither.
std::string Import(int n) {
  const std::string ledger = Ledger(Customer(n), "Sundry Debtors");
  const std::size_t from = ledger.find("<LEDGER "), to = ledger.find("</LEDGER>") + 9;
  const std::string amount = std::to_string(Amount(n));
  // VoucherID, VoucherDate, RefNo, PartyName, SalesLedger, TaxAc, ItemName, Unit, Qty, Rate,
  // Amount, TaxPer.
  std::string voucher = lirvo::transfer::BuildSalesVoucher(
      {VoucherId(n), "20160401", "", Customer(n), "Sales", "Output VAT", "Cable Tie", "Nos", "1",
       amount, amount, "4"},
      kCompany);
  return voucher.insert(voucher.find("<VOUCHER "), ledger.substr(from, to - from));
}

// Acknowledged: HTTP 200 and a reply that counts `created` items and no errors.
bool Acknowledged(const modTally::Reply& reply, int created) {
  pugi::xml_document document;
  if (reply.status != 200 || !modTally::LoadXml(document, reply.text)) {
    return false;
  }
  const pugi::xml_node response = document.child("RESPONSE");
  return response.child("CREATED").text().as_int(-1) == created &&
         response.child("ERRORS").text().as_int(-1) == 0 && !response.child("LINEERROR");
}

// Where the clients post. A restart gives a new address and a new generation; a client whose
// request failed waits for the next generation (or a deadline) before it goes on.
class Target {
 public:
  void Set(std::string url) {
    const std::lock_guard lock(mutex_);
    url_ = std::move(url);
    ++generation_;
    changed_.notify_all();
  }
  std::pair<std::string, int> Get() const {
    const std::lock_guard lock(mutex_);
    return {url_, generation_};
  }
  void WaitPast(int generation, Clock::duration limit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return generation_ != generation; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string url_;
  int generation_ = 0;
};

TEST(StandinUnderLoad, KilledAndRestartedKeepsEveryAcknowledgedImportWhole) {
  const lirvo::test::TempDir dir("standin-kill");
  const std::string data = dir.File("store.db").string();
  std::optional<StandinProcess> server;
  server.emplace(LIRVO_STANDIN_PATH, std::vector<std::string>{"--data", data});
  modTallyIm::UnitMaster unit;
  unit.Name = "Nos";
  unit.IsSimpleUnit = "Yes";
  modTallyIm::StockItemMaster item;
  item.Name = "Cable Tie";
  item.BaseUnits = "Nos";
  for (const std::string& setup :
       {Ledger("Sales", "Sales Accounts"), Ledger("Output VAT", "Duties & Taxes"),
        modTallyIm::BuildUnit(kCompany, unit, "Create"),
        modTallyIm::BuildStockItem(kCompany, item, "Create")}) {
    ASSERT_TRUE(Acknowledged(modTally::Exchange(server->url(), setup, kLimits), 1)) << setup;
  }

  Target target;
  target.Set(server->url());
  std::atomic<int> next{0};
  std::mutex results_mutex;
  std::condition_variable progress;
  std::map<int, int> acknowledged;  // import -> generation of the server that acknowledged it
  int failures = 0;

  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      for (int n = next++; n < kImports; n = next++) {
        const auto [url, generation] = target.Get();
        bool ok = false;
        try {
          ok = Acknowledged(modTally::Exchange(url, Import(n), kLimits), 2);
        } catch (const modTally::Failure&) {
        }
        {
          const std::lock_guard lock(results_mutex);
          if (ok) {
            acknowledged.emplace(n, generation);
          } else {
            ++failures;
          }
          progress.notify_all();
        }
        if (!ok) {
          target.WaitPast(generation, std::chrono::seconds(20));
        }
      }
    });
  }

  // Kill the server once a third of the imports are acknowledged, then start it again on its file.
  {
    std::unique_lock lock(results_mutex);
    progress.wait_for(lock, std::chrono::seconds(60), [&] {
      return acknowledged.size() >= static_cast<std::size_t>(kImports / 3);
    });
  }
  EXPECT_EQ(server->Stop(SIGKILL), 128 + SIGKILL);
  server.emplace(LIRVO_STANDIN_PATH, std::vector<std::string>{"--data", data});
  target.Set(server->url());
  for (std::thread& client : clients) {
    client.join();
  }
  // And once more at the end, so the file is read as a kill leaves it.
  EXPECT_EQ(server->Stop(SIGKILL), 128 + SIGKILL);

  const StandinStore store(data);
  std::map<std::string, lirvo::test::StoredVoucher> vouchers;
  for (auto& voucher : store.Vouchers(kCompany)) {
    const std::string id = voucher.remote_id;
    EXPECT_TRUE(vouchers.emplace(id, std::move(voucher)).second) << id << " stored twice";
  }
  const std::vector<std::string> ledger_list = store.Masters(kCompany, "LEDGER");
  const std::set<std::string> ledgers(ledger_list.begin(), ledger_list.end());
  EXPECT_EQ(ledgers.size(), ledger_list.size());

  int before_kill = 0;
  int after_restart = 0;
  for (int n = 0; n < kImports; ++n) {
    const auto voucher = vouchers.find(VoucherId(n));
    const bool has_voucher = voucher != vouchers.end();
    const bool has_customer = ledgers.count(Customer(n)) != 0;
    EXPECT_EQ(has_voucher, has_customer) << "import " << n << " is half there";
    const auto acked = acknowledged.find(n);
    if (acked != acknowledged.end()) {
      EXPECT_TRUE(has_voucher) << "acknowledged import " << n << " is lost";
      (acked->second == 1 ? before_kill : after_restart) += 1;
    }
    if (has_voucher) {
      EXPECT_EQ(voucher->second.party, Customer(n));
      ASSERT_EQ(voucher->second.entries.size(), 4u) << "import " << n;
      EXPECT_EQ(voucher->second.entries[0].amount, std::to_string(-26 * Amount(n) / 25));
      EXPECT_EQ(voucher->second.entries[2].amount, std::to_string(Amount(n)));
    }
  }
  // Only the imports: the setup's two ledgers and one customer per import present.
  EXPECT_EQ(vouchers.size() + 2, ledgers.size());
  EXPECT_GE(before_kill, kImports / 3);
  EXPECT_GT(after_restart, 0);
  std::cout << before_kill << " imports acknowledged before the kill, " << after_restart
            << " after the restart, " << failures << " not acknowledged\n";
}

}  // namespace
