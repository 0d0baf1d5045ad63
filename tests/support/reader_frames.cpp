#include "reader_frames.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include <lirvo/sqlite.h>

namespace lirvo::test {

namespace fs = std::filesystem;

std::string Frame(char kind, const std::vector<std::optional<std::string>>& fields) {
  const auto number = [](std::string& out, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) {
      out += static_cast<char>((n >> (8 * i)) & 0xff);
    }
  };
  std::string payload;
  for (const auto& field : fields) {
    number(payload, field ? static_cast<std::uint32_t>(field->size()) : 0xffffffffu);
    payload += field.value_or("");
  }
  std::string frame;
  number(frame, static_cast<std::uint32_t>(payload.size()));
  return frame + kind + payload;
}

namespace {

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

SqliteAsAccessReader::SqliteAsAccessReader(const fs::path& folder, const std::string& sqlite) {
  sqlite::Database db(sqlite, true);
  std::vector<std::optional<std::string>> tables;
  sqlite::Statement& names =
      db.Query("SELECT name FROM sqlite_master WHERE type IN ('table', 'view') ORDER BY rowid");
  while (names.Step()) {
    tables.emplace_back(names.Text(0));
  }
  for (const auto& table : tables) {
    std::vector<std::optional<std::string>> header;
    sqlite::Statement columns = db.Prepare("SELECT name FROM pragma_table_info(?1)");
    columns.Bind(1, *table);
    while (columns.Step()) {
      header.insert(header.end(), {columns.Text(0), std::nullopt});
    }
    std::string rows;
    sqlite::Statement select = db.Prepare("SELECT * FROM \"" + *table + "\"");
    std::int64_t count = 0;
    while (select.Step()) {
      std::vector<std::optional<std::string>> row;
      for (int i = 0; i < select.Columns(); ++i) {
        row.push_back(select.OptionalText(i));
      }
      rows += Frame('R', row);
      ++count;
    }
    header.insert(header.begin(), std::to_string(count));
    Write(folder / ("rows-" + *table), Frame('H', header) + rows + Frame('D', {}));
  }
  Write(folder / "tables", Frame('T', tables) + Frame('D', {}));
  const fs::path script = folder / "reader.sh";
  Write(script, "#!/bin/sh\ncase \"$1\" in\n  tables) exec cat \"" + folder.string() +
                    "/tables\" ;;\n  rows) exec cat \"" + folder.string() +
                    "/rows-$3\" ;;\nesac\nexit 1\n");
  fs::permissions(script, fs::perms::owner_all);
  setenv("LIRVO_MDB_READER", script.c_str(), 1);
}

SqliteAsAccessReader::~SqliteAsAccessReader() {
  unsetenv("LIRVO_MDB_READER");
}

}  // namespace lirvo::test
