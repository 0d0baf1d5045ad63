// Feeding the masters a source database holds into the books: each kind's table read and checked,
// what the books already hold left alone, the rest created in the order the server needs them.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <lirvo/books/masters.h>
#include <lirvo/exit_status.h>
#include <lirvo/modTally.h>
#include <lirvo/source.h>

namespace lirvo::feed {

// What became of one master of the source.
struct MasterOutcome {
  enum class What { kCreated, kInBooks, kRejected };
  books::MasterKind kind;
  std::string table;  // as the source spells it
  long row = 0;       // in its table, from 1
  std::string name;
  What what = What::kCreated;
  std::string reason;  // why it was rejected: the local check's words or the server's
};

struct MastersOptions {
  modTally::Server server;
  std::string company;
  // The kinds to feed, whichever order they are given in (they go in the order of
  // books::kMasterKinds); a kind whose table the source lacks is passed over.
  std::vector<books::MasterKind> kinds{books::kMasterKinds.begin(), books::kMasterKinds.end()};
  bool dry_run = false;                            // read and check everything, send nothing
  std::function<void(const MasterOutcome&)> each;  // told every master's outcome as it is known
};

struct KindCounts {
  long in_source = 0;
  long in_books = 0;  // left alone: the books hold a master of that kind and name
  long created = 0;   // (with dry_run: to create)
  long rejected = 0;
};

struct MastersSummary {
  std::array<KindCounts, books::kMasterKinds.size()> kinds{};  // in the order of kMasterKinds
  long requests = 0;
  std::optional<std::string> stopped;  // why the feed stopped early; nothing after it was sent
  bool interrupted = false;            // the server's cancel flag stopped it
  RunOutcome outcome() const;
};

// Reads the master tables of `source` for `options.kinds` (each checked against the layout; a row
// that does not make a master is rejected with the reason), reads which of those kinds' masters
// the company holds, and creates the others, one request each, in the order books::
// DependencyOrder gives. A master whose parent, base unit or additional unit is neither in the
// books, nor in the source, nor predefined is rejected locally naming it. A reply that is not an
// import reply, or an exchange that fails, stops the feed: `stopped` says so. Throws
// modTally::Failure when the source or the books cannot be read.
MastersSummary FeedMasters(source::Source& source, const MastersOptions& options);

// The summary for people: one line per kind the source holds ("to create" in a dry run).
void PrintMastersSummary(std::ostream& out, const MastersSummary& summary, bool dry_run);

}  // namespace lirvo::feed
