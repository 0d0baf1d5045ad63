// Benchmark 5: the six queries the transfer runs over a 20,000-row SalesMst, each result read to
// its end, against one libmdb pass over the table with every column bound. The reader tries reads
// in child processes first, so both sides are timed by the CPU time of this thread and of the
// children it waited for.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <ctime>
#include <memory>

// mdbtools.h includes glib inside an extern "C" block; glib must come first (see salesdb.cpp).
#include <glib.h>
// clang-format off
#include <mdbtools.h>
// clang-format on

#include <lirvo/salesdb.h>
#include <lirvo/transfer.h>

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

void B5_TransferQueries(benchmark::State& state) {
  long rows_read = 0;
  for (auto _ : state) {
    const double start = CpuSeconds();
    demo::SalesDatabase database(kDatabase);
    rows_read = 0;
    for (const char* column : kDistinctColumns) {
      demo::Recordset values =
          database.Open(std::string("Select DISTINCT ") + column + " from SalesMst");
      for (; !values.AtEnd(); values.MoveNext()) {
        benchmark::DoNotOptimize(&values.Field(column));
        ++rows_read;
      }
    }
    demo::Recordset rows = database.Open("Select * from SalesMst");
    for (; !rows.AtEnd(); rows.MoveNext()) {
      const demo::SalesRow row = demo::ReadSalesRow(rows);
      benchmark::DoNotOptimize(&row);
      ++rows_read;
    }
    state.SetIterationTime(CpuSeconds() - start);
  }
  state.counters["rows"] = static_cast<double>(rows_read);
}
BENCHMARK(B5_TransferQueries)->Unit(benchmark::kMillisecond)->UseManualTime();

struct MdbCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};

// Baseline: open the file, bind a buffer to every column and fetch every row.
void B5_LibmdbBoundPass(benchmark::State& state) {
  long rows_read = 0;
  for (auto _ : state) {
    const double start = CpuSeconds();
    const std::unique_ptr<MdbHandle, MdbCloser> mdb(mdb_open(kDatabase, MDB_NOFLAGS));
    if (!mdb || mdb_read_catalog(mdb.get(), MDB_TABLE) == nullptr) {
      state.SkipWithError("libmdb cannot open the database");
      break;
    }
    const std::unique_ptr<MdbTableDef, TableFreer> table(
        mdb_read_table_by_name(mdb.get(), const_cast<char*>("SalesMst"), MDB_TABLE));
    if (!table || mdb_read_columns(table.get()) == nullptr) {
      state.SkipWithError("libmdb cannot read SalesMst");
      break;
    }
    mdb_rewind_table(table.get());
    const std::size_t columns = table->num_cols;
    std::vector<std::vector<char>> values(columns, std::vector<char>(MDB_BIND_SIZE));
    std::vector<int> lengths(columns);
    for (std::size_t i = 0; i < columns; ++i) {
      mdb_bind_column(table.get(), static_cast<int>(i) + 1, values[i].data(), &lengths[i]);
    }
    rows_read = 0;
    while (mdb_fetch_row(table.get()) != 0) {
      benchmark::DoNotOptimize(values.front().data());
      ++rows_read;
    }
    state.SetIterationTime(CpuSeconds() - start);
  }
  state.counters["rows"] = static_cast<double>(rows_read);
}
BENCHMARK(B5_LibmdbBoundPass)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

}  // namespace lirvo::bench
