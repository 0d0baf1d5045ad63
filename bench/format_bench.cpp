// Benchmarks 3 and 4: laying out a large import one element per line and writing it out as the
// request is sent, against pugixml's own indented output of the same document, and the same at ten
// times the size against the first. Beside them, without a budget, how pugixml's own writer scales.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>

#include <lirvo/books/send.h>

#include "inputs.h"
#include "paired.h"

namespace lirvo::bench {

namespace {

constexpr std::size_t kMessages = 20'000;
constexpr int kPairs = 9;

// The import of `messages` ledger messages, loaded once and kept for the whole run, and the size
// of its text.
struct Import {
  pugi::xml_document document;
  std::size_t bytes = 0;
};

const Import& LoadedImport(std::size_t messages) {
  static std::map<std::size_t, std::unique_ptr<Import>> cache;
  std::unique_ptr<Import>& loaded = cache[messages];
  if (!loaded) {
    loaded = std::make_unique<Import>();
    const std::string text = LedgerImport(messages);
    loaded->bytes = text.size();
    modTally::LoadXml(loaded->document, text);
  }
  return *loaded;
}

void Label(benchmark::State& state, std::size_t messages) {
  char label[64];
  std::snprintf(label, sizeof label, "%zu messages, %.2f MiB", messages,
                static_cast<double>(LoadedImport(messages).bytes) / (1024.0 * 1024.0));
  state.SetLabel(label);
}

// What a request is sent as: the document laid out and written in one pass.
void LayOut(const pugi::xml_document& document) {
  const std::string text = books::LaidOutXml(document);
  benchmark::DoNotOptimize(text.data());
}

// pugixml writing the document with its own indentation.
void PugixmlIndent(const pugi::xml_document& document) {
  std::string text;
  StringWriter writer(text);
  document.save(writer, "  ", pugi::format_indent | pugi::format_no_declaration);
  benchmark::DoNotOptimize(text.data());
}

void B3_FormatImport5MiB(benchmark::State& state) {
  const pugi::xml_document& document = LoadedImport(kMessages).document;
  if (!document.document_element()) {
    state.SkipWithError("the generated import is not well-formed XML");
  }
  for (auto _ : state) {
    Report(state,
           MeasurePaired([&] { LayOut(document); }, [&] { PugixmlIndent(document); }, 1, kPairs));
  }
  Label(state, kMessages);
}
BENCHMARK(B3_FormatImport5MiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void B4_FormatImport50MiB(benchmark::State& state) {
  const pugi::xml_document& large = LoadedImport(10 * kMessages).document;
  const pugi::xml_document& small = LoadedImport(kMessages).document;
  for (auto _ : state) {
    Report(state, MeasurePaired([&] { LayOut(large); }, [&] { LayOut(small); }, 1, kPairs));
  }
  Label(state, 10 * kMessages);
}
BENCHMARK(B4_FormatImport50MiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// How pugixml's own writer scales from 5 to 50 MiB on this machine.
void X4_PugixmlIndent50MiB(benchmark::State& state) {
  const pugi::xml_document& large = LoadedImport(10 * kMessages).document;
  const pugi::xml_document& small = LoadedImport(kMessages).document;
  for (auto _ : state) {
    Report(state,
           MeasurePaired([&] { PugixmlIndent(large); }, [&] { PugixmlIndent(small); }, 1, kPairs));
  }
  Label(state, 10 * kMessages);
}
BENCHMARK(X4_PugixmlIndent50MiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace lirvo::bench
