// The sync's journal over SQLite: WAL, synchronous=NORMAL, one transaction per reply for the
// SalesMst vouchers and one per few replies for a source's fed entries (one statement, when a
// reply's entries fit one). A committed outcome survives a crash of the program; a crash of the
// machine may lose the last replies' records (never corrupt the file), which costs nothing but a
// look: the books are read back before anything is skipped, and a record lost is a document read
// back rather than trusted. Flushing the disk at each reply cost about 7 % of a large sync's CPU.
// The SalesMst vouchers and a source's fed entries share the file, its opening and its
// statements, hence one file of about 550 lines.
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

// How many of a reply's entries one statement records. Each statement costs SQLite a set-up, a
// first seek and a tear-down whatever its rows, and the entries of a reply come by the hundred.
// A reply of up to this many (a batch of the default size and more) goes in one statement of its
// own, not in a transaction of several: a statement that is not the transaction's only one keeps
// a copy of every page it changes until it ends, and with keys scattered over the table that copy
// outgrows memory and is written to a temporary file for each reply.
constexpr std::size_t kRowsAtOnce = Upserts::kRowsAtOnce;

// The VALUES of up to `slots` entries of `columns` values each, numbered from ?6 on (?1 to ?5
// are the server, company, outcome, reason and time shared by all). A slot whose first value is
// NULL holds no entry: the WHERE skips it, and also tells SQLite that the ON CONFLICT that follows
// is the upsert's, not a join's.
std::string Slots(std::size_t slots, std::size_t columns) {
  std::string sql = " FROM (VALUES";
  for (std::size_t i = 0; i < slots; ++i) {
    for (std::size_t c = 0; c < columns; ++c) {
      sql += (c == 0 ? (i == 0 ? "(?" : ", (?") : ", ?") + std::to_string(6 + columns * i + c);
    }
    sql += ")";
  }
  return sql + ") WHERE column1 IS NOT NULL";
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

// The same for up to kRowsAtOnce vouchers, each its VoucherID and digest.
std::string VouchersUpsert(std::size_t slots) {
  return "INSERT INTO vouchers(server, company, voucher_id, digest, outcome, reason, recorded)"
         " SELECT ?1, ?2, column1, column2, ?3, ?4, ?5" +
         Slots(slots, 2) +
         " ON CONFLICT(server, company, voucher_id) DO UPDATE SET digest=excluded.digest,"
         " outcome=excluded.outcome, reason=excluded.reason, recorded=excluded.recorded";
}

// The time a reply is recorded, once for all its entries: "2026-12-07T21:45:00Z".
std::string RecordedNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char recorded[32] = {};
  std::strftime(recorded, sizeof recorded, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&now, &utc));
  return recorded;
}

// Records `entries` through `upserts` (an upsert of Slots), up to kRowsAtOnce at each step, with
// the values shared by all bound at ?1 to ?5 and `bind(statement, slot, entry)` binding an entry's
// own from the slot it is given; committed on return, in one transaction when it takes several
// steps. The slots of a step that no entry fills were left NULL by the statement's last run (Run
// clears the bindings) or were never bound.
template <class Entry, class Bind>
void UpsertSteps(Upserts& upserts, std::span<const Entry> entries,
                 const std::array<std::string_view, 5>& shared, int columns, const Bind& bind) {
  std::optional<sqlite::Transaction> transaction;
  if (entries.size() > kRowsAtOnce && !upserts.database().InTransaction()) {
    transaction.emplace(upserts.database(), "BEGIN IMMEDIATE");
  }
  for (std::size_t first = 0; first < entries.size(); first += kRowsAtOnce) {
    const std::span<const Entry> step =
        entries.subspan(first, std::min(kRowsAtOnce, entries.size() - first));
    sqlite::Statement& statement = upserts.For(step.size());
    for (int i = 0; i < 5; ++i) {
      statement.BindUncopied(i + 1, shared[static_cast<std::size_t>(i)]);
    }
    int slot = 6;
    for (const Entry& entry : step) {
      bind(statement, slot, entry);
      slot += columns;
    }
    statement.Run();
  }
  if (transaction) {
    transaction->Commit();
  }
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

sqlite::Statement& Upserts::For(std::size_t entries) {
  const std::size_t at = (std::max<std::size_t>(entries, 1) - 1) / kSlotStep;
  if (!statements_.at(at)) {
    statements_[at] = std::make_unique<sqlite::Statement>(db_, sql_((at + 1) * kSlotStep));
  }
  return *statements_[at];
}

Journal::Journal(const std::filesystem::path& path, bool read_only, std::string server,
                 std::string company, bool fed)
    : Journal(path, read_only, Exists(path), std::move(server), std::move(company), fed) {}

Journal::Journal(const std::filesystem::path& path, bool read_only, bool exists, std::string server,
                 std::string company, bool fed)
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
  // The sales' table of what the books hold grows with SalesMst, so it goes to a file. A feed's
  // journal has no such table; its temporary data are the statement journals of the upserts in
  // a transaction of several replies (each a copy of the pages one upsert changes, freed when it
  // ends), which in files cost more than the commits they save.
  db_.Execute(fed ? "PRAGMA temp_store=MEMORY" : "PRAGMA temp_store=FILE");
  if (!read_only || !exists) {
    db_.Execute(
        "CREATE TABLE IF NOT EXISTS vouchers("
        " server TEXT NOT NULL, company TEXT NOT NULL, voucher_id TEXT NOT NULL,"
        " digest TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT NULL,"
        " recorded TEXT NOT NULL, PRIMARY KEY(server, company, voucher_id))");
  }
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
  db_.Execute("CREATE TEMP TABLE in_books(voucher_id TEXT PRIMARY KEY, digest TEXT NOT NULL)");
  // The server and the company stay bound for the whole run; each lookup binds the VoucherID.
  find_ = std::make_unique<sqlite::Statement>(
      db_, "SELECT digest, outcome FROM vouchers WHERE server=?1 AND company=?2 AND voucher_id=?3");
  find_->Bind(1, server_).Bind(2, company_);
  // A journal that holds no voucher of this server and company (a first sync) is not asked
  // about each voucher of the table.
  sqlite::Statement any(db_,
                        "SELECT EXISTS(SELECT 1 FROM vouchers WHERE server=?1 AND company=?2)");
  any.Bind(1, server_).Bind(2, company_);
  holds_vouchers_ = any.Step() && any.Int(0) != 0;
  in_books_ = std::make_unique<sqlite::Statement>(
      db_, "INSERT OR REPLACE INTO in_books(voucher_id, digest) VALUES(?1, ?2)");
  find_fed_ = std::make_unique<sqlite::Statement>(
      db_, "SELECT digest, outcome FROM fed WHERE server=?1 AND company=?2 AND kind=?3 AND key=?4");
  find_fed_->Bind(1, server_).Bind(2, company_);
  if (!read_only) {
    record_fed_ = std::make_unique<sqlite::Statement>(db_, FedUpsert(false));
    fed_in_books_ = std::make_unique<sqlite::Statement>(db_, FedUpsert(true));
    record_.emplace(db_, VouchersUpsert);
  }
}

