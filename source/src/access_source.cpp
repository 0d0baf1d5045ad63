// A source over an Access file, read through the guarded reader (lirvo/salesdb.h): libmdb runs in
// a process of its own for each table read.
#include <lirvo/modTally.h>
#include <lirvo/salesdb.h>

#include "backends.h"

namespace lirvo::source {

namespace {

template <class Step>
auto Guarded(Step step) {
  try {
    return step();
  } catch (const modTally::Failure& failure) {
    throw Error(failure.what());
  }
}

std::string SelectAll(const std::string& table) {
  return "Select * from [" + table + "]";
}

class AccessRows final : public Rows {
 public:
  AccessRows(std::string table, access::Recordset records)
      : Rows(std::move(table), records.FieldNames()), records_(std::move(records)) {}

  bool Next() override {
    return Guarded([this] {
      if (row_number_ > 0 && !records_.AtEnd()) {
        records_.MoveNext();
      }
      ++row_number_;
      if (records_.AtEnd()) {
        return false;
      }
      // The recordset's fields are the columns, in their order.
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        values_[i] = records_.Field(i);
      }
      return true;
    });
  }

 private:
  access::Recordset records_;
};

class AccessSource final : public Source {
 public:
  explicit AccessSource(const std::string& path)
      : name_("access:" + path), database_(Guarded([&] { return access::SalesDatabase(path); })) {}

  const std::string& name() const override { return name_; }
  // Each Rows is a recordset of its own, read by a reader of its own.
  bool ReadsTablesAtOnce() const override { return true; }

  std::vector<std::string> Tables() override { return database_.Tables(); }

  std::vector<std::string> Columns(const std::string& table) override {
    return Guarded([&] { return database_.Open(SelectAll(table)).FieldNames(); });
  }

  std::int64_t RowCount(const std::string& table) override {
    return Guarded([&] { return std::int64_t{database_.Open(SelectAll(table)).RecordCount()}; });
  }

  std::unique_ptr<Rows> Read(const std::string& table) override {
    return Guarded([&]() -> std::unique_ptr<Rows> {
      return std::make_unique<AccessRows>(table, database_.Open(SelectAll(table)));
    });
  }

 private:
  std::string name_;
  access::SalesDatabase database_;
};

}  // namespace

std::unique_ptr<Source> OpenAccess(const std::string& path) {
  return std::make_unique<AccessSource>(path);
}

}  // namespace lirvo::source
