// Sources of rows: the URI, the layout's rules and years, and the same small layout read from an
// SQLite file directly and through the SQLite ODBC driver, from PostgreSQL through ODBC with a
// login, and SalesMst from an Access file; `lirvo sources` over them.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/feed.h>
#include <lirvo/feed_run.h>
#include <lirvo/odbc.h>
#include <lirvo/source_layout.h>
#include <lirvo/sqlite.h>
#include <lirvo/text.h>

#include "fault_proxy.h"
#include "lirvo_command.h"
#include "postgres_cluster.h"
#include "reader_frames.h"
#include "sales_mst.h"
#include "shop_sql.h"
#include "standin_process.h"
#include "standin_store.h"

namespace lirvo::source {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// A value longer than one piece of the ODBC reader, of characters outside ASCII.
std::string LongNarration() {
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    text += "₹";
  }
  return text + "end";
}

// The layout every source of these tests holds; plain SQL that SQLite and PostgreSQL both take
// (PostgreSQL folds the unquoted names to lower case, which the layout's lookups ignore).
std::string LayoutSql() {
  return "CREATE TABLE Units (Name TEXT, DecimalPlaces TEXT);"
         "INSERT INTO Units VALUES ('Nos', '0');"
         "CREATE TABLE Ledgers (Name TEXT, Parent TEXT);"
         "INSERT INTO Ledgers VALUES ('Cash', 'Cash-in-Hand'), ('Anand Hardware', ''), "
         "('श्री गणेश ट्रेडर्स', NULL);"
         "CREATE TABLE Vouchers (VoucherID TEXT, VoucherType TEXT, Date TEXT, Narration TEXT);"
         "INSERT INTO Vouchers VALUES ('S1', 'Sales', '2016-04-01', '" +
         LongNarration() +
         "'), ('R1', ' receipt ', '2017-03-31', ''), ('O1', 'Sales Orders', '2017-04-01', NULL), "
         "('J1', 'Journal', '2017-05-01', NULL);"
         "CREATE TABLE VoucherLines (VoucherID TEXT, Line INTEGER, Ledger TEXT, Amount TEXT);";
}

constexpr const char* kCompanyName = "Demo Trading Co";  // the stand-in's company

// Three sales in SalesMst's shape, as SQL that SQLite and PostgreSQL both take.
constexpr const char* kSalesSql =
    "CREATE TABLE SalesMst (VoucherID TEXT, VoucherDate DATE, RefNo TEXT, PartyName TEXT, "
    "SalesLedger TEXT, TaxAc TEXT, ItemName TEXT, Unit TEXT, Qty NUMERIC, Rate NUMERIC, "
    "Amount NUMERIC, TaxPer NUMERIC);"
    "INSERT INTO SalesMst VALUES "
    "('S-1', '2016-04-02', 'INV-1', 'Bharat Electricals', 'Sales @ 4%', 'Output VAT @ 4%', "
    "'LED Bulb 9W', 'Nos', 4, 17, 68, 4),"
    "('S-2', '2016-05-03', 'INV-2', 'Chandra & Sons', 'Sales @ 12.5%', 'Output VAT @ 12.5%', "
    "'MCB 16A', 'Nos', 7, 24, 168, 12.5),"
    "('S-3', '2017-01-31', 'INV-3', 'श्री गणेश ट्रेडर्स', 'Sales @ 4%', 'Output VAT @ 4%', "
    "'LED Bulb 9W', 'Nos', 1, 17, 17, 4);";

// A shop's masters and documents of five types, two of them faulty (a type that is none, a
// ledger nowhere), and a line of no voucher, as SQL that SQLite and PostgreSQL both take.
const std::string kShopSql =
    std::string(test::kShopTables) +
    "INSERT INTO Vouchers VALUES ('S1', 'Sales', '2016-04-02', 'S/1', 'Anand Hardware'), ('P1', "
    "'purchases', '2016-04-05', '', 'Supplier Co'), ('R1', 'Receipt', '2016-04-10', '', 'Anand "
    "Hardware'), ('PY1', 'Payment', '2016-05-01', '', 'Rent'), ('SO1', 'Sales Order', '20160401', "
    "'SO/1', 'Anand Hardware'), ('X1', 'Journal', '2016-04-03', '', 'Rent'), ('X2', 'Sales', "
    "'2016-04-04', '', 'Anand Hardware');"
    "INSERT INTO VoucherLines VALUES ('S1', 2, 'Output VAT', NULL, NULL, NULL, NULL, 2.72), ('S1', "
    "1, 'Sales @ 4%', 'LED Bulb', 4, 'Nos', 17, 68), ('P1', 1, 'Purchases', 'LED Bulb', 10, 'Nos', "
    "12, 120), ('R1', 1, 'HDFC Bank', NULL, NULL, NULL, NULL, 70.72), ('PY1', 1, 'HDFC Bank', "
    "NULL, NULL, NULL, NULL, 500), ('SO1', 1, 'Sales @ 4%', 'LED Bulb', 2, 'Nos', 17, 34), ('X1', "
    "1, 'Rent', NULL, NULL, NULL, NULL, 1), ('X2', 1, 'Unknown Ledger', 'LED Bulb', 1, 'Nos', 17, "
    "17), ('S-1', 3, 'Output VAT', NULL, NULL, NULL, NULL, 1);";

constexpr const char* kLayoutOffer =
    "units 1 units\nledgers 3 ledgers\nsales-orders 1 vouchers\nsales 1 vouchers\n"
    "receipts 1 vouchers\nyears 2016-17 2017-18\nunknown 1 Journal\n";

// The message of the Error `run` throws; "" when it throws none.
template <class Run>
std::string ErrorOf(Run run) {
  try {
    run();
  } catch (const Error& error) {
    return error.what();
  }
  return "";
}

// The offer as lines: "KIND ROWS TABLE", then the years, then the unknown voucher types.
std::string Text(const Offer& offer) {
  std::string text;
  for (const KindRows& kind : offer.kinds) {
    text += std::string(kind.kind->name) + " " + std::to_string(kind.rows) + " " +
            text::FoldCase(kind.table) + "\n";
  }
  text += "years";
  for (const std::string& year : offer.years) {
    text += " " + year;
  }
  return text + "\nunknown " + std::to_string(offer.unknown_types) + " " +
         offer.first_unknown_type + "\n";
}

// Every row of `rows`, a row a line, values "|"-separated, NULL as "<null>".
std::string AllRows(Rows& rows) {
  std::string text;
  while (rows.Next()) {
    for (const Value& value : rows.Values()) {
      text += (value ? *value : "<null>") + "|";
    }
    text += "\n";
  }
  return text;
}

// The standard output of `command`, whose exit status is expected to be `status`.
std::string Output(const std::string& command, int status) {
  const test::CommandResult result = test::RunCommand(command);
  EXPECT_EQ(result.exit_code, status) << command << "\n" << result.out << result.err;
  return result.out;
}

// How often `part` occurs in `text`.
int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// The whole sample source (data/sample-source.sql) through `lirvo` (a command line with its
// environment) from `source` (its --source and --user): every master and document accepted,
// verified clean, and a re-run sends nothing.
void ExpectSampleMoves(const std::string& lirvo, const std::string& source) {
  const test::TempDir folder("lirvo-sample-journal");
  const std::string sync = lirvo + "sync --journal " + folder.File("journal").string() + " ";
  // A dry run takes the masters it would create as there for the documents that name them.
  const std::string checked = Output(sync + source + " --dry-run", 0);
  EXPECT_THAT(checked, HasSubstr("sales: 36 in the source, 0 already in the books as in the "
                                 "source, 36 to send, 0 rejected"));
  EXPECT_EQ(Count(checked, " 0 rejected, 0 held otherwise\n"), 8) << checked;
  EXPECT_THAT(checked, Not(HasSubstr("Requests:")));
  const test::CommandResult sent = test::RunCommand(sync + source);
  EXPECT_EQ(sent.exit_code, 0) << sent.out << sent.err;
  // The documents' progress, to the last, and the requests it took.
  EXPECT_THAT(sent.err, HasSubstr("sending vouchers: 204 of 204"));
  EXPECT_THAT(sent.out, HasSubstr("Requests: 11 import requests sent"));
  EXPECT_THAT(sent.out, AllOf(HasSubstr("stock-items: 15 in the source, 0 already in the books, 15 "
                                        "created, 0 rejected"),
                              HasSubstr("sales: 36 in the source, 0 already in the books as in the "
                                        "source, 36 sent, 0 rejected"),
                              HasSubstr("receipt-notes: 24 in the source, 0 already in the books "
                                        "as in the source, 24 sent, 0 rejected")));
  EXPECT_THAT(Output(lirvo + "verify " + source, 0),
              AllOf(HasSubstr("ledgers: 24 in the source, 24 match, 0 missing from the books, 0 "
                              "different"),
                    HasSubstr("stock-items: 15 in the source, 15 match, 0 missing"),
                    HasSubstr("payments: 24 in the source, 24 match, 0 missing"),
                    HasSubstr("Everything the source expects is in the books.")));
  const std::string again = Output(sync + source, 0);
  EXPECT_EQ(Count(again, " 0 created, 0 rejected\n"), 6) << again;
  EXPECT_EQ(Count(again, " 0 sent, 0 rejected, 0 held otherwise\n"), 8) << again;
  EXPECT_THAT(again, HasSubstr("Requests: 0 import requests sent"));
}

