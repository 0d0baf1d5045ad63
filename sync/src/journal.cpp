// The sync's journal over SQLite: WAL, synchronous=NORMAL, one transaction per few replies. A
// committed outcome survives a crash of the program; a crash of the machine may lose the last
// replies' records (never corrupt the file), which costs nothing but a look: the books are read
// back before anything is skipped, and a record lost is a document read back rather than trusted.
// Flushing the disk at each reply cost about 7 % of a large sync's CPU. The file's lock, its
// opening and its statements share one connection, hence one file of about 500 lines.
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

#include "reply_entries.h"

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

// The table of replies: one row for each reply recorded, its entries as EntriesText, in the order
// recorded (rowid). Writing a reply so costs one row where an upsert of each entry cost about
// 10,000 instructions (a fifth of a first sync's CPU). Its index finds a kind's replies.
constexpr const char* kRepliesTable =
    "fed_replies(server TEXT NOT NULL, company TEXT NOT NULL, kind TEXT NOT NULL,"
    " outcome TEXT NOT NULL, reason TEXT NOT NULL, recorded TEXT NOT NULL, entries TEXT NOT NULL)";

// Each entry of each reply as a row, as `fed` has them, with the reply's rowid and the entry's
// place in it (what tells the later of two entries of one key).
constexpr std::string_view kReplyEntries =
    "SELECT r.server, r.company, r.kind, json_extract(e.value, '$[0]') AS key,"
    " json_extract(e.value, '$[1]') AS digest, r.outcome, r.reason, r.recorded,"
    " r.rowid AS reply, e.key AS entry FROM fed_replies r, json_each(r.entries) e";

// What the journal holds, one row for each server, company, kind and key, to be read with SQL: of
// the rows of `fed` and the replies' entries, the one recorded last.
std::string EntriesView() {
  return "CREATE VIEW IF NOT EXISTS fed_entries AS"
         " SELECT server, company, kind, key, digest, outcome, reason, recorded FROM ("
         "  SELECT *, row_number() OVER (PARTITION BY server, company, kind, key"
         "   ORDER BY reply DESC, entry DESC) AS later FROM ("
         "   SELECT server, company, kind, key, digest, outcome, reason, recorded, 0 AS reply,"
         "    0 AS entry FROM fed UNION ALL " +
         std::string(kReplyEntries) + ")) WHERE later = 1";
}

