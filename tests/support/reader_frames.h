// Readers in place of lirvo-mdb-reader, for the Access files no fixture is: frames as the reader
// writes them, and a reader that serves the tables of an SQLite file as an Access file's.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lirvo::test {

// A frame as lirvo-mdb-reader writes it: a 4-byte little-endian length, a kind, the fields.
std::string Frame(char kind, const std::vector<std::optional<std::string>>& fields);

// While it lives, $LIRVO_MDB_READER names a script in `folder` that answers every Access file's
// "tables" and "rows" with the tables of the SQLite file `sqlite` (their values as SQLite gives
// them as text, NULL as null), so `access:ANY.mdb` reads as that file. Commands the test starts
// inherit it.
class SqliteAsAccessReader {
 public:
  SqliteAsAccessReader(const std::filesystem::path& folder, const std::string& sqlite);
  ~SqliteAsAccessReader();
  SqliteAsAccessReader(const SqliteAsAccessReader&) = delete;
  SqliteAsAccessReader& operator=(const SqliteAsAccessReader&) = delete;
};

}  // namespace lirvo::test