std::optional<Journal::Entry> Journal::Find(const std::string& voucher_id) {
  if (!holds_vouchers_) {
    return std::nullopt;
  }
  find_->Bind(3, voucher_id);
  std::optional<Entry> entry;
  if (find_->Step()) {
    entry = Entry{find_->Text(0), find_->Text(1) == "accepted"};
  }
  find_->Rewind();
  return entry;
}

void Journal::Begin() {
  db_.Execute("BEGIN");
}

void Journal::Commit() {
  db_.Execute("COMMIT");
}

void Journal::NoteInBooks(const std::string& voucher_id, const std::string& digest) {
  in_books_->Bind(1, voucher_id).Bind(2, digest).Run();
}

void Journal::RecordInBooks() {
  if (read_only_) {
    return;
  }
  sqlite::Transaction transaction(db_, "BEGIN IMMEDIATE");
  db_.Query(
         "INSERT INTO vouchers(server, company, voucher_id, digest, outcome, reason, recorded)"
         " SELECT ?1, ?2, voucher_id, digest, 'accepted', 'found in the books',"
         " strftime('%Y-%m-%dT%H:%M:%SZ','now') FROM temp.in_books WHERE true"
         " ON CONFLICT(server, company, voucher_id) DO UPDATE SET digest=excluded.digest,"
         " outcome=excluded.outcome, reason=excluded.reason, recorded=excluded.recorded"
         " WHERE vouchers.outcome <> 'accepted' OR vouchers.digest <> excluded.digest")
      .Bind(1, server_)
      .Bind(2, company_)
      .Run();
  db_.Execute("DELETE FROM temp.in_books");
  transaction.Commit();
  holds_vouchers_ = true;
}

void Journal::Record(std::span<const verify::SpooledRow> vouchers, bool accepted,
                     const std::string& reason) {
  if (!record_) {
    return;
  }
  const std::string recorded = RecordedNow();
  UpsertSteps(
      *record_, vouchers, {server_, company_, accepted ? "accepted" : "rejected", reason, recorded},
      2, [](sqlite::Statement& statement, int slot, const verify::SpooledRow& voucher) {
        statement.BindUncopied(slot, *voucher.row.VoucherID).BindUncopied(slot + 1, voucher.digest);
      });
  holds_vouchers_ = true;
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
  for (const FedJournal::Entry& entry : entries) {
    upsert.BindUncopied(1, server).BindUncopied(2, company).BindUncopied(3, outcome);
    upsert.BindUncopied(4, reason).BindUncopied(5, recorded).BindUncopied(6, entry.kind);
    upsert.BindUncopied(7, entry.key).BindUncopied(8, entry.digest).Run();
  }
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
    : journal_(std::make_unique<detail::Journal>(path, read_only, modTally::ShownUrl(url), company,
                                                 true)) {}

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
