// The file check made before a sales database is read (see header_check.h).
#include "header_check.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

#include <lirvo/modTally.h>

namespace lirvo::access {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

// The header of an Access database: its first page starts with these bytes, and the format
// version at offset 0x14 gives the page size (2048 bytes for Jet 3, 4096 from Jet 4 on).
void CheckDatabaseFile(const std::filesystem::path& file) {
  const std::string name = file.string();
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": no such file");
  }
  if (!std::filesystem::is_regular_file(file, error)) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": not a file");
  }
  // Ask the system whether the file can be read, for its reason when not.
  if (std::FILE* probe = std::fopen(name.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": " + std::strerror(errno));
  }
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (!error && size == 0) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": the file is empty");
  }
  std::array<char, 0x15> header{};
  std::ifstream in(file, std::ios::binary);
  in.read(header.data(), header.size());
  const std::string_view text(header.data(), header.size());
  const bool access =
      in.gcount() == static_cast<std::streamsize>(header.size()) &&
      text.substr(0, 4) == std::string_view("\0\1\0\0", 4) &&
      (text.substr(4, 15) == "Standard Jet DB" || text.substr(4, 15) == "Standard ACE DB");
  if (!access) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": not an Access database");
  }
  const std::uintmax_t page = header[0x14] == 0 ? 2048 : 4096;
  if (!error && size % page != 0) {
    throw Failure(FailureNumber::kDatabase,
                  "cannot open " + name + ": the file is cut short or damaged (" +
                      std::to_string(size) + " bytes is not a whole number of " +
                      std::to_string(page) + "-byte pages)");
  }
}

}  // namespace lirvo::access
