#include "standin_store.h"

#include <string>

namespace lirvo::test {

namespace {

// Narrows masters or vouchers to the company named ?1.
const std::string kOfCompany = " JOIN companies c ON c.id = company_id WHERE c.name = ?1";

std::vector<std::string> Column(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::string> column;
  for (const auto& row : rows) {
    column.push_back(row.at(0));
  }
  return column;
}

sqlite::OpenOptions ReadOnly(const std::string& path) {
  sqlite::OpenOptions options;
  options.read_only = true;
  options.name = "tally-standin store " + path;
  return options;
}

}  // namespace

std::optional<std::string> StoredMaster::Value(const std::string& path) const {
  for (const auto& [element, value] : values) {
    if (element == path) {
      return value;
    }
  }
  return std::nullopt;
}

StandinStore::StandinStore(const std::string& path) : db_(path, ReadOnly(path)) {
  Rows("SELECT count(*) FROM companies");  // fails now when the file is not a store
}

std::vector<StandinStore::Row> StandinStore::Rows(const std::string& sql,
                                                  const Row& parameters) const {
  sqlite::Statement statement = db_.Prepare(sql);
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    statement.Bind(static_cast<int>(i) + 1, parameters[i]);
  }
  std::vector<Row> rows;
  while (statement.Step()) {
    Row& row = rows.emplace_back();
    for (int column = 0; column < statement.Columns(); ++column) {
      row.push_back(statement.Text(column));
    }
  }
  return rows;
}

std::vector<std::string> StandinStore::Companies() const {
  return Column(Rows("SELECT name FROM companies ORDER BY id"));
}

std::vector<std::string> StandinStore::Masters(const std::string& company,
                                               const std::string& kind) const {
  return Column(Rows("SELECT m.name FROM masters m" + kOfCompany +
                         " AND kind = ?2 AND NOT predefined ORDER BY m.id",
                     {company, kind}));
}

std::optional<StoredMaster> StandinStore::Master(const std::string& company,
                                                 const std::string& kind,
                                                 const std::string& name) const {
  const auto found = Rows(
      "SELECT m.id, m.name, parent FROM masters m" + kOfCompany + " AND kind = ?2 AND m.name = ?3",
      {company, kind, name});
  if (found.empty()) {
    return std::nullopt;
  }
  StoredMaster master{found[0][1], found[0][2], {}};
  for (const Row& row : Rows("SELECT element, value FROM master_values WHERE master_id = ?1 "
                             "ORDER BY position",
                             {found[0][0]})) {
    master.values.emplace_back(row[0], row[1]);
  }
  return master;
}

std::vector<StoredVoucher> StandinStore::Vouchers(const std::string& company) const {
  std::vector<StoredVoucher> vouchers;
  for (const Row& v : Rows("SELECT v.id, remote_id, guid, date, type, reference, party FROM "
                           "vouchers v" +
                               kOfCompany + " ORDER BY v.id",
                           {company})) {
    StoredVoucher& voucher =
        vouchers.emplace_back(StoredVoucher{v[1], v[2], v[3], v[4], v[5], v[6], {}});
    for (const Row& e : Rows("SELECT kind, name, amount, actual_qty, rate FROM voucher_entries "
                             "WHERE voucher_id = ?1 AND kind <> 'batch' ORDER BY position",
                             {v[0]})) {
      voucher.entries.push_back({e[0], e[1], e[2], e[3], e[4]});
    }
  }
  return vouchers;
}

long long StandinStore::CountMasters(const std::string& company, const std::string& kind) const {
  return std::stoll(Rows("SELECT count(*) FROM masters" + kOfCompany +
                             " AND (?2 = '' OR kind = ?2) AND NOT predefined",
                         {company, kind})[0][0]);
}

long long StandinStore::CountVouchers(const std::string& company) const {
  return std::stoll(Rows("SELECT count(*) FROM vouchers" + kOfCompany, {company})[0][0]);
}

}  // namespace lirvo::test
