// Benchmarks 1 and 2: building one request, against the cheapest way to produce the same text.
#include <benchmark/benchmark.h>

#include <numeric>

#include "inputs.h"

namespace lirvo::bench {

namespace {

// The text BuildLedger makes of the harness's record; checked against the harness itself, so that
// the benchmark measures that very request.
std::string HarnessLedgerRequest(benchmark::State& state) {
  const std::string built = modTallyIm::BuildLedger(kCompany, VatOutputLedger(), "Create");
  for (const auto& [call, text] : modTallyIm::SampleRequests(kCompany)) {
    if (call.find("VAT OUTPUT 4%") != std::string::npos && text == built) {
      return built;
    }
  }
  state.SkipWithError("the harness builds a different \"VAT OUTPUT 4%\" request");
  return built;
}

void B1_BuildLedger(benchmark::State& state) {
  HarnessLedgerRequest(state);
  const modTallyIm::LedgerMaster ledger = VatOutputLedger();
  for (auto _ : state) {
    std::string text = modTallyIm::BuildLedger(kCompany, ledger, "Create");
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(B1_BuildLedger);

// Baseline: parse the finished request and write it back, both with pugixml.
void B1_PugixmlRoundTrip(benchmark::State& state) {
  const std::string request = HarnessLedgerRequest(state);
  for (auto _ : state) {
    pugi::xml_document document;
    document.load_buffer(request.data(), request.size());
    std::string text;
    StringWriter writer(text);
    document.save(writer, "", pugi::format_raw | pugi::format_no_declaration);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(B1_PugixmlRoundTrip);

void B2_BuildSalesVoucher(benchmark::State& state) {
  const demo::SalesRow row = FirstSampleRow();
  for (auto _ : state) {
    std::string text = demo::BuildSalesVoucher(row);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(B2_BuildSalesVoucher);

// Baseline: the same 76 pieces, values already in text form, appended to a string reserved for
// them.
void B2_ConcatenatePieces(benchmark::State& state) {
  const demo::SalesRow row = FirstSampleRow();
  const std::vector<std::string> pieces = VoucherPieces(row);
  const std::size_t size =
      std::accumulate(pieces.begin(), pieces.end(), std::size_t{0},
                      [](std::size_t sum, const std::string& piece) { return sum + piece.size(); });
  if (pieces.size() != 76 || std::accumulate(pieces.begin(), pieces.end(), std::string()) !=
                                 demo::BuildSalesVoucher(row)) {
    state.SkipWithError("the 76 pieces do not join to the voucher BuildSalesVoucher writes");
  }
  for (auto _ : state) {
    std::string text;
    text.reserve(size);
    for (const std::string& piece : pieces) {
      text.append(piece);
    }
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(B2_ConcatenatePieces);

}  // namespace

}  // namespace lirvo::bench
