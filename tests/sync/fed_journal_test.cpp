// The journal of what is fed from a source: a reply's entries recorded as one row, read back in
// their order, and what is found in the books recorded only where the journal says otherwise.
#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <lirvo/modTally.h>
#include <lirvo/sqlite.h>
#include <lirvo/sync/fed_journal.h>

#include "raw_server.h"

namespace {

using lirvo::sync::FedJournal;

// Records `keys` (each with the digest "d" + key) of the kind "sales".
void Record(FedJournal& journal, const std::vector<std::string>& keys, bool accepted,
            bool in_books = false, const std::string& digest = "d") {
  std::vector<std::string> digests;
  for (const std::string& key : keys) {
    digests.push_back(digest + key);
  }
  std::vector<FedJournal::Entry> entries;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    entries.push_back({"sales", keys[i], digests[i]});
  }
  in_books ? journal.RecordInBooks(entries)
           : journal.Record(entries, accepted, accepted ? "" : "refused");
}

// The same in a new journal and in one whose table was made with the server and company leading
// its key, as older versions made it; a second company's entries of the same keys stay apart.
TEST(FedJournal, RecordsEveryEntryOfALargeReplyAndChangesOnlyWhatItHoldsOtherwise) {
  for (const bool older : {false, true}) {
    SCOPED_TRACE(older ? "a journal of the older key order" : "a new journal");
    const lirvo::test::TempDir folder("lirvo-fed-journal");
    const auto path = folder.File("journal.sqlite");
    if (older) {
      lirvo::sqlite::Database(path.string(), false)
          .Execute(
              "CREATE TABLE fed(server TEXT NOT NULL, company TEXT NOT NULL, kind TEXT NOT NULL,"
              " key TEXT NOT NULL, digest TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT "
              "NULL, recorded TEXT NOT NULL, PRIMARY KEY(server, company, kind, key)) WITHOUT "
              "ROWID");
    }
    std::vector<std::string> keys;
    for (int i = 0; i < 300; ++i) {  // more than one statement takes, not a multiple of it
      keys.push_back("K" + std::to_string(i));
    }
    {
      FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
      Record(journal, keys, false);
      Record(journal, {"K7"}, false, false, "again");  // the later of one key stands
      Record(journal, {"K1", "K2"}, true);
      // Found in the books: K2 as the journal holds it, the others otherwise or not at all.
      Record(journal, {"K2"}, false, true);
      Record(journal, {"K1", "K3", "N"}, false, true, "e");
      EXPECT_TRUE(journal.Accepted({"sales", "K2", "dK2"}));
      EXPECT_FALSE(journal.Accepted({"sales", "K299", "dK299"}));
    }
    {
      FedJournal other(path, false, "http://127.0.0.1:9000", "Other Co");
      Record(other, {"K1", "K2"}, true, false, "o");
      EXPECT_TRUE(other.Accepted({"sales", "K1", "oK1"}));
      EXPECT_FALSE(other.Accepted({"sales", "K3", "eK3"}));
    }
    lirvo::sqlite::Database db(path.string(), true);
    lirvo::sqlite::Statement rows = db.Prepare(
        "SELECT company || ' ' || key, digest || ' ' || outcome || ' ' || reason FROM fed_entries");
    std::map<std::string, std::string> fed;
    while (rows.Step()) {
      fed[rows.Text(0)] = rows.Text(1);
    }
    ASSERT_EQ(fed.size(), 303u);
    EXPECT_EQ(fed["co K299"], "dK299 rejected refused");
    EXPECT_EQ(fed["co K7"], "againK7 rejected refused");
    EXPECT_EQ(fed["co K2"], "dK2 accepted ");                    // left as it was
    EXPECT_EQ(fed["co K1"], "eK1 accepted found in the books");  // held with another digest
    EXPECT_EQ(fed["co K3"], "eK3 accepted found in the books");  // held as rejected
    EXPECT_EQ(fed["co N"], "eN accepted found in the books");
    EXPECT_EQ(fed["other co K1"], "oK1 accepted ");
  }
}

