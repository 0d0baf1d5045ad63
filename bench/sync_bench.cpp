// lirvo sync of sales-20k.mdb: the whole process against mdb-export of the same table, its peak
// memory, a re-run with nothing to send, batches against one row per request, and the batch sizes
// measured to choose the default.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <lirvo/feed_run.h>
#include <lirvo/source.h>
#include <lirvo/sync.h>

#include "paired.h"
#include "processes.h"

namespace lirvo::bench {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSales20k = LIRVO_BENCH_DATA_DIR "/sales-20k.mdb";

// A journal file of its own for each run, removed afterwards.
class TemporaryJournal {
 public:
  TemporaryJournal() {
    path_ = fs::temp_directory_path() / ("lirvo-bench-journal-" + std::to_string(getpid()) + "-" +
                                         std::to_string(++count_) + ".sqlite");
    Remove();
  }
  ~TemporaryJournal() { Remove(); }
  std::string path() const { return path_.string(); }

 private:
  void Remove() const {
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::error_code ignored;
      fs::remove(path_.string() + suffix, ignored);
    }
  }
  static inline int count_ = 0;
  fs::path path_;
};

// The CPU time of one mdb-export of the table (user and system), under lirvo-bench-peak.
double MdbExportCpuOnce() {
  SpawnOptions options;
  options.capture_output = true;
  const Finished finished =
      Run({LIRVO_PEAK_PATH, "300", "/usr/bin/mdb-export", kSales20k, "SalesMst"}, options);
  const std::size_t at = finished.output.rfind("exit=");
  int exit_code = -1;
  int signal = 0;
  long peak = 0;
  double cpu = 0;
  if (!finished.ok() || at == std::string::npos ||
      std::sscanf(finished.output.c_str() + at, "exit=%d signal=%d peak_kib=%ld cpu_s=%lf",
                  &exit_code, &signal, &peak, &cpu) != 4 ||
      exit_code != 0) {
    throw std::runtime_error("mdb-export failed");
  }
  return cpu;
}

// The median of three runs, as for the wall time (MdbExportSeconds): one run's CPU moved between
// 0.13 s and 0.25 s from one run to the next on a shared machine.
double MdbExportCpuSeconds() {
  return MedianOf({MdbExportCpuOnce(), MdbExportCpuOnce(), MdbExportCpuOnce()});
}

struct SyncRun {
  double wall_seconds = 0;
  long peak_kib = 0;
  double cpu_seconds = 0;  // lirvo's and its reader's, not the server's
};

// `lirvo sync --db` of sales-20k into `url` with `journal`, under lirvo-bench-peak.
SyncRun SyncProcess(const std::string& url, const std::string& journal, int batch,
                    const std::vector<std::string>& more = {}) {
  SpawnOptions options;
  options.environment = {{"LIRVO_TALLY_URL", url}};
  options.capture_output = true;
  options.quiet_errors = true;
  options.deadline = std::chrono::seconds(330);
  std::vector<std::string> command{LIRVO_PEAK_PATH, "300",  LIRVO_CLI_PATH,
                                   "sync",          "--db", kSales20k};
  command.insert(command.end(), {"--journal", journal, "--batch", std::to_string(batch)});
  command.insert(command.end(), more.begin(), more.end());
  const Finished finished = Run(command, options);
  int exit_code = -1;
  int signal = 0;
  SyncRun run;
  const std::size_t at = finished.output.rfind("exit=");
  if (!finished.ok() || at == std::string::npos ||
      std::sscanf(finished.output.c_str() + at, "exit=%d signal=%d peak_kib=%ld cpu_s=%lf",
                  &exit_code, &signal, &run.peak_kib, &run.cpu_seconds) != 4 ||
      exit_code != 0) {
    throw std::runtime_error("lirvo sync of sales-20k failed");
  }
  run.wall_seconds = finished.wall_seconds;
  return run;
}

