// Where the transfer of SampleData.mdb spends its time. Measured in a process of its own, apart
// from the hundreds of MiB lirvo-bench holds by the time this runs; the database part includes
// starting lirvo-mdb-reader for each query.
#pragma once

#include <string>

namespace lirvo::bench {

// Seconds per transfer.
struct TransferSplit {
  double database = 0;    // opening SampleData.mdb, the six queries, reading rows and values
  double building = 0;    // the master requests and the sales vouchers
  double formatting = 0;  // loading each request and laying it out as it is sent
  double network = 0;     // the exchanges with the server
  double whole = 0;       // DataToTally itself, for comparison with the sum of the four
};

// Runs the transfer `runs` times step by step (with a stopwatch on each part) and `runs` times
// through DataToTally, against `url`, and gives the averages. Throws modTally::Failure.
TransferSplit MeasureTransferSplit(const std::string& url, int runs);

// The path of the running lirvo-bench, to start it again as "lirvo-bench --transfer-split URL
// RUNS", which prints "database=S building=S formatting=S network=S whole=S".
std::string SelfPath();

// Handles that command line; returns the exit status.
int TransferSplitCommand(int argc, char** argv);

}  // namespace lirvo::bench
