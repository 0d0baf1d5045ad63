// lirvo verify end to end against tally-standin: a synced table matches, a store changed behind
// Lirvo's back is reported row by row, a broken reply page stops it.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/sqlite.h>

#include "fault_proxy.h"
#include "lirvo_command.h"
#include "standin_process.h"

namespace {

namespace fs = std::filesystem;
using lirvo::test::Data;
using lirvo::test::Lirvo;
using lirvo::test::RawServer;
using lirvo::test::StandinProcess;
using lirvo::test::TempDir;
using ::testing::HasSubstr;

constexpr const char* kCompany = lirvo::test::kStandinCompany;

constexpr const char* kEmptyCollection =
    "<ENVELOPE><BODY><DATA><COLLECTION/></DATA></BODY></ENVELOPE>";

// A sales voucher in the stand-in's shape.
constexpr const char* kStandinShape =
    R"(<ENVELOPE><HEADER><VERSION>1</VERSION><STATUS>1</STATUS></HEADER><BODY><DESC/><DATA><COLLECTION>
<VOUCHER REMOTEID="SV-1" VCHTYPE="Sales" ACTION="Create"><DATE TYPE="Date">20160401</DATE>
<GUID TYPE="String">SV-1</GUID><REFERENCE TYPE="String">INV/101</REFERENCE>
<PARTYLEDGERNAME TYPE="String">Chandra &amp; Sons</PARTYLEDGERNAME>
<ALLLEDGERENTRIES.LIST><LEDGERNAME TYPE="String">Chandra &amp; Sons</LEDGERNAME><ISDEEMEDPOSITIVE TYPE="Logical">Yes</ISDEEMEDPOSITIVE><AMOUNT TYPE="Amount">-1350</AMOUNT></ALLLEDGERENTRIES.LIST>
<ALLLEDGERENTRIES.LIST><LEDGERNAME TYPE="String">Output VAT @ 12.5%</LEDGERNAME><ISDEEMEDPOSITIVE TYPE="Logical">No</ISDEEMEDPOSITIVE><AMOUNT TYPE="Amount">150</AMOUNT></ALLLEDGERENTRIES.LIST>
<ALLINVENTORYENTRIES.LIST><STOCKITEMNAME TYPE="String">Brass Lota</STOCKITEMNAME><RATE TYPE="Rate"> 600/Nos</RATE><ACTUALQTY TYPE="Quantity"> 2 Nos</ACTUALQTY><AMOUNT TYPE="Amount">1200</AMOUNT>
<ACCOUNTINGALLOCATIONS.LIST><LEDGERNAME TYPE="String">Sales @ 12.5%</LEDGERNAME><AMOUNT TYPE="Amount">1200</AMOUNT></ACCOUNTINGALLOCATIONS.LIST></ALLINVENTORYENTRIES.LIST>
</VOUCHER></COLLECTION></DATA></BODY></ENVELOPE>)";

// A collection whose one voucher holds `depth` elements nested in one another.
std::string Nested(int depth) {
  std::string text = "<ENVELOPE><BODY><DATA><COLLECTION><VOUCHER>";
  for (int i = 0; i < depth; ++i) {
    text += "<A>";
  }
  for (int i = 0; i < depth; ++i) {
    text += "</A>";
  }
  return text + "</VOUCHER></COLLECTION></DATA></BODY></ENVELOPE>";
}

// ---------------------------------------------------------------------------------------------
// End to end

void Execute(const fs::path& store, const std::string& sql) {
  lirvo::sqlite::Database(store.string(), false).Execute(sql);
}

