// The sync's journal: an SQLite file that records, per server address, company and VoucherID, the
// digest of the voucher as it was sent and what the server did with it; and, for one run, a spool
// of the vouchers to send kept in temporary tables of the same connection (on disk, so memory stays
// flat whatever the table's size).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace lirvo::transfer::detail {

// One prepared statement; binds count from 1, columns from 0 (as in SQLite).
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql, const std::string& where);
  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, std::int64_t number);
  // Steps once: true while a row is available. Throws modTally::Failure (kFile).
  bool Step();
  std::string Text(int column) const;
  std::int64_t Int(int column) const;
  // Resets the statement and clears its bindings.
  void Reset();
  // Resets the statement, keeping its bindings for the next step.
  void Rewind();

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const;
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
  std::string where_;
};

// A voucher waiting to be sent.
struct Spooled {
  std::int64_t seq = 0;
  long row = 0;
  std::string voucher_id;
  std::string digest;
  std::string message;  // its TALLYMESSAGE
};

class Journal {
 public:
  // Opens (creating the file and its folder) the journal at `path`; with `read_only`, opens an
  // existing journal without writing to it, or an empty one in memory when there is none. Throws
  // modTally::Failure (kFile) naming the file.
  Journal(const std::filesystem::path& path, bool read_only, std::string server,
          std::string company);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  struct Entry {
    std::string digest;
    bool accepted = false;
  };
  // What the journal holds for `voucher_id` in this server and company.
  std::optional<Entry> Find(const std::string& voucher_id);

  // The reading pass runs in one transaction of the temporary tables.
  void Begin();
  void Commit();
  // Notes that `voucher_id` is on `row`; the row it was first seen on when seen before.
  std::optional<long> Seen(const std::string& voucher_id, long row);
  void Spool(long row, const std::string& voucher_id, const std::string& digest,
             const std::string& message);
  // Up to `limit` spooled vouchers after `seq`, in the order spooled.
  std::vector<Spooled> SpooledAfter(std::int64_t seq, int limit);

  // Records the outcome of one reply for `vouchers` in one transaction, durable on return:
  // accepted, or rejected with `reason`.
  void Record(const std::vector<const Spooled*>& vouchers, bool accepted,
              const std::string& reason);

 private:
  void Execute(const char* sql);
  struct Close {
    void operator()(sqlite3* db) const;
  };
  std::string where_;
  std::string server_;
  std::string company_;
  std::unique_ptr<sqlite3, Close> db_;
  std::unique_ptr<Statement> find_, seen_, first_seen_, spool_, spooled_, record_;
};

}  // namespace lirvo::transfer::detail
