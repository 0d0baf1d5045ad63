// A temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace lirvo::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix) {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace lirvo::test