// The lines of `text`, sorted.
std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(text.substr(at, end - at));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(Verify, WhatASyncLeftMatchesAndChangesBehindItsBackAreNamed) {
#ifdef __SANITIZE_ADDRESS__
  // Two reads of sales-20k and a sync take about two minutes under the sanitizers; the ordinary
  // build runs this case, and the cases below take the same code paths on smaller tables.
  GTEST_SKIP() << "sales-20k end to end runs in the ordinary build";
#endif
  const TempDir dir("lirvo-verify");
  const fs::path store = dir.File("books.db");
  StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", store.string(), "--company", kCompany});
  const std::string db = "--db " + Data("sales-20k.mdb");

  const auto synced =
      Lirvo(standin.url(), "sync --verify " + db + " --journal " + dir.File("journal").string());
  ASSERT_EQ(synced.exit_code, 0) << synced.out << synced.err;
  EXPECT_THAT(synced.out, HasSubstr("Documents, sales: 20000 in the source, 20000 match, 0 "
                                    "missing from the books, 0 different"));
  EXPECT_THAT(synced.out, HasSubstr("Everything the source expects is in the books."));

  // A voucher deleted, an amount altered by a paisa, a party renamed, a voucher added, a voucher
  // moved to a day of another month (read back with other documents than its row's).
  Execute(store, R"sql(
    UPDATE vouchers SET date = '20160905' WHERE remote_id = 'LV-0000005';
    DELETE FROM voucher_entries WHERE voucher_id = (SELECT id FROM vouchers WHERE remote_id = 'LV-0000001');
    DELETE FROM vouchers WHERE remote_id = 'LV-0000001';
    UPDATE voucher_entries SET amount = printf('%.2f', amount + 0.01) WHERE kind = 'inventory'
      AND voucher_id = (SELECT id FROM vouchers WHERE remote_id = 'LV-0000002');
    UPDATE vouchers SET party = 'Renamed Party' WHERE remote_id = 'LV-0000003';
    INSERT INTO vouchers(company_id, remote_id, guid, date, type, number, reference, party, narration)
      SELECT company_id, 'NOT-IN-SOURCE', guid, date, type, number, reference, party, narration
      FROM vouchers WHERE remote_id = 'LV-0000004';
    INSERT INTO voucher_entries(voucher_id, position, kind, name, master_id, amount, deemed_positive, actual_qty, billed_qty, rate) SELECT (SELECT max(id) FROM vouchers), position, kind, name,
      master_id, amount, deemed_positive, actual_qty, billed_qty, rate FROM voucher_entries
      WHERE voucher_id = (SELECT id FROM vouchers WHERE remote_id = 'LV-0000004');
  )sql");
  const fs::path report = dir.File("report.csv");
  const auto verified = Lirvo(standin.url(), "verify " + db + " --report " + report.string());
  EXPECT_EQ(verified.exit_code, 3) << verified.out << verified.err;
  EXPECT_THAT(verified.out, HasSubstr("20000 in the source, 19996 match, 1 missing from the books, "
                                      "3 different, 0 not expected: failed local checks; 1 in the "
                                      "books but not in the source"));
  EXPECT_EQ(SortedLines(lirvo::test::ReadFile(report)),
            (std::vector<std::string>{"LV-0000001,1,missing,,,",
                                      "LV-0000002,2,different,line 1 amount,1715903.37,1715903.38",
                                      "LV-0000003,3,different,party,Customer 178,Renamed Party",
                                      "LV-0000005,5,different,date,20160204,20160905",
                                      "NOT-IN-SOURCE,,not in source,,,dated 20160320",
                                      "VoucherID,row,status,field,source,books"}));

  // Ten days of it: only what is dated there, and the masters those documents name; the voucher
  // moved there is not the source's in those days.
  const auto days = Lirvo(standin.url(), "verify " + db + " --from 20160901 --to 20160910");
  EXPECT_EQ(days.exit_code, 3) << days.out << days.err;
  EXPECT_THAT(days.out, HasSubstr("557 in the source, 555 match, 1 missing from the books, 1 "
                                  "different, 0 not expected: failed local checks; 1 in the books "
                                  "but not in the source"));
  EXPECT_THAT(days.out, HasSubstr("Masters, ledgers: 489 in the source, 489 match"));

  // A report that cannot be written (a full disk) is a failure that says why.
  const auto full = Lirvo(standin.url(), "verify " + db + " --report /dev/full");
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_THAT(full.err, HasSubstr("cannot write the report /dev/full: No space left on device"));
}

