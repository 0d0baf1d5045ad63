// Benchmarks 3 and 4: laying out a large import one element per line and writing it out as the
// request is sent, against pugixml's own indented output of the same document, and at ten times
// the size. Beside them, without a budget, FormatXml's layout in place followed by saving.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <memory>

#include "inputs.h"

namespace lirvo::bench {

namespace {

constexpr std::size_t kMessages = 20'000;

// The import of `messages` ledger messages, loaded once and kept for the whole run.
const pugi::xml_document& LoadedImport(std::size_t messages, std::size_t* bytes) {
  struct Loaded {
    std::size_t bytes = 0;
    pugi::xml_document document;
  };
  static std::map<std::size_t, std::unique_ptr<Loaded>> cache;
  std::unique_ptr<Loaded>& loaded = cache[messages];
  if (!loaded) {
    loaded = std::make_unique<Loaded>();
    const std::string text = LedgerImport(messages);
    loaded->bytes = text.size();
    modTally::LoadXml(loaded->document, text);
  }
  *bytes = loaded->bytes;
  return loaded->document;
}

// Minor page faults of this process so far: on a virtual machine each one can cost more than the
// work around it, so the benchmarks report them beside the times.
long PageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

void Label(benchmark::State& state, std::size_t messages, std::size_t bytes, long faults) {
  state.counters["page_faults"] =
      benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
  char label[64];
  std::snprintf(label, sizeof label, "%zu messages, %.2f MiB", messages,
                static_cast<double>(bytes) / (1024.0 * 1024.0));
  state.SetLabel(label);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// What the request is sent as: the document laid out and written in one pass.
void LayOutImport(benchmark::State& state, std::size_t messages) {
  std::size_t bytes = 0;
  const pugi::xml_document& document = LoadedImport(messages, &bytes);
  if (!document.document_element()) {
    state.SkipWithError("the generated import is not well-formed XML");
  }
  // One untimed run first, so that the timed ones find the memory they need already touched.
  benchmark::DoNotOptimize(demo::LaidOutXml(document).size());
  long faults = 0;
  for (auto _ : state) {
    faults -= PageFaults();
    std::string text = demo::LaidOutXml(document);
    benchmark::DoNotOptimize(text.data());
    state.PauseTiming();
    faults += PageFaults();
    text = std::string();  // freeing the text is not part of the work measured
    state.ResumeTiming();
  }
  Label(state, messages, bytes, faults);
}

void B3_FormatImport5MiB(benchmark::State& state) {
  LayOutImport(state, kMessages);
}
BENCHMARK(B3_FormatImport5MiB)->Unit(benchmark::kMillisecond);

void B4_FormatImport50MiB(benchmark::State& state) {
  LayOutImport(state, 10 * kMessages);
}
BENCHMARK(B4_FormatImport50MiB)->Unit(benchmark::kMillisecond)->Iterations(2);

// FormatXml's layout in place, then saving. FormatXml changes the document, so each iteration lays
// out a fresh copy, made untimed.
void X3_FormatXmlInPlace5MiB(benchmark::State& state) {
  std::size_t bytes = 0;
  const pugi::xml_document& original = LoadedImport(kMessages, &bytes);
  pugi::xml_document document;
  document.reset(original);  // one untimed run first, as for the layout
  demo::FormatXml(document);
  benchmark::DoNotOptimize(modTally::DocumentXml(document).size());
  long faults = 0;
  for (auto _ : state) {
    state.PauseTiming();
    document.reset(original);
    faults -= PageFaults();
    state.ResumeTiming();
    demo::FormatXml(document);
    std::string text = modTally::DocumentXml(document);
    benchmark::DoNotOptimize(text.data());
    state.PauseTiming();
    faults += PageFaults();
    text = std::string();
    state.ResumeTiming();
  }
  Label(state, kMessages, bytes, faults);
}
BENCHMARK(X3_FormatXmlInPlace5MiB)->Unit(benchmark::kMillisecond);

// Baseline: pugixml writes the unchanged document with its own indentation.
void PugixmlIndent(benchmark::State& state, std::size_t messages) {
  std::size_t bytes = 0;
  const pugi::xml_document& document = LoadedImport(messages, &bytes);
  const auto save = [&document] {
    std::string text;
    StringWriter writer(text);
    document.save(writer, "  ", pugi::format_indent | pugi::format_no_declaration);
    return text;
  };
  benchmark::DoNotOptimize(save().size());  // untimed, as for the layout
  long faults = 0;
  for (auto _ : state) {
    faults -= PageFaults();
    std::string text = save();
    benchmark::DoNotOptimize(text.data());
    state.PauseTiming();
    faults += PageFaults();
    text = std::string();
    state.ResumeTiming();
  }
  Label(state, messages, bytes, faults);
}

void B3_PugixmlIndent5MiB(benchmark::State& state) {
  PugixmlIndent(state, kMessages);
}
BENCHMARK(B3_PugixmlIndent5MiB)->Unit(benchmark::kMillisecond);

// Without a budget: how pugixml's own writer scales from 5 to 50 MiB on this machine.
void X4_PugixmlIndent50MiB(benchmark::State& state) {
  PugixmlIndent(state, 10 * kMessages);
}
BENCHMARK(X4_PugixmlIndent50MiB)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

}  // namespace lirvo::bench
