// What the commands that go over the whole table (sync, verify) share: the company they work in,
// the --report CSV file, and the line that says how many report rows the terminal did not show.
#pragma once

#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include <lirvo/modTally.h>

namespace lirvo::cli {

// The company given on the command line, else the server's current one (asked at `url` within
// the query time limits). Nothing, after saying why on stderr, when the server cannot be asked or
// names no current company.
std::optional<std::string> CompanyToUse(const std::string& given, const modTally::Server& server);

// A whole number from `low` to `high`: anything else is named in one short line ("a whole number
// from 1 to 500, not \"abc\"").
CLI::Validator WholeNumber(long low, long high);

// A day of the calendar written YYYYMMDD.
CLI::Validator CalendarDate();

// A field of a CSV line, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& value);

// The --report file: every row worth a look, as CSV; the first 20 of them shown on the terminal.
class ReportFile {
 public:
  // Opens `path` (none when empty), truncating it, and writes `header` as its first line. False,
  // after saying why on stderr, when it cannot be written.
  bool Open(const std::string& path, const char* header);
  // One row: `csv` (its fields, CsvField each, joined by commas) for the file, `line` for the
  // terminal.
  void Add(const std::string& csv, std::string line);
  // Prints the lines kept, then "<prefix>and N more (all in <path>)" (or "(see --report)" without
  // a file) when `total` is more than those, flushes `out` and closes the file. False, after
  // saying so on stderr, when writing the file failed.
  bool Finish(std::ostream& out, const char* prefix, long total);

 private:
  static constexpr std::size_t kShown = 20;
  std::string path_;
  std::ofstream file_;
  std::vector<std::string> shown_;
};

}  // namespace lirvo::cli
