// The journal of what is fed from a source: a reply's entries recorded many to a statement, in
// their order, and what is found in the books recorded only where the journal says otherwise.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <lirvo/sqlite.h>
#include <lirvo/sync/fed_journal.h>

#include "raw_server.h"

namespace {

using lirvo::sync::FedJournal;

struct Row {
  std::string digest;
  std::string outcome;
  std::string reason;
};

// The rows of `fed` for `kind`, by key.
std::map<std::string, Row> FedRows(const std::filesystem::path& journal, const std::string& kind) {
  lirvo::sqlite::Database db(journal.string(), true);
  lirvo::sqlite::Statement query =
      db.Prepare("SELECT key, digest, outcome, reason FROM fed WHERE kind = ?1");
  query.Bind(1, kind);
  std::map<std::string, Row> rows;
  while (query.Step()) {
    rows[query.Text(0)] = {query.Text(1), query.Text(2), query.Text(3)};
  }
  return rows;
}

// Keys and digests that outlive the entries viewing them.
struct Entries {
  std::vector<std::string> keys, digests;
  std::vector<FedJournal::Entry> entries;
  void Add(std::string key, std::string digest) {
    keys.push_back(std::move(key));
    digests.push_back(std::move(digest));
  }
  std::vector<FedJournal::Entry>& Of(std::string_view kind) {
    entries.clear();
    for (std::size_t i = 0; i < keys.size(); ++i) {
      entries.push_back({kind, keys[i], digests[i]});
    }
    return entries;
  }
};

TEST(FedJournal, RecordsEveryEntryOfALargeReplyAndTheLastOfOneKey) {
  const lirvo::test::TempDir folder("lirvo-fed-journal");
  const auto path = folder.File("journal.sqlite");
  {
    FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
    // More entries than one statement takes, and not a multiple of it; "K7" comes twice.
    Entries reply;
    for (int i = 0; i < 75; ++i) {
      reply.Add("K" + std::to_string(i), "d" + std::to_string(i));
    }
    reply.Add("K7", "d7-again");
    journal.Record(reply.Of("sales"), false, "refused");
    Entries one;
    one.Add("K3", "d3");
    journal.Record(one.Of("sales"), true, "");
    journal.Record(one.Of("receipts"), true, "");
    EXPECT_TRUE(journal.Accepted({"sales", "K3", "d3"}));
    EXPECT_FALSE(journal.Accepted({"sales", "K4", "d4"}));  // rejected
    EXPECT_FALSE(journal.Accepted({"sales", "K3", "other"}));
  }
  std::map<std::string, Row> sales = FedRows(path, "sales");
  ASSERT_EQ(sales.size(), 75u);
  for (int i = 0; i < 75; ++i) {
    const std::string key = "K" + std::to_string(i);
    SCOPED_TRACE(key);
    const Row& row = sales[key];
    EXPECT_EQ(row.digest, i == 7 ? "d7-again" : "d" + std::to_string(i));
    EXPECT_EQ(row.outcome, i == 3 ? "accepted" : "rejected");
    EXPECT_EQ(row.reason, i == 3 ? "" : "refused");
  }
  EXPECT_EQ(FedRows(path, "receipts").size(), 1u);
}

TEST(FedJournal, FoundInTheBooksChangesOnlyWhatTheJournalHoldsOtherwise) {
  const lirvo::test::TempDir folder("lirvo-fed-journal");
  const auto path = folder.File("journal.sqlite");
  FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
  Entries sent;
  sent.Add("A", "a");  // accepted, found unchanged: left as recorded
  sent.Add("B", "b");  // accepted, found with another digest
  journal.Record(sent.Of("ledgers"), true, "");
  Entries refused;
  refused.Add("C", "c");  // rejected, found after all
  journal.Record(refused.Of("ledgers"), false, "refused");
  Entries found;
  found.Add("A", "a");
  found.Add("B", "b2");
  found.Add("C", "c");
  for (int i = 0; i < 40; ++i) {  // never sent
    found.Add("N" + std::to_string(i), "n");
  }
  journal.RecordInBooks(found.Of("ledgers"));
  std::map<std::string, Row> rows = FedRows(path, "ledgers");
  ASSERT_EQ(rows.size(), 43u);
  EXPECT_EQ(rows["A"].reason, "");
  EXPECT_EQ(rows["B"].digest, "b2");
  EXPECT_EQ(rows["B"].reason, "found in the books");
  EXPECT_EQ(rows["C"].outcome, "accepted");
  EXPECT_EQ(rows["C"].reason, "found in the books");
  EXPECT_EQ(rows["N39"].outcome, "accepted");
}

}  // namespace
