// lirvo sync --source of a large generated source (sales, purchases, receipts and payments with
// their masters): from an SQLite file, Lirvo's own CPU against sqlite3's dump of the same tables
// as CSV, and its peak memory at the full size and at a quarter of it; and the same source loaded
// into a throwaway PostgreSQL cluster and synced through ODBC, against the SQLite sync.
#include "source_bench.h"

#include <unistd.h>

#include <algorithm>
#include <array>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <lirvo/sqlite.h>

#include "paired.h"
#include "postgres_cluster.h"
#include "processes.h"

namespace lirvo::bench {

namespace {

namespace fs = std::filesystem;

// The tables of the source, in the order they are dumped and loaded.
constexpr const char* kTables[] = {"Units",        "Godowns", "StockGroups", "StockItems",
                                   "LedgerGroups", "Ledgers", "Vouchers",    "VoucherLines"};

constexpr const char* kSchema =
    "CREATE TABLE Units(Name TEXT);"
    "CREATE TABLE Godowns(Name TEXT);"
    "CREATE TABLE StockGroups(Name TEXT);"
    "CREATE TABLE StockItems(Name TEXT, BaseUnits TEXT);"
    "CREATE TABLE LedgerGroups(Name TEXT, Parent TEXT);"
    "CREATE TABLE Ledgers(Name TEXT, Parent TEXT);"
    "CREATE TABLE Vouchers(VoucherID TEXT, VoucherType TEXT, Date TEXT, Number TEXT,"
    " Reference TEXT, Party TEXT, Narration TEXT);"
    "CREATE TABLE VoucherLines(VoucherID TEXT, Line INTEGER, Ledger TEXT, Item TEXT,"
    " Godown TEXT, Quantity NUMERIC, Unit TEXT, Rate NUMERIC, Amount NUMERIC);";

constexpr int kCustomers = 1000;
constexpr int kSuppliers = 200;
constexpr int kItems = 400;

// A small deterministic generator (a 64-bit linear congruential one): the same source every run.
class Random {
 public:
  int Below(int n) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((state_ >> 33) % static_cast<unsigned long long>(n));
  }

 private:
  unsigned long long state_ = 20260401;
};

std::string Numbered(const char* prefix, int n, int width) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%0*d", prefix, width, n);
  return text;
}

// Paise as rupees with two decimals.
std::string Rupees(long paise) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld.%02ld", paise / 100, paise % 100);
  return text;
}

void Insert(sqlite::Database& db, const std::string& table,
            const std::vector<std::vector<std::optional<std::string>>>& rows) {
  for (const auto& row : rows) {
    std::string sql = "INSERT INTO " + table + " VALUES(";
    for (std::size_t i = 0; i < row.size(); ++i) {
      sql += i == 0 ? "?" : ",?";
    }
    sqlite::Statement insert = db.Prepare(sql + ")");
    for (std::size_t i = 0; i < row.size(); ++i) {
      insert.Bind(static_cast<int>(i) + 1, row[i]);
    }
    insert.Run();
  }
}

void WriteMasters(sqlite::Database& db) {
  Insert(db, "Units", {{"Nos"}, {"Kg"}});
  Insert(db, "Godowns", {{"Main Store"}, {"Back Store"}});
  Insert(db, "StockGroups", {{"Lighting"}, {"Wiring"}});
  Insert(db, "LedgerGroups", {{"Retail Customers", "Sundry Debtors"}});
  std::vector<std::vector<std::optional<std::string>>> items;
  for (int i = 1; i <= kItems; ++i) {
    items.push_back({Numbered("Item ", i, 4), i % 5 == 0 ? "Kg" : "Nos"});
  }
  Insert(db, "StockItems", items);
  std::vector<std::vector<std::optional<std::string>>> ledgers = {
      {"Sales @ 5%", "Sales Accounts"},    {"Purchases @ 5%", "Purchase Accounts"},
      {"Output GST", "Duties & Taxes"},    {"Input GST", "Duties & Taxes"},
      {"HDFC Bank", "Bank Accounts"},      {"Rent", "Indirect Expenses"},
      {"Electricity", "Indirect Expenses"}};
  for (int i = 1; i <= kCustomers; ++i) {
    ledgers.push_back(
        {Numbered("Customer ", i, 4), i % 3 == 0 ? "Retail Customers" : "Sundry Debtors"});
  }
  for (int i = 1; i <= kSuppliers; ++i) {
    ledgers.push_back({Numbered("Supplier ", i, 3), "Sundry Creditors"});
  }
  Insert(db, "Ledgers", ledgers);
}