class SourceFiles : public ::testing::Test {
 protected:
  // An SQLite file made by `sql`.
  std::string Database(const std::string& name, const std::string& sql) {
    const std::string path = (folder_ / name).string();
    sqlite::Database(path, false).Execute(sql);
    return path;
  }
  // `lirvo sync` against `url` with `journal` in the test's folder; its --source comes next.
  std::string Sync(const std::string& url, const std::string& journal = "journal") const {
    return "LIRVO_TALLY_URL=" + url + " " LIRVO_CLI_PATH " sync --journal '" +
           (folder_ / journal).string() + "' --source ";
  }

  const test::TempDir dir_{"lirvo-source"};
  const fs::path folder_ = dir_.path();
  const std::string books_ = (folder_ / "books.db").string();  // the stand-in's store
};

TEST(SourceUri, TakesTheThreeFormsAndNamesThemForAnythingElse) {
  const struct {
    const char* text;
    Scheme scheme;
    const char* target;
  } good[] = {{"sqlite:/data/books.db", Scheme::kSqlite, "/data/books.db"},
              {"SQLite:books.db", Scheme::kSqlite, "books.db"},
              {"odbc:DSN=books", Scheme::kOdbc, "DSN=books"},
              {"odbc:DRIVER={x};SERVER=h:1", Scheme::kOdbc, "DRIVER={x};SERVER=h:1"},
              {"access:C:/SampleData.mdb", Scheme::kAccess, "C:/SampleData.mdb"}};
  for (const auto& c : good) {
    const Uri uri = ParseUri(c.text);
    EXPECT_EQ(uri.scheme, c.scheme) << c.text;
    EXPECT_EQ(uri.target, c.target) << c.text;
  }
  for (const char* bad : {"mysql:books", "/data/books.db", "sqlite:", "odbc: ", ""}) {
    EXPECT_THAT(ErrorOf([bad] { ParseUri(bad); }), HasSubstr("\"" + std::string(bad) + "\""))
        << bad;
  }
  EXPECT_THAT(ErrorOf([] { ParseUri("mysql:books"); }),
              AllOf(HasSubstr("sqlite:PATH"), HasSubstr("odbc:"), HasSubstr("access:PATH")));
}

TEST(SourceLayout, ReadsDatesIntoIndianFinancialYears) {
  const struct {
    const char* date;
    const char* year;  // "" when the text is no date
  } cases[] = {{"2016-04-01", "2016-17"},
               {"20170331", "2016-17"},
               {"2017-03-31 23:59:59", "2016-17"},
               {"1999-12-31T10:00", "1999-00"},
               {"2016-02-30", ""},
               {"01/04/2016", ""},
               {"2016-04-01x", ""},
               {"201604", ""}};
  for (const auto& c : cases) {
    const auto day = ParseDate(c.date);
    EXPECT_EQ(day ? FinancialYear(*day) : "", c.year) << c.date;
  }
  const auto range = FinancialYearRange("2016-17");
  ASSERT_TRUE(range);
  EXPECT_TRUE(range->Contains(*ParseDate("2016-04-01")));
  EXPECT_TRUE(range->Contains(*ParseDate("2017-03-31")));
  EXPECT_FALSE(range->Contains(*ParseDate("2016-03-31")));
  EXPECT_FALSE(range->Contains(*ParseDate("2017-04-01")));
  for (const char* bad : {"2016-18", "2016", "2016-2017", "16-17", "2016-1x"}) {
    EXPECT_FALSE(FinancialYearRange(bad)) << bad;
  }
}

// The same layout read straight from SQLite and through the SQLite ODBC driver: the same offer,
// the same rows (NULL distinct from empty, long and non-ASCII values whole), the same date range.
TEST_F(SourceFiles, SqliteDirectAndThroughOdbcReadTheSame) {
  const std::string path = Database("books.db", LayoutSql());
  std::vector<std::string> uris{"sqlite:" + path};
  if (const auto driver = test::OdbcDriver("libsqlite3odbc.so")) {
    uris.push_back("odbc:DRIVER=" + *driver + ";Database=" + path);
  } else {
    ADD_FAILURE() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
  }
  for (const std::string& uri : uris) {
    SCOPED_TRACE(uri);
    const std::unique_ptr<Source> db = Open(ParseUri(uri));
    EXPECT_EQ(Text(Survey(*db)), kLayoutOffer);
    EXPECT_EQ(db->FindTable("LEDGERS"), "Ledgers");
    const auto ledgers = db->Read("Ledgers");
    EXPECT_EQ(AllRows(*ledgers), "Cash|Cash-in-Hand|\nAnand Hardware||\nश्री गणेश ट्रेडर्स|<null>|\n");
    const auto vouchers = db->ReadDated("Vouchers", "date", *FinancialYearRange("2016-17"));
    ASSERT_TRUE(vouchers->Next());
    EXPECT_EQ(vouchers->Get("narration"), LongNarration());
    ASSERT_TRUE(vouchers->Next());
    EXPECT_EQ(vouchers->Get("VoucherID"), "R1");
    EXPECT_EQ(vouchers->RowNumber(), 2);
    EXPECT_FALSE(vouchers->Next());
  }
}

// Every value reads as the text SQLite itself gives it: integers at the bounds of 64 bits and
// either sign, numbers in NUMERIC and REAL columns, text that looks like a number, bytes and NULL;
// and thousands of REALs of every kind: amounts of two and three decimals, whole numbers, values
// of 16 and 17 significant digits, and values on both sides of 1e-4 and of 1e15.
TEST_F(SourceFiles, SqliteValuesReadAsSqliteWritesThem) {
  const std::string path = Database(
      "numbers.db",
      "CREATE TABLE Numbers(n NUMERIC, i INTEGER, t TEXT, r REAL, b BLOB);"
      "INSERT INTO Numbers VALUES(0, -0, '007', 1.0, x'41');"
      "INSERT INTO Numbers VALUES(9223372036854775807, -9223372036854775808, '-12', -0.5, NULL);"
      "INSERT INTO Numbers VALUES('413.50', '-42', ' 5', 1e20, x'');"
      "INSERT INTO Numbers VALUES(1654, 10, '1e3', 3, 7);"
      "INSERT INTO Numbers VALUES(NULL, 1000000, '', 0.1, 'x');"
      "INSERT INTO Numbers VALUES(-0.0001, 0.0001, '', 99999999999999.9, 999999999999999.0);"
      "INSERT INTO Numbers VALUES(0.00002, -0.000035, '', 1e15, 123456789012345.0);"
      "INSERT INTO Numbers VALUES(0.01, -0.05, '', 999999999999.99, 12345678901.2);"
      "INSERT INTO Numbers VALUES(-1000000000000.5, 0.7, '', -2.5, 1e12);"
      "INSERT INTO Numbers(n, r) WITH RECURSIVE k(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM k"
      " WHERE x < 2000) SELECT x * 7919 % 1000003 / 100.0, -(x * 104729 % 10000019) / 1000.0"
      " FROM k UNION ALL SELECT x * 1234567.0 / 7.0, x / 30000.0 FROM k"
      " UNION ALL SELECT 999999999999000.0 + x / 2.0, x * 100000000000.0 + 0.25 FROM k"
      " UNION ALL SELECT x * 1.0, x * 0.1 + 0.2 FROM k;");
  const std::unique_ptr<Source> db = Open(ParseUri("sqlite:" + path));
  const std::unique_ptr<Rows> rows = db->Read("Numbers");
  sqlite::Database check(path, true);
  sqlite::Statement expected = check.Prepare(
      "SELECT CAST(n AS TEXT), CAST(i AS TEXT), CAST(t AS TEXT), CAST(r AS TEXT), CAST(b AS TEXT)"
      " FROM Numbers ORDER BY rowid");
  while (expected.Step()) {
    ASSERT_TRUE(rows->Next());
    for (std::size_t i = 0; i < rows->Values().size(); ++i) {
      EXPECT_EQ(rows->Values()[i], expected.OptionalText(static_cast<int>(i)))
          << "row " << rows->RowNumber() << ", column " << i;
    }
  }
  EXPECT_FALSE(rows->Next());
}

TEST_F(SourceFiles, ColumnsOutsideTheLayoutAreRefusedNamingTableAndColumn) {
  const struct {
    const char* sql;
    const char* table;
    const char* words;
  } cases[] = {
      {"CREATE TABLE Ledgers (Name, Colour)",
       "table \"Ledgers\" of sqlite:", "column \"Colour\", which the master record"},
      {"CREATE TABLE godowns (Name, OldName)", "table \"godowns\"", "column \"OldName\""},
      {"CREATE TABLE StockItems (BaseUnits)", "StockItems", "no column \"Name\""},
      {"CREATE TABLE LedgerGroups (Name, IsRevenue, GstType)", "LedgerGroups",
       "column \"GstType\""},
      {"CREATE TABLE Vouchers (VoucherID, VoucherType, Date, Amount)", "Vouchers",
       "column \"Amount\""},
      {"CREATE TABLE Vouchers (VoucherID, Date)", "Vouchers", "no column \"VoucherType\""},
      {"CREATE TABLE Vouchers (VoucherID, VoucherType, Date);"
       "CREATE TABLE VoucherLines (VoucherID, Line, Qty)",
       "VoucherLines", "column \"Qty\""},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::unique_ptr<Source> db =
        Open(ParseUri("sqlite:" + Database(std::to_string(++n) + ".db", c.sql)));
    EXPECT_THAT(ErrorOf([&db] { Survey(*db); }), AllOf(HasSubstr(c.table), HasSubstr(c.words)))
        << c.sql;
  }
}