// The journal's answers follow what is recorded after a kind was first asked about (its rows are
// then kept in memory): a reply's outcome, what is found in the books, another kind apart.
TEST(FedJournal, AnswersFollowWhatIsRecordedAfterTheFirstQuestion) {
  const lirvo::test::TempDir folder("lirvo-fed-journal");
  FedJournal journal(folder.File("journal.sqlite"), false, "http://127.0.0.1:9000", "Co");
  Record(journal, {"A", "B"}, true);
  EXPECT_TRUE(journal.Accepted({"sales", "A", "dA"}));
  EXPECT_FALSE(journal.Accepted({"sales", "C", "dC"}));
  Record(journal, {"A"}, false);
  Record(journal, {"C"}, true);
  Record(journal, {"B"}, false, true, "e");  // found in the books as the source now has it
  EXPECT_FALSE(journal.Accepted({"sales", "A", "dA"}));
  EXPECT_TRUE(journal.Accepted({"sales", "C", "dC"}));
  EXPECT_TRUE(journal.Accepted({"sales", "B", "eB"}));
  EXPECT_TRUE(journal.AcceptedOtherwise({"sales", "B", "dB"}));
  EXPECT_FALSE(journal.Accepted({"receipts", "C", "dC"}));
}

// A kind of more entries than the journal keeps in memory (100,000) is moved into the table `fed`
// and sought there row by row, with the same answers, and what is found in the books is recorded
// only where the journal says otherwise.
TEST(FedJournal, AKindTooLargeToKeepIsSoughtRowByRow) {
  const lirvo::test::TempDir folder("lirvo-fed-journal");
  const auto path = folder.File("journal.sqlite");
  {
    FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
    std::vector<std::string> keys;
    for (int i = 0; i <= 100'000; ++i) {
      keys.push_back("K" + std::to_string(i));
    }
    Record(journal, keys, true);
    Record(journal, {"K5"}, false, true);       // as the journal holds it
    Record(journal, {"K6"}, false, true, "e");  // otherwise
    EXPECT_TRUE(journal.Accepted({"sales", "K5", "dK5"}));
    EXPECT_TRUE(journal.Accepted({"sales", "K6", "eK6"}));
    EXPECT_TRUE(journal.AcceptedOtherwise({"sales", "K7", "eK7"}));
    EXPECT_FALSE(journal.Accepted({"sales", "K100001", "dK100001"}));
  }
  lirvo::sqlite::Database db(path.string(), true);
  lirvo::sqlite::Statement reasons = db.Prepare(
      "SELECT key || ' ' || reason FROM fed_entries WHERE key IN ('K5', 'K6') ORDER BY key");
  ASSERT_TRUE(reasons.Step());
  EXPECT_EQ(reasons.Text(0), "K5 ");
  ASSERT_TRUE(reasons.Step());
  EXPECT_EQ(reasons.Text(0), "K6 found in the books");
  lirvo::sqlite::Statement folded = db.Prepare("SELECT count(*) FROM fed");
  ASSERT_TRUE(folded.Step());
  EXPECT_EQ(folded.Int(0), 100'001);  // moved out of the replies, sought row by row
}

// Keys are kept whatever their text, and read back as JSON says them: SQLite's own escapes, a
// character beyond the first 65,536 as a pair. A reply's entries that are not JSON are a damaged
// journal, named with what to do.
TEST(FedJournal, KeysOfAnyTextComeBackAsRecordedAndADamagedReplyIsNamed) {
  const lirvo::test::TempDir folder("lirvo-fed-journal");
  const auto path = folder.File("journal.sqlite");
  const std::vector<std::string> keys = {"Say \"hi\"", "back\\slash", "tab\tand\nline",
                                         std::string("\x01\x1f", 2), "\u00e9 \u6f22\u5b57"};
  {
    FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
    Record(journal, keys, true);
  }
  lirvo::sqlite::Database(path.string(), false)
      .Execute(
          "INSERT INTO fed_replies VALUES('http://127.0.0.1:9000', 'co', 'sales', 'accepted', '',"
          " '', '[[\"A\\nB\\/C\",\"d1\"],[\"\\u00e9\\ud83d\\ude00\",\"d2\"]]')");
  {
    FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
    for (const std::string& key : keys) {
      EXPECT_TRUE(journal.Accepted({"sales", key, "d" + key})) << key;
    }
    EXPECT_TRUE(journal.Accepted({"sales", "A\nB/C", "d1"}));
    EXPECT_TRUE(journal.Accepted({"sales", "\u00e9\U0001F600", "d2"}));
  }
  lirvo::sqlite::Database db(path.string(), false);
  std::vector<std::string> listed;
  for (lirvo::sqlite::Statement& rows = db.Query("SELECT key FROM fed_entries ORDER BY key");
       rows.Step();) {
    listed.push_back(rows.Text(0));
  }
  std::vector<std::string> all = keys;
  all.insert(all.end(), {"A\nB/C", "\u00e9\U0001F600"});
  std::sort(all.begin(), all.end());
  EXPECT_EQ(listed, all);

  db.Execute(
      "INSERT INTO fed_replies VALUES('http://127.0.0.1:9000', 'co', 'sales', 'accepted', '', '',"
      " '[[\"K1\",\"d1\"],[\"K2\"')");
  FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
  try {
    journal.Accepted({"sales", "K1", "d1"});
    ADD_FAILURE() << "a damaged reply was read";
  } catch (const modTally::Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find(path.string() + " is damaged"), std::string::npos)
        << failure.what();
    EXPECT_NE(std::string(failure.what()).find("a fresh journal is safe"), std::string::npos);
  }
}

