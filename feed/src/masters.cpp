// The masters of a source fed into the books: the tables read, what the books hold (and how) read
// back, the rest created in the order the server needs them.
// Long: one class whose steps share the feed's state, in the order they happen (about 630 lines).
#include "lirvo/feed.h"

#include "held.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <lirvo/export_reply.h>
#include <lirvo/source_layout.h>
#include <lirvo/sync.h>
#include <lirvo/sync/fed_journal.h>
#include <lirvo/sync/post.h>
#include <lirvo/text.h>
#include <lirvo/verify.h>

namespace lirvo::feed {

namespace {

using books::MasterKind;
using modTally::Failure;

// A master of a table's row, or one the documents imply. An implied master's record is built only
// while it is looked at: a source's sales imply thousands, and a record is over a kilobyte.
struct Read {
  MasterKind kind = MasterKind::kUnit;
  std::unique_ptr<const books::MasterRecord> record{};  // a row's master; null for the others
  std::string table{};
  long row = 0;
  std::string refused{};  // why the row makes no master (it then has no record)
  std::string name{};     // the master's name; the row's Name for a row that makes no master
  std::string under{};    // an implied master's parent group or base unit
  std::vector<books::MasterRef> needs{};  // books::Needs of the master, found once
  // With a journal: the name as the server compares it, and the message that creates the master
  // with its digest (both "" when it cannot be built).
  std::string key{};
  std::string message{};
  std::string digest{};
  bool implied = false;  // an ImpliedMaster: left alone however the books hold it
};

// Calls `use` with the master of `read` (not a refused row): the row's own, or the implied
// master's, built for the call.
template <typename Use>
auto WithRecord(const Read& read, Use use) {
  if (read.record) {
    return use(*read.record);
  }
  const books::MasterRecord built = ImpliedMaster{read.kind, read.name, read.under, {}, 0}.Record();
  return use(built);
}

std::string MessageOf(const Read& read) {
  return WithRecord(read,
                    [](const books::MasterRecord& record) { return books::CreateMessage(record); });
}

class Feed {
 public:
  Feed(source::Source& source, MastersOptions options)
      : source_(source), options_(std::move(options)) {}

  MastersSummary Go();

 private:
  void ReadTable(MasterKind kind);
  // Moves the implied masters whose kind and name no table holds into read_, and notes the others
  // in implied_in_tables_.
  void AddImplied();
  // Which rows of read_ are fed: those of options_.kinds and the masters options_.also names, with
  // whatever of the source they need, however deep.
  std::vector<bool> Wanted() const;
  // Why the master of `read` cannot be created for want of another, or nothing.
  std::optional<std::string> Missing(const Read& read) const;
  // Per master of read_, why its parents in the source come back to it, or "": no order of
  // requests creates a master under itself.
  std::vector<std::string> Loops() const;
  std::optional<std::string> Windows1252Loss(const Read& read) const;
  // Finds each master's key and digest, and with trust_journal whether the journal holds it as
  // accepted, unchanged (one flag per master of read_).
  std::vector<bool> Journaled();
  // The books' names of `kind`, read once.
  void Ask(MasterKind kind);
  sync::FedJournal::Entry EntryOf(const Read& read) const {
    return {books::KindName(read.kind), read.key, read.digest};
  }
  // Masters that need none of each other, and their messages.
  struct Level {
    std::vector<const Read*> reads;
    std::vector<std::string> messages;
  };
  // Creates the masters of `ordered`, given in the order the server needs them.
  void Create(const std::vector<const Read*>& ordered);
  // Posts `level` (masters none of which needs another of them) in batches; false when the feed
  // has to stop.
  bool Post(const std::vector<const Read*>& level, const std::vector<std::string>& messages);
  void Decided(const std::vector<const Read*>& level, std::size_t begin, std::size_t end,
               bool accepted, const std::string& reason, const std::string& first);
  void Tell(MasterKind kind, const std::string& table, long row, const std::string& name,
            MasterOutcome::What what, const std::string& reason = {},
            std::vector<books::FieldDifference> differences = {});

