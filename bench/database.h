// The database benchmark's work, run by a fresh lirvo-bench process: "lirvo-bench
// --database-pass PAIRS" reads sales-20k.mdb once each way untimed, then PAIRS times the six
// queries and the bound pass in turns, and prints "ours=S baseline=S ratio=R rows=N": the median
// CPU seconds of each (the thread's and its children's), the median of the paired ratios, and the
// rows the queries read.
#pragma once

namespace lirvo::bench {

// Handles that command line; returns the exit status.
int DatabasePassCommand(int argc, char** argv);

}  // namespace lirvo::bench
