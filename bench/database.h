// The database benchmark's work, run by a fresh lirvo-bench process: "lirvo-bench
// --database-pass queries|bound RUNS" reads sales-20k.mdb once untimed and RUNS times timed, and
// prints "cpu=S rows=N": the median CPU seconds of one run (the thread's and its children's) and
// the rows read.
#pragma once

namespace lirvo::bench {

// Handles that command line; returns the exit status.
int DatabasePassCommand(int argc, char** argv);

}  // namespace lirvo::bench