// Journals keep digests, so their values never change: these were computed when journals were
// first written. Four texts digested together give what each gives alone, whatever their lengths.
// A reply's record is committed with the next ones': another reader of the file sees none of the
// first 31 replies, all 32 once the 32nd is recorded, and the 33rd once the journal closes.
// (Replies held a second are committed too: then the count is not checked.)
TEST(FedJournal, RepliesAreCommittedAFewAtATimeAndTheRestWhenItCloses) {
  const lirvo::test::TempDir folder("lirvo-fed-journal");
  const auto path = folder.File("journal.sqlite");
  const auto committed = [&path] {
    lirvo::sqlite::Database db(path.string(), true);
    lirvo::sqlite::Statement count = db.Prepare("SELECT count(*) FROM fed_entries");
    count.Step();
    return count.Int(0);
  };
  {
    FedJournal journal(path, false, "http://127.0.0.1:9000", "Co");
    const auto first = std::chrono::steady_clock::now();
    for (int reply = 1; reply <= 33; ++reply) {
      Record(journal, {"K" + std::to_string(reply)}, true);
      if (std::chrono::steady_clock::now() - first < std::chrono::milliseconds(900)) {
        EXPECT_EQ(committed(), reply < 32 ? 0 : 32) << "after reply " << reply;
      }
    }
  }
  EXPECT_EQ(committed(), 33);
}

TEST(FedJournal, DigestsKeepTheirValuesOneAtATimeOrFourTogether) {
  using lirvo::sync::Digest;
  EXPECT_EQ(Digest(""), "bdabe564801db1df");
  EXPECT_EQ(Digest("<VOUCHER>"), "c4f1427a5ff26274");
  EXPECT_EQ(Digest("abcdefgh"), "e3911f8c69485ed9");
  EXPECT_EQ(Digest("Sales of 1234.50 to \u0936\u094d\u0930\u0940"), "5d726990e351e180");

  std::vector<std::string> texts;
  std::string text;
  for (int i = 0; i < 75; ++i) {  // not a multiple of four: the last texts go alone
    texts.push_back(text);
    text += static_cast<char>('a' + i * 7 % 26);
    if (i % 10 == 9) {
      texts.push_back(std::string(3000 + static_cast<std::size_t>(i), 'x') + text);
    }
  }
  std::vector<std::string> digests{"kept"};
  lirvo::sync::AppendDigests(texts, digests);
  ASSERT_EQ(digests.size(), texts.size() + 1);
  EXPECT_EQ(digests.front(), "kept");
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(digests[i + 1], Digest(texts[i])) << "text " << i << " of " << texts[i].size();
  }
}

}  // namespace
