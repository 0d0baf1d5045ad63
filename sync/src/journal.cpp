// The sync's journal over SQLite: WAL, synchronous=NORMAL, one transaction per few replies. A
// committed outcome survives a crash of the program; a crash of the machine may lose the last
// replies' records (never corrupt the file), which costs nothing but a look: the books are read
// back before anything is skipped, and a record lost is a document read back rather than trusted.
// Flushing the disk at each reply cost about 7 % of a large sync's CPU. The file's lock, its
// opening and its statements share one connection, hence one file of a little over 400 lines.
#include "journal.h"

#include <lirvo/sync.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <lirvo/modTally.h>
#include <lirvo/text.h>

namespace lirvo::sync {
namespace {
using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;
}  // namespace
}  // namespace lirvo::sync

namespace lirvo::sync::detail {

namespace {

// The file to open: the journal itself, its folder created first; an empty journal in memory when
// a read-only journal does not exist.
std::string FileToOpen(const std::filesystem::path& path, bool read_only, bool exists) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw Failure(FailureNumber::kFile, "the sync journal " + path.string() +
                                            " is a folder; give --journal a file's name, such as " +
                                            (path / "sync-journal.sqlite").string());
  }
  if (read_only) {
    return exists ? path.string() : ":memory:";
  }
  if (path.has_parent_path()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
      throw Failure(FailureNumber::kFile, "cannot create the folder of the sync journal " +
                                              path.string() + ": " + error.message());
    }
  }
  return path.string();
}

// What to do about a failure of the journal, from SQLite's words for it.
std::string Advice(const std::string& message, const std::string& where) {
  const auto says = [&message](const char* words) {
    return message.find(words) != std::string::npos;
  };
  if (says("not a database") || says("malformed")) {
    return "; move " + where +
           " away (or give another --journal) and run again: a fresh journal is safe, the run "
           "finds in the books what is already there";
  }
  if (says("readonly") || says("unable to open") || says("access permission")) {
    return "; check that the folder can be written, or give --journal FILE in one that can";
  }
  if (says("disk is full") || says("disk I/O")) {
    return "; free some space on that disk and run again";
  }
  return {};
}

// An in-memory journal stays read-write so that its tables can be created.
sqlite::OpenOptions Options(const std::string& where, bool read_only) {
  sqlite::OpenOptions options;
  options.read_only = read_only;
  options.busy_timeout_ms = 10'000;
  options.name = "the sync journal " + where;
  options.raise = [where](const std::string& message) {
    throw Failure(FailureNumber::kFile, message + Advice(message, where));
  };
  return options;
}

std::optional<JournalLock> LockUnlessReadOnly(const std::filesystem::path& path, bool read_only) {
  if (read_only) {
    return std::nullopt;
  }
  FileToOpen(path, false, false);  // creates the folder
  return std::make_optional<JournalLock>(path);
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// The upsert of one entry of `fed`: its kind, key and digest at ?6 to ?8. `in_books` leaves alone
// an entry the journal already holds as accepted, unchanged.
std::string FedUpsert(bool in_books) {
  std::string sql =
      "INSERT INTO fed(server, company, kind, key, digest, outcome, reason, recorded)"
      " VALUES(?1, ?2, ?6, ?7, ?8, ?3, ?4, ?5)"
      " ON CONFLICT(server, company, kind, key) DO UPDATE SET digest=excluded.digest,"
      " outcome=excluded.outcome, reason=excluded.reason, recorded=excluded.recorded";
  if (in_books) {
    sql += " WHERE fed.outcome <> 'accepted' OR fed.digest <> excluded.digest";
  }
  return sql;
}

// The time a reply is recorded, once for all its entries: "2026-12-07T21:45:00Z".
std::string RecordedNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char recorded[32] = {};
  std::strftime(recorded, sizeof recorded, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&now, &utc));
  return recorded;
}

}  // namespace