// `documents` vouchers dated over the financial year 2025-26 (in the order of their numbers, give
// or take a few days): 40 % sales, 25 % purchases (one to four items and a tax line each), 20 %
// receipts and 15 % payments (one bank line each).
void WriteDocuments(sqlite::Database& db, long documents) {
  Random random;
  sqlite::Statement voucher = db.Prepare("INSERT INTO Vouchers VALUES(?1,?2,?3,?4,?5,?6,?7)");
  sqlite::Statement line =
      db.Prepare("INSERT INTO VoucherLines VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)");
  const std::chrono::sys_days first = std::chrono::year{2025} / 4 / 1;
  const std::optional<std::string> none;
  for (long n = 1; n <= documents; ++n) {
    const std::string id = Numbered("D", static_cast<int>(n), 7);
    // Numbered about as they are dated, as documents are entered, give or take a few days.
    const long offset = std::clamp((n - 1) * 365 / documents + random.Below(7) - 3, 0L, 364L);
    const std::chrono::year_month_day day{first + std::chrono::days(offset)};
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    const int kind = random.Below(100);
    const bool sale = kind < 40;
    const bool purchase = !sale && kind < 65;
    const bool receipt = !sale && !purchase && kind < 85;
    const std::string party =
        sale || receipt         ? Numbered("Customer ", 1 + random.Below(kCustomers), 4)
        : random.Below(10) == 0 ? std::string("Rent")
                                : Numbered("Supplier ", 1 + random.Below(kSuppliers), 3);
    const char* type = sale ? "Sales" : purchase ? "Purchase" : receipt ? "Receipt" : "Payment";
    voucher.Bind(1, id).Bind(2, type).Bind(3, date);
    voucher.Bind(4,
                 sale ? std::optional<std::string>(Numbered("S/", static_cast<int>(n), 6)) : none);
    voucher.Bind(5, random.Below(4) == 0 ? std::optional<std::string>("PO-" + id) : none);
    voucher.Bind(6, party);
    voucher.Bind(7, random.Below(3) == 0 ? std::optional<std::string>("As agreed") : none);
    voucher.Run();
    int number = 0;
    // A line; `item` 0 for a ledger line.
    const auto add = [&](const std::string& ledger, int item,
                         const std::optional<std::string>& godown, long quantity, long rate,
                         long paise) {
      line.Bind(1, id).Bind(2, ++number).Bind(3, ledger);
      line.Bind(4, item > 0 ? std::optional<std::string>(Numbered("Item ", item, 4)) : none);
      line.Bind(5, godown);
      line.Bind(6, item > 0 ? std::optional<std::string>(std::to_string(quantity)) : none);
      line.Bind(7, item > 0 ? std::optional<std::string>(item % 5 == 0 ? "Kg" : "Nos") : none);
      line.Bind(8, item > 0 ? std::optional<std::string>(Rupees(rate)) : none);
      line.Bind(9, Rupees(paise));
      line.Run();
    };
    if (sale || purchase) {
      long total = 0;
      for (int items = 1 + random.Below(4); items > 0; --items) {
        const int item = 1 + random.Below(kItems);
        const long quantity = 1 + random.Below(20);
        const long rate = 1000 + 50 * random.Below(1000);
        total += quantity * rate;
        add(sale ? "Sales @ 5%" : "Purchases @ 5%", item,
            random.Below(3) == 0 ? std::optional<std::string>("Main Store") : none, quantity, rate,
            quantity * rate);
      }
      add(sale ? "Output GST" : "Input GST", 0, none, 0, 0, total / 20);
    } else {
      add("HDFC Bank", 0, none, 0, 0, 10000 + 100 * random.Below(50000));
    }
  }
}

