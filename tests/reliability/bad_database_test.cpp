// Sales databases that cannot be used: cut short, damaged, not a database at all, unreadable.
// Each gives a failure that names the file before anything is posted, through the library and
// through the lirvo command, and the process lives on.
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>
#include <lirvo/transfer.h>

#include "raw_server.h"

namespace {

namespace fs = std::filesystem;
using lirvo::test::RawServer;
using lirvo::test::TempDir;
using testing::HasSubstr;

const fs::path kSample = fs::path(LIRVO_TEST_DATA_DIR) / "SampleData.mdb";
constexpr std::size_t kPage = 4096;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() & 0xff);
  }
  return bytes;
}

// The sample with one byte changed.
std::string SampleWith(std::size_t offset, char value) {
  std::string bytes = Bytes(kSample);
  bytes.at(offset) = value;
  return bytes;
}

struct BadDatabase {
  const char* what;
  std::function<void(const fs::path&)> make;
  const char* reason;  // what the failure tells the user about the file
};

// Offset 0x37 of a table definition page is the high byte of the reference to the table's page
// usage map; pointing it far away made libmdb crash. Page 2 defines the catalog, page 24 SalesMst.
const BadDatabase kBadDatabases[] = {
    {"cut inside a page (libmdb looped for ever on it)",
     [](const fs::path& f) { Write(f, Bytes(kSample).substr(0, 26 * kPage + 1024)); }, "cut short"},
    {"cut to whole pages, the rows' pages lost",
     [](const fs::path& f) { Write(f, Bytes(kSample).substr(0, 26 * kPage)); }, "damaged"},
    {"cut after the header page",
     [](const fs::path& f) { Write(f, Bytes(kSample).substr(0, kPage)); }, "damaged"},
    {"catalog's page usage map damaged (libmdb crashed on it)",
     [](const fs::path& f) { Write(f, SampleWith(2 * kPage + 0x37, '\xff')); }, "damaged"},
    {"SalesMst's page usage map damaged (libmdb crashed on it)",
     [](const fs::path& f) { Write(f, SampleWith(24 * kPage + 0x37, '\xff')); }, "damaged"},
    {"an Access header over random pages",
     [](const fs::path& f) {
       Write(f, Bytes(kSample).substr(0, kPage) + RandomBytes(27 * kPage, 7));
     },
     "damaged"},
    {"random bytes", [](const fs::path& f) { Write(f, RandomBytes(28 * kPage, 11)); },
     "not an Access database"},
    {"an empty file", [](const fs::path& f) { Write(f, ""); }, "empty"},
    {"a directory", [](const fs::path& f) { fs::create_directory(f); }, "not a file"},
    {"a text file", [](const fs::path& f) { Write(f, "PartyName,Amount\r\nAnand,1000\r\n"); },
     "not an Access database"},
    {"missing", [](const fs::path&) {}, "no such file"},
};

TEST(BadDatabase, EachFailsNamingTheFileBeforeAnythingIsPosted) {
  const TempDir dir("bad-database");
  RawServer server = RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE/>"));
  modTally::TallyUrl = server.url();
  for (std::size_t i = 0; i < std::size(kBadDatabases); ++i) {
    const BadDatabase& bad = kBadDatabases[i];
    const fs::path file = dir.File("bad-" + std::to_string(i) + ".mdb");
    bad.make(file);
    try {
      lirvo::demo::DataToTally("Demo Trading Co", nullptr, file);
      ADD_FAILURE() << bad.what << ": the transfer ran";
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.number(), modTally::FailureNumber::kDatabase) << bad.what;
      EXPECT_THAT(failure.description(), HasSubstr(file.string())) << bad.what;
      EXPECT_THAT(failure.description(), HasSubstr(bad.reason)) << bad.what;
    }
  }
  EXPECT_TRUE(server.requests().empty());

  // The sample itself still goes through after all that.
  const auto result = lirvo::demo::DataToTally("Demo Trading Co", nullptr, kSample);
  EXPECT_GT(result.posted, 0);
  EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(result.posted));
}

TEST(BadDatabase, TheCommandReportsTheFileAndExitsWithFailure) {
  const TempDir dir("bad-database-command");
  RawServer server = RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE/>"));
  for (std::size_t i = 0; i < std::size(kBadDatabases); ++i) {
    const BadDatabase& bad = kBadDatabases[i];
    const fs::path file = dir.File("bad database " + std::to_string(i) + ".mdb");
    bad.make(file);
    const auto run =
        lirvo::test::RunCommand("LIRVO_TALLY_URL=" + server.url() + " " + LIRVO_CLI_PATH +
                                " transfer --company 'Demo' --db '" + file.string() + "'");
    EXPECT_EQ(run.exit_code, 1) << bad.what << "\n" << run.err;
    EXPECT_THAT(run.err, HasSubstr(file.string())) << bad.what;
  }
  EXPECT_TRUE(server.requests().empty());
}

// Root reads a file whatever its permission bits, so as root the read is tried in a child that
// has become the unprivileged user "nobody". Gives the failure's number and description.
std::pair<int, std::string> FailureReading(const fs::path& file, const std::string& url) {
  const auto read = [&] {
    modTally::TallyUrl = url;
    try {
      lirvo::demo::DataToTally("Demo Trading Co", nullptr, file);
    } catch (const modTally::Failure& failure) {
      return std::pair(failure.number(), failure.description());
    }
    return std::pair(0, std::string("the transfer ran"));
  };
  if (geteuid() != 0) {
    return read();
  }
  std::array<int, 2> pipe{};
  if (pipe2(pipe.data(), O_CLOEXEC) != 0) {
    return {-1, "no pipe"};
  }
  const pid_t child = fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    std::string report = "cannot become nobody";
    int number = -1;
    if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) {
      std::tie(number, report) = read();
    }
    const std::string message = std::to_string(number) + "\n" + report;
    const bool written =
        write(pipe[1], message.data(), message.size()) == static_cast<ssize_t>(message.size());
    _exit(written ? 0 : 1);
  }
  close(pipe[1]);
  std::string message;
  std::array<char, 512> buffer{};
  for (ssize_t got = 0; (got = ::read(pipe[0], buffer.data(), buffer.size())) > 0;) {
    message.append(buffer.data(), static_cast<std::size_t>(got));
  }
  close(pipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  const std::size_t newline = message.find('\n');
  if (newline == std::string::npos) {
    return {-1, "the child reported nothing"};
  }
  return {std::stoi(message.substr(0, newline)), message.substr(newline + 1)};
}

TEST(BadDatabase, UnreadableFileFailsNamingTheFile) {
  const TempDir dir("bad-database-unreadable");
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read |
                                  fs::perms::others_exec | fs::perms::group_read |
                                  fs::perms::group_exec);
  const fs::path file = dir.File("SampleData.mdb");
  fs::copy_file(kSample, file);
  fs::permissions(file, fs::perms::none);
  RawServer server = RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE/>"));

  const auto [number, description] = FailureReading(file, server.url());
  EXPECT_EQ(number, modTally::FailureNumber::kDatabase) << description;
  EXPECT_THAT(description, HasSubstr(file.string()));
  EXPECT_THAT(description, HasSubstr("Permission denied"));
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace
