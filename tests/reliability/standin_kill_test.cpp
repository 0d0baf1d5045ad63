// tally-standin killed outright in the middle of a bounded load and started again on its --data
// file: every import it acknowledged is there afterwards, and every import is there whole (its
// customer ledger and its voucher with all lines) or not at all.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <lirvo/books/judge.h>
#include <lirvo/books/sales.h>
#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

#include "raw_server.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

using lirvo::test::StandinProcess;
using lirvo::test::StandinStore;

using lirvo::test::kStandinCompany;
constexpr int kImports = 240;
constexpr int kClients = 4;
// Each exchange is bounded, so a client never waits long on a server that has gone.
const modTally::ExchangeLimits kLimits{2'000, 10'000};

std::string Customer(int n) {
  return "Customer " + std::to_string(n);
}

// The sales amount of import n: a multiple of 25, so its 4% tax is a whole number.
int Amount(int n) {
  return 25 * (n + 40);
}

std::string Ledger(const std::string& name, const char* parent) {
  modTallyIm::LedgerMaster ledger;
  ledger.Name = name;
  ledger.Parent = parent;
  return modTallyIm::BuildLedger(kStandinCompany, ledger, "Create");
}

// One import, built as the transfer builds them: a new customer ledger and a sales voucher for it
// with 4% tax, in one request so that the server applies both or neither.
std::string Import(int n) {
  const std::string ledger = Ledger(Customer(n), "Sundry Debtors");
  const std::size_t from = ledger.find("<LEDGER "), to = ledger.find("</LEDGER>") + 9;
  const std::string amount = std::to_string(Amount(n));
  // VoucherID, VoucherDate, RefNo, PartyName, SalesLedger, TaxAc, ItemName, Unit, Qty, Rate,
  // Amount, TaxPer.
  std::string voucher = lirvo::books::BuildSalesVoucher(
      {"K-" + std::to_string(n), "20160401", "", Customer(n), "Sales", "Output VAT", "Cable Tie",
       "Nos", "1", amount, amount, "4"},
      kStandinCompany);
  return voucher.insert(voucher.find("<VOUCHER "), ledger.substr(from, to - from));
}

// Acknowledged: the server took the import and counts `created` items made.
bool Acknowledged(const modTally::Reply& reply, int created) {
  return lirvo::books::CreatedCount(reply) == created;
}

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
        modTallyIm::BuildUnit(kStandinCompany, unit, "Create"),
        modTallyIm::BuildStockItem(kStandinCompany, item, "Create")}) {
    ASSERT_TRUE(Acknowledged(modTally::Exchange(server->url(), setup, kLimits), 1)) << setup;
  }

  // The clients' shared state: where they post (a restart gives a new url and generation), what
  // was acknowledged (import -> generation) and how many failed. A failed client waits for the
  // next generation, or a second, before it goes on.
  std::mutex mutex;
  std::condition_variable changed;
  std::string url = server->url();
  int generation = 1;
  std::map<int, int> acknowledged;
  int failures = 0;
  std::atomic<int> next{0};
  // Joined also when the test ends early, so no client outlives what it refers to.
  std::vector<std::jthread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      for (int n = next++; n < kImports; n = next++) {
        std::unique_lock lock(mutex);
        const std::string at = url;
        const int seen = generation;
        lock.unlock();
        bool ok = false;
        try {
          ok = Acknowledged(modTally::Exchange(at, Import(n), kLimits), 2);
        } catch (const modTally::Failure&) {
        }
        lock.lock();
        ok ? void(acknowledged.emplace(n, seen)) : void(++failures);
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(ok ? 0 : 1),
                         [&] { return generation != seen; });
      }
    });
  }

  // Kill the server once a third of the imports are acknowledged, then start it again on its file.
  {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(60),
                     [&] { return acknowledged.size() >= static_cast<std::size_t>(kImports / 3); });
  }
  EXPECT_EQ(server->Stop(SIGKILL), 128 + SIGKILL);
  server.emplace(LIRVO_STANDIN_PATH, std::vector<std::string>{"--data", data});
  {
    const std::lock_guard lock(mutex);
    url = server->url();
    ++generation;
    changed.notify_all();
  }
  for (std::jthread& client : clients) {
    client.join();
  }
  // And once more at the end, so the file is read as a kill leaves it.
  EXPECT_EQ(server->Stop(SIGKILL), 128 + SIGKILL);

  const StandinStore store(data);
  std::map<std::string, lirvo::test::StoredVoucher> vouchers;
  for (auto& voucher : store.Vouchers(kStandinCompany)) {
    const std::string id = voucher.remote_id;
    EXPECT_TRUE(vouchers.emplace(id, std::move(voucher)).second) << id << " stored twice";
  }
  const std::vector<std::string> ledgers = store.Masters(kStandinCompany, "LEDGER");

  for (int n = 0; n < kImports; ++n) {
    const auto voucher = vouchers.find("K-" + std::to_string(n));
    const bool has_voucher = voucher != vouchers.end();
    const bool has_customer = std::ranges::count(ledgers, Customer(n)) == 1;  // once, if at all
    EXPECT_EQ(has_voucher, has_customer) << "import " << n << " is half there";
    EXPECT_TRUE(has_voucher || acknowledged.count(n) == 0)
        << "acknowledged import " << n << " is lost";
    if (has_voucher) {
      EXPECT_EQ(voucher->second.party, Customer(n));
      ASSERT_EQ(voucher->second.entries.size(), 4u) << "import " << n;
      EXPECT_EQ(voucher->second.entries[0].amount, std::to_string(-26 * Amount(n) / 25));
      EXPECT_EQ(voucher->second.entries[2].amount, std::to_string(Amount(n)));
    }
  }
  // Only the imports: the setup's two ledgers and one customer per import present.
  EXPECT_EQ(vouchers.size() + 2, ledgers.size());
  const auto before_kill = std::count_if(acknowledged.begin(), acknowledged.end(),
                                         [](const auto& entry) { return entry.second == 1; });
  const auto after_restart = static_cast<long>(acknowledged.size()) - before_kill;
  EXPECT_GE(before_kill, kImports / 3);
  EXPECT_GT(after_restart, 0);
  std::cout << before_kill << " imports acknowledged before the kill, " << after_restart
            << " after the restart, " << failures << " not acknowledged\n";
}

}  // namespace
