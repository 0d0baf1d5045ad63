// Benchmarks 6 and 7 and the unbudgeted figures: whole exchanges with tally-standin, the transfer
// as a process, the stand-in under concurrent load, and where the transfer's time goes.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>

#include <lirvo/books/judge.h>
#include <lirvo/encoding.h>

#include "inputs.h"
#include "paired.h"
#include "processes.h"
#include "split.h"

namespace lirvo::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExchanges = 1000;
constexpr std::size_t kBodyBytes = 2048;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A file under /tmp holding `text`, removed when destroyed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& text) {
    std::string pattern = "/tmp/lirvo-bench-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
      throw std::runtime_error("cannot create a temporary file under /tmp");
    }
    close(fd);
    path_ = pattern;
    std::ofstream out(path_, std::ios::binary);
    out << text;
    if (!out.flush()) {
      throw std::runtime_error("cannot write " + path_);
    }
  }
  ~TemporaryFile() { unlink(path_.c_str()); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Makes the wire encoding the default (UTF-16) for the benchmark's duration, whatever
// LIRVO_TALLY_ENCODING says, and restores it after.
class ScopedUtf16Wire {
 public:
  ScopedUtf16Wire() {
    if (const char* old = std::getenv("LIRVO_TALLY_ENCODING")) {
      old_ = old;
    }
    unsetenv("LIRVO_TALLY_ENCODING");
  }
  ~ScopedUtf16Wire() {
    if (old_) {
      setenv("LIRVO_TALLY_ENCODING", old_->c_str(), 1);
    }
  }
  ScopedUtf16Wire(const ScopedUtf16Wire&) = delete;
  ScopedUtf16Wire& operator=(const ScopedUtf16Wire&) = delete;

 private:
  std::optional<std::string> old_;
};

// A ledger import of exactly kBodyBytes: BuildLedger's request, one field padded to the size.
std::string TwoKiBImport() {
  modTallyIm::LedgerMaster ledger;
  ledger.OldName = "Bench Ledger";
  ledger.Name = ledger.OldName;
  ledger.Parent = "Sundry Debtors";
  const std::size_t bare = modTallyIm::BuildLedger(kCompany, ledger, "Alter").size();
  const std::size_t element = std::string_view("<SERVICECATEGORY></SERVICECATEGORY>").size();
  ledger.ServiceCategory.assign(kBodyBytes - bare - element, 'x');
  return modTallyIm::BuildLedger(kCompany, ledger, "Alter");
}

// A curl configuration that makes `count` posts of the bytes in `body_file`, one after another
// (--next), with the headers the client sends: the same UTF-16LE bytes under the same Content-Type.
std::string CurlConfig(const std::string& url, const std::string& body_file, int count) {
  std::string transfer = "url = \"" + url + "\"\n";
  transfer += "data-binary = \"@" + body_file + "\"\n";
  for (const char* header :
       {"Content-Type: text/xml;charset=utf-16", "Connection: close", "SOAPAction;", "Expect:"}) {
    transfer += std::string("header = \"") + header + "\"\n";
  }
  transfer += "noproxy = \"*\"\nfail\nsilent\n";
  std::string config;
  for (int i = 0; i < count; ++i) {
    config += (i == 0 ? "" : "next\n") + transfer;
  }
  return config;
}

// Benchmark 6. Each iteration makes the 1,000 exchanges and the 1,000 curl posts against the same
// server, in alternating order, and reports both and their ratio.
void B6_SequentialExchanges(benchmark::State& state) {
  Guarded(state, [&] {
    const std::string body = TwoKiBImport();
    // The client sends UTF-16 unless told otherwise; curl is given the very bytes it sends.
    const ScopedUtf16Wire wire;
    const TemporaryFile wire_body(
        lirvo::encoding::Utf8ToUtf16(body, lirvo::encoding::ByteOrder::kLittle));
    Standin server;
    const TemporaryFile config(CurlConfig(server.url(), wire_body.path(), kExchanges));
    static int turn = 0;
    for (auto _ : state) {
      double ours = 0;
      double curl = 0;
      bool failed = false;
      const auto run_ours = [&] {
        modTally::Reply reply;
        const auto start = Clock::now();
        for (int i = 0; i < kExchanges && !failed; ++i) {
          reply = modTally::Exchange(server.url(), std::string_view(body));
          failed = reply.status != 200;
        }
        ours = Since(start);
        failed = failed || books::IsRejection(reply);  // the import itself, checked untimed
      };
      const auto run_curl = [&] {
        const Finished finished =
            Run({LIRVO_CURL_PATH, "-q", "--config", config.path()}, SpawnOptions{});
        failed = failed || !finished.ok();
        curl = finished.wall_seconds;
      };
      if (turn++ % 2 == 0) {
        run_ours();
        run_curl();
      } else {
        run_curl();
        run_ours();
      }
      if (failed) {
        state.SkipWithError("the server refused an exchange, or curl failed");
        break;
      }
      state.SetIterationTime(ours);
      state.counters["ours_s"] = ours;
      state.counters["baseline_s"] = curl;
      state.counters["ratio"] = ours / curl;
    }
  });
}
BENCHMARK(B6_SequentialExchanges)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Benchmark 7: the whole lirvo process transferring sales-20k.mdb; its peak resident set from
// wait4, taken by lirvo-bench-peak (see there why not by this process).
void B7_TransferPeakMemory(benchmark::State& state) {
  Guarded(state, [&] {
    Standin server;
    for (auto _ : state) {
      SpawnOptions options;
      options.environment = {{"LIRVO_TALLY_URL", server.url()}};
      options.capture_output = true;
      options.quiet_errors = true;
      options.deadline = std::chrono::seconds(330);
      const Finished finished = Run({LIRVO_PEAK_PATH, "300", LIRVO_CLI_PATH, "transfer", "--db",
                                     LIRVO_BENCH_DATA_DIR "/sales-20k.mdb"},
                                    options);
      // The transfer's own output comes first; the helper's line is the last.
      int exit_code = -1;
      int signal = 0;
      long peak_kib = 0;
      const std::size_t at = finished.output.rfind("exit=");
      const bool read = at != std::string::npos &&
                        std::sscanf(finished.output.c_str() + at, "exit=%d signal=%d peak_kib=%ld",
                                    &exit_code, &signal, &peak_kib) == 3;
      // 3: the transfer ran through and the server rejected some of it (vouchers naming masters
      // beyond the first five of each phase); anything else is a failure.
      if (!finished.ok() || !read || (exit_code != 0 && exit_code != 3)) {
        state.SkipWithError("lirvo transfer failed");
        break;
      }
      state.SetIterationTime(finished.wall_seconds);
      state.counters["peak_MiB"] = static_cast<double>(peak_kib) / 1024.0;
      state.counters["wall_s"] = finished.wall_seconds;
    }
  });
}
BENCHMARK(B7_TransferPeakMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The stand-in's throughput: 2,000 imports (a customer ledger and a voucher each) from 8
// concurrent clients, as counted by the load tool, on a fresh server.
void X1_StandinLoad8Clients(benchmark::State& state) {
  Guarded(state, [&] {
    for (auto _ : state) {
      state.PauseTiming();
      Standin server;
      state.ResumeTiming();
      SpawnOptions options;
      options.capture_output = true;
      const Finished finished = Run(
          {LIRVO_STANDIN_LOAD_PATH, "--url", server.url(), "--imports", "2000", "--clients", "8"},
          options);
      const std::size_t at = finished.output.find('(');
      if (!finished.ok() || at == std::string::npos) {
        state.SkipWithError("the load tool failed");
        break;
      }
      state.SetIterationTime(finished.wall_seconds);
      state.counters["imports_per_s"] = std::strtod(finished.output.c_str() + at + 1, nullptr);
      state.PauseTiming();
      server.Stop();
      state.ResumeTiming();
    }
  });
}
BENCHMARK(X1_StandinLoad8Clients)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Where the transfer of SampleData.mdb spends its time, measured in a fresh lirvo-bench process
// (see split.h) against a fresh stand-in.
void X2_TransferSplit(benchmark::State& state) {
  Guarded(state, [&] {
    for (auto _ : state) {
      Standin server;
      SpawnOptions options;
      options.capture_output = true;
      const Finished finished = Run({SelfPath(), "--transfer-split", server.url(), "20"}, options);
      TransferSplit split;
      const std::size_t at = finished.output.find("database=");
      if (!finished.ok() || at == std::string::npos ||
          std::sscanf(finished.output.c_str() + at,
                      "database=%lf building=%lf formatting=%lf network=%lf whole=%lf",
                      &split.database, &split.building, &split.formatting, &split.network,
                      &split.whole) != 5) {
        state.SkipWithError("the step-by-step transfer failed");
        break;
      }
      state.SetIterationTime(split.whole);
      state.counters["database_s"] = split.database;
      state.counters["building_s"] = split.building;
      state.counters["formatting_s"] = split.formatting;
      state.counters["network_s"] = split.network;
      state.counters["total_s"] =
          split.database + split.building + split.formatting + split.network;
      state.counters["DataToTally_s"] = split.whole;
    }
  });
}
BENCHMARK(X2_TransferSplit)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace lirvo::bench