void MakeSource(const std::string& path, long documents) {
  for (const char* suffix : {"", "-journal"}) {
    std::error_code ignored;
    fs::remove(path + suffix, ignored);
  }
  sqlite::Database db(path, false);
  db.Execute(kSchema);
  sqlite::Transaction writing(db);
  WriteMasters(db);
  WriteDocuments(db, documents);
  writing.Commit();
}

// The number of documents of the benchmarks' source: LIRVO_BENCH_DOCUMENTS, else 200,000.
long SourceSize() {
  const char* given = std::getenv("LIRVO_BENCH_DOCUMENTS");
  const long size = given != nullptr ? std::atol(given) : 0;
  return size > 0 ? size : 200000;
}

fs::path TemporaryPath(const std::string& name) {
  return fs::temp_directory_path() / ("lirvo-bench-" + std::to_string(getpid()) + "-" + name);
}

// A generated source of `documents` documents, made once per size and removed at the end.
const std::string& SourceFile(long documents) {
  struct Files {
    std::map<long, std::string> paths;
    ~Files() {
      for (const auto& [size, path] : paths) {
        std::error_code ignored;
        fs::remove(path, ignored);
      }
    }
  };
  static Files files;
  auto found = files.paths.find(documents);
  if (found == files.paths.end()) {
    const std::string path = TemporaryPath("source-" + std::to_string(documents) + ".sqlite");
    MakeSource(path, documents);
    found = files.paths.emplace(documents, path).first;
  }
  return found->second;
}

struct Measured {
  double wall_seconds = 0;
  long peak_kib = 0;
  double cpu_seconds = 0;
};

// Runs `command` under lirvo-bench-peak: its wall time, peak resident set and CPU time.
Measured UnderPeak(const std::vector<std::string>& command,
                   const std::vector<std::pair<std::string, std::string>>& environment,
                   const std::string& what) {
  SpawnOptions options;
  options.environment = environment;
  options.capture_output = true;
  options.quiet_errors = true;
  options.deadline = std::chrono::seconds(630);
  std::vector<std::string> argv{LIRVO_PEAK_PATH, "600"};
  argv.insert(argv.end(), command.begin(), command.end());
  const Finished finished = Run(argv, options);
  Measured measured;
  int exit_code = -1;
  int signal = 0;
  const std::size_t at = finished.output.rfind("exit=");
  if (!finished.ok() || at == std::string::npos ||
      std::sscanf(finished.output.c_str() + at, "exit=%d signal=%d peak_kib=%ld cpu_s=%lf",
                  &exit_code, &signal, &measured.peak_kib, &measured.cpu_seconds) != 4 ||
      exit_code != 0) {
    throw std::runtime_error(what + " failed (exit " + std::to_string(exit_code) + ", signal " +
                             std::to_string(signal) + ")");
  }
  measured.wall_seconds = finished.wall_seconds;
  return measured;
}

// `lirvo sync --source URI` into a fresh stand-in with a fresh journal.
Measured SyncSource(const std::string& uri,
                    std::vector<std::pair<std::string, std::string>> environment = {},
                    const std::vector<std::string>& more = {}) {
  Standin server;
  const fs::path journal = TemporaryPath("source-journal.sqlite");
  std::error_code ignored;
  fs::remove(journal, ignored);
  environment.emplace_back("LIRVO_TALLY_URL", server.url());
  std::vector<std::string> command{LIRVO_CLI_PATH, "sync",          "--source", uri,
                                   "--journal",    journal.string()};
  command.insert(command.end(), more.begin(), more.end());
  const Measured measured = UnderPeak(command, environment, "lirvo sync --source " + uri);
  fs::remove(journal, ignored);
  return measured;
}