JournalLock::JournalLock(const std::filesystem::path& journal) {
  const std::string path = journal.string() + ".lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    throw Failure(FailureNumber::kFile, "cannot lock the sync journal " + journal.string() + " (" +
                                            path + "): " + std::strerror(errno) +
                                            "; check that the folder can be written");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    char holder[32] = {};
    const ssize_t got = ::pread(fd_, holder, sizeof holder - 1, 0);
    ::close(fd_);
    fd_ = -1;
    if (error == EWOULDBLOCK) {
      const std::string pid(holder, got > 0 ? static_cast<std::size_t>(got) : 0);
      throw Failure(FailureNumber::kFile,
                    "the sync journal " + journal.string() + " is in use by another run" +
                        (pid.empty() ? std::string() : " (process " + pid + ")") +
                        "; wait for it to end, or give another --journal");
    }
    throw Failure(FailureNumber::kFile,
                  "cannot lock the sync journal " + journal.string() + ": " + std::strerror(error));
  }
  const std::string pid = std::to_string(::getpid());
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
    // The lock holds without the process id; only the message of a second run is the poorer.
  }
}

JournalLock::~JournalLock() {
  if (fd_ >= 0) {
    ::close(fd_);  // releases the lock
  }
}

Journal::Journal(const std::filesystem::path& path, bool read_only, std::string server,
                 std::string company)
    : Journal(path, read_only, Exists(path), std::move(server), std::move(company)) {}

