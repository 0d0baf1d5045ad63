// Benchmarks 1 and 2: building one request, against the cheapest way to produce the same text.
#include <benchmark/benchmark.h>

#include <numeric>

#include "inputs.h"
#include "paired.h"

namespace lirvo::bench {

namespace {

constexpr int kBatch = 2000;
constexpr int kPairs = 15;

// The text BuildLedger makes of the harness's record; checked against the harness itself, so that
// the benchmark measures that very request.
bool IsHarnessLedgerRequest(const std::string& built) {
  for (const auto& [call, text] : modTallyIm::SampleRequests(kCompany)) {
    if (call.find("VAT OUTPUT 4%") != std::string::npos && text == built) {
      return true;
    }
  }
  return false;
}

// BuildLedger against parsing the finished request and writing it back with pugixml.
void B1_BuildLedger(benchmark::State& state) {
  const modTallyIm::LedgerMaster ledger = VatOutputLedger();
  const std::string request = modTallyIm::BuildLedger(kCompany, ledger, "Create");
  if (!IsHarnessLedgerRequest(request)) {
    state.SkipWithError("the harness builds a different \"VAT OUTPUT 4%\" request");
  }
  for (auto _ : state) {
    Report(state, MeasurePaired(
                      [&] {
                        std::string text = modTallyIm::BuildLedger(kCompany, ledger, "Create");
                        benchmark::DoNotOptimize(text.data());
                      },
                      [&] {
                        pugi::xml_document document;
                        document.load_buffer(request.data(), request.size());
                        std::string text;
                        StringWriter writer(text);
                        document.save(writer, "", pugi::format_raw | pugi::format_no_declaration);
                        benchmark::DoNotOptimize(text.data());
                      },
                      kBatch, kPairs));
  }
}
BENCHMARK(B1_BuildLedger)->Iterations(1)->UseManualTime()->Unit(benchmark::kNanosecond);

// BuildSalesVoucher against the same 76 pieces, values already in text form, appended to a string
// reserved for them.
void B2_BuildSalesVoucher(benchmark::State& state) {
  const books::SalesRow row = FirstSampleRow();
  const std::vector<std::string> pieces = VoucherPieces(row);
  const std::size_t size =
      std::accumulate(pieces.begin(), pieces.end(), std::size_t{0},
                      [](std::size_t sum, const std::string& piece) { return sum + piece.size(); });
  if (pieces.size() != 76 || std::accumulate(pieces.begin(), pieces.end(), std::string()) !=
                                 books::BuildSalesVoucher(row, "")) {
    state.SkipWithError("the 76 pieces do not join to the voucher BuildSalesVoucher writes");
  }
  for (auto _ : state) {
    Report(state, MeasurePaired(
                      [&] {
                        std::string text = books::BuildSalesVoucher(row, "");
                        benchmark::DoNotOptimize(text.data());
                      },
                      [&] {
                        std::string text;
                        text.reserve(size);
                        for (const std::string& piece : pieces) {
                          text.append(piece);
                        }
                        benchmark::DoNotOptimize(text.data());
                      },
                      10 * kBatch, kPairs));
  }
}
BENCHMARK(B2_BuildSalesVoucher)->Iterations(1)->UseManualTime()->Unit(benchmark::kNanosecond);

}  // namespace

}  // namespace lirvo::bench