// Does `work` in a transaction of its own, unless one is open already (whose commit then covers
// it).
template <class Work>
void InTransaction(sqlite::Database& db, Work&& work) {
  if (db.InTransaction()) {
    work();
    return;
  }
  sqlite::Transaction transaction(db, "BEGIN IMMEDIATE");
  work();
  transaction.Commit();
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
  // The temporary data are the statement journal of a fold (a copy of each page it changes, freed
  // when it ends), which in a file would cost more than it saves.
  db_.Execute("PRAGMA temp_store=MEMORY");
  // What is fed from a source has tables of its own, so that a journal written before them keeps
  // working: created when the journal is written, and, in an older journal read without writing,
  // stood in for by empty ones of the connection's own. Replies are recorded in fed_replies;
  // `fed` holds what older versions wrote and what Fold moves there. Its rows are ordered by kind
  // and key first: the server and the company are the same in nearly every row, and with them first
  // each comparison of a seek read past both before reaching what tells rows apart (a large sync's
  // seeks took a tenth of its instructions). The kind stays ahead of the key so that a reply's
  // entries, of one kind, land on few pages: with the key alone first, the kinds' VoucherIDs
  // interleave and each reply's commit wrote twice the pages. Every statement on the table names
  // all four, so a journal made with the older order works the same.
  const std::string fed_table =
      "fed(server TEXT NOT NULL, company TEXT NOT NULL, kind TEXT NOT NULL, key TEXT NOT NULL,"
      " digest TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT NULL,"
      " recorded TEXT NOT NULL, PRIMARY KEY(kind, key, server, company)) WITHOUT ROWID";
  const auto has = [this](const char* table) {
    sqlite::Statement found(db_, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name=?1");
    found.Bind(1, table);
    return found.Step();
  };
  for (const std::string& table : {fed_table, std::string(kRepliesTable)}) {
    const std::string name = table.substr(0, table.find('('));
    if (!read_only || !exists) {
      db_.Execute("CREATE TABLE IF NOT EXISTS " + table);
    } else if (!has(name.c_str())) {
      db_.Execute("CREATE TEMP TABLE " + table);
    }
  }
  if (!read_only) {
    db_.Execute(
        "CREATE INDEX IF NOT EXISTS fed_replies_of_kind ON fed_replies(kind, server, company)");
    db_.Execute(EntriesView());
    add_reply_ = std::make_unique<sqlite::Statement>(
        db_,
        "INSERT INTO fed_replies(server, company, kind, outcome, reason, recorded, entries)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  }
  find_fed_ = std::make_unique<sqlite::Statement>(
      db_, "SELECT digest, outcome FROM fed WHERE server=?1 AND company=?2 AND kind=?3 AND key=?4");
  find_fed_->Bind(1, server_).Bind(2, company_);
}

Journal::FedKind& Journal::FedOfKind(std::string_view kind) {
  if (const auto known = fed_kinds_.find(std::string(kind)); known != fed_kinds_.end()) {
    return known->second;
  }
  // Replies' entries beyond what memory keeps (a large source's, or many runs' of one kind) are
  // folded into `fed`, sought row by row from then on; a journal read without writing keeps them.
  FedKind known;
  if (Load(kind, known) > kFedKeptAtMost && !read_only_) {
    Fold(kind);
    known = {};
    Load(kind, known);
  }
  return fed_kinds_.emplace(std::string(kind), std::move(known)).first->second;
}

std::size_t Journal::Load(std::string_view kind, FedKind& known) {
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
  sqlite::Statement replies(db_,
                            "SELECT outcome = 'accepted', entries FROM fed_replies WHERE kind=?1 "
                            "AND server=?2 AND company=?3 ORDER BY rowid");
  replies.Bind(1, kind).Bind(2, server_).Bind(3, company_);
  std::size_t read = 0;
  while (replies.Step()) {
    const bool accepted = replies.Int(0) != 0;
    const bool whole = ReadEntries(replies.Text(1), [&](std::string&& key, std::string&& digest) {
      known.by_key.insert_or_assign(std::move(key), Entry{std::move(digest), accepted});
      ++read;
    });
    if (!whole) {
      throw Failure(FailureNumber::kFile, "the sync journal " + where_ +
                                              " is damaged (a reply's entries cannot be read)" +
                                              Advice("malformed", where_));
    }
  }
  return read;
}

void Journal::Fold(std::string_view kind) {
  InTransaction(db_, [&] {
    sqlite::Statement fold(
        db_,
        "INSERT INTO fed(server, company, kind, key, digest, outcome, reason, recorded)"
        " SELECT server, company, kind, key, digest, outcome, reason, recorded FROM (" +
            std::string(kReplyEntries) +
            ") WHERE kind=?1 AND server=?2 AND company=?3 ORDER BY reply, entry"
            " ON CONFLICT(server, company, kind, key) DO UPDATE SET digest=excluded.digest,"
            " outcome=excluded.outcome, reason=excluded.reason, recorded=excluded.recorded");
    fold.Bind(1, kind).Bind(2, server_).Bind(3, company_).Run();
    sqlite::Statement folded(db_,
                             "DELETE FROM fed_replies WHERE kind=?1 AND server=?2 AND company=?3");
    folded.Bind(1, kind).Bind(2, server_).Bind(3, company_).Run();
  });
}

void Journal::Remember(std::span<const FedJournal::Entry> entries, bool accepted) {
  for (const FedJournal::Entry& entry : entries) {
    const auto known = fed_kinds_.find(std::string(entry.kind));
    if (known != fed_kinds_.end()) {
      known->second.by_key.insert_or_assign(std::string(entry.key),
                                            Entry{std::string(entry.digest), accepted});
    }
  }
}

std::optional<Journal::Entry> Journal::FindFed(std::string_view kind, std::string_view key) {
  const FedKind& known = FedOfKind(kind);
  if (const auto found = known.by_key.find(std::string(key)); found != known.by_key.end()) {
    return found->second;
  }
  std::optional<Entry> entry;
  if (!known.kept) {
    find_fed_->Bind(3, kind).Bind(4, key);
    if (find_fed_->Step()) {
      entry = Entry{find_fed_->Text(0), find_fed_->Text(1) == "accepted"};
    }
    find_fed_->Rewind();
  }
  return entry;
}

bool Journal::HoldsFed(std::string_view kind) {
  sqlite::Statement any(
      db_,
      "SELECT EXISTS(SELECT 1 FROM fed WHERE kind=?1 AND server=?2 AND company=?3) OR"
      " EXISTS(SELECT 1 FROM fed_replies WHERE kind=?1 AND server=?2 AND company=?3)");
  any.Bind(1, kind).Bind(2, server_).Bind(3, company_);
  return any.Step() && any.Int(0) != 0;
}

void Journal::AddReply(std::span<const FedJournal::Entry> entries, std::string_view outcome,
                       std::string_view reason) {
  // Entries of one kind each reply; the kinds of a mixed list go in rows of their own.
  while (!entries.empty()) {
    std::size_t same = 1;
    while (same < entries.size() && entries[same].kind == entries.front().kind) {
      ++same;
    }
    const std::string text = EntriesText(entries.first(same));
    const std::string recorded = RecordedNow();
    add_reply_->BindUncopied(1, server_).BindUncopied(2, company_);
    add_reply_->BindUncopied(3, entries.front().kind).BindUncopied(4, outcome);
    add_reply_->BindUncopied(5, reason).BindUncopied(6, recorded).BindUncopied(7, text).Run();
    entries = entries.subspan(same);
  }
}

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
  if (!add_reply_ || entries.empty()) {
    return;
  }
  if (!fed_) {
    fed_.emplace(db_, "BEGIN IMMEDIATE");
    fed_since_ = std::chrono::steady_clock::now();
  }
  AddReply(entries, accepted ? "accepted" : "rejected", reason);
  Remember(entries, accepted);
  if (++fed_replies_ >= kFedRepliesAtOnce ||
      std::chrono::steady_clock::now() - fed_since_ >= kFedHeldAtMost) {
    CommitFed();
  }
}

void Journal::RecordFedInBooks(std::span<const FedJournal::Entry> entries) {
  if (!add_reply_ || entries.empty()) {
    return;
  }
  // What the journal already holds as accepted with the same digest is left out: a re-run finds
  // nearly everything so.
  std::vector<FedJournal::Entry> changed;
  for (const FedJournal::Entry& entry : entries) {
    const std::optional<Entry> found = FindFed(entry.kind, entry.key);
    if (!found || !found->accepted || found->digest != entry.digest) {
      changed.push_back(entry);
    }
  }
  if (changed.empty()) {
    return;
  }
  InTransaction(db_, [&] { AddReply(changed, "accepted", "found in the books"); });
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
