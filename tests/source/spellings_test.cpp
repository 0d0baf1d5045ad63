// The feeds' memo of names met: every name added is found again, through the table's growth, and
// a name never added is never found, however close its spelling.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "spellings.h"

namespace lirvo::feed {
namespace {

TEST(Spellings, FindsWhatWasAddedAndNothingElseAsItGrows) {
  Spellings spellings;
  std::set<std::string> added;
  EXPECT_FALSE(spellings.contains("Customer 1"));
  for (int i = 0; i < 5000; ++i) {
    const std::string name = (i % 3 == 0 ? "Stock Item " : "Customer ") + std::to_string(i);
    EXPECT_TRUE(spellings.insert(name)) << name;
    added.insert(name);
    if (i % 97 == 0) {
      EXPECT_FALSE(spellings.insert(name)) << name << " added twice";
    }
  }
  EXPECT_TRUE(spellings.insert(""));
  EXPECT_EQ(spellings.size(), added.size() + 1);
  for (const std::string& name : added) {
    EXPECT_TRUE(spellings.contains(name)) << name;
    EXPECT_FALSE(spellings.contains(name + " ")) << name;
    EXPECT_FALSE(spellings.contains(name.substr(0, name.size() - 1) + "x")) << name;
  }
  EXPECT_TRUE(spellings.contains(""));
  EXPECT_FALSE(spellings.contains("customer 1"));
}

}  // namespace
}  // namespace lirvo::feed
