#include "table_run.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <lirvo/sync.h>

namespace lirvo::cli {

std::optional<std::string> CompanyToUse(const std::string& given, const std::string& url) {
  if (!given.empty()) {
    return given;
  }
  std::string company;
  try {
    company = transfer::CurrentCompany(url, modTally::QueryLimits());
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return std::nullopt;
  }
  if (company.empty()) {
    std::cerr << "lirvo: the server at " << url
              << " names no current company; open one there or give --company\n";
    return std::nullopt;
  }
  return company;
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
  file_.close();
  if (!file_) {
    std::cerr << "lirvo: cannot write the report " << path_ << '\n';
    return false;
  }
  return true;
}

}  // namespace lirvo::cli