  source::Source& source_;
  MastersOptions options_;
  std::vector<books::MasterRef> implied_in_tables_;  // implied masters a table holds
  MastersSummary summary_;
  // A deque: a source may imply thousands, which are then neither moved as it grows nor held in
  // one block that is mapped afresh each time.
  std::deque<Read> read_;
  std::array<Held, books::kMasterKinds.size()> held_;
  std::array<bool, books::kMasterKinds.size()> asked_{};
  Names in_source_;
  std::optional<sync::FedJournal> journal_;
};

void Feed::Tell(MasterKind kind, const std::string& table, long row, const std::string& name,
                MasterOutcome::What what, const std::string& reason,
                std::vector<books::FieldDifference> differences) {
  using What = MasterOutcome::What;
  KindCounts& counts = summary_.kinds[IndexOf(kind)];
  (what == What::kCreated         ? counts.created
   : what == What::kInBooks       ? counts.in_books
   : what == What::kHeldOtherwise ? counts.held_otherwise
                                  : counts.rejected) += 1;
  if (options_.each) {
    options_.each({kind, table, row, name, what, reason, std::move(differences)});
  }
}

void Feed::ReadTable(MasterKind kind) {
  const std::optional<std::string> table = source_.FindTable(books::TableName(kind));
  if (!table) {
    return;
  }
  source::CheckColumns(source_, books::TableName(kind));
  const std::unique_ptr<source::Rows> rows = source_.Read(*table);
  // The server holds one master of a kind by a name, whatever the case of its letters and the
  // blanks around it: a later row of a name would alter the first row's master, not make its own.
  // A later row the same in every field is the same master, taken once; one that differs is
  // refused, and the first row stands.
  std::unordered_map<std::string, std::size_t> first_of;  // by Key, the first row's in read_
  while (rows->Next()) {
    books::SourceRow row;
    for (std::size_t i = 0; i < rows->Columns().size(); ++i) {
      if (rows->Values()[i]) {
        row.emplace_back(rows->Columns()[i], *rows->Values()[i]);
      }
    }
    const long number = static_cast<long>(rows->RowNumber());
    try {
      auto record = std::make_unique<const books::MasterRecord>(books::MasterFromRow(kind, row));
      std::string name = books::NameOf(*record);
      const auto [first, added] = first_of.emplace(Key(name), read_.size());
      if (!added) {
        const Read& earlier = read_[first->second];
        if (books::CreateMessage(*earlier.record) != books::CreateMessage(*record)) {
          throw Failure(modTally::FailureNumber::kValue,
                        "row " + std::to_string(earlier.row) + " of " + *table +
                            " names the same " + Singular(kind) +
                            " otherwise (the server takes names that differ only in the case of "
                            "their letters for one): the row is not sent");
        }
        continue;
      }
      std::vector<books::MasterRef> needs = books::Needs(*record);
      read_.push_back({.kind = kind,
                       .record = std::move(record),
                       .table = *table,
                       .row = number,
                       .name = std::move(name),
                       .needs = std::move(needs)});
    } catch (const Failure& failure) {
      std::string name;
      for (const auto& [column, value] : row) {
        name = text::EqualsNoCase(column, "Name") ? value : name;
      }
      read_.push_back({.kind = kind,
                       .table = *table,
                       .row = number,
                       .refused = failure.description(),
                       .name = name});
    }
  }
}

void Feed::AddImplied() {
  Names in_tables;
  for (const Read& read : read_) {
    in_tables[IndexOf(read.kind)].insert(Key(read.name));
  }
  // Each is let go as it is fed: a source's sales imply thousands.
  for (std::deque<ImpliedMaster>& implied = options_.implied; !implied.empty();
       implied.pop_front()) {
    ImpliedMaster& master = implied.front();
    if (in_tables[IndexOf(master.kind)].contains(Key(master.name))) {
      implied_in_tables_.push_back({master.kind, std::move(master.name)});
    } else {
      std::vector<books::MasterRef> needs = books::Needs(master.Record());
      read_.push_back({.kind = master.kind,
                       .table = std::move(master.table),
                       .row = master.row,
                       .name = std::move(master.name),
                       .under = std::move(master.under),
                       .needs = std::move(needs),
                       .implied = true});
    }
  }
}

std::vector<bool> Feed::Wanted() const {
  std::array<bool, books::kMasterKinds.size()> whole{};
  for (const MasterKind kind : options_.kinds) {
    whole[IndexOf(kind)] = true;
  }
  // Each row by kind and name; the first of a name when a table repeats it.
  std::array<std::unordered_map<std::string, std::size_t>, books::kMasterKinds.size()> index;
  for (std::size_t i = 0; i < read_.size(); ++i) {
    const Read& read = read_[i];
    index[IndexOf(read.kind)].emplace(Key(read.name), i);
  }
  std::vector<bool> wanted(read_.size(), false);
  std::vector<std::size_t> open;
  const auto want = [&](std::size_t i) {
    if (!wanted[i]) {
      wanted[i] = true;
      open.push_back(i);
    }
  };
  for (std::size_t i = 0; i < read_.size(); ++i) {
    if (whole[IndexOf(read_[i].kind)]) {
      want(i);
    }
  }
  const auto want_ref = [&](const books::MasterRef& ref) {
    const auto found = index[IndexOf(ref.kind)].find(Key(ref.name));
    if (found != index[IndexOf(ref.kind)].end()) {
      want(found->second);
    }
  };
  for (const books::MasterRef& ref : options_.also) {
    want_ref(ref);
  }
  // An implied master is fed, from the table that holds it if one does.
  for (const books::MasterRef& ref : implied_in_tables_) {
    want_ref(ref);
  }
  for (const Read& read : read_) {
    if (read.implied) {
      want_ref({read.kind, read.name});
    }
  }
  while (!open.empty()) {
    const std::size_t i = open.back();
    open.pop_back();
    if (read_[i].refused.empty()) {
      for (const books::MasterRef& need : read_[i].needs) {
        want_ref(need);
      }
    }
  }
  return wanted;
}

std::vector<std::string> Feed::Loops() const {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::array<std::unordered_map<std::string, std::size_t>, books::kMasterKinds.size()> index;
  for (std::size_t i = 0; i < read_.size(); ++i) {
    index[IndexOf(read_[i].kind)].emplace(Key(read_[i].name), i);
  }
  std::vector<std::size_t> parent(read_.size(), kNone);
  for (std::size_t i = 0; i < read_.size(); ++i) {
    for (const books::MasterRef& need : read_[i].needs) {
      if (need.kind != read_[i].kind) {
        continue;  // a unit, or a stock item's group: the parent is the need of its own kind
      }
      const auto& of_kind = index[IndexOf(need.kind)];
      if (const auto found = of_kind.find(Key(need.name)); found != of_kind.end()) {
        parent[i] = found->second;
      }
    }
  }
  // Each chain of parents walked once: a chain that reaches a master already on it has a loop
  // from there on; the masters before it only lead into the loop (the server names what they
  // lack).
  enum class State : char { kNew, kOnPath, kDone };
  std::vector<State> state(read_.size(), State::kNew);
  std::vector<std::string> loops(read_.size());
  for (std::size_t start = 0; start < read_.size(); ++start) {
    std::vector<std::size_t> path;
    std::size_t at = start;
    for (; at != kNone && state[at] == State::kNew; at = parent[at]) {
      state[at] = State::kOnPath;
      path.push_back(at);
    }
    if (at != kNone && state[at] == State::kOnPath) {
      const auto loop = std::find(path.begin(), path.end(), at);
      for (auto member = loop; member != path.end(); ++member) {
        std::string chain = read_[*member].name;
        std::size_t step = *member;
        do {
          step = parent[step];
          chain += ", under " + read_[step].name;
        } while (step != *member);
        loops[*member] = "its parents come back to it (" + chain +
                         "), and the server creates no master under itself";
      }
    }
    for (const std::size_t walked : path) {
      state[walked] = State::kDone;
    }
  }
  return loops;
}

std::optional<std::string> Feed::Missing(const Read& read) const {
  for (const books::MasterRef& need : read.needs) {
    const std::string key = Key(need.name);
    if (!held_[IndexOf(need.kind)].contains(key) && !in_source_[IndexOf(need.kind)].contains(key)) {
      return std::string("it needs the ") + Singular(need.kind) + " \"" + need.name +
             "\", which is neither in the books, nor in the source, nor predefined";
    }
  }
  return std::nullopt;
}

// In a UTF-8 request the server keeps only what Windows-1252 holds: why `read`'s master would not
// be kept as sent, or nothing (always nothing under UTF-16).
std::optional<std::string> Feed::Windows1252Loss(const Read& read) const {
  if (options_.server.encoding != modTally::WireEncoding::kUtf8) {
    return std::nullopt;
  }
  std::string message = read.message;  // built already when there is a journal
  try {
    message = message.empty() ? MessageOf(read) : message;
  } catch (const Failure&) {
    return std::nullopt;  // rejected when it is to be created
  }
  const std::optional<std::string> loss = books::Windows1252Loss(std::string_view(message));
  return loss ? std::optional<std::string>("it " + *loss) : std::nullopt;
}

// Each master's level is one more than the highest of the masters of this run it needs (its
// parent, its units), so the masters of a level need none of each other and share requests,
// whatever order the server takes a request's masters in; the levels go in turn.
void Feed::Create(const std::vector<const Read*>& ordered) {
  std::array<std::unordered_map<std::string, std::size_t>, books::kMasterKinds.size()> level_of;
  std::vector<Level> levels;
  for (const Read* read : ordered) {
    const MasterKind kind = read->kind;
    const std::string& name = read->name;
    std::string message;
    try {
      message = read->message.empty() ? MessageOf(*read) : read->message;
    } catch (const Failure& failure) {
      Tell(kind, read->table, read->row, name, MasterOutcome::What::kRejected,
           failure.description());
      continue;
    }
    if (options_.dry_run) {
      Tell(kind, read->table, read->row, name, MasterOutcome::What::kCreated);
      continue;
    }
    std::size_t level = 0;
    for (const books::MasterRef& need : read->needs) {
      const auto found = level_of[IndexOf(need.kind)].find(Key(need.name));
      if (found != level_of[IndexOf(need.kind)].end()) {
        level = std::max(level, found->second + 1);
      }
    }
    level_of[IndexOf(kind)].emplace(Key(name), level);
    levels.resize(std::max(levels.size(), level + 1));
    levels[level].reads.push_back(read);
    levels[level].messages.push_back(std::move(message));
  }
  for (const Level& level : levels) {
    if (!Post(level.reads, level.messages)) {
      return;
    }
  }
}

bool Feed::Post(const std::vector<const Read*>& level, const std::vector<std::string>& messages) {
  const auto label = [&level](std::size_t i) {
    const Read& read = *level[i];
    return std::string(Singular(read.kind)) + " \"" + read.name + "\" (" + read.table + " row " +
           std::to_string(read.row) + ")";
  };
  const auto batch = static_cast<std::size_t>(std::max(options_.batch, 1));
  sync::PostCounts counts;
  sync::Poster poster(options_.server, options_.company, counts);
  bool finished = true;
  try {
    for (std::size_t first = 0; finished && first < messages.size(); first += batch) {
      const std::size_t size = std::min(messages.size() - first, batch);
      finished = poster.Post(
          std::span(messages).subspan(first, size),
          [&](std::size_t begin, std::size_t end, bool accepted, const std::string& reason) {
            Decided(level, first + begin, first + end, accepted, reason, label(first + begin));
          },
          [&](std::size_t i) { return label(first + i); });
    }
    summary_.interrupted = !finished;
  } catch (const Failure& failure) {
    summary_.interrupted = options_.server.Cancelled();
    summary_.stopped = failure.description();
    finished = false;
  }
  summary_.requests += counts.requests;
  return finished;
}

// Tells what the server said of the masters [begin, end) of `level` and records it in the journal,
// committed before the next request: a journal that cannot record it stops the feed (`first` is
// the label of the first of them).
void Feed::Decided(const std::vector<const Read*>& level, std::size_t begin, std::size_t end,
                   bool accepted, const std::string& reason, const std::string& first) {
  std::vector<sync::FedJournal::Entry> entries;
  for (std::size_t i = begin; i < end; ++i) {
    const Read& read = *level[i];
    Tell(read.kind, read.table, read.row, read.name,
         accepted ? MasterOutcome::What::kCreated : MasterOutcome::What::kRejected,
         accepted ? std::string() : reason);
    if (journal_ && !read.digest.empty()) {
      entries.push_back(EntryOf(read));
    }
  }
  if (entries.empty()) {
    return;
  }
  try {
    journal_->Record(entries, accepted, reason);
  } catch (const Failure& failure) {
    throw sync::Unrecorded(failure, accepted, sync::AndAfter(first, end - begin));
  }
}

void Feed::Ask(MasterKind kind) {
  if (!asked_[IndexOf(kind)]) {
    held_[IndexOf(kind)] = HeldMasters(options_.server, options_.company, kind);
    asked_[IndexOf(kind)] = true;
  }
}

std::vector<bool> Feed::Journaled() {
  std::vector<bool> trusted(read_.size(), false);
  if (options_.journal.empty() || read_.empty()) {
    return trusted;
  }
  journal_.emplace(options_.journal, options_.dry_run, options_.server.url, options_.company);
  for (std::size_t i = 0; i < read_.size(); ++i) {
    Read& read = read_[i];
    read.key = Key(read.name);
    // An implied master is left alone however the books hold it, so the journal's word that it
    // was accepted in any form is enough, and its message is not built: a source's sales imply
    // thousands.
    if (read.implied && options_.trust_journal &&
        journal_->AcceptedBefore(books::KindName(read.kind), read.key)) {
      trusted[i] = true;
      continue;
    }
    try {
      read.message = MessageOf(read);
      read.digest = sync::Digest(read.message);
    } catch (const Failure&) {
      continue;  // rejected when it is to be created
    }
    trusted[i] = options_.trust_journal && journal_->Accepted(EntryOf(read));
  }
  return trusted;
}

// Long: the masters' one pass in order (read, want, trust, ask the books, decide, create), its
// steps sharing the lists they build.
MastersSummary Feed::Go() {
  // Every master table is read: what the kinds fed need may be in any of them.
  for (const MasterKind kind : books::kMasterKinds) {
    ReadTable(kind);
  }
  AddImplied();
  const std::vector<bool> wanted = Wanted();
  std::size_t kept = 0;  // the rows fed, moved to the front in their order
  for (std::size_t i = 0; i < read_.size(); ++i) {
    if (!wanted[i]) {
      continue;
    }
    Read& read = read_[i];
    const MasterKind kind = read.kind;
    ++summary_.kinds[IndexOf(kind)].in_source;
    if (!read.refused.empty()) {
      Tell(kind, read.table, read.row, read.name, MasterOutcome::What::kRejected, read.refused);
      continue;
    }
    in_source_[IndexOf(kind)].insert(Key(read.name));
    if (kept != i) {
      read_[kept] = std::move(read);
    }
    ++kept;
  }
  read_.resize(kept);
  const std::vector<bool> trusted = Journaled();
  const std::vector<std::string> loops = Loops();
  // The books are asked for the kinds of the masters not taken from the journal, and for those of
  // what they need that the source does not hold (which may be of a kind not fed).
  for (std::size_t i = 0; i < read_.size(); ++i) {
    if (!trusted[i]) {
      Ask(read_[i].kind);
      for (const books::MasterRef& need : read_[i].needs) {
        if (!in_source_[IndexOf(need.kind)].contains(Key(need.name))) {
          Ask(need.kind);
        }
      }
    }
  }
  std::vector<const books::MasterRecord*> records;  // the rows' masters to create
  std::vector<const Read*> to_create;               // their reads
  // The implied masters to create, by kind. They need no master of their own kind, so each goes
  // ahead of the rows' masters of its kind.
  std::array<std::vector<const Read*>, books::kMasterKinds.size()> implied;
  std::vector<sync::FedJournal::Entry> in_books;
  for (std::size_t i = 0; i < read_.size(); ++i) {
    const Read& read = read_[i];
    const MasterKind kind = read.kind;
    const std::string& name = read.name;
    if (trusted[i]) {
      ++summary_.kinds[IndexOf(kind)].trusted;
      Tell(kind, read.table, read.row, name, MasterOutcome::What::kInBooks);
    } else if (const auto held = held_[IndexOf(kind)].find(Key(name));
               held != held_[IndexOf(kind)].end()) {
      // Left alone either way; one held otherwise is not journaled as in the books, so that each
      // run reads it back and says so.
      std::vector<books::FieldDifference> differences;
      if (!read.implied) {
        differences = Differences(*read.record, held->second);
      }
      if (journal_ && !read.digest.empty() && differences.empty()) {
        in_books.push_back(EntryOf(read));
      }
      const MasterOutcome::What what =
          differences.empty() ? MasterOutcome::What::kInBooks : MasterOutcome::What::kHeldOtherwise;
      const std::string described = Described(differences);
      Tell(kind, read.table, read.row, name, what, described, std::move(differences));
    } else if (const std::optional<std::string> bad = WithRecord(read, books::TextProblem)) {
      Tell(kind, read.table, read.row, name, MasterOutcome::What::kRejected, *bad);
    } else if (!loops[i].empty()) {
      Tell(kind, read.table, read.row, name, MasterOutcome::What::kRejected, loops[i]);
    } else if (const std::optional<std::string> missing = Missing(read)) {
      Tell(kind, read.table, read.row, name, MasterOutcome::What::kRejected, *missing);
    } else if (const std::optional<std::string> loss = Windows1252Loss(read)) {
      Tell(kind, read.table, read.row, name, MasterOutcome::What::kRejected, *loss);
    } else if (read.implied) {
      implied[IndexOf(kind)].push_back(&read);
    } else {
      records.push_back(read.record.get());
      to_create.push_back(&read);
    }
  }
  if (journal_) {
    journal_->RecordInBooks(in_books);
  }
  const std::vector<std::size_t> rows_order = books::DependencyOrder(records);
  std::vector<const Read*> ordered;
  for (const MasterKind kind : books::kMasterKinds) {
    ordered.insert(ordered.end(), implied[IndexOf(kind)].begin(), implied[IndexOf(kind)].end());
    for (const std::size_t i : rows_order) {
      if (to_create[i]->kind == kind) {
        ordered.push_back(to_create[i]);
      }
    }
  }
  Create(ordered);
  try {
    if (journal_) {
      journal_->Commit();
    }
  } catch (const Failure& failure) {
    summary_.stopped = summary_.stopped.value_or(failure.description());
  }
  return summary_;
}

}  // namespace

RunOutcome MastersSummary::outcome() const {
  if (interrupted) {
    return RunOutcome::kInterrupted;
  }
  if (stopped) {
    return RunOutcome::kStopped;
  }
  for (const KindCounts& counts : kinds) {
    if (counts.rejected > 0 || counts.held_otherwise > 0) {
      return RunOutcome::kIncomplete;
    }
  }
  return RunOutcome::kComplete;
}

MastersSummary FeedMasters(source::Source& source, MastersOptions options) {
  return Feed(source, std::move(options)).Go();
}

void PrintMastersSummary(std::ostream& out, const MastersSummary& summary, bool dry_run) {
  for (const MasterKind kind : books::kMasterKinds) {
    const KindCounts& c = summary.kinds[IndexOf(kind)];
    if (c.in_source == 0) {
      continue;
    }
    out << "Masters from the source, " << books::KindName(kind) << ": " << c.in_source
        << " in the source, " << c.in_books << " already in the books"
        << OnTheJournalsWord(c.trusted) << ", " << c.created
        << (dry_run ? " to create, " : " created, ") << c.rejected << " rejected";
    if (c.held_otherwise > 0) {
      out << ", " << c.held_otherwise
          << " held otherwise in the books (left alone: see lirvo verify)";
    }
    out << '\n';
  }
}

}  // namespace lirvo::feed