TEST_F(SourceFiles, SourcesThatCannotBeOpenedSayWhichAndWhy) {
  std::ofstream(folder_ / "text.db") << "not a database at all, just some words in a file\n";
  const struct {
    std::string uri;
    const char* words;
  } cases[] = {
      {"sqlite:" + (folder_ / "missing.db").string(), "no such file"},
      {"sqlite:" + (folder_ / "text.db").string(), "text.db: file is not a database"},
      {"access:" + (folder_ / "missing.mdb").string(), "missing.mdb"},
      {"odbc:DSN=lirvo-no-such-source;PWD=hush-hush", "[IM002]"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(ErrorOf([&c] { Open(ParseUri(c.uri)); }),
                AllOf(HasSubstr(c.words), Not(HasSubstr("hush"))))
        << c.uri;
  }
}

// PostgreSQL through ODBC, one cluster for the suite, read by a login that may read the layout
// (a table, and a view over someone else's table) but not the payroll.
class PostgresSource : public ::testing::Test {
 protected:
  static constexpr const char* kReader = "books_reader";
  static constexpr const char* kPassword = "reader-Pa55";

  static void SetUpTestSuite() {
    if (!test::PostgresCluster::Available() || !test::OdbcDriver("psqlodbcw.so")) {
      return;
    }
    cluster_ = std::make_unique<test::PostgresCluster>();
    const odbc::Environment environment;
    odbc::Connection admin(environment, cluster_->ConnectionString(),
                           {test::PostgresCluster::kAdmin, test::PostgresCluster::kAdminPassword});
    const std::string sql =
        LayoutSql() + kSalesSql +
        "CREATE TABLE customers (cust_name TEXT);"
        "INSERT INTO customers VALUES ('Bharat Electricals'), ('Chandra & Sons');"
        "CREATE VIEW Godowns AS SELECT cust_name || ' Store' AS Name FROM customers;"
        "CREATE TABLE payroll (Name TEXT, Salary TEXT);"
        "CREATE ROLE " +
        std::string(kReader) + " LOGIN PASSWORD '" + kPassword +
        "';"
        "GRANT SELECT ON units, ledgers, vouchers, voucherlines, godowns, salesmst TO " +
        kReader + ";";
    // One statement at a time: the driver need not take several in one call.
    for (std::size_t start = 0, end = 0; start < sql.size(); start = end + 1) {
      end = sql.find(';', start);
      admin.Execute(sql.substr(start, end - start), "load the layout");
    }
  }
  static void TearDownTestSuite() { cluster_.reset(); }
  void SetUp() override {
    if (!cluster_) {
      GTEST_FAIL() << "PostgreSQL (postgresql) or its ODBC driver (odbc-postgresql) is missing";
    }
  }

  static std::string Uri() { return "odbc:" + cluster_->ConnectionString(); }

  static std::unique_ptr<test::PostgresCluster> cluster_;
};

std::unique_ptr<test::PostgresCluster> PostgresSource::cluster_;

TEST_F(PostgresSource, ReadsTheLayoutWithALogin) {
  const std::unique_ptr<Source> db = Open(ParseUri(Uri()), {kReader, kPassword});
  std::string offer = std::string("godowns 2 godowns\n") + kLayoutOffer;
  // SalesMst offers its sales and the masters its rows name, after each kind's own table.
  for (const auto& [after, line] :
       {std::pair{"units 1 units\n", "units 1 salesmst\nstock-items 2 salesmst\n"},
        std::pair{"ledgers 3 ledgers\n", "ledgers 7 salesmst\n"},
        std::pair{"sales 1 vouchers\n", "sales 3 salesmst\n"}}) {
    offer.insert(offer.find(after) + std::string_view(after).size(), line);
  }
  EXPECT_EQ(Text(Survey(*db)), offer);
  EXPECT_EQ(AllRows(*db->Read(*db->FindTable("Godowns"))),
            "Bharat Electricals Store|\nChandra & Sons Store|\n");
  const auto ledgers = db->Read("ledgers");
  EXPECT_EQ(AllRows(*ledgers), "Cash|Cash-in-Hand|\nAnand Hardware||\nश्री गणेश ट्रेडर्स|<null>|\n");
}

TEST_F(PostgresSource, RefusalsGiveTheDriversReasonAndNeverThePassword) {
  const std::string closed = "odbc:DRIVER=" + *test::OdbcDriver("psqlodbcw.so") +
                             ";SERVER=127.0.0.1;PORT=1;DATABASE=postgres";
  const struct {
    std::string uri;
    Login login;
    std::string table;  // read after connecting; "" to connect only
    const char* words[2];
  } cases[] = {
      {Uri(), {kReader, "Wrong-Secret-9"}, "", {"[08001]", "authentication failed for user"}},
      {Uri(), {kReader, kPassword}, "payroll", {"read table \"payroll\"", "[42501]"}},
      {closed, {kReader, "Wrong-Secret-9"}, "", {"cannot connect to DRIVER=", "refused"}},
  };
  for (const auto& c : cases) {
    const std::string message = ErrorOf([&c] {
      const std::unique_ptr<Source> db = Open(ParseUri(c.uri), c.login);
      if (!c.table.empty()) {
        db->Read(c.table);
      }
    });
    EXPECT_THAT(message, AllOf(HasSubstr(c.words[0]), HasSubstr(c.words[1]),
                               Not(HasSubstr(c.login.password)), Not(HasSubstr("PWD"))))
        << c.words[0];
  }
}

// The sample source copied into a PostgreSQL database of its own (every column text) moves
// through ODBC with a login as it does from SQLite.
TEST_F(PostgresSource, SampleSourceMovesEveryKindWithALogin) {
  const odbc::Environment environment;
  const odbc::Login admin{test::PostgresCluster::kAdmin, test::PostgresCluster::kAdminPassword};
  odbc::Connection(environment, cluster_->ConnectionString(), admin)
      .Execute("CREATE DATABASE sample", "create the sample's database");
  std::string uri = Uri();
  uri.replace(uri.find("DATABASE=postgres"), 17, "DATABASE=sample");
  {
    odbc::Connection sample(environment, uri.substr(5), admin);
    const std::unique_ptr<Source> from = Open(ParseUri("sqlite:" LIRVO_SAMPLE_SOURCE));
    for (const std::string& table : from->Tables()) {
      const std::unique_ptr<Rows> rows = from->Read(table);
      std::string columns, values;
      for (const std::string& column : rows->Columns()) {
        columns += (columns.empty() ? "" : ", ") + column + " TEXT";
      }
      while (rows->Next()) {
        std::string row;
        for (const Value& value : rows->Values()) {
          std::string quoted = value ? "'" : "NULL";
          for (const char c : value.value_or("")) {
            quoted += c == '\'' ? "''" : std::string(1, c);
          }
          row += (row.empty() ? "" : ", ") + quoted + (value ? "'" : "");
        }
        values += (values.empty() ? "(" : ", (") + row + ")";
      }
      sample.Execute("CREATE TABLE " + table + " (" + columns + ")", "create " + table);
      sample.Execute("INSERT INTO " + table + " VALUES " + values, "load " + table);
    }
    sample.Execute("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + std::string(kReader),
                   "let the reader read");
  }
  const test::StandinProcess standin(LIRVO_STANDIN_PATH);
  ExpectSampleMoves("LIRVO_TALLY_URL=" + standin.url() + " LIRVO_SOURCE_PASSWORD=" + kPassword +
                        " " LIRVO_CLI_PATH " ",
                    "--source '" + uri + "' --user " + kReader + " </dev/null");
}

// Every master kind a source holds goes into the books in the order the server needs, a master
// whose parent or unit is nowhere is named and not sent, the books' own are left alone; one the
// books hold under another parent is named and left alone.
TEST_F(SourceFiles, SyncFeedsEveryMasterKindInOrderAndLeavesTheBooksOwnAlone) {
  const std::string path = Database(
      "masters.db",
      "CREATE TABLE StockItems(Name, BaseUnits, Parent); INSERT INTO StockItems VALUES ('LED "
      "Bulb', 'Nos', 'Lighting'), ('Odd Item', 'Crates', ''), ('Stray Item', 'Nos', 'Nowhere');"
      "CREATE TABLE Ledgers(Name, Parent); INSERT INTO Ledgers VALUES ('Anand Hardware', "
      "'Retail Customers'), ('Orphan', 'No Such Group'), ('cash', 'Cash-in-Hand');"
      "CREATE TABLE LedgerGroups(Name, Parent); INSERT INTO LedgerGroups VALUES ('Retail "
      "Customers', 'Customers'), ('Customers', 'Sundry Debtors');"
      "CREATE TABLE Units(Name, IsSimpleUnit, DecimalPlaces); INSERT INTO Units VALUES ('Nos', "
      "'Yes', '2');"
      "CREATE TABLE Godowns(Name); INSERT INTO Godowns VALUES ('Shop');"
      "CREATE TABLE StockGroups(Name, Parent); INSERT INTO StockGroups VALUES ('Lighting', "
      "'Primary');");
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", books_, "--strict"});
  const test::FaultProxy proxy(standin.url(), test::FaultProxy::Kind::kImport,
                               test::FaultProxy::Mode::kForward);
  const std::string sync = Sync(proxy.url()) + "sqlite:" + path;
  // Ledgers alone bring along the source's groups they sit under, however deep.
  EXPECT_THAT(test::RunCommand(sync + " --kinds ledgers --dry-run").out,
              HasSubstr("ledger-groups: 2 in the source, 0 already in the books, 2 to create"));
  const std::string first = Output(sync, 3);
  EXPECT_THAT(first, HasSubstr("ledgers: 3 in the source, 1 already in the books, 1 created, "
                               "1 rejected\n"));
  EXPECT_THAT(first, HasSubstr("Rejected: Ledgers row 2 (\"Orphan\"): it needs the ledger "
                               "group \"No Such Group\", which is neither in the books, nor "
                               "in the source, nor predefined"));
  EXPECT_THAT(first, HasSubstr("Rejected: StockItems row 2 (\"Odd Item\"): it needs the unit "
                               "\"Crates\""));
  EXPECT_THAT(first, HasSubstr("Rejected: StockItems row 3 (\"Stray Item\"): it needs the "
                               "stock group \"Nowhere\""));
  const test::StandinStore store(books_);
  EXPECT_EQ(store.Master(kCompanyName, "LEDGER", "Anand Hardware")->parent, "Retail Customers");
  EXPECT_EQ(store.Master(kCompanyName, "STOCKITEM", "LED Bulb")->parent, "Lighting");
  EXPECT_EQ(store.CountMasters(kCompanyName, "GROUP"), 2);  // the parent group first
  for (const char* kind : {"UNIT", "GODOWN", "STOCKGROUP", "STOCKITEM"}) {
    EXPECT_EQ(store.CountMasters(kCompanyName, kind), 1) << kind;
  }
  // The seven masters created go in three requests, a master never with one it needs: the unit,
  // godown, outer group and stock group; then the inner group and the stock item; then the ledger.
  std::vector<std::string> imports;
  for (const std::string& request : proxy.requests()) {
    if (const std::string text = test::BodyText(request); text.find("Import Data") != text.npos) {
      imports.push_back(text);
    }
  }
  ASSERT_EQ(imports.size(), 3U);
  EXPECT_THAT(imports[1], AllOf(HasSubstr("Retail Customers"), HasSubstr("LED Bulb"),
                                Not(HasSubstr("NAME=\"Customers\""))));
  EXPECT_THAT(imports[2], HasSubstr("Anand Hardware"));
  sqlite::Database(books_, false)
      .Execute(
          "UPDATE masters SET parent = 'Sundry Debtors' WHERE name = 'Anand Hardware';"
          "UPDATE masters SET parent = 'Sundry Creditors' WHERE name = 'Customers';"
          "UPDATE masters SET parent = '' WHERE name = 'Lighting';"
          "UPDATE master_values SET value = ' 2.00' WHERE element = 'DECIMALPLACES'");
  // With a journal that has not seen them, the one held otherwise is not noted as in the books:
  // a run that trusts the journal reads it back and names it again.
  const std::string fresh = Sync(standin.url(), "journal-2") + "sqlite:" + path;
  for (const std::string& run : {fresh, fresh + " --trust-journal"}) {
    SCOPED_TRACE(run);
    EXPECT_THAT(Output(run, 3),
                AllOf(HasSubstr("ledgers: 3 in the source, 1 already in the books"),
                      HasSubstr("0 created, 1 rejected, 1 held otherwise in the books (left "
                                "alone: see lirvo verify)\n"),
                      HasSubstr("Held otherwise: Ledgers row 1 (\"Anand Hardware\"): Parent "
                                "\"Retail Customers\" in the source, \"Sundry Debtors\" in the "
                                "books")));
  }
  // A group under another parent alone makes the run incomplete; a number written otherwise and
  // "Primary" for no parent are no difference.
  const std::string groups = Output(sync + " --kinds units,stock-groups,ledger-groups", 3);
  EXPECT_THAT(groups,
              AllOf(HasSubstr("units: 1 in the source, 1 already in the books, 0 created, 0 "
                              "rejected\n"),
                    HasSubstr("stock-groups: 1 in the source, 1 already in the books, 0 created, 0 "
                              "rejected\n"),
                    HasSubstr("ledger-groups: 2 in the source, 1 already in the books, 0 created, "
                              "0 rejected, 1 held otherwise")));
  EXPECT_EQ(test::StandinStore(books_).Master(kCompanyName, "LEDGER", "Anand Hardware")->parent,
            "Sundry Debtors");
}

// Documents of every type go in after their masters; one whose type or ledger is nowhere is
// named and not sent; a voucher changed in the books is named and left alone unless --overwrite.
TEST_F(SourceFiles, SyncFeedsDocumentsOfEveryTypeAndLeavesOneChangedInTheBooksAlone) {
  const std::string path = Database("documents.db", kShopSql);
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", books_, "--strict"});
  const std::string sync = Sync(standin.url()) + "sqlite:" + path;
  // Documents dated before --from are not read; those read bring their masters along.
  EXPECT_THAT(Output(sync + " --kinds sales,receipts --from 20160405", 0),
              AllOf(HasSubstr("receipts: 1 in the source, 0 already in the books as in "
                              "the source, 1 sent"),
                    Not(HasSubstr("sales:")),
                    // the masters the receipt names come along
                    HasSubstr("ledgers: 2 in the source, 0 already in the books, 2 "
                              "created")));
  EXPECT_THAT(Output(sync, 3),
              AllOf(HasSubstr("sales: 2 in the source, 0 already in the books as in the "
                              "source, 1 sent, 1 rejected"),
                    HasSubstr("payments: 1 in the source, 0 already in the books as in "
                              "the source, 1 sent"),
                    HasSubstr("\"Journal\" is not a voucher type"),
                    HasSubstr("(VoucherID \"X2\"): it names the ledger \"Unknown "
                              "Ledger\", which the books do not hold"),
                    HasSubstr("Rejected: VoucherLines row 9 (VoucherID \"S-1\"): its "
                              "VoucherID \"S-1\" is no voucher's in Vouchers")));
  std::map<std::string, std::string> types;
  for (const test::StoredVoucher& voucher : test::StandinStore(books_).Vouchers(kCompanyName)) {
    types[voucher.remote_id] = voucher.type;
  }
  EXPECT_EQ(types, (std::map<std::string, std::string>{{"P1", "Purchase"},
                                                       {"PY1", "Payment"},
                                                       {"R1", "Receipt"},
                                                       {"S1", "Sales"},
                                                       {"SO1", "Sales Order"}}));
  sqlite::Database(books_, false)
      .Execute(
          "UPDATE voucher_entries SET amount = '-600' WHERE voucher_id = (SELECT id FROM "
          "vouchers WHERE remote_id = 'PY1') AND amount = '-500'");
  EXPECT_THAT(Output(sync + " --kinds payments", 3),
              HasSubstr("Held otherwise: Vouchers row 4 (VoucherID \"PY1\")"));
  EXPECT_THAT(Output(sync + " --kinds payments --overwrite", 0),
              HasSubstr("payments: 1 in the source, 0 already in the books as in "
                        "the source, 1 sent"));
}

// What the server could not take as the row has it rejects that row alone, naming table, row and
// column, and the rest of the source goes in: a value no message can carry (bytes that are not
// UTF-8, a control character), a master named again otherwise (an exact repeat is taken once),
// masters under each other, a VoucherID repeated with blanks around it (sent trimmed, it would
// alter the first).
TEST_F(SourceFiles, RowsTheServerCouldNotTakeAsTheyAreAreRejectedAlone) {
  const std::string path = Database("documents.db", kShopSql);
  sqlite::Database(path, false)
      .Execute(
          "UPDATE Vouchers SET Party = CAST(x'416EC3' AS TEXT) WHERE VoucherID = 'R1';"
          "INSERT INTO Ledgers VALUES ('Cash' || char(1), 'Cash-in-Hand'), ('HDFC BANK', 'Sundry "
          "Debtors'), ('Rent', 'Indirect Expenses');"
          "CREATE TABLE LedgerGroups(Name, Parent);"
          "INSERT INTO LedgerGroups VALUES ('Loop A', 'Loop B'), ('Loop B', 'loop a');"
          "UPDATE VoucherLines SET Ledger = 'Rent' || char(0) WHERE VoucherID = 'PY1';"
          // the same purchase again under its VoucherID with a blank before it, and an order
          // whose VoucherID has blanks after it
          "INSERT INTO Vouchers VALUES (' P1', 'Purchase', '2016-04-06', '', 'Supplier Co');"
          "INSERT INTO VoucherLines VALUES (' P1', 1, 'Purchases', 'LED Bulb', 20, 'Nos', 12, "
          "240);"
          "UPDATE Vouchers SET VoucherID = 'SO1  ' WHERE VoucherID = 'SO1';"
          "UPDATE VoucherLines SET VoucherID = 'SO1  ' WHERE VoucherID = 'SO1'");
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", books_, "--strict"});
  const std::string sync = Sync(standin.url()) + "sqlite:" + path;
  EXPECT_THAT(
      Output(sync, 3),
      AllOf(HasSubstr("ledgers: 9 in the source, 0 already in the books, 7 created, 2 rejected"),
            HasSubstr("Ledgers row 9 (\"HDFC BANK\"): row 6 of Ledgers names the same ledger "
                      "otherwise"),
            HasSubstr("LedgerGroups row 2 (\"Loop B\"): its parents come back to it (Loop B, "
                      "under Loop A, under Loop B)"),
            HasSubstr("ledger-groups: 2 in the source, 0 already in the books, 0 created, 2 "
                      "rejected"),
            HasSubstr("Ledgers row 8 (\"Cash\x01\"): Name: holds the control character 0x01"),
            HasSubstr("(VoucherID \"R1\"): voucher R1, Party: is not UTF-8 text (from its byte 3)"),
            HasSubstr("(VoucherID \"PY1\"): voucher PY1, line 1, Ledger: holds the control "
                      "character 0x00"),
            HasSubstr("purchases: 2 in the source, 0 already in the books as in the source, 1 "
                      "sent, 1 rejected"),
            HasSubstr("(VoucherID \" P1\"): its VoucherID \" P1\" is also on Vouchers row 2")));
  std::set<std::string> ids;
  for (const test::StoredVoucher& voucher : test::StandinStore(books_).Vouchers(kCompanyName)) {
    ids.insert(voucher.remote_id);
  }
  EXPECT_EQ(ids, (std::set<std::string>{"P1", "S1", "SO1"}));
  EXPECT_EQ(test::StandinStore(books_).Master(kCompanyName, "LEDGER", "HDFC Bank")->parent,
            "Bank Accounts");
  EXPECT_THAT(
      test::RunCommand(sync + " --kinds purchases,sales-orders").out,
      AllOf(HasSubstr("purchases: 2 in the source, 1 already in the books as in the source, "
                      "0 sent, 1 rejected"),
            HasSubstr("sales-orders: 1 in the source, 1 already in the books as in the "
                      "source, 0 sent")));
  // Both tables in the order of their VoucherIDs, as a voucher's lines are read alongside it.
  const std::string sorted = Database("sorted.db", kShopSql);
  sqlite::Database(sorted, false)
      .Execute(
          "DELETE FROM Vouchers WHERE VoucherID <> 'S1';"
          "INSERT INTO Vouchers SELECT 'S1 ', VoucherType, Date, Number, Party FROM Vouchers;"
          "CREATE TABLE lines AS SELECT * FROM VoucherLines WHERE VoucherID = 'S1' ORDER BY Line;"
          "DELETE FROM VoucherLines;"
          "INSERT INTO VoucherLines SELECT * FROM lines;"
          "INSERT INTO VoucherLines SELECT 'S1 ', Line, Ledger, Item, Quantity, Unit, Rate, 2 * "
          "Amount FROM lines;"
          "DROP TABLE lines");
  EXPECT_THAT(test::RunCommand(Sync(standin.url()) + "sqlite:" + sorted + " --kinds sales").out,
              AllOf(HasSubstr("sales: 2 in the source, 1 already in the books as in the source, 0 "
                              "sent, 1 rejected"),
                    HasSubstr("(VoucherID \"S1 \"): its VoucherID \"S1 \" is also on Vouchers "
                              "row 1")));
}

// An Access file holding the layout's tables moves as the SQLite file does (a reader in place of
// lirvo-mdb-reader serves the SQLite file's tables: no fixture holds them).
TEST_F(SourceFiles, AnAccessFileWithTheLayoutMovesAsSqliteDoes) {
  const test::SqliteAsAccessReader reader(folder_, Database("documents.db", kShopSql));
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", books_, "--strict"});
  const std::string sync = Sync(standin.url()) + "access:" + test::Data("empty.mdb");
  EXPECT_THAT(Output(sync, 3),
              AllOf(HasSubstr("ledgers: 7 in the source, 0 already in the books, 7 "
                              "created, 0 rejected"),
                    HasSubstr("sales: 2 in the source, 0 already in the books as in the "
                              "source, 1 sent, 1 rejected"),
                    HasSubstr("payments: 1 in the source, 0 already in the books as in "
                              "the source, 1 sent")));
  EXPECT_EQ(test::StandinStore(books_).Vouchers(kCompanyName).size(), 5U);
  EXPECT_THAT(Output(sync + " --kinds sales-orders,receipts", 0),
              HasSubstr("receipts: 1 in the source, 1 already in the books as in the "
                        "source, 0 sent"));
}

// The sample source moves every kind from SQLite, directly and through the SQLite ODBC driver.
// Then verify names a voucher changed in the books field by field, and a master deleted there
// with the documents that name it.
TEST_F(SourceFiles, SampleSourceMovesEveryKindAndVerifyFindsWhatChanged) {
  std::vector<std::string> uris{"sqlite:" LIRVO_SAMPLE_SOURCE};
  if (const auto driver = test::OdbcDriver("libsqlite3odbc.so")) {
    uris.push_back("odbc:DRIVER=" + *driver + ";Database=" LIRVO_SAMPLE_SOURCE);
  } else {
    ADD_FAILURE() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
  }
  std::string data, lirvo;
  for (const std::string& uri : uris) {
    SCOPED_TRACE(uri);
    data = (folder_ / ("books-" + std::to_string(&uri - uris.data()) + ".db")).string();
    const test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", data, "--strict"});
    lirvo = "LIRVO_TALLY_URL=" + standin.url() + " " LIRVO_CLI_PATH " ";
    ExpectSampleMoves(lirvo, "--source '" + uri + "'");
  }
  const test::StandinStore store(data);
  EXPECT_EQ(store.Master(kCompanyName, "STOCKITEM", "LED Bulb 9W")->parent, "Lighting");
  EXPECT_EQ(store.Master(kCompanyName, "STOCKGROUP", "Lighting")->parent, "Electricals");
  EXPECT_EQ(store.Master(kCompanyName, "GODOWN", "Pune Warehouse Bay 2")->parent, "Pune Warehouse");

  const test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", data, "--strict"});
  lirvo = "LIRVO_TALLY_URL=" + standin.url() +
          " " LIRVO_CLI_PATH " verify --source sqlite:" + LIRVO_SAMPLE_SOURCE;
  const std::string year = Output(lirvo + " --kinds sales --year 2017-18", 0);
  EXPECT_THAT(year, AllOf(HasSubstr("sales: 10 in the source, 10 match"),
                          Not(HasSubstr("ledgers:")), Not(HasSubstr("receipts:"))));
  // A year the source holds nothing of says so, rather than nothing at all.
  const std::string none = " --kinds sales --year 2030-31";
  EXPECT_THAT(test::RunCommand(lirvo + none).out,
              HasSubstr("Nothing to compare: the source holds nothing of the kinds asked.\n"));
  const std::string sync =
      Sync(standin.url(), "none.sqlite") + "sqlite:" LIRVO_SAMPLE_SOURCE + none;
  EXPECT_THAT(test::RunCommand(sync).out,
              AllOf(HasSubstr("Nothing to move: the source holds nothing of the kinds asked in "
                              "the days asked.\n"),
                    Not(HasSubstr("Requests:"))));
  // RC-0004 is paid into HDFC Bank with no charges; eight receipts name "Bank Charges"; PY-0002
  // goes by another VoucherID in the books; HDFC Bank sits under another group and LED Bulb 9W
  // counts in boxes; Deccan Power Systems' group is spelt otherwise, which is no difference.
  sqlite::Database(data, false)
      .Execute(
          "UPDATE voucher_entries SET amount = '-2100' WHERE name = 'HDFC Bank' AND voucher_id = "
          "(SELECT id FROM vouchers WHERE remote_id = 'RC-0004');"
          "DELETE FROM masters WHERE name = 'Bank Charges';"
          "UPDATE vouchers SET remote_id = 'PY-9999' WHERE remote_id = 'PY-0002';"
          "UPDATE masters SET parent = 'Sundry Creditors' WHERE name = 'HDFC Bank';"
          "UPDATE masters SET parent = ' PUNE customers ' WHERE name = 'Deccan Power Systems';"
          "UPDATE master_values SET value = 'Box' WHERE element = 'BASEUNITS' AND master_id = "
          "(SELECT id FROM masters WHERE kind = 'STOCKITEM' AND name = 'LED Bulb 9W')");
  const std::string report = (folder_ / "report.csv").string();
  EXPECT_THAT(Output(lirvo + " --report " + report, 3),
              AllOf(HasSubstr("ledgers: 24 in the source, 22 match, 1 missing from the books, 1 "
                              "different, 0 not expected"),
                    HasSubstr("stock-items: 15 in the source, 14 match, 0 missing from the books, "
                              "1 different, 0 not expected"),
                    HasSubstr("receipts: 24 in the source, 15 match, 8 missing from the books, 1 "
                              "different, 0 not expected"),
                    HasSubstr("payments: 24 in the source, 23 match, 1 missing from the books, 0 "
                              "different, 0 not expected: failed local checks; 1 in the books "
                              "but not in the source"),
                    Not(HasSubstr("Everything the source expects")),
                    // A master is named as the sync names it, a document by its VoucherID.
                    HasSubstr("master missing: Ledgers row 23 (\"Bank Charges\"): source"),
                    HasSubstr("different: row 40 (VoucherID \"RC-0004\") line 1 amount")));
  std::ifstream file(report);
  const std::string csv{std::istreambuf_iterator<char>(file), {}};
  EXPECT_THAT(csv,
              AllOf(HasSubstr("Ledgers: Bank Charges,23,master missing,,,\n"),
                    HasSubstr("Ledgers: HDFC Bank,20,different,Parent,Bank Accounts,Sundry "
                              "Creditors\n"),
                    HasSubstr("StockItems: LED Bulb 9W,5,different,BaseUnits,Nos,Box\n"),
                    HasSubstr("RC-0004,40,different,line 1 amount,2000,2100\n"),
                    HasSubstr("PY-9999,,not in source,,,dated 20160518\n"),
                    HasSubstr("RC-0003,32,missing,,\"it names the ledger \"\"Bank Charges\"\"")));
}

// More documents than one read-back of the books takes, dated over many days and listed out of
// order, their lines in reverse order: each goes with its lines in the order of their Line
// numbers, the empty books are read back in fewer requests than ranges, and a re-run finds every
// one in the books. A document whose import the server does not
// account for is found by halving its batch (a request for each half that holds it, not one for
// each document of the batch) and alone is rejected. No request goes beside another, though a
// batch is in hand while the books are read back or their godowns first asked for (on the last five
// days).
TEST_F(SourceFiles, SyncFeedsDocumentsOverManyRangesOfDaysAndARerunFindsThemAll) {
  const std::string path = Database(
      "many.db",
      "CREATE TABLE Units(Name); INSERT INTO Units VALUES ('Nos');"
      "CREATE TABLE Godowns(Name); INSERT INTO Godowns VALUES ('Shop');"
      "CREATE TABLE StockItems(Name, BaseUnits); INSERT INTO StockItems VALUES ('LED Bulb', "
      "'Nos');"
      "CREATE TABLE Ledgers(Name, Parent); INSERT INTO Ledgers VALUES ('Anand Hardware', 'Sundry "
      "Debtors'), ('Sales @ 4%', 'Sales Accounts'), ('Output VAT', 'Duties & Taxes'), "
      "('Freight', 'Indirect Incomes');"
      "CREATE TABLE Vouchers(VoucherID, VoucherType, Date, Party);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1100) INSERT INTO "
      "Vouchers SELECT 'S' || i, 'Sales', date('2016-04-01', '+' || (2 * (i % 20)) || ' days'), "
      "'Anand Hardware' FROM n;"
      "CREATE TABLE VoucherLines(VoucherID, Line, Ledger, Item, Godown, Quantity, Unit, Rate, "
      "Amount);"
      "WITH RECURSIVE n(i) AS (SELECT 1100 UNION ALL SELECT i - 1 FROM n WHERE i > 1) INSERT INTO "
      "VoucherLines SELECT 'S' || i, 3, 'Freight', NULL, NULL, NULL, NULL, NULL, 5 FROM n UNION "
      "ALL SELECT 'S' || i, 2, 'Output VAT', NULL, NULL, NULL, NULL, NULL, 2.72 FROM n UNION ALL "
      "SELECT 'S' || i, 1, 'Sales @ 4%', 'LED Bulb', iif(i % 20 > 14, 'Shop', NULL), 4, 'Nos', 17, "
      "68 "
      "FROM n;");
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", books_, "--strict"});
  test::FaultProxy proxy(standin.url(), test::FaultProxy::Kind::kImport,
                         test::FaultProxy::Mode::kShortCount, "REMOTEID=\"S550\"");
  const std::string first = Output(Sync(proxy.url()) + "sqlite:" + path, 3);
  EXPECT_THAT(first, HasSubstr("sales: 1100 in the source, 0 already in the books as in the "
                               "source, 1099 sent, 1 rejected"));
  EXPECT_THAT(first, HasSubstr("(VoucherID \"S550\"): the server's counters account for 0"));
  // A batch of 200 halved down to the one document: 200, 100, 50, 25, 13 or 12, ... 1.
  EXPECT_GE(proxy.faulted(), 8);
  EXPECT_LE(proxy.faulted(), 10);
  // Three ranges of days, read back as two: the books held nothing of the first, so the other
  // two went at once.
  int read_back = 0;
  for (std::string request : proxy.requests()) {
    std::erase(request, '\0');  // UTF-16 on the wire: the ASCII of its text stays
    read_back += request.find("<SVFROMDATE>") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(read_back, 2);
  EXPECT_EQ(proxy.overlapped(), 0);
  const std::vector<test::StoredVoucher> stored = test::StandinStore(books_).Vouchers(kCompanyName);
  ASSERT_EQ(stored.size(), 1100u);
  std::vector<std::string> ledgers;
  for (const test::StoredEntry& entry : stored.back().entries) {
    if (entry.kind == "ledger" && entry.name != "Anand Hardware") {
      ledgers.push_back(entry.name);
    }
  }
  EXPECT_EQ(ledgers, (std::vector<std::string>{"Output VAT", "Freight"}));
  EXPECT_THAT(Output(Sync(standin.url()) + "sqlite:" + path, 0),
              HasSubstr("sales: 1100 in the source, 1100 already in the books as in "
                        "the source, 0 sent"));
  // A voucher of the books dated on a day of no document, between two ranges read back, that the
  // source does not hold: verify names it. Another, moved in the books to that day, differs in its
  // date.
  sqlite::Database(books_, false)
      .Execute(
          "UPDATE vouchers SET remote_id = 'GAP', date = '20160418' WHERE remote_id = 'S1';"
          "UPDATE vouchers SET date = '20160418' WHERE remote_id = 'S2'");
  EXPECT_THAT(Output("LIRVO_TALLY_URL=" + standin.url() +
                         " " LIRVO_CLI_PATH " verify --source sqlite:" + path,
                     3),
              HasSubstr("1 missing from the books, 1 different, 0 not expected: "
                        "failed local checks; 1 in the books but not in the source"));
  // Sent again a document at a time: S3, gone from the books and the journal, while the books of
  // the next ranges are read ahead; S1, which the journal had as accepted, once the ranges are
  // read. The one moved in the books is left alone there, as a correction.
  sqlite::Database(books_, false)
      .Execute(
          "DELETE FROM voucher_entries WHERE voucher_id IN (SELECT id FROM vouchers WHERE "
          "remote_id = 'S3'); DELETE FROM vouchers WHERE remote_id = 'S3'");
  sqlite::Database((folder_ / "journal").string(), false)
      .Execute(
          "UPDATE fed_replies SET entries = (SELECT json_group_array(json(value)) FROM "
          "json_each(entries) WHERE value ->> 0 <> 'S3')");
  proxy.set_mode(test::FaultProxy::Mode::kForward);
  EXPECT_THAT(test::RunCommand(Sync(proxy.url()) + "sqlite:" + path + " --batch 1").out,
              AllOf(HasSubstr("1097 already in the books as in the source, 2 sent, 0 rejected, 1 "
                              "held otherwise"),
                    HasSubstr("(VoucherID \"S2\"): the books hold it otherwise (date: \"20160405\" "
                              "in the source, \"20160418\" in the books)")));
  EXPECT_EQ(proxy.overlapped(), 0);
}

// The journal keeps a source's masters and documents: with --trust-journal an unchanged re-run
// asks the server nothing, what changed in the source since it was accepted is read back as
// usual; without it the books are the truth. A journal from before the source's table works.
TEST_F(SourceFiles, TrustJournalTakesTheJournalsWordForWhatIsUnchanged) {
  const std::string path = Database("documents.db", kShopSql);
  const std::string journal =
      Database("journal",
               "CREATE TABLE vouchers(server TEXT NOT NULL, company TEXT NOT NULL, voucher_id "
               "TEXT NOT NULL, digest TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT "
               "NULL, recorded TEXT NOT NULL, PRIMARY KEY(server, company, voucher_id))");
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", books_, "--strict"});
  const test::FaultProxy proxy(standin.url(), test::FaultProxy::Kind::kImport,
                               test::FaultProxy::Mode::kForward);
  // Every kind but the sales, one of which names a ledger nowhere (so is never journaled).
  const std::string sync = "LIRVO_TALLY_URL=" + proxy.url() +
                           " " LIRVO_CLI_PATH " sync --company '" + kCompanyName +
                           "' --source sqlite:" + path + " --journal " + journal +
                           " --kinds units,ledgers,stock-items,sales-orders,receipts,purchases,"
                           "payments";
  const auto run = [&](const std::string& more) {
    const test::CommandResult result = test::RunCommand(sync + more);
    EXPECT_EQ(result.exit_code, 0) << more << result.out << result.err;
    return result.out;
  };
  EXPECT_THAT(test::RunCommand(sync + " --dry-run --trust-journal").out,
              HasSubstr("ledgers: 7 in the source, 0 already in the books, 7 to create"));
  const auto count = [&journal](const std::string& rows) {
    sqlite::Database db(journal, true);
    sqlite::Statement& query = db.Query("SELECT count(*) FROM " + rows);
    return query.Step() ? query.Int(0) : -1;
  };
  EXPECT_EQ(count("sqlite_master WHERE name = 'fed'"), 0);  // a dry run writes nothing
  run("");
  // Those the journal lacks are noted when found in the books.
  sqlite::Database(journal, false)
      .Execute("DELETE FROM fed_replies WHERE kind IN ('payments', 'units')");
  run("");
  EXPECT_EQ(count("fed_entries WHERE outcome = 'accepted'"), 13);

  std::size_t asked = proxy.requests().size();
  EXPECT_THAT(run(" --trust-journal"),
              AllOf(HasSubstr("ledgers: 7 in the source, 7 already in the books (7 of them on the "
                              "journal's word: the books were not read), 0 created"),
                    HasSubstr("payments: 1 in the source, 1 already in the books as in the source "
                              "(1 of them on the journal's word")));
  EXPECT_EQ(proxy.requests().size(), asked);

  // Deleted from the books: the journal's word is not taken without the flag.
  sqlite::Database(books_, false)
      .Execute(
          "DELETE FROM voucher_entries WHERE voucher_id = (SELECT id FROM vouchers WHERE "
          "remote_id = 'R1'); DELETE FROM vouchers WHERE remote_id = 'R1'");
  EXPECT_THAT(run(""), HasSubstr("receipts: 1 in the source, 0 already in the books as in the "
                                 "source, 1 sent, 0 rejected, 0 held otherwise; 1 the journal had "
                                 "as accepted were missing from the books: sent again\n"));

  // Changed in the source: a ledger's parent, a purchase's amount.
  sqlite::Database(path, false)
      .Execute(
          "UPDATE Ledgers SET Parent = 'Direct Expenses' WHERE Name = 'Rent';"
          "UPDATE VoucherLines SET Amount = 130 WHERE VoucherID = 'P1'");
  asked = proxy.requests().size();
  const std::string changed = Output(sync + " --trust-journal", 3);
  // The ledger is read back and found under its old parent: named, left alone. The purchase the
  // books hold as it was sent goes again: the source changed since.
  EXPECT_THAT(changed, AllOf(HasSubstr("ledgers: 7 in the source, 6 already in the books (6 of "
                                       "them on the journal's word: the books were not "
                                       "read), 0 created, 0 rejected, 1 held otherwise"),
                             HasSubstr("purchases: 1 in the source, 0 already in the books as "
                                       "in the source, 1 sent, 0 rejected, 0 held otherwise")));
  EXPECT_GT(proxy.requests().size(), asked);
}

// Vouchers and lines in the order of their VoucherIDs (read in step), vouchers out of it (read
// again, each looking its lines up), lines out of it (spooled, then looked up): the same documents
// with the same lines in the order of their Line numbers, the same voucher without lines, the same
// lines of no voucher before, between and after the vouchers.
TEST_F(SourceFiles, DocumentsGoWithTheirLinesWhetherOrNotTheTablesAreInTheirOrder) {
  const std::string shop =
      std::string(kShopSql).substr(0, std::string(kShopSql).find("CREATE TABLE Vouchers")) +
      "CREATE TABLE VoucherLines (VoucherID TEXT, Line INTEGER, Ledger TEXT, Amount TEXT);";
  // A value longer than a byte can count, kept whole in the spool.
  const std::string nine = "'" + std::string(130, '0') + "9'";
  const std::string in_order =
      "INSERT INTO VoucherLines VALUES ('R0', 1, 'HDFC Bank', 1), ('R1', 2, 'Rent', 30),"
      " ('R1', 1, 'HDFC Bank', 40), ('R3', 1, 'HDFC Bank', 5), ('R4', 1, 'HDFC Bank', " +
      nine + "), ('R5', 1, 'HDFC Bank', 7);";
  const std::string out_of_order =
      "INSERT INTO VoucherLines VALUES ('R0', 1, 'HDFC Bank', 1), ('R1', 2, 'Rent', 30),"
      " ('R4', 1, 'HDFC Bank', " +
      nine + "), ('R3', 1, 'HDFC Bank', 5), ('R1', 1, 'HDFC Bank', 40), ('R5', 1, 'HDFC Bank', 7);";
  // A VoucherID given twice names one voucher: the later row is not sent.
  for (const auto& [order, lines] : {std::pair{std::string("R1 R2 R4 R4"), in_order},
                                     {"R4 R1 R2 R4", in_order},
                                     {"R1 R2 R4 R4", out_of_order}}) {
    SCOPED_TRACE(order + (lines == in_order ? "" : ", lines out of order"));
    std::string sql = shop + lines + "CREATE TABLE Vouchers (VoucherID TEXT, VoucherType TEXT, " +
                      "Date TEXT, Party TEXT);";
    for (std::size_t at = 0; at < order.size(); at += 3) {
      sql += "INSERT INTO Vouchers VALUES ('" + order.substr(at, 2) +
             "', 'Receipt', '2016-04-10', 'Anand Hardware');";
    }
    const std::string name = order + (lines == in_order ? "" : " lines");
    const std::string path = Database(name + ".db", sql);
    const std::string data = (folder_ / (name + " books.db")).string();
    test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", data});
    const std::string run =
        Output(Sync(standin.url(), name + " journal") + "'sqlite:" + path + "'", 3);
    EXPECT_THAT(run,
                AllOf(HasSubstr("receipts: 4 in the source, 0 already in the books as in the "
                                "source, 2 sent, 2 rejected"),
                      HasSubstr("(VoucherID \"R2\"): voucher R2, VoucherLines: the voucher has "
                                "no lines"),
                      HasSubstr("Vouchers row 4 (VoucherID \"R4\"): its VoucherID \"R4\" is also "
                                "on Vouchers row " +
                                std::string(order[0] == 'R' && order[1] == '4' ? "1" : "3"))));
    for (const char* orphan :
         {"row 1 (VoucherID \"R0\")", "row 4 (VoucherID \"R3\")", "row 6 (VoucherID \"R5\")"}) {
      EXPECT_THAT(run, HasSubstr(std::string("Rejected: VoucherLines ") + orphan));
    }
    std::map<std::string, std::string> entries;
    for (const test::StoredVoucher& voucher : test::StandinStore(data).Vouchers(kCompanyName)) {
      for (const test::StoredEntry& entry : voucher.entries) {
        entries[voucher.remote_id] += entry.name + " " + entry.amount + "; ";
      }
    }
    EXPECT_EQ(entries, (std::map<std::string, std::string>{
                           {"R1", "Anand Hardware 70; HDFC Bank -40; Rent -30; "},
                           {"R4", "Anand Hardware 9; HDFC Bank -9; "}}));
  }
}

// SalesMst's rows go as sales vouchers, the item on one line and the tax on another; the masters
// they imply are created when the books lack them and left alone however the books hold them; a
// VoucherID given twice is named with its first row; a re-run sends nothing.
TEST_F(SourceFiles, SalesMstRowsGoAsSalesAndTheMastersTheyImplyAreLeftAloneInTheBooks) {
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {"--data", books_});
  const std::string sync = Sync(standin.url()) + "sqlite:";
  const test::CommandResult ledger = test::RunCommand(
      sync + Database("ledger.db",
                      "CREATE TABLE Ledgers(Name, Parent); INSERT INTO Ledgers VALUES ('Bharat "
                      "Electricals', 'Sundry Creditors')"));
  ASSERT_EQ(ledger.exit_code, 0) << ledger.out << ledger.err;
  const std::string sales =
      Database("sales.db", std::string(kSalesSql) +
                               "INSERT INTO SalesMst VALUES ('S-1', '2016-04-09', 'INV-4', 'Anand "
                               "Hardware', 'Sales @ 4%', 'Output VAT @ 4%', 'LED Bulb 9W', "
                               "'Nos', 1, 17, 17, 4);");
  EXPECT_THAT(Output(sync + sales, 3),
              AllOf(HasSubstr("ledgers: 8 in the source, 1 already in the books, 7 created"),
                    HasSubstr("sales: 4 in the source, 0 already in the books as in the source, "
                              "3 sent, 1 rejected"),
                    HasSubstr("Rejected: row 4 (VoucherID \"S-1\"): its VoucherID \"S-1\" is "
                              "also on SalesMst row 1")));
  const test::StandinStore store(books_);
  EXPECT_EQ(store.Master(kCompanyName, "LEDGER", "Bharat Electricals")->parent, "Sundry Creditors");
  // The masters the rows imply, as the sales need them.
  const auto master = [&store](const char* kind, const char* name) {
    const std::optional<test::StoredMaster> stored = store.Master(kCompanyName, kind, name);
    return stored ? stored->values : decltype(stored->values){};
  };
  using Values = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(master("UNIT", "Nos"),
            (Values{{"NAME", "Nos"}, {"ISSIMPLEUNIT", "Yes"}, {"DECIMALPLACES", "2"}}));
  EXPECT_EQ(master("STOCKITEM", "LED Bulb 9W"), (Values{{"COSTINGMETHOD", "Avg. Cost"},
                                                        {"VALUATIONMETHOD", "Avg. Price"},
                                                        {"BASEUNITS", "Nos"},
                                                        {"DENOMINATOR", "1"},
                                                        {"NAME.LIST/NAME", "LED Bulb 9W"}}));
  EXPECT_EQ(store.Master(kCompanyName, "LEDGER", "Anand Hardware")->parent, "Sundry Debtors");
  EXPECT_EQ(store.Master(kCompanyName, "LEDGER", "Sales @ 4%")->parent, "Sales Accounts");
  EXPECT_EQ(store.Master(kCompanyName, "LEDGER", "Output VAT @ 4%")->parent, "Duties & Taxes");
  std::map<std::string, std::string> entries;
  for (const test::StoredVoucher& voucher : store.Vouchers(kCompanyName)) {
    for (const test::StoredEntry& entry : voucher.entries) {
      entries[voucher.remote_id + " " + voucher.type + " " + voucher.reference] +=
          entry.name + " " + entry.amount + "; ";
    }
  }
  EXPECT_EQ(entries["S-2 Sales INV-2"],
            "MCB 16A 168; Sales @ 12.5% 168; Chandra & Sons -189; Output VAT @ 12.5% 21; ");
  const test::CommandResult again = test::RunCommand(sync + sales);
  EXPECT_THAT(again.out, HasSubstr("sales: 4 in the source, 3 already in the books as in the "
                                   "source, 0 sent, 1 rejected"));
  // An implied master the journal holds as accepted in another form is left alone on its word.
  sqlite::Database((folder_ / "journal").string(), false)
      .Execute(
          "UPDATE fed_replies SET entries = (SELECT json_group_array(json_array(value ->> 0, "
          "'earlier')) FROM json_each(entries)) WHERE kind = 'units'");
  EXPECT_THAT(test::RunCommand(sync + sales + " --trust-journal").out,
              HasSubstr("units: 1 in the source, 1 already in the books (1 of them on the "
                        "journal's word"));
}

// A source that passes everything on to another, reading its tables alongside; the wrappers
// below change what they need.
class Forwarding : public Source {
 public:
  explicit Forwarding(std::unique_ptr<Source> source) : source_(std::move(source)) {}
  const std::string& name() const override { return source_->name(); }
  std::vector<std::string> Tables() override { return source_->Tables(); }
  std::vector<std::string> Columns(const std::string& table) override {
    return source_->Columns(table);
  }
  std::int64_t RowCount(const std::string& table) override { return source_->RowCount(table); }
  bool ReadsTablesAtOnce() const override { return true; }
  std::unique_ptr<Rows> Read(const std::string& table) override { return source_->Read(table); }

 private:
  std::unique_ptr<Source> source_;
};

// A source that counts the readings of each table.
class CountingReads final : public Forwarding {
 public:
  using Forwarding::Forwarding;
  std::unique_ptr<Rows> Read(const std::string& table) override {
    ++reads[table];
    return Forwarding::Read(table);
  }
  std::map<std::string, int> reads;
};

// SalesMst is read once for its vouchers, their lines and the masters its rows imply, whichever
// way the two tables are stepped: a side that falls far behind reads the table again on its own.
TEST_F(SourceFiles, SalesMstIsReadOnceForItsDocumentsAndTheMastersTheyImply) {
  constexpr int kRows = 6000;  // more than the rows one side may fall behind
  const std::string sales = Database(
      "sales.db", std::string(kSalesSql) + "DELETE FROM SalesMst;" +
                      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                      std::to_string(kRows) +
                      ") INSERT INTO SalesMst SELECT printf('S-%05d', i), '2016-04-02', 'INV', "
                      "'Party ' || (i % 7), 'Sales @ 4%', 'Output VAT @ 4%', 'Item ' || (i % 11), "
                      "'Unit ' || (i % 3), 1, 25, 25, 4 FROM n;");
  CountingReads source(Open(ParseUri("sqlite:" + sales)));
  std::deque<lirvo::feed::ImpliedMaster> implied;
  const auto with = lirvo::feed::WithSalesMst(source, "SalesMst", 0, std::nullopt, implied);
  const auto id = [](int row) {
    char text[16];
    std::snprintf(text, sizeof text, "S-%05d", row);
    return std::string(text);
  };
  const auto expect_line = [&](Rows& lines, int row, const char* line, const char* amount) {
    ASSERT_TRUE(lines.Next()) << row;
    EXPECT_EQ(*lines.Values()[*lines.Find("VoucherID")], id(row));
    EXPECT_EQ(*lines.Values()[*lines.Find("Line")], line);
    EXPECT_EQ(lines.Values()[*lines.Find("Amount")].value_or("-"), amount);
  };
  {  // alongside, in step
    const auto vouchers = with->Read("Vouchers");
    const auto lines = with->Read("VoucherLines");
    for (int row = 1; row <= kRows; ++row) {
      ASSERT_TRUE(vouchers->Next());
      EXPECT_EQ(*vouchers->Values()[*vouchers->Find("VoucherID")], id(row));
      expect_line(*lines, row, "1", "25");
      expect_line(*lines, row, "2", "1");
    }
    EXPECT_FALSE(vouchers->Next());
    EXPECT_FALSE(lines->Next());
  }
  EXPECT_EQ(source.reads["SalesMst"], 1);
  // 3 units, 11 stock items, 7 parties, a sales ledger and a tax ledger, each once.
  EXPECT_EQ(implied.size(), 23u);
  {  // the lines left behind by every voucher
    const auto vouchers = with->Read("Vouchers");
    const auto lines = with->Read("VoucherLines");
    expect_line(*lines, 1, "1", "25");
    while (vouchers->Next()) {
    }
    expect_line(*lines, 1, "2", "1");
    for (int row = 2; row <= kRows; ++row) {
      expect_line(*lines, row, "1", "25");
      expect_line(*lines, row, "2", "1");
    }
    EXPECT_FALSE(lines->Next());
  }
  EXPECT_EQ(source.reads["SalesMst"], 3);
  EXPECT_EQ(implied.size(), 23u);
  // Only the rows dated in the range imply masters; all are dated in 2016-17.
  for (const auto& [year, masters] : {std::pair{"2016-17", 23u}, {"2017-18", 0u}}) {
    std::deque<lirvo::feed::ImpliedMaster> dated;
    const auto within =
        lirvo::feed::WithSalesMst(source, "SalesMst", 0, FinancialYearRange(year), dated);
    const auto vouchers = within->Read("Vouchers");
    while (vouchers->Next()) {
    }
    EXPECT_EQ(dated.size(), masters) << year;
  }

  // A run reads it once too: the masters are known before the first document is checked.
  const test::StandinProcess standin(LIRVO_STANDIN_PATH, {});
  const auto counted = std::make_shared<CountingReads>(Open(ParseUri("sqlite:" + sales)));
  lirvo::feed::RunOptions run;
  run.server.url = standin.url();
  run.company = kCompanyName;
  run.kinds = {lirvo::source::FindKind("sales")};
  run.dry_run = true;
  const lirvo::feed::RunSummary summary = lirvo::feed::Run(counted, run);
  EXPECT_EQ(counted->reads["SalesMst"], 1);
  ASSERT_TRUE(summary.documents);
  const auto& fed =
      summary.documents->types[static_cast<std::size_t>(lirvo::books::DocumentType::kSales)];
  EXPECT_EQ(fed.sent, kRows);  // none rejected for want of a master
}

// A source whose driver keeps one statement at a time without saying so: a table read while
// another is still being read is refused.
class OneTableAtATime final : public Forwarding {
 public:
  using Forwarding::Forwarding;
  std::unique_ptr<Rows> Read(const std::string& table) override {
    if (reading_ > 0) {
      throw lirvo::source::Error("cannot read table \"" + table + "\": the connection is busy");
    }
    return std::make_unique<Reading>(Forwarding::Read(table), reading_);
  }

 private:
  class Reading final : public Rows {
   public:
    Reading(std::unique_ptr<Rows> rows, int& reading)
        : Rows(rows->table(), rows->Columns()), rows_(std::move(rows)), reading_(++reading) {}
    ~Reading() override { --reading_; }
    bool Next() override {
      if (!rows_->Next()) {
        return false;
      }
      values_ = rows_->Values();
      row_number_ = rows_->RowNumber();
      return true;
    }

   private:
    std::unique_ptr<Rows> rows_;
    int& reading_;
  };
  int reading_ = 0;
};

// Refused the lines beside the vouchers, the feed reads one table after the other.
TEST_F(SourceFiles, DocumentsAreFedFromASourceThatReadsOneTableAtATime) {
  OneTableAtATime source(Open(ParseUri("sqlite:" + Database("shop.db", kShopSql))));
  test::StandinProcess standin(LIRVO_STANDIN_PATH, {});
  lirvo::feed::DocumentsOptions options;
  options.server.url = standin.url();
  options.company = kCompanyName;
  options.dry_run = true;
  const lirvo::feed::DocumentsSummary summary = lirvo::feed::FeedDocuments(source, options);
  long read = 0;
  long decided = 0;
  for (const lirvo::feed::TypeCounts& counts : summary.types) {
    read += counts.in_source;
    decided += counts.sent + counts.rejected + counts.held_otherwise + counts.in_books;
  }
  EXPECT_FALSE(summary.stopped) << *summary.stopped;
  EXPECT_EQ(read, 6);
  EXPECT_EQ(decided, 6);
  EXPECT_EQ(summary.orphan_lines, 1);
  EXPECT_EQ(summary.unknown_types, 1);
}

// The masters feed on its own: a master the books hold otherwise leaves it incomplete.
TEST_F(SourceFiles, AMasterHeldOtherwiseLeavesTheMastersFeedIncomplete) {
  const test::StandinProcess standin(LIRVO_STANDIN_PATH, {});
  lirvo::feed::MastersOptions options;
  options.server.url = standin.url();
  options.company = kCompanyName;
  const auto feed = [&](const std::string& parent) {
    const std::unique_ptr<Source> source =
        Open(ParseUri("sqlite:" + Database(parent + ".db",
                                           "CREATE TABLE Ledgers(Name, Parent); INSERT INTO "
                                           "Ledgers VALUES ('Anand Hardware', '" +
                                               parent + "')")));
    return lirvo::feed::FeedMasters(*source, options).outcome();
  };
  EXPECT_EQ(feed("Sundry Debtors"), lirvo::RunOutcome::kComplete);
  EXPECT_EQ(feed("Sundry Creditors"), lirvo::RunOutcome::kIncomplete);
}

TEST_F(SourceFiles, SourcesCommandExitStatuses) {
  const std::string path = Database("books.db", LayoutSql());
  const test::CommandResult good =
      test::RunCommand(LIRVO_CLI_PATH " sources --source sqlite:" + path);
  EXPECT_EQ(good.exit_code, 0) << good.err;
  EXPECT_EQ(good.out,
            "units                     1  from Units\n"
            "ledgers                   3  from Ledgers\n"
            "sales-orders              1  from Vouchers\n"
            "sales                     1  from Vouchers\n"
            "receipts                  1  from Vouchers\n"
            "years 2016-17 2017-18\n");
  EXPECT_THAT(good.err, HasSubstr("(the first: \"Journal\")"));
  const struct {
    std::string arguments;
    int status;
    const char* words;
  } cases[] = {
      {"sources --source mysql:books", 2, "sqlite:PATH"},
      {"sources", 2, "--source"},
      {"sources --source sqlite:" + path + "-missing", 1, "no such file"},
      // Nothing to compare proves nothing: no server is asked.
      {"verify --source sqlite:" + Database("other.db", "CREATE TABLE Customers (Name)"), 1,
       "holds no table of the kinds to verify"},
      {"verify --db x.mdb --kinds units", 2, "--kinds"},
      // A line of no voucher is named, even with no voucher at all (no server is asked).
      {"sync --company X --source sqlite:" +
           Database("lines.db",
                    "CREATE TABLE Vouchers (VoucherID, VoucherType, Date);"
                    "CREATE TABLE VoucherLines (VoucherID, Amount); INSERT INTO VoucherLines "
                    "VALUES ('V9', 5)"),
       3, "Rejected: VoucherLines row 1 (VoucherID \"V9\")"},
  };
  for (const auto& c : cases) {
    const test::CommandResult result = test::RunCommand(LIRVO_CLI_PATH " " + c.arguments);
    EXPECT_EQ(result.exit_code, c.status) << c.arguments;
    EXPECT_THAT(result.out + result.err, HasSubstr(c.words)) << c.arguments;
  }
}

}  // namespace
}  // namespace lirvo::source
