#include "table_run.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <limits>

#include <lirvo/sync.h>

namespace lirvo::cli {

std::optional<std::string> CompanyToUse(const std::string& given, const modTally::Server& server) {
  if (!given.empty()) {
    return given;
  }
  std::string company;
  try {
    company = transfer::CurrentCompany(server);
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
        if (!transfer::IsCalendarDate(value)) {
          return "a date is a day of the calendar written YYYYMMDD, not \"" + value + "\"";
        }
        return {};
      },
      "YYYYMMDD");
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
