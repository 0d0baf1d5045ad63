#include "summary.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace lirvo::bench {

namespace {

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// A budgeted figure: the median, over the repetitions, of the benchmark's counter "ratio" (a
// median of paired ratios itself) or, for memory, of "peak_MiB".
struct Budget {
  int number;
  const char* what;
  const char* benchmark;
  double limit;
  const char* unit;  // "x" for ratios, "MiB" for memory
};

constexpr Budget kBudgets[] = {
    {1, "BuildLedger \"VAT OUTPUT 4%\" vs pugixml parse+save", "B1_BuildLedger", 3, "x"},
    {2, "BuildSalesVoucher vs 76 pieces appended", "B2_BuildSalesVoucher", 4, "x"},
    {3, "layout+save of 5 MiB as sent vs pugixml indent", "B3_FormatImport5MiB", 2, "x"},
    {4, "layout+save of 50 MiB vs 5 MiB", "B4_FormatImport50MiB", 11, "x"},
    {5, "six transfer queries vs one bound libmdb pass", "B5_TransferQueries", 2, "x"},
    {6, "1,000 exchanges vs curl --next (wall)", "B6_SequentialExchanges", 1.0, "x"},
    {7, "lirvo transfer sales-20k, peak RSS", "B7_TransferPeakMemory", 64, "MiB"},
    {8, "lirvo sync sales-20k vs mdb-export (wall)", "B8_SyncSales20k", 8, "x"},
    {8, "lirvo sync sales-20k, peak RSS", "B8_SyncSales20k", 64, "MiB"},
    {8, "lirvo sync sales-20k CPU (and reader's) vs mdb-export's", "B8_SyncSales20k", 2, "x cpu"},
    {9, "sync 2,000 rows batched vs one per request", "B9_SyncBatchedVsSingle", 0.1, "x"},
    {10, "sync re-run, nothing changed, books read, vs mdb-export", "B8_SyncSales20k", 5,
     "x rerun"},
    {10, "sync re-run, --trust-journal, vs mdb-export", "B8_SyncSales20k", 1, "x trusted"},
    {11, "lirvo verify sales-20k vs mdb-export (wall)", "B11_VerifySales20k", 4, "x"},
    {11, "lirvo verify sales-20k, peak RSS", "B11_VerifySales20k", 64, "MiB"},
    {12, "sync --source sqlite, CPU vs sqlite3 -csv dump", "B12_SyncSourceSqlite", 3, "x"},
    {12, "sync --source sqlite, peak RSS", "B12_SyncSourceSqlite", 64, "MiB"},
    {12, "sync --source sqlite, peak RSS vs at a quarter", "B12_SyncSourceSqlite", 1.1, "x growth"},
    {13, "sync --source odbc (PostgreSQL), CPU vs sqlite", "B13_SyncSourceOdbc", 2, "x"},
};

std::string Time(double seconds) {
  char text[32];
  if (seconds >= 1) {
    std::snprintf(text, sizeof text, "%.3f s", seconds);
  } else if (seconds >= 1e-3) {
    std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
  } else if (seconds >= 1e-6) {
    std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
  }
  return text;
}

std::string Number(double value, const char* unit) {
  char text[32];
  std::snprintf(text, sizeof text, unit[0] == 'x' ? "%.2fx" : "%.1f %s", value, unit);
  return text;
}

const Figures* Find(const std::map<std::string, Figures>& figures, const std::string& name) {
  const auto found = figures.find(name);
  return found == figures.end() ? nullptr : &found->second;
}

std::string Counter(const Figures& figures, const std::string& name) {
  const auto found = figures.counters.find(name);
  return found == figures.counters.end() ? std::string("-") : Time(found->second);
}

}  // namespace

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.run_type == Run::RT_Iteration) {
      runs_[run.run_name.function_name].push_back(run);
    } else if (run.aggregate_name == "median") {
      medians_[run.run_name.function_name] = run;  // all there is with aggregates only
    }
  }
  ConsoleReporter::ReportRuns(runs);
}

std::map<std::string, Figures> CollectingReporter::Collected() const {
  std::map<std::string, Figures> collected;
  std::map<std::string, std::vector<Run>> all = runs_;
  for (const auto& [name, median] : medians_) {
    if (all.count(name) == 0) {
      all[name].push_back(median);
    }
  }
  for (const auto& [name, runs] : all) {
    Figures& figures = collected[name];
    std::vector<double> cpu;
    std::vector<double> real;
    std::map<std::string, std::vector<double>> counters;
    for (const Run& run : runs) {
      if (run.error_occurred) {
        figures.error = run.error_message;
        continue;
      }
      const auto iterations =
          static_cast<double>(std::max<benchmark::IterationCount>(1, run.iterations));
      cpu.push_back(run.cpu_accumulated_time / iterations);
      real.push_back(run.real_accumulated_time / iterations);
      for (const auto& [counter, value] : run.counters) {
        counters[counter].push_back(value.value);
      }
    }
    figures.runs = static_cast<int>(cpu.size());
    figures.cpu_seconds = Median(cpu);
    figures.real_seconds = Median(real);
    for (const auto& [counter, values] : counters) {
      figures.counters[counter] = Median(values);
    }
  }
  return collected;
}