TEST(Verify, NamesInAnyScriptMatchAndAVoucherMovedADayIsNotASecondOne) {
  for (const char* file : {"unicode.mdb", "SampleData.mdb"}) {
    SCOPED_TRACE(file);
    const TempDir dir("lirvo-verify");
    const fs::path store = dir.File("books.db");
    StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", store.string(), "--company", kCompany});
    const std::string verify = std::string("verify --db ") + Data(file);
    if (std::string(file) == "unicode.mdb") {
      // Books that hold none of it: each row is missing.
      const fs::path report = dir.File("before.csv");
      const auto before = Lirvo(standin.url(), verify + " --report " + report.string());
      EXPECT_EQ(before.exit_code, 3) << before.out << before.err;
      EXPECT_THAT(before.out, HasSubstr("5 in the source, 0 match, 5 missing from the books"));
      EXPECT_THAT(lirvo::test::ReadFile(report), HasSubstr("\nUV-003,3,missing,"));
    }
    const auto synced = Lirvo(standin.url(), std::string("sync --db ") + Data(file) +
                                                 " --journal " + dir.File("journal").string());
    ASSERT_EQ(synced.exit_code, 0) << synced.out << synced.err;
    const auto after = Lirvo(standin.url(), verify);
    EXPECT_EQ(after.exit_code, 0) << after.out << after.err;
    EXPECT_THAT(after.out, HasSubstr("Everything the source expects is in the books."));

    // A voucher moved to the next day, which leaves its own day empty in the books: it differs in
    // its date; it is not a second voucher.
    if (std::string(file) == "unicode.mdb") {
      Execute(store, "UPDATE vouchers SET date = '20160402' WHERE remote_id = 'UV-001'");
      const fs::path report = dir.File("moved.csv");
      const auto moved = Lirvo(standin.url(), verify + " --report " + report.string());
      EXPECT_EQ(moved.exit_code, 3) << moved.out << moved.err;
      EXPECT_THAT(moved.out, HasSubstr("0 missing from the books, 1 different"));
      EXPECT_EQ(SortedLines(lirvo::test::ReadFile(report)),
                (std::vector<std::string>{"UV-001,1,different,date,20160401,20160402",
                                          "VoucherID,row,status,field,source,books"}));
    }
  }
}

// A page that cannot be read stops the verification, naming the range; one read whole but
// holding a voucher with nothing in it (nested far too deep) leaves every row missing. Neither
// says that all matches.
TEST(Verify, ABrokenReplyPageStopsItAndNeverSaysAllMatch) {
  const std::string page = kStandinShape;
  const struct {
    const char* name;
    std::string reply;
    int exit_code = 1;
  } cases[] = {
      {"cut short", RawServer::HttpReply(200, page.substr(0, page.size() / 2))},
      {"cut short on the wire",
       "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000\r\n\r\n" +
           page.substr(0, 300)},
      {"malformed", RawServer::HttpReply(200,
                                         "<ENVELOPE><BODY><DATA><COLLECTION><VOUCHER>"
                                         "</COLLECTION></VOUCHER></DATA></BODY></ENVELOPE>")},
      {"an HTTP error", RawServer::HttpReply(503, "busy")},
      {"nested 100000 deep", RawServer::HttpReply(200, Nested(100'000)), 3},
  };
  // Books that hold every master the rows name, so that their vouchers are read back.
  const TempDir dir("lirvo-verify");
  StandinProcess standin(LIRVO_STANDIN_PATH, {"--company", kCompany});
  const std::string db = " --db " + Data("three-rows.mdb");
  ASSERT_EQ(
      Lirvo(standin.url(), "sync" + db + " --journal " + dir.File("journal").string()).exit_code,
      0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    lirvo::test::FaultProxy server(standin.url(), lirvo::test::FaultProxy::Kind::kAccountsList,
                                   lirvo::test::FaultProxy::Mode::kReply, "LirvoSalesVouchers",
                                   c.reply);
    const auto result =
        Lirvo(server.url(), std::string("verify --company \"") + kCompany + "\"" + db);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.out << result.err;
    EXPECT_THAT(c.exit_code == 1 ? result.err : result.out,
                HasSubstr(c.exit_code == 1 ? "the verification could not finish: cannot read the "
                                             "Sales vouchers of \"Demo Trading Co\" dated "
                                           : "3 in the source, 0 match, 3 missing from the books"));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr("Everything")));
  }
}

// The books' masters are read under the query limit, not the much longer import limit that
// ranges of vouchers take: a server that never answers them is reported within the query limit.
TEST(Verify, TheBooksMastersAreReadUnderTheQueryLimit) {
  RawServer server([&server](int socket, const std::string& request) {
    if (lirvo::test::BodyText(request).find("LirvoSalesVouchers") == std::string::npos) {
      server.Hold(socket);  // until the client gives up
    } else {
      RawServer::SendAll(socket, RawServer::HttpReply(200, kEmptyCollection));
    }
  });
  const lirvo::test::ScopedEnv query("LIRVO_QUERY_TIMEOUT", "1");
  const lirvo::test::ScopedEnv import("LIRVO_IMPORT_TIMEOUT", "60");
  const auto started = std::chrono::steady_clock::now();
  const auto result = Lirvo(server.url(), "verify --company \"" + std::string(kCompany) +
                                              "\" --db " + Data("three-rows.mdb"));
  EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
}

}  // namespace
