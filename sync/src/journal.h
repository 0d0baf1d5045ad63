// The sync's journal: an SQLite file that records, per server address, company, kind and key, the
// digest of each master or document as it was sent and what the server did with it. A journal
// written before the feed also holds a table `vouchers`, which is no longer read.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <lirvo/sqlite.h>
#include <lirvo/sync/fed_journal.h>

namespace lirvo::sync::detail {

// An exclusive lock on a file beside the journal (`<journal>.lock`, holding the process id), held
// for the life of the object, so that two syncs never work from one journal at once. The lock goes
// with the process, however it ends.
class JournalLock {
 public:
  // Throws modTally::Failure (kFile) naming the journal and the process that holds it.
  explicit JournalLock(const std::filesystem::path& journal);
  ~JournalLock();
  JournalLock(const JournalLock&) = delete;
  JournalLock& operator=(const JournalLock&) = delete;

 private:
  int fd_ = -1;
};

class Journal {
 public:
  // Opens (creating the file and its folder) the journal at `path`; with `read_only`, opens an
  // existing journal without writing to it, or an empty one in memory when there is none. Throws
  // modTally::Failure (kFile) naming the file.
  Journal(const std::filesystem::path& path, bool read_only, std::string server,
          std::string company);
  // Commits what is recorded of the fed and not yet committed; a failure then is not reported
  // (the next run finds in the books what they hold).
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  struct Entry {
    std::string digest;
    bool accepted = false;
  };
  // What the journal holds of what is fed from a source, by kind and key (see FedJournal). The
  // first time a kind is asked about, its entries of this server and company are read whole and
  // kept, as what is recorded of it changes them: a large source asks about tens of thousands,
  // and a seek for each took a quarter of a trusted re-run's instructions. Rows of the table
  // `fed` (which older versions wrote, and Fold writes) of more than kFedKeptAtMost are sought
  // row by row instead, as memory stays bounded.
  std::optional<Entry> FindFed(std::string_view kind, std::string_view key);
  // Whether the journal holds any entry of `kind`, read from the file (not kept).
  bool HoldsFed(std::string_view kind);
  static constexpr std::size_t kFedKeptAtMost = 100'000;
  void RecordFed(std::span<const FedJournal::Entry> entries, bool accepted,
                 const std::string& reason);
  void RecordFedInBooks(std::span<const FedJournal::Entry> entries);
  // Commits what is recorded of the fed and not yet committed.
  void CommitFed();

 private:
  struct FedKind {
    bool kept = false;  // whether `by_key` holds every row of `fed` of the kind (see FindFed)
    std::unordered_map<std::string, Entry> by_key;  // over those rows, every reply's entries
  };
  FedKind& FedOfKind(std::string_view kind);
  // Reads what the journal holds of `kind` into `known`; the number of replies' entries read.
  std::size_t Load(std::string_view kind, FedKind& known);
  // Moves the replies' entries of `kind` into the table `fed`, the later of one key standing.
  void Fold(std::string_view kind);
  // Keeps what was recorded of `entries` (with `accepted`) for the kinds asked about.
  void Remember(std::span<const FedJournal::Entry> entries, bool accepted);
  // Records one reply's `entries`, with what the server said of them, as one row.
  void AddReply(std::span<const FedJournal::Entry> entries, std::string_view outcome,
                std::string_view reason);

  // `exists`: whether the file was there before opening.
  Journal(const std::filesystem::path& path, bool read_only, bool exists, std::string server,
          std::string company);

  std::optional<JournalLock> lock_;
  std::string where_;
  std::string server_;
  std::string company_;
  sqlite::Database db_;
  std::unique_ptr<sqlite::Statement> find_fed_;
  std::unique_ptr<sqlite::Statement> add_reply_;
  // What is fed is recorded in a transaction that is committed every few replies (RecordFed).
  std::optional<sqlite::Transaction> fed_;
  int fed_replies_ = 0;
  std::unordered_map<std::string, FedKind> fed_kinds_;
  std::chrono::steady_clock::time_point fed_since_;
  bool read_only_;
};

}  // namespace lirvo::sync::detail
