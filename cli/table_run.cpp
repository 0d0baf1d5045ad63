#include "table_run.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>

#include <lirvo/books/sales.h>
#include <lirvo/source_layout.h>
#include <lirvo/sync.h>

namespace lirvo::cli {

std::optional<std::string> CompanyToUse(const std::string& given, const modTally::Server& server) {
  if (!given.empty()) {
    return given;
  }
  std::string company;
  try {
    company = sync::CurrentCompany(server);
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return std::nullopt;
  }
  if (company.empty()) {
    std::cerr << "lirvo: the server at " << modTally::ShownUrl(server.url)
              << " names no current company; open one there or give --company\n";
    return std::nullopt;
  }
  return company;
}

CLI::Validator WholeNumber(long low, long high) {
  const std::string what =
      high == std::numeric_limits<long>::max()
          ? "a whole number from " + std::to_string(low) + " up"
          : "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, what](const std::string& value) -> std::string {
        long number = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), number);
        if (error != std::errc() || end != value.data() + value.size() || number < low ||
            number > high) {
          return what + ", not \"" + value + "\"";
        }
        return {};
      },
      high == std::numeric_limits<long>::max() ? "N" : "N");
}

CLI::Validator CalendarDate() {
  return CLI::Validator(
      [](const std::string& value) -> std::string {
        if (!books::IsCalendarDate(value)) {
          return "a date is a day of the calendar written YYYYMMDD, not \"" + value + "\"";
        }
        return {};
      },
      "YYYYMMDD");
}

void AddDateRangeOptions(CLI::App& command, DateRangeValues& values) {
  CLI::Option* from =
      command.add_option("--from", values.from, "first date, YYYYMMDD")->check(CalendarDate());
  CLI::Option* to =
      command.add_option("--to", values.to, "last date, YYYYMMDD")->check(CalendarDate());
  command
      .add_option("--year", values.year,
                  "a financial year, 1 April to 31 March, written 2016-17 (instead of --from and "
                  "--to)")
      ->check(CLI::Validator(
          [](const std::string& year) -> std::string {
            return source::FinancialYearRange(year)
                       ? ""
                       : "a financial year is written like 2016-17 (1 April 2016 to 31 March "
                         "2017), not \"" +
                             year + "\"";
          },
          "YYYY-YY"))
      ->excludes(from)
      ->excludes(to);
}

std::optional<source::DateRange> RangeOf(const DateRangeValues& values) {
  if (!values.year.empty()) {
    return source::FinancialYearRange(values.year);
  }
  if (values.from.empty() && values.to.empty()) {
    return std::nullopt;
  }
  using namespace std::chrono;
  source::DateRange range{year_month_day(year(1), January, day(1)),
                          year_month_day(year(9999), December, day(31))};
  if (!values.from.empty()) {
    range.from = *source::ParseDate(values.from);
  }
  if (!values.to.empty()) {
    range.to = *source::ParseDate(values.to);
  }
  if (range.to < range.from) {
    throw CLI::ValidationError("--from", "--from " + values.from + " comes after --to " +
                                             values.to + ": the range would be empty");
  }
  return range;
}

std::string Yyyymmdd(std::chrono::year_month_day day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return text;
}

std::string CsvField(const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) {
    return value;
  }
  std::string quoted = "\"";
  for (const char c : value) {
    quoted += c;
    if (c == '"') {
      quoted += '"';
    }
  }
  return quoted + '"';
}

bool ReportFile::Open(const std::string& path, const char* header) {
  path_ = path;
  if (path.empty()) {
    return true;
  }
  file_.open(path, std::ios::binary | std::ios::trunc);
  if (!file_) {
    std::cerr << "lirvo: cannot write the report " << path << ": " << std::strerror(errno) << '\n';
    return false;
  }
  file_ << header << '\n';
  return true;
}

void ReportFile::Add(const std::string& csv, std::string line) {
  if (file_.is_open()) {
    file_ << csv << '\n';
  }
  if (shown_.size() < kShown) {
    shown_.push_back(std::move(line));
  }
}

bool ReportFile::Finish(std::ostream& out, const char* prefix, long total) {
  for (const std::string& line : shown_) {
    out << line << '\n';
  }
  const long shown = static_cast<long>(shown_.size());
  if (total > shown) {
    out << prefix << "and " << total - shown << " more"
        << (file_.is_open() ? " (all in " + path_ + ")" : std::string(" (see --report)")) << '\n';
  }
  out << std::flush;
  if (!file_.is_open()) {
    return true;
  }
  // A write that failed on the way (a full disk) shows when the last of it is flushed.
  errno = 0;
  file_.close();
  if (!file_) {
    std::cerr << "lirvo: cannot write the report " << path_ << ": "
              << (errno != 0 ? std::strerror(errno) : "a write to it failed") << '\n';
    return false;
  }
  return true;
}

}  // namespace lirvo::cli
