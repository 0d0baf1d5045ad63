// The generated source of the --source benchmarks, also written on its own for profiling:
// `lirvo-bench --make-source FILE DOCUMENTS`.
#pragma once

namespace lirvo::bench {

int MakeSourceCommand(int argc, char** argv);

}  // namespace lirvo::bench
