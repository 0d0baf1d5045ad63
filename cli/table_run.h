// What the commands that go over the whole table (sync, verify) share: the company they work in,
// the --report CSV file, and the line that says how many report rows the terminal did not show.
#pragma once

#include <chrono>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include <lirvo/modTally.h>
#include <lirvo/source.h>

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

// The dates a command takes rows of: --from and --to (YYYYMMDD, either alone) or --year (an
// Indian financial year, 1 April to 31 March, written 2016-17), one or the other.
struct DateRangeValues {
  std::string from;
  std::string to;
  std::string year;
};
void AddDateRangeOptions(CLI::App& command, DateRangeValues& values);
// The range `values` gives; nothing when none was given. Throws CLI::ValidationError for --year
// with --from or --to, or --from after --to.
std::optional<source::DateRange> RangeOf(const DateRangeValues& values);
// `day` written YYYYMMDD.
std::string Yyyymmdd(std::chrono::year_month_day day);

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