Journal::Journal(const std::filesystem::path& path, bool read_only, bool exists, std::string server,
                 std::string company)
    : lock_(LockUnlessReadOnly(path, read_only)),
      where_(path.string()),
      server_(std::move(server)),
      company_(text::FoldCase(company)),
      db_(FileToOpen(path, read_only, exists), Options(where_, read_only && exists)),
      read_only_(read_only) {
  if (!read_only) {
    // A new journal gets pages of 16 KiB: a reply's entries land on a few pages, each written to
    // the write-ahead log in one call, instead of on a dozen of 4 KiB. An existing journal keeps
    // its size (SQLite changes it only when the file is rebuilt).
    db_.Execute("PRAGMA page_size=16384");
    db_.Execute("PRAGMA journal_mode=WAL");
    db_.Execute("PRAGMA synchronous=NORMAL");
  }
  // The temporary data are the statement journals of the upserts in a transaction of several
  // replies (each a copy of the pages one upsert changes, freed when it ends), which in files cost
  // more than the commits they save.
  db_.Execute("PRAGMA temp_store=MEMORY");
  // What is fed from a source has a table of its own, so that a journal written before it keeps
  // working: created when the journal is written, and, in an older journal read without writing,
  // stood in for by an empty one of the connection's own. Its rows are ordered by kind and key
  // first: the server and the company are the same in nearly every row, and with them first each
  // comparison of a seek read past both before reaching what tells rows apart (a large sync's
  // seeks took a tenth of its instructions). The kind stays ahead of the key so that a reply's
  // entries, of one kind, land on few pages: with the key alone first, the kinds' VoucherIDs
  // interleave and each reply's commit wrote twice the pages. Every statement on the table names
  // all four, so a journal made with the older order works the same.
  const std::string fed_table =
      "fed(server TEXT NOT NULL, company TEXT NOT NULL, kind TEXT NOT NULL, key TEXT NOT NULL,"
      " digest TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT NULL,"
      " recorded TEXT NOT NULL, PRIMARY KEY(kind, key, server, company)) WITHOUT ROWID";
  if (!read_only || !exists) {
    db_.Execute("CREATE TABLE IF NOT EXISTS " + fed_table);
  } else if (!sqlite::Statement(
                  db_, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='fed'")
                  .Step()) {
    db_.Execute("CREATE TEMP TABLE " + fed_table);
  }
  find_fed_ = std::make_unique<sqlite::Statement>(
      db_, "SELECT digest, outcome FROM fed WHERE server=?1 AND company=?2 AND kind=?3 AND key=?4");
  find_fed_->Bind(1, server_).Bind(2, company_);
  if (!read_only) {
    record_fed_ = std::make_unique<sqlite::Statement>(db_, FedUpsert(false));
    fed_in_books_ = std::make_unique<sqlite::Statement>(db_, FedUpsert(true));
  }
}

Journal::FedKind& Journal::FedOfKind(std::string_view kind) {
  const auto [at, added] = fed_kinds_.try_emplace(std::string(kind));
  FedKind& known = at->second;
  if (added) {
    sqlite::Statement rows(db_,
                           "SELECT key, digest, outcome FROM fed WHERE kind=?1 AND server=?2 AND "
                           "company=?3 LIMIT " +
                               std::to_string(kFedKeptAtMost + 1));
    rows.Bind(1, kind).Bind(2, server_).Bind(3, company_);
    while (rows.Step()) {
      known.by_key.insert_or_assign(rows.Text(0), Entry{rows.Text(1), rows.Text(2) == "accepted"});
    }
    known.kept = known.by_key.size() <= kFedKeptAtMost;
    if (!known.kept) {
      known.by_key = {};
    }
  }
  return known;
}

void Journal::Remember(std::span<const FedJournal::Entry> entries, bool accepted) {
  for (const FedJournal::Entry& entry : entries) {
    const auto known = fed_kinds_.find(std::string(entry.kind));
    if (known != fed_kinds_.end() && known->second.kept) {
      known->second.by_key.insert_or_assign(std::string(entry.key),
                                            Entry{std::string(entry.digest), accepted});
    }
  }
}

std::optional<Journal::Entry> Journal::FindFed(std::string_view kind, std::string_view key) {
  if (const FedKind& known = FedOfKind(kind); known.kept) {
    const auto found = known.by_key.find(std::string(key));
    return found == known.by_key.end() ? std::nullopt : std::optional<Entry>(found->second);
  }
  find_fed_->Bind(3, kind).Bind(4, key);
  std::optional<Entry> entry;
  if (find_fed_->Step()) {
    entry = Entry{find_fed_->Text(0), find_fed_->Text(1) == "accepted"};
  }
  find_fed_->Rewind();
  return entry;
}

bool Journal::HoldsFed(std::string_view kind) {
  sqlite::Statement any(
      db_, "SELECT EXISTS(SELECT 1 FROM fed WHERE kind=?1 AND server=?2 AND company=?3)");
  any.Bind(1, kind).Bind(2, server_).Bind(3, company_);
  return any.Step() && any.Int(0) != 0;
}

namespace {

// Records `entries` through `upsert` (FedUpsert's) with `outcome` and `reason`, committed on
// return unless a transaction is open. One entry at a time: the fed table's entries of a kind
// land between those of other kinds, not at its end, so a statement of many entries changes many
// pages, and within a transaction SQLite copies each of them aside first, in case that one
// statement fails alone (for a sync of 20,000 documents, a sixth of the journal's instructions).
// A statement of one entry needs no such copy.
void Upsert(sqlite::Database& db, sqlite::Statement& upsert, const std::string& server,
            const std::string& company, std::span<const FedJournal::Entry> entries,
            std::string_view outcome, std::string_view reason) {
  const std::string recorded = RecordedNow();
  std::optional<sqlite::Transaction> transaction;
  if (entries.size() > 1 && !db.InTransaction()) {
    transaction.emplace(db, "BEGIN IMMEDIATE");
  }
  // What all entries share is bound once: a statement keeps its values from one run to the next
  // until they are cleared.
  upsert.BindUncopied(1, server).BindUncopied(2, company).BindUncopied(3, outcome);
  upsert.BindUncopied(4, reason).BindUncopied(5, recorded);
  for (const FedJournal::Entry& entry : entries) {
    upsert.BindUncopied(6, entry.kind).BindUncopied(7, entry.key).BindUncopied(8, entry.digest);
    while (upsert.Step()) {
    }
    upsert.Rewind();
  }
  upsert.Reset();
  if (transaction) {
    transaction->Commit();
  }
}

}  // namespace

// A fed reply's record is committed with those of the next few, not alone: a commit writes every
// page it changed to the write-ahead log, and the pages a reply changes (the last of the table's,
// the ones above it) are mostly those the next reply changes again (a sync of 50,000 documents
// wrote a third of the bytes to the log; one of 200,000 took about 6 % less CPU; a first sync of
// sales-20k through the source's feed wrote 33.8 MB in 3,694 writes committing every 8 replies,
// 22.6 MB in 2,045 every 32, and took a third less system time). A record not yet
// committed when the run ends is committed then; one a crash loses is a hint lost, not a fact: the
// next run finds in the books what the server took. A second's replies at most are so held, so a
// slow server's are committed one by one as before.
constexpr int kFedRepliesAtOnce = 32;
constexpr auto kFedHeldAtMost = std::chrono::seconds(1);

void Journal::RecordFed(std::span<const FedJournal::Entry> entries, bool accepted,
                        const std::string& reason) {
  if (!record_fed_ || entries.empty()) {
    return;
  }
  if (!fed_) {
    fed_.emplace(db_, "BEGIN IMMEDIATE");
    fed_since_ = std::chrono::steady_clock::now();
  }
  Upsert(db_, *record_fed_, server_, company_, entries, accepted ? "accepted" : "rejected", reason);
  Remember(entries, accepted);
  if (++fed_replies_ >= kFedRepliesAtOnce ||
      std::chrono::steady_clock::now() - fed_since_ >= kFedHeldAtMost) {
    CommitFed();
  }
}

void Journal::RecordFedInBooks(std::span<const FedJournal::Entry> entries) {
  if (!fed_in_books_ || entries.empty()) {
    return;
  }
  // What the kept rows already hold as accepted with the same digest is left out, as the
  // upsert's WHERE would leave it: a re-run finds nearly everything so.
  std::vector<FedJournal::Entry> changed;
  for (const FedJournal::Entry& entry : entries) {
    const FedKind& known = FedOfKind(entry.kind);
    const auto found = known.kept ? known.by_key.find(std::string(entry.key)) : known.by_key.end();
    if (found == known.by_key.end() || !found->second.accepted ||
        found->second.digest != entry.digest) {
      changed.push_back(entry);
    }
  }
  Upsert(db_, *fed_in_books_, server_, company_, changed, "accepted", "found in the books");
  Remember(changed, true);
}

void Journal::CommitFed() {
  if (!fed_) {
    return;
  }
  fed_replies_ = 0;
  try {
    fed_->Commit();
  } catch (...) {
    fed_.reset();  // rolls back what SQLite has not
    throw;
  }
  fed_.reset();
}

Journal::~Journal() {
  try {
    CommitFed();  // what the last replies left held
  } catch (...) {
    // A hint lost: the next run finds in the books what the server took.
  }
}

}  // namespace lirvo::sync::detail

