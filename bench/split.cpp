#include "split.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <type_traits>

#include <lirvo/books/sales.h>
#include <lirvo/books/send.h>
#include <lirvo/salesdb.h>
#include <lirvo/transfer.h>

#include "inputs.h"

namespace lirvo::bench {

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A stopwatch on each part of the transfer.
struct Split {
  modTally::Server server;
  double database = 0;
  double building = 0;
  double formatting = 0;
  double network = 0;

  template <class Work>
  auto Time(double& part, Work work) {
    const auto start = Clock::now();
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
      part += Since(start);
    } else {
      auto result = work();
      part += Since(start);
      return result;
    }
  }

  void Post(const std::string& request) {
    pugi::xml_document document;
    const std::string body = Time(formatting, [&] {
      modTally::LoadXml(document, request);
      return books::LaidOutXml(document);
    });
    Time(network, [&] { modTally::Exchange(server, std::string_view(body), server.Import()); });
  }
};

void TransferStepByStep(Split& split) {
  auto database =
      split.Time(split.database, [] { return access::SalesDatabase(LIRVO_SAMPLE_DATA); });
  for (const transfer::MasterPhase& phase : transfer::MasterPhases()) {
    const char* const column = phase.column;
    auto values = split.Time(split.database, [&] {
      return database.Open(std::string("Select DISTINCT ") + column + " from SalesMst");
    });
    for (int i = 0; i < transfer::kRowLimit && !values.AtEnd(); ++i) {
      const std::string name =
          split.Time(split.database, [&] { return values.Field(column).value_or(""); });
      split.Post(split.Time(split.building, [&] { return phase.build(kCompany, name); }));
      split.Time(split.database, [&] { values.MoveNext(); });
    }
  }
  auto rows = split.Time(split.database, [&] { return database.Open("Select * from SalesMst"); });
  for (int i = 0; i < transfer::kRowLimit && !rows.AtEnd(); ++i) {
    const books::SalesRow row =
        split.Time(split.database, [&] { return books::ReadSalesRow(rows); });
    split.Post(split.Time(split.building, [&] { return books::BuildSalesVoucher(row, kCompany); }));
    split.Time(split.database, [&] { rows.MoveNext(); });
  }
}

}  // namespace

TransferSplit MeasureTransferSplit(const std::string& url, int runs) {
  Split split{modTally::Server::At(url)};
  double whole = 0;
  for (int i = 0; i < runs; ++i) {
    TransferStepByStep(split);
    const auto start = Clock::now();
    transfer::DataToTally(split.server, kCompany, {}, LIRVO_SAMPLE_DATA);
    whole += Since(start);
  }
  const double n = runs > 0 ? runs : 1;
  return {split.database / n, split.building / n, split.formatting / n, split.network / n,
          whole / n};
}

std::string SelfPath() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

int TransferSplitCommand(int argc, char** argv) {
  const int runs = argc == 4 ? std::atoi(argv[3]) : 0;
  if (runs < 1 || runs > 1000) {
    std::cerr << "usage: lirvo-bench --transfer-split URL RUNS (1 to 1000)\n";
    return 2;
  }
  try {
    const TransferSplit split = MeasureTransferSplit(argv[2], runs);
    std::printf("database=%.9f building=%.9f formatting=%.9f network=%.9f whole=%.9f\n",
                split.database, split.building, split.formatting, split.network, split.whole);
    return 0;
  } catch (const std::exception& failure) {
    std::cerr << "lirvo-bench: the transfer failed: " << failure.what() << '\n';
    return 1;
  }
}

}  // namespace lirvo::bench
