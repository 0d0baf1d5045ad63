#include "standin_store.h"

#include <sqlite3.h>

#include <stdexcept>

namespace lirvo::test {

namespace {

struct Finalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// A statement with text parameters bound in order; throws naming the file on any error.
class Query {
 public:
  Query(sqlite3* db, const std::string& path, const char* sql,
        const std::vector<std::string>& parameters)
      : db_(db), path_(path) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
      Fail();
    }
    statement_.reset(raw);
    int index = 1;  // binds count from 1
    for (const std::string& parameter : parameters) {
      sqlite3_bind_text(raw, index++, parameter.c_str(), static_cast<int>(parameter.size()),
                        SQLITE_TRANSIENT);
    }
  }

  bool Next() {
    const int result = sqlite3_step(statement_.get());
    if (result == SQLITE_ROW) {
      return true;
    }
    if (result != SQLITE_DONE) {
      Fail();
    }
    return false;
  }

  // Columns count from 0.
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_.get(), column);
    return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
  }
  long long Int(int column) const { return sqlite3_column_int64(statement_.get(), column); }

 private:
  [[noreturn]] void Fail() const {
    throw std::runtime_error("tally-standin store " + path_ + ": " + sqlite3_errmsg(db_));
  }

  sqlite3* db_;
  std::string path_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

}  // namespace

std::optional<std::string> StoredMaster::Value(const std::string& path) const {
  for (const auto& [element, value] : values) {
    if (element == path) {
      return value;
    }
  }
  return std::nullopt;
}

void StandinStore::Close::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

StandinStore::StandinStore(const std::string& path) : path_(path) {
  sqlite3* raw = nullptr;
  const int result = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  db_.reset(raw);
  if (result != SQLITE_OK) {
    throw std::runtime_error("cannot open tally-standin store " + path + ": " +
                             (raw != nullptr ? sqlite3_errmsg(raw) : "out of memory"));
  }
  sqlite3_busy_timeout(raw, 5000);
  Query check(raw, path_, "SELECT count(*) FROM companies", {});
  check.Next();
}

StandinStore::~StandinStore() = default;

std::vector<std::string> StandinStore::Companies() const {
  std::vector<std::string> names;
  Query query(db_.get(), path_, "SELECT name FROM companies ORDER BY id", {});
  while (query.Next()) {
    names.push_back(query.Text(0));
  }
  return names;
}

std::vector<std::string> StandinStore::Masters(const std::string& company,
                                               const std::string& kind) const {
  std::vector<std::string> names;
  Query query(db_.get(), path_,
              "SELECT m.name FROM masters m JOIN companies c ON c.id = m.company_id "
              "WHERE c.name = ?1 AND m.kind = ?2 ORDER BY m.id",
              {company, kind});
  while (query.Next()) {
    names.push_back(query.Text(0));
  }
  return names;
}

std::optional<StoredMaster> StandinStore::Master(const std::string& company,
                                                 const std::string& kind,
                                                 const std::string& name) const {
  Query query(db_.get(), path_,
              "SELECT m.id, m.name, m.parent FROM masters m JOIN companies c "
              "ON c.id = m.company_id WHERE c.name = ?1 AND m.kind = ?2 AND m.name = ?3",
              {company, kind, name});
  if (!query.Next()) {
    return std::nullopt;
  }
  StoredMaster master{query.Text(1), query.Text(2), {}};
  Query values(db_.get(), path_,
               "SELECT element, value FROM master_values WHERE master_id = ?1 ORDER BY position",
               {std::to_string(query.Int(0))});
  while (values.Next()) {
    master.values.emplace_back(values.Text(0), values.Text(1));
  }
  return master;
}

std::vector<StoredVoucher> StandinStore::Vouchers(const std::string& company) const {
  std::vector<StoredVoucher> vouchers;
  std::vector<long long> ids;
  Query query(db_.get(), path_,
              "SELECT v.id, remote_id, guid, date, type, number, reference, party, narration "
              "FROM vouchers v JOIN companies c ON c.id = v.company_id WHERE c.name = ?1 "
              "ORDER BY v.id",
              {company});
  while (query.Next()) {
    ids.push_back(query.Int(0));
    vouchers.push_back({query.Text(1),
                        query.Text(2),
                        query.Text(3),
                        query.Text(4),
                        query.Text(5),
                        query.Text(6),
                        query.Text(7),
                        query.Text(8),
                        {}});
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    Query entries(db_.get(), path_,
                  "SELECT kind, name, amount, deemed_positive, actual_qty, billed_qty, rate "
                  "FROM voucher_entries WHERE voucher_id = ?1 ORDER BY position",
                  {std::to_string(ids[i])});
    while (entries.Next()) {
      vouchers[i].entries.push_back({entries.Text(0), entries.Text(1), entries.Text(2),
                                     entries.Text(3), entries.Text(4), entries.Text(5),
                                     entries.Text(6)});
    }
  }
  return vouchers;
}

long long StandinStore::CountMasters(const std::string& company, const std::string& kind) const {
  Query query(db_.get(), path_,
              "SELECT count(*) FROM masters m JOIN companies c ON c.id = m.company_id "
              "WHERE c.name = ?1 AND (?2 = '' OR m.kind = ?2)",
              {company, kind});
  query.Next();
  return query.Int(0);
}

long long StandinStore::CountVouchers(const std::string& company) const {
  Query query(db_.get(), path_,
              "SELECT count(*) FROM vouchers v JOIN companies c ON c.id = v.company_id "
              "WHERE c.name = ?1",
              {company});
  query.Next();
  return query.Int(0);
}

}  // namespace lirvo::test