namespace lirvo::sync {

modTally::Failure Unrecorded(const modTally::Failure& failure, bool accepted,
                             const std::string& what) {
  return {failure, "the server " + std::string(accepted ? "accepted" : "rejected") + " " + what +
                       ", but the journal could not record it (" + failure.description() +
                       "); the next run finds in the books what they hold"};
}

std::string AndAfter(const std::string& first, std::size_t count) {
  return count > 1 ? first + " and the " + std::to_string(count - 1) + " after it" : first;
}

FedJournal::FedJournal(const std::filesystem::path& path, bool read_only, const std::string& url,
                       const std::string& company)
    : journal_(
          std::make_unique<detail::Journal>(path, read_only, modTally::ShownUrl(url), company)) {}

FedJournal::~FedJournal() = default;

bool FedJournal::Accepted(const Entry& entry) {
  const std::optional<detail::Journal::Entry> found = journal_->FindFed(entry.kind, entry.key);
  return found && found->accepted && found->digest == entry.digest;
}

bool FedJournal::AcceptedOtherwise(const Entry& entry) {
  const std::optional<detail::Journal::Entry> found = journal_->FindFed(entry.kind, entry.key);
  return found && found->accepted && found->digest != entry.digest;
}

bool FedJournal::AcceptedBefore(std::string_view kind, std::string_view key) {
  const std::optional<detail::Journal::Entry> found = journal_->FindFed(kind, key);
  return found && found->accepted;
}

bool FedJournal::HoldsAny(std::string_view kind) {
  return journal_->HoldsFed(kind);
}

void FedJournal::Record(std::span<const Entry> entries, bool accepted, const std::string& reason) {
  journal_->RecordFed(entries, accepted, reason);
}

void FedJournal::Commit() {
  journal_->CommitFed();
}

void FedJournal::RecordInBooks(std::span<const Entry> entries) {
  journal_->RecordFedInBooks(entries);
}

std::filesystem::path DefaultJournalPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::filesystem::path base;
  if (state && *state && std::filesystem::path(state).is_absolute()) {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !std::filesystem::path(home).is_absolute()) {
      // Not the current folder: a journal there would be lost or shared by accident.
      throw Failure(FailureNumber::kSetting,
                    "neither XDG_STATE_HOME nor HOME names a folder for the sync journal; give "
                    "--journal FILE");
    }
    base = std::filesystem::path(home) / ".local" / "state";
  }
  return base / "lirvo" / "sync-journal.sqlite";
}

}  // namespace lirvo::sync
