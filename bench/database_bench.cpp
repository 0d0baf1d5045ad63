// Benchmark 5: the six queries the transfer runs over a 20,000-row SalesMst, each result read to
// its end, against one libmdb pass over the table with every column bound, in turns. The reader
// reads each query in a lirvo-mdb-reader process of its own, so both sides are timed by the CPU
// time of the thread and of the children it waited for, in a fresh lirvo-bench process of
// ordinary size (apart from the hundreds of MiB the other benchmarks leave behind).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <stdexcept>

// mdbtools.h includes glib inside an extern "C" block; glib must come first (see
// access/mdbreader/values.h).
#include <glib.h>
// clang-format off
#include <mdbtools.h>
// clang-format on

#include <lirvo/books/sales.h>
#include <lirvo/salesdb.h>

#include "database.h"
#include "processes.h"
#include "split.h"

namespace lirvo::bench {

namespace {

constexpr const char* kDatabase = LIRVO_BENCH_DATA_DIR "/sales-20k.mdb";
constexpr const char* kDistinctColumns[] = {"Unit", "PartyName", "SalesLedger", "TaxAc",
                                            "ItemName"};

// CPU seconds used so far by this thread and by the child processes waited for.
double CpuSeconds() {
  timespec thread{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &thread);
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return static_cast<double>(thread.tv_sec) + static_cast<double>(thread.tv_nsec) * 1e-9 +
         seconds(children.ru_utime) + seconds(children.ru_stime);
}

// The six queries, each result read to its end; the number of rows read.
long TransferQueries() {
  long rows_read = 0;
  access::SalesDatabase database(kDatabase);
  for (const char* column : kDistinctColumns) {
    access::Recordset values =
        database.Open(std::string("Select DISTINCT ") + column + " from SalesMst");
    for (; !values.AtEnd(); values.MoveNext()) {
      benchmark::DoNotOptimize(&values.Field(column));
      ++rows_read;
    }
  }
  access::Recordset rows = database.Open("Select * from SalesMst");
  for (; !rows.AtEnd(); rows.MoveNext()) {
    const books::SalesRow row = books::ReadSalesRow(rows);
    benchmark::DoNotOptimize(&row);
    ++rows_read;
  }
  return rows_read;
}

struct MdbCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};

// Baseline: open the file, bind a buffer to every column and fetch every row.
long BoundPass() {
  const std::unique_ptr<MdbHandle, MdbCloser> mdb(mdb_open(kDatabase, MDB_NOFLAGS));
  if (!mdb || mdb_read_catalog(mdb.get(), MDB_TABLE) == nullptr) {
    throw std::runtime_error(std::string("libmdb cannot open ") + kDatabase);
  }
  const std::unique_ptr<MdbTableDef, TableFreer> table(
      mdb_read_table_by_name(mdb.get(), const_cast<char*>("SalesMst"), MDB_TABLE));
  if (!table || mdb_read_columns(table.get()) == nullptr) {
    throw std::runtime_error(std::string("libmdb cannot read SalesMst in ") + kDatabase);
  }
  mdb_rewind_table(table.get());
  const std::size_t columns = table->num_cols;
  std::vector<std::vector<char>> values(columns, std::vector<char>(MDB_BIND_SIZE));
  std::vector<int> lengths(columns);
  for (std::size_t i = 0; i < columns; ++i) {
    mdb_bind_column(table.get(), static_cast<int>(i) + 1, values[i].data(), &lengths[i]);
  }
  long rows_read = 0;
  while (mdb_fetch_row(table.get()) != 0) {
    benchmark::DoNotOptimize(values.front().data());
    ++rows_read;
  }
  return rows_read;
}

constexpr int kPairsPerProcess = 5;

// One iteration: a fresh lirvo-bench process times the queries and the bound pass in turns (see
// DatabasePassCommand); the figure is the median of the paired ratios.
void B5_TransferQueries(benchmark::State& state) {
  for (auto _ : state) {
    SpawnOptions options;
    options.capture_output = true;
    const Finished finished =
        Run({SelfPath(), "--database-pass", std::to_string(kPairsPerProcess)}, options);
    double ours = 0;
    double baseline = 0;
    double ratio = 0;
    long rows = 0;
    const std::size_t at = finished.output.find("ours=");
    if (!finished.ok() || at == std::string::npos ||
        std::sscanf(finished.output.c_str() + at, "ours=%lf baseline=%lf ratio=%lf rows=%ld", &ours,
                    &baseline, &ratio, &rows) != 4) {
      state.SkipWithError("the database pass failed");
      break;
    }
    state.SetIterationTime(ours);
    state.counters["ours_s"] = ours;
    state.counters["baseline_s"] = baseline;
    state.counters["ratio"] = ratio;
    state.counters["rows"] = static_cast<double>(rows);
  }
}
BENCHMARK(B5_TransferQueries)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int DatabasePassCommand(int argc, char** argv) {
  const int pairs = argc == 3 ? std::atoi(argv[2]) : 0;
  if (pairs < 1 || pairs > 100) {
    std::cerr << "usage: lirvo-bench --database-pass PAIRS (1 to 100)\n";
    return 2;
  }
  try {
    // Untimed first: libraries loaded, the file in the page cache.
    TransferQueries();
    BoundPass();
    long rows = 0;
    std::vector<double> ours;
    std::vector<double> baseline;
    std::vector<double> ratios;
    for (int i = 0; i < pairs; ++i) {
      // Alternate which goes first, so that neither always meets the other's leftovers.
      double seconds[2] = {};
      for (int turn = 0; turn < 2; ++turn) {
        const bool queries = (turn + i) % 2 == 0;
        const double start = CpuSeconds();
        const long read = queries ? TransferQueries() : BoundPass();
        seconds[queries ? 0 : 1] = CpuSeconds() - start;
        rows = queries ? read : rows;
      }
      ours.push_back(seconds[0]);
      baseline.push_back(seconds[1]);
      ratios.push_back(seconds[0] / seconds[1]);
    }
    std::printf("ours=%.9f baseline=%.9f ratio=%.6f rows=%ld\n", Median(ours), Median(baseline),
                Median(ratios), rows);
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "lirvo-bench: " << failure.what() << '\n';
    return 1;
  }
}

}  // namespace lirvo::bench