// sqlite3 writing every table of the source as CSV into a file.
Measured DumpCsvOnce(const std::string& source) {
  const fs::path out = TemporaryPath("dump.csv");
  std::string sql;
  for (const char* table : kTables) {
    sql += std::string("SELECT * FROM ") + table + ";";
  }
  const Measured measured =
      UnderPeak({LIRVO_SQLITE3_PATH, "-csv", "-cmd", ".output " + out.string(), source, sql}, {},
                "sqlite3 -csv");
  std::error_code ignored;
  fs::remove(out, ignored);
  return measured;
}

// The same three times, the run of the median CPU: the dump takes about a second, so one run's
// share of a busy machine's noise would weigh on the ratio far more than on the sync's.
Measured DumpCsv(const std::string& source) {
  std::array<Measured, 3> runs{DumpCsvOnce(source), DumpCsvOnce(source), DumpCsvOnce(source)};
  std::sort(runs.begin(), runs.end(),
            [](const Measured& a, const Measured& b) { return a.cpu_seconds < b.cpu_seconds; });
  return runs[1];
}

// Runs of `ours` and `baseline` in turns, `pairs` of each, the order alternating: the figures are
// the medians of each side's CPU and wall time and of the ratios of neighbouring runs' CPU, and
// the highest peak of `ours`. A run of a few seconds on a shared machine can meet a burst of
// another's work; a ratio taken from one pair would then be decided by it, the median of five is
// not, and each side meets the same load as its neighbour.
struct PairedRuns {
  Measured ours;
  Measured baseline;
  double ratio = 0;
};

template <class Ours, class Baseline>
PairedRuns RunPaired(Ours&& ours, Baseline&& baseline, int pairs) {
  std::vector<Measured> our_runs;
  std::vector<Measured> baseline_runs;
  std::vector<double> ratios;
  for (int pair = 0; pair < pairs; ++pair) {
    if (pair % 2 == 0) {
      our_runs.push_back(ours());
      baseline_runs.push_back(baseline());
    } else {
      baseline_runs.push_back(baseline());
      our_runs.push_back(ours());
    }
    ratios.push_back(our_runs.back().cpu_seconds / baseline_runs.back().cpu_seconds);
  }
  const auto median = [](const std::vector<Measured>& runs) {
    std::vector<double> cpu;
    std::vector<double> wall;
    long peak = 0;
    for (const Measured& run : runs) {
      cpu.push_back(run.cpu_seconds);
      wall.push_back(run.wall_seconds);
      peak = std::max(peak, run.peak_kib);
    }
    return Measured{MedianOf(wall), peak, MedianOf(cpu)};
  };
  return {median(our_runs), median(baseline_runs), MedianOf(ratios)};
}

// Pairs of runs behind figures 12 and 13.
constexpr int kPairs = 5;

// Benchmark 12: the source synced from SQLite into a fresh stand-in against sqlite3's CSV dump
// of its tables, in turns; the peak at the full size and at a quarter of it.
void B12_SyncSourceSqlite(benchmark::State& state) {
  Guarded(state, [&] {
    const long size = SourceSize();
    const std::string& full = SourceFile(size);
    const std::string& quarter = SourceFile(size / 4);
    for (auto _ : state) {
      const PairedRuns runs = RunPaired([&] { return SyncSource("sqlite:" + full); },
                                        [&] { return DumpCsv(full); }, kPairs);
      const Measured small = SyncSource("sqlite:" + quarter);
      state.SetIterationTime(runs.ours.wall_seconds);
      state.counters["documents"] = static_cast<double>(size);
      state.counters["wall_s"] = runs.ours.wall_seconds;
      state.counters["ours_s"] = runs.ours.cpu_seconds;
      state.counters["baseline_s"] = runs.baseline.cpu_seconds;
      state.counters["ratio"] = runs.ratio;
      state.counters["peak_MiB"] = static_cast<double>(runs.ours.peak_kib) / 1024.0;
      state.counters["quarter_peak_MiB"] = static_cast<double>(small.peak_kib) / 1024.0;
      state.counters["growth_ratio"] =
          static_cast<double>(runs.ours.peak_kib) / static_cast<double>(small.peak_kib);
      state.counters["quarter_cpu_s"] = small.cpu_seconds;
    }
  });
}
BENCHMARK(B12_SyncSourceSqlite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The newest installed PostgreSQL's psql.
std::string Psql() {
  std::error_code error;
  std::optional<fs::path> best;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const fs::path psql = entry.path() / "bin" / "psql";
    if (fs::exists(psql, error) && (!best || psql > *best)) {
      best = psql;
    }
  }
  if (!best) {
    throw std::runtime_error("psql is not installed (postgresql-client)");
  }
  return best->string();
}

// The source of `documents` documents loaded into a throwaway cluster (from sqlite3's CSV of each
// table), kept for the rest of the run.
const test::PostgresCluster& PostgresSource(long documents) {
  static std::unique_ptr<test::PostgresCluster> cluster;
  static long loaded = 0;
  if (cluster && loaded == documents) {
    return *cluster;
  }
  cluster.reset();
  cluster = std::make_unique<test::PostgresCluster>();
  const std::string& source = SourceFile(documents);
  std::vector<std::string> load{Psql(),
                                "-h",
                                "127.0.0.1",
                                "-p",
                                std::to_string(cluster->port()),
                                "-U",
                                test::PostgresCluster::kAdmin,
                                "-d",
                                "postgres",
                                "-q",
                                "-v",
                                "ON_ERROR_STOP=1",
                                "-c",
                                kSchema};
  std::vector<fs::path> csv;
  for (const char* table : kTables) {
    csv.push_back(TemporaryPath(std::string(table) + ".csv"));
    const Finished dumped =
        Run({LIRVO_SQLITE3_PATH, "-csv", "-cmd", ".output " + csv.back().string(), source,
             std::string("SELECT * FROM ") + table});
    if (!dumped.ok()) {
      throw std::runtime_error(std::string("sqlite3 could not dump ") + table);
    }
    load.insert(load.end(),
                {"-c", std::string("\\copy ") + table + " FROM '" + csv.back().string() + "' CSV"});
  }
  SpawnOptions options;
  options.environment = {{"PGPASSWORD", test::PostgresCluster::kAdminPassword}};
  options.deadline = std::chrono::seconds(600);
  const Finished finished = Run(load, options);
  for (const fs::path& path : csv) {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
  if (!finished.ok()) {
    throw std::runtime_error("psql could not load the source into PostgreSQL");
  }
  loaded = documents;
  return *cluster;
}

// Benchmark 13: the same source from PostgreSQL through ODBC, with a login, against the sync of
// the SQLite file, in turns.
void B13_SyncSourceOdbc(benchmark::State& state) {
  Guarded(state, [&] {
    if (!test::PostgresCluster::Available() || !test::OdbcDriver("psqlodbcw.so")) {
      throw std::runtime_error("PostgreSQL or its ODBC driver (odbc-postgresql) is missing");
    }
    const long size = SourceSize();
    const test::PostgresCluster& cluster = PostgresSource(size);
    const std::string& file = SourceFile(size);
    for (auto _ : state) {
      const auto odbc = [&] {
        return SyncSource("odbc:" + cluster.ConnectionString(),
                          {{"LIRVO_SOURCE_PASSWORD", test::PostgresCluster::kAdminPassword}},
                          {"--user", test::PostgresCluster::kAdmin});
      };
      const PairedRuns runs = RunPaired(
          odbc, [&] { return SyncSource("sqlite:" + file); }, kPairs);
      state.SetIterationTime(runs.ours.wall_seconds);
      state.counters["documents"] = static_cast<double>(size);
      state.counters["wall_s"] = runs.ours.wall_seconds;
      state.counters["ours_s"] = runs.ours.cpu_seconds;
      state.counters["baseline_s"] = runs.baseline.cpu_seconds;
      state.counters["ratio"] = runs.ratio;
      state.counters["peak_MiB"] = static_cast<double>(runs.ours.peak_kib) / 1024.0;
    }
  });
}
BENCHMARK(B13_SyncSourceOdbc)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int MakeSourceCommand(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: lirvo-bench --make-source FILE DOCUMENTS\n";
    return 2;
  }
  MakeSource(argv[2], std::atol(argv[3]));
  return 0;
}

}  // namespace lirvo::bench
