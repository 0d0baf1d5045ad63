// The sorted spool of a source's vouchers: records added in any order come back in the order of
// their keys, across chunks and blocks, whatever ranges are asked for.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "sorted_file.h"

namespace lirvo::feed {
namespace {

using ::testing::HasSubstr;
using Record = std::pair<std::int64_t, std::string>;

// What Next gives from `from` to `to`.
std::vector<Record> Read(SortedFile& file, std::int64_t from, std::int64_t to) {
  std::vector<Record> read;
  file.Seek(from);
  while (const auto next = file.Next(to)) {
    read.emplace_back(next->first, std::string(next->second));
  }
  return read;
}

// Of `added` (in the order added), those keyed from `from` to `to`, by key, equal keys as added.
std::vector<Record> Expected(std::vector<Record> added, std::int64_t from, std::int64_t to) {
  std::stable_sort(added.begin(), added.end(),
                   [](const Record& a, const Record& b) { return a.first < b.first; });
  std::vector<Record> expected;
  for (Record& record : added) {
    if (record.first >= from && record.first <= to) {
      expected.push_back(std::move(record));
    }
  }
  return expected;
}

TEST(SortedFile, GivesRecordsByKeyAcrossChunksForEveryRangeAskedFor) {
  // Chunks of 200 KB: some twenty of them, each of several 64 KB blocks.
  SortedFile file("the test's spool", 200 * 1024);
  std::vector<Record> added;
  std::uint64_t random = 12345;
  for (int i = 0; i < 40'000; ++i) {
    random = random * 6364136223846793005ULL + 1442695040888963407ULL;
    const auto key = static_cast<std::int64_t>((random >> 33) % 5'000);  // many share a key
    std::string record = "record " + std::to_string(i) + std::string((random >> 20) % 150, 'x');
    if (i == 777) {
      record = std::string(300'000, 'L');  // larger than a block and than a chunk
    }
    file.Add(key, record);
    added.emplace_back(key, std::move(record));
  }
  EXPECT_EQ(Read(file, 0, 5'000), Expected(added, 0, 5'000));
  // Ranges one after another, with gaps, as the feed walks days: each goes on from the last.
  for (std::int64_t from = 0; from < 5'000; from += 700) {
    EXPECT_EQ(Read(file, from, from + 400), Expected(added, from, from + 400)) << from;
  }
  // Back to an earlier key, and to one far ahead: both start from the file again.
  EXPECT_EQ(Read(file, 1'234, 1'300), Expected(added, 1'234, 1'300));
  EXPECT_EQ(Read(file, 10, 20), Expected(added, 10, 20));
  EXPECT_EQ(Read(file, 4'990, 6'000), Expected(added, 4'990, 6'000));
  // A range stopped part way goes on from where it stopped.
  file.Seek(2'000);
  const auto first = file.Next(2'100);
  ASSERT_TRUE(first);
  EXPECT_EQ(Read(file, first->first + 1, 2'100), Expected(added, first->first + 1, 2'100));
  // Records added once reading has begun are read with the others.
  file.Add(3, "added late");
  added.emplace_back(3, "added late");
  EXPECT_EQ(Read(file, 0, 100), Expected(added, 0, 100));

  // Cleared, it holds nothing, and takes records again.
  file.Clear();
  EXPECT_TRUE(Read(file, 0, 10'000).empty());
  file.Add(5, "five");
  file.Add(2, "two");
  EXPECT_EQ(Read(file, 0, 10), (std::vector<Record>{{2, "two"}, {5, "five"}}));
}

// A TMPDIR that is no folder: the file cannot be made, and the message says where and what to do.
TEST(SortedFile, SaysWhereItCouldNotBeMade) {
  const char* was = std::getenv("TMPDIR");
  const std::string saved = was ? was : "";
  ::setenv("TMPDIR", "/nonexistent/lirvo-test", 1);
  SortedFile file("the test's spool", 16);
  try {
    file.Add(1, "more than sixteen bytes of record");
    ADD_FAILURE() << "no failure";
  } catch (const modTally::Failure& failure) {
    EXPECT_EQ(failure.kind(), modTally::FailureKind::File);
    EXPECT_THAT(failure.what(), HasSubstr("cannot create the test's spool in "
                                          "/nonexistent/lirvo-test: "));
    EXPECT_THAT(failure.what(), HasSubstr("set TMPDIR to a folder that can be written"));
  }
  was ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
}

}  // namespace
}  // namespace lirvo::feed
