// Sales databases that cannot be used: cut short, damaged, not a database at all, missing.
// Each gives a failure that names the file before anything is posted, and the process lives on
// (the lirvo command reports such failures as the transfer tests show).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>
#include <lirvo/salesdb.h>
#include <lirvo/transfer.h>

#include "raw_server.h"
#include "standin_process.h"

namespace {

namespace fs = std::filesystem;
using lirvo::test::RawServer;
using lirvo::test::ReadFile;
using lirvo::test::WriteFile;
using testing::HasSubstr;

const fs::path kSample = fs::path(LIRVO_TEST_DATA_DIR) / "SampleData.mdb";
constexpr std::size_t kPage = 4096;

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
  std::string bytes = ReadFile(kSample);
  bytes.at(offset) = value;
  return bytes;
}

// The transfer from `file`: the failure's number and description.
std::string FailureOfTransfer(const fs::path& file) {
  try {
    lirvo::transfer::DataToTally(lirvo::test::kStandinCompany, nullptr, file);
  } catch (const modTally::Failure& failure) {
    return std::to_string(failure.number()) + " " + failure.description();
  }
  return "the transfer ran";
}

TEST(BadDatabase, EachFailsNamingTheFileBeforeAnythingIsPosted) {
  // Offset 0x37 of a table definition page is the high byte of the reference to the table's page
  // usage map; pointing it far away made libmdb crash. Page 2 defines the catalog.
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* reason;  // what the failure tells the user about the file
  } cases[] = {
      {"cut inside a page (libmdb looped for ever on it)",
       [](const fs::path& f) { WriteFile(f, ReadFile(kSample).substr(0, 26 * kPage + 1024)); },
       "cut short"},
      {"cut to whole pages, the rows' pages lost",
       [](const fs::path& f) { WriteFile(f, ReadFile(kSample).substr(0, 26 * kPage)); }, "damaged"},
      {"catalog's page usage map damaged (libmdb crashed on it)",
       [](const fs::path& f) { WriteFile(f, SampleWith(2 * kPage + 0x37, '\xff')); }, "damaged"},
      {"an Access header over random pages",
       [](const fs::path& f) {
         WriteFile(f, ReadFile(kSample).substr(0, kPage) + RandomBytes(27 * kPage, 7));
       },
       "damaged"},
      {"random bytes", [](const fs::path& f) { WriteFile(f, RandomBytes(28 * kPage, 11)); },
       "not an Access database"},
      {"an empty file", [](const fs::path& f) { WriteFile(f, ""); }, "empty"},
      {"a directory", [](const fs::path& f) { fs::create_directory(f); }, "not a file"},
      {"a text file", [](const fs::path& f) { WriteFile(f, "PartyName,Amount\r\nAnand,1\r\n"); },
       "not an Access database"},
      {"missing", [](const fs::path&) {}, "no such file"},
  };
  const lirvo::test::TempDir dir("bad-database");
  RawServer server = RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE/>"));
  modTally::TallyUrl = server.url();
  // libmdb's complaints ("offset ... is beyond EOF") stay off the terminal.
  testing::internal::CaptureStderr();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    const fs::path file = dir.File("bad database " + std::to_string(i) + ".mdb");
    cases[i].make(file);
    const std::string failure = FailureOfTransfer(file);
    EXPECT_THAT(failure, testing::StartsWith(std::to_string(modTally::FailureNumber::kDatabase)));
    EXPECT_THAT(failure, HasSubstr(file.string()));
    EXPECT_THAT(failure, HasSubstr(cases[i].reason));
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(server.requests().empty());

  // The sample itself still goes through after all that.
  const auto result = lirvo::transfer::DataToTally(lirvo::test::kStandinCompany, nullptr, kSample);
  EXPECT_GT(result.posted, 0);
  EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(result.posted));
  modTally::TallyUrl.clear();
}

// A reader that crashes, hangs or stops short (a stand-in script through $LIRVO_MDB_READER)
// fails the read at once or at the deadline, naming the file and the table.
TEST(BadDatabase, AReaderThatCrashesHangsOrStopsShortFailsInTime) {
  const struct {
    const char* script;
    std::string reason;
  } cases[] = {
      {"kill -SEGV $$", "crashed the database reader: Segmentation fault"},
      {"exec sleep 60", "made no progress for 1 s"},
      {"printf 'abc'; exit 0", "output stopped before its end"},
      {"printf '\\377\\377\\377\\377R'; exec sleep 60", "garbled"},
      {"exit 7", "ended with status 7"},
      // The table list, then a header of one column and one row, then a crash: the failure names
      // the row it was reading.
      {R"(case $1 in
            tables) printf '\014\0\0\0T\010\0\0\0SalesMst\0\0\0\0D' ;;
            *) printf '\016\0\0\0H\001\0\0\0001\001\0\0\0A\377\377\377\377\005\0\0\0R\001\0\0\0x'
               kill -SEGV $$ ;;
          esac)",
       "\"SalesMst\" of " + kSample.string() + ", row 2: the file is damaged (reading it crashed"},
  };
  const lirvo::test::TempDir dir("bad-reader");
  const fs::path script = dir.File("reader.sh");
  setenv("LIRVO_MDB_READER", script.c_str(), 1);
  setenv("LIRVO_MDB_READER_TIMEOUT", "1", 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    WriteFile(script, std::string("#!/bin/sh\n") + c.script + "\n");
    fs::permissions(script, fs::perms::owner_all);
    const auto start = std::chrono::steady_clock::now();
    std::string failure = "no failure";
    try {
      lirvo::access::SalesDatabase db(kSample);
      for (auto rows = db.Open("Select * from SalesMst"); !rows.AtEnd(); rows.MoveNext()) {
      }
    } catch (const modTally::Failure& caught) {
      failure = std::to_string(caught.number()) + " " + caught.description();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_THAT(failure, testing::StartsWith(std::to_string(modTally::FailureNumber::kDatabase)));
    EXPECT_THAT(failure, HasSubstr(kSample.string()));
    EXPECT_THAT(failure, HasSubstr(c.reason));
  }
  unsetenv("LIRVO_MDB_READER");
  unsetenv("LIRVO_MDB_READER_TIMEOUT");
}

}  // namespace