void PrintSummary(std::ostream& out, const std::map<std::string, Figures>& figures) {
  char line[256];
  out << "\nBudgets: medians over the repetitions of paired ratios (ours and the baseline run in "
         "turns);\n1-5 compare CPU time (5 with the child processes'), 6 wall time, 12-13 the CPU "
         "time of "
         "the lirvo process\n";
  std::snprintf(line, sizeof line, "%-2s  %-50s %12s %12s %10s %10s  %s\n", "#", "figure", "ours",
                "baseline", "measured", "budget", "verdict");
  out << line;
  for (const Budget& budget : kBudgets) {
    const bool ratio = budget.unit[0] == 'x';
    const Figures* found = Find(figures, budget.benchmark);
    std::string ours = "-";
    std::string baseline = "-";
    std::string measured = "-";
    std::string verdict = "not run";
    if (found != nullptr && !found->error.empty()) {
      verdict = "failed: " + found->error;
    } else if (found != nullptr && found->runs > 0) {
      // A unit "x rerun" reads the counters of the re-run (rerun_ratio, rerun_s, ...), "x
      // trusted" those of the re-run with --trust-journal, "x cpu" the CPU times of the first
      // sync and of mdb-export.
      const std::string_view unit = budget.unit;
      const bool rerun = unit.starts_with("x ");
      const std::string prefix = rerun ? std::string(unit.substr(2)) + "_" : "";
      const auto value = found->counters.find(ratio ? prefix + "ratio" : "peak_MiB");
      if (value != found->counters.end()) {
        ours = Counter(*found, ratio ? (rerun ? prefix + "s" : "ours_s") : "wall_s");
        baseline = ratio ? Counter(*found, prefix + "baseline_s") : "-";
        measured = Number(value->second, budget.unit);
        verdict = value->second <= budget.limit ? "met" : "NOT MET";
      }
    }
    const std::string limit = "<= " + Number(budget.limit, budget.unit);
    std::snprintf(line, sizeof line, "%-2d  %-50s %12s %12s %10s %10s  %s\n", budget.number,
                  budget.what, ours.c_str(), baseline.c_str(), measured.c_str(), limit.c_str(),
                  verdict.c_str());
    out << line;
  }

  out << "\nWithout a budget:\n";
  const auto paired = [&](const char* name, const char* what) {
    const Figures* found = Find(figures, name);
    if (found == nullptr || found->runs == 0 || found->counters.count("ratio") == 0) {
      return;
    }
    std::snprintf(line, sizeof line, "  %s: %s, %.2fx\n", what, Counter(*found, "ours_s").c_str(),
                  found->counters.at("ratio"));
    out << line;
  };
  paired("X3_FormatXmlInPlace5MiB",
         "FormatXml in place + DocumentXml of 5 MiB, against pugixml's indented save");
  paired("X4_PugixmlIndent50MiB", "pugixml's indented save of 50 MiB, against that of 5 MiB");
  if (const Figures* load = Find(figures, "X1_StandinLoad8Clients"); load != nullptr) {
    const auto rate = load->counters.find("imports_per_s");
    if (rate != load->counters.end()) {
      std::snprintf(line, sizeof line,
                    "  stand-in, imports from 8 concurrent clients: %.0f imports/s\n",
                    rate->second);
      out << line;
    } else if (!load->error.empty()) {
      out << "  stand-in load failed: " << load->error << '\n';
    }
  }
  if (const Figures* sizes = Find(figures, "X5_SyncBatchSizes"); sizes != nullptr) {
    out << "  lirvo sync of sales-20k by batch size (wall):";
    for (const char* size : {"25", "50", "100", "200", "400"}) {
      out << ' ' << size << ": " << Counter(*sizes, std::string("batch") + size + "_s");
    }
    out << (sizes->error.empty() ? "" : " failed: " + sizes->error) << '\n';
  }
  if (const Figures* split = Find(figures, "X2_TransferSplit"); split != nullptr) {
    if (!split->error.empty()) {
      out << "  transfer split failed: " << split->error << '\n';
    } else {
      const auto value = [&](const char* name) {
        const auto found = split->counters.find(name);
        return found == split->counters.end() ? 0.0 : found->second;
      };
      const double total = value("total_s");
      out << "  transfer of SampleData.mdb (" << Time(total) << " in the four parts, DataToTally "
          << Time(value("DataToTally_s")) << "):\n";
      for (const char* part : {"database_s", "building_s", "formatting_s", "network_s"}) {
        std::snprintf(line, sizeof line, "    %-11s %10s  %5.1f%%\n",
                      std::string(part, std::string_view(part).find('_')).c_str(),
                      Time(value(part)).c_str(), total > 0 ? 100 * value(part) / total : 0.0);
        out << line;
      }
    }
  }
}

}  // namespace lirvo::bench