// Benchmarks 8 and 10: a fresh stand-in, a fresh journal, the whole table; mdb-export right
// after (three times, for the wall time, then three more for the CPU). Then the same sync again,
// nothing changed, against mdb-export: with the books read back (the default) and with
// --trust-journal.
void B8_SyncSales20k(benchmark::State& state) {
  Guarded(state, [&] {
    for (auto _ : state) {
      Standin server;
      const TemporaryJournal journal;
      const SyncRun first = SyncProcess(server.url(), journal.path(), sync::kDefaultBatch);
      const double export_first = MdbExportSeconds(kSales20k, "SalesMst");
      const double export_cpu = MdbExportCpuSeconds();
      const SyncRun again = SyncProcess(server.url(), journal.path(), sync::kDefaultBatch);
      const double export_again = MdbExportSeconds(kSales20k, "SalesMst");
      const SyncRun trusted =
          SyncProcess(server.url(), journal.path(), sync::kDefaultBatch, {"--trust-journal"});
      const double export_trusted = MdbExportSeconds(kSales20k, "SalesMst");
      state.SetIterationTime(first.wall_seconds);
      state.counters["ours_s"] = first.wall_seconds;
      state.counters["wall_s"] = first.wall_seconds;
      state.counters["baseline_s"] = export_first;
      state.counters["ratio"] = first.wall_seconds / export_first;
      state.counters["peak_MiB"] = static_cast<double>(first.peak_kib) / 1024.0;
      state.counters["cpu_s"] = first.cpu_seconds;
      state.counters["cpu_baseline_s"] = export_cpu;
      state.counters["cpu_ratio"] = first.cpu_seconds / export_cpu;
      state.counters["rerun_s"] = again.wall_seconds;
      state.counters["rerun_baseline_s"] = export_again;
      state.counters["rerun_ratio"] = again.wall_seconds / export_again;
      state.counters["trusted_s"] = trusted.wall_seconds;
      state.counters["trusted_baseline_s"] = export_trusted;
      state.counters["trusted_ratio"] = trusted.wall_seconds / export_trusted;
    }
  });
}

BENCHMARK(B8_SyncSales20k)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Benchmark 9: the first 2,000 rows, in process, in batches of the default size against one row
// per request, each into a fresh stand-in: the whole run, masters included (the reading of the
// table, the same on both sides, too).
void B9_SyncBatchedVsSingle(benchmark::State& state) {
  Guarded(state, [&] {
    for (auto _ : state) {
      const auto run = [](int batch) {
        Standin server;
        const TemporaryJournal journal;
        feed::RunOptions options;
        options.server.url = server.url();
        options.company = "Demo Trading Co";
        options.journal = journal.path();
        options.batch = batch;
        options.row_limit = 2000;
        for (const source::Kind& kind : source::Kinds()) {
          options.kinds.push_back(&kind);
        }
        const auto start = std::chrono::steady_clock::now();
        const feed::RunSummary summary =
            feed::Run(source::Open({source::Scheme::kAccess, kSales20k}), options);
        const auto end = std::chrono::steady_clock::now();
        constexpr auto kSales = static_cast<std::size_t>(books::DocumentType::kSales);
        if (summary.outcome() != lirvo::RunOutcome::kComplete || !summary.documents ||
            summary.documents->types[kSales].sent != 2000) {
          throw std::runtime_error("the sync of 2,000 rows did not go through");
        }
        return std::chrono::duration<double>(end - start).count();
      };
      const double batched = run(sync::kDefaultBatch);
      const double single = run(1);
      state.SetIterationTime(batched);
      state.counters["ours_s"] = batched;
      state.counters["baseline_s"] = single;
      state.counters["ratio"] = batched / single;
    }
  });
}
BENCHMARK(B9_SyncBatchedVsSingle)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The batch sizes the default was chosen from: the whole table per size, each into a fresh
// stand-in.
void X5_SyncBatchSizes(benchmark::State& state) {
  Guarded(state, [&] {
    for (auto _ : state) {
      double total = 0;
      for (const int batch : {25, 50, 100, 200, 400}) {
        Standin server;
        const TemporaryJournal journal;
        const SyncRun run = SyncProcess(server.url(), journal.path(), batch);
        state.counters["batch" + std::to_string(batch) + "_s"] = run.wall_seconds;
        total += run.wall_seconds;
      }
      state.SetIterationTime(total);
    }
  });
}
BENCHMARK(X5_SyncBatchSizes)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace lirvo::bench
