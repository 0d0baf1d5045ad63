// The export selection dialog: without a source it only lays out (masked password, Process
// inert, Close unloads); with one it logs in, lists each company with the source's financial
// years, offers the kinds the source holds, and moves the ticked ones into the stand-in with a
// live grid that Stop and Close interrupt.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/odbc.h>
#include <lirvo/sqlite.h>
#include <lirvo/sync.h>

#include "StatusModel.h"
#include "dlgExport.h"
#include "postgres_cluster.h"
#include "raw_server.h"
#include "shop_sql.h"
#include "standin_process.h"
#include "standin_store.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using Names = std::vector<std::string>;

TEST(ExportDialog, StartsClearedWithAMaskedPasswordProcessDoesNothingAndCloseUnloads) {
  QPointer<dlgExport> dialog = new dlgExport;
  dialog->show();
  auto* password = Child<QLineEdit>(*dialog, "txtPassword");
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password),
            '*');
  EXPECT_TRUE(password->text().isEmpty());
  EXPECT_TRUE(Child<QLineEdit>(*dialog, "txtUserName")->text().isEmpty());
  for (int check = 1; check <= 14; ++check) {
    const std::string name = "Check" + std::to_string(check);
    EXPECT_FALSE(Child<QCheckBox>(*dialog, name.c_str())->isChecked()) << name;
  }

  QTest::keyClicks(Child<QLineEdit>(*dialog, "txtUserName"), "admin");
  QTest::keyClicks(password, "s3cret, \"x\"");
  Child<QCheckBox>(*dialog, "Check12")->setChecked(true);
  Click(*dialog, "Command1");
  FlushDeferredDeletes();
  ASSERT_FALSE(dialog.isNull());
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(dialog->busy());
  EXPECT_EQ(password->text(), "s3cret, \"x\"");
  EXPECT_TRUE(Child<QCheckBox>(*dialog, "Check12")->isChecked());

  Click(*dialog, "Command2");
  FlushDeferredDeletes();
  EXPECT_TRUE(dialog.isNull());
}

// A rejection of no kind (a Vouchers row whose type names none) is counted and listed on the totals
// row, so that nothing rejected goes unshown.
TEST(StatusGrid, RejectionsOfNoKindGoOnTheTotalsRow) {
  StatusModel model;
  const lirvo::source::Kind* sales = lirvo::source::FindKind("sales");
  model.Reset({sales});
  lirvo::feed::KindStatus status;
  status.kind = sales;
  status.rejected = 1;
  model.Update({status}, {{sales, "S9", "no lines", "Vouchers", 1},
                          {nullptr, "J1", "\"Journal\" is no type", "Vouchers", 2}});
  EXPECT_EQ(model.index(1, 5).data().toString(), "2");
  ASSERT_EQ(model.RejectionsAt(1).size(), 1U);
  EXPECT_EQ(model.RejectionsAt(1).front().first, "J1");
  EXPECT_EQ(model.RejectionsAt(0).front().first, "S9");
}

// A shop's masters and documents: sales (one naming a ledger nowhere, one in SalesMst), a
// purchase, a receipt, a payment, a sales order and a journal (no document kind), all in 2016-17
// but one sale in 2017-18.
const std::string kShopSql =
    std::string(kShopTables) +
    "INSERT INTO Vouchers VALUES ('S1', 'Sales', '2016-04-02', 'S/1', 'Anand Hardware'), ('P1', "
    "'Purchase', '2016-04-05', '', 'Supplier Co'), ('R1', 'Receipt', '2016-04-10', '', 'Anand "
    "Hardware'), ('PY1', 'Payment', '2016-05-01', '', 'Rent'), ('SO1', 'Sales Order', "
    "'2016-04-01', 'SO/1', 'Anand Hardware'), ('X1', 'Journal', '2016-04-03', '', 'Rent'), ('X2', "
    "'Sales', '2016-04-04', '', 'Anand Hardware'), ('S3', 'Sales', '2017-05-01', '', 'Anand "
    "Hardware');"
    "INSERT INTO VoucherLines VALUES ('S1', 2, 'Output VAT', NULL, NULL, NULL, NULL, 2.72), ('S1', "
    "1, 'Sales @ 4%', 'LED Bulb', 4, 'Nos', 17, 68), ('P1', 1, 'Purchases', 'LED Bulb', 10, 'Nos', "
    "12, 120), ('R1', 1, 'HDFC Bank', NULL, NULL, NULL, NULL, 70.72), ('PY1', 1, 'HDFC Bank', "
    "NULL, NULL, NULL, NULL, 500), ('SO1', 1, 'Sales @ 4%', 'LED Bulb', 2, 'Nos', 17, 34), ('X2', "
    "1, 'Unknown Ledger', 'LED Bulb', 1, 'Nos', 17, 17), ('S3', 1, 'Sales @ 4%', 'LED Bulb', 1, "
    "'Nos', 17, 17);"
    "CREATE TABLE SalesMst (VoucherID TEXT, VoucherDate TEXT, RefNo TEXT, PartyName TEXT, "
    "SalesLedger TEXT, TaxAc TEXT, ItemName TEXT, Unit TEXT, Qty NUMERIC, Rate NUMERIC, Amount "
    "NUMERIC, TaxPer NUMERIC);"
    "INSERT INTO SalesMst VALUES ('SM1', '2016-04-06', 'INV-9', 'Anand Hardware', 'Sales @ 4%', "
    "'Output VAT', 'LED Bulb', 'Nos', 2, 17, 34, 4);";

// Enough godowns (one request each) for a run to be stopped in the middle.
constexpr long kManyGodowns = 20000;  // a hundred requests of the default batch
const std::string kGodownsSql =
    "CREATE TABLE Godowns (Name TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
    "FROM n WHERE i < " +
    std::to_string(kManyGodowns) + ") INSERT INTO Godowns SELECT 'Godown ' || i FROM n;";

constexpr int kDeadlineMs = 60'000;

class ExportRun : public ::testing::Test {
 protected:
  void TearDown() override { delete dialog_.data(); }  // before the stand-in and the folder go

  // Starts the stand-in with two companies, its store in the test's folder.
  void Serve() {
    standin_.emplace(LIRVO_STANDIN_PATH, Names{"--data", Store(), "--company", kStandinCompany,
                                               "--company", "Second Co"});
    address_.emplace("LIRVO_TALLY_URL", standin_->url());
  }
  std::string Store() const { return (folder_ / "books.db").string(); }

  // An SQLite source made by `sql`, as a URI.
  std::string Source(const std::string& sql) const {
    const std::string path = (folder_ / "source.db").string();
    sqlite::Database(path, false).Execute(sql);
    return "sqlite:" + path;
  }

  // Opens the dialog on `uri`; waits for the login when the source takes none.
  void Open(const std::string& uri) {
    dialog_ = new dlgExport;
    dialog_->showMessage = messages_.recorder();
    dialog_->askYesNo = [this](const QString&) { return answer_; };
    dialog_->setJournal(folder_ / "journal.sqlite");
    QObject::connect(dialog_, &dlgExport::loginFinished, [this](bool ok) { login_ = ok; });
    dialog_->show();
    dialog_->setSource(uri);
    if (dialog_->logsInAtOnce()) {
      WaitForLogin();
    }
  }
  void WaitForLogin() {
    login_.reset();
    ASSERT_TRUE(QTest::qWaitFor([this] { return login_.has_value(); }, kDeadlineMs));
  }

  QCheckBox* Check(const char* name) const { return Child<QCheckBox>(*dialog_, name); }
  Names Entries() const {
    Names entries;
    const auto* list = Child<QComboBox>(*dialog_, "tvFY");
    for (int i = 0; i < list->count(); ++i) {
      entries.push_back(list->itemText(i).toStdString());
    }
    return entries;
  }
  QTableView* Grid() const { return Child<QTableView>(*dialog_, "MSHFlexGrid1"); }
  // The grid's rows, each "Item|In source|In books|Sent|Accepted|Rejected" (time left out).
  Names Rows() const {
    Names rows;
    const QAbstractItemModel* model = Grid()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      std::string text;
      for (int column = 0; column < 6; ++column) {
        text += (column ? "|" : "") + model->index(row, column).data().toString().toStdString();
      }
      rows.push_back(text);
    }
    return rows;
  }
  long Figure(int row, int column) const {
    return Grid()->model()->index(row, column).data().toString().toLong();
  }
  void Process() {
    Click(*dialog_, "Command1");
    EXPECT_EQ(Child<QPushButton>(*dialog_, "Command1")->text(), "Stop");
  }
  void WaitForTheEnd() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return !dialog_->busy(); }, kDeadlineMs));
    QCoreApplication::processEvents();
  }

  const TempDir dir_{"lirvo-export"};
  const fs::path folder_ = dir_.path();
  std::optional<StandinProcess> standin_;
  std::optional<ScopedEnv> address_;
  QPointer<dlgExport> dialog_;
  MessageLog messages_;
  std::optional<bool> login_;
  bool answer_ = true;
};

// The login needs none for SQLite; each company comes with the source's year, the kinds the
// source holds are offered with their counts, Process moves the ticked kinds only, the grid's
// figures are the store's, and a rejected document is listed with its reason and saved as CSV.
TEST_F(ExportRun, ProcessMovesTheTickedKindsOnlyAndTheGridAgreesWithTheBooks) {
  Serve();
  Open(Source(kShopSql));
  EXPECT_EQ(login_, true);
  EXPECT_FALSE(Child<QLineEdit>(*dialog_, "txtUserName")->isEnabled());
  EXPECT_FALSE(Child<QLineEdit>(*dialog_, "txtPassword")->isEnabled());
  EXPECT_EQ(Entries(), (Names{"Demo Trading Co — 2016-17", "Demo Trading Co — 2017-18",
                              "Second Co — 2016-17", "Second Co — 2017-18"}));
  std::string offered;
  for (int check = 1; check <= 14; ++check) {
    const std::string name = "Check" + std::to_string(check);
    offered += Check(name.c_str())->isEnabled() ? name + " " : "";
  }
  // Units, Stock Items, Ledgers; Receipts, Sales, Sales Orders, Payments, Purchases.
  EXPECT_EQ(offered, "Check2 Check4 Check6 Check9 Check10 Check12 Check13 Check14 ");
  EXPECT_EQ(Check("Check6")->toolTip(), "7 in Ledgers");
  EXPECT_EQ(Check("Check10")->toolTip(), "3 in Vouchers, 1 in SalesMst");

  // Sales and Receipts of 2016-17 ticked: the masters their documents name go in with them.
  Check("Check10")->setChecked(true);
  Check("Check9")->setChecked(true);
  Process();
  WaitForTheEnd();
  EXPECT_EQ(Child<QPushButton>(*dialog_, "Command1")->text(), "Process");
  EXPECT_EQ(Rows(), (Names{"Units|1|0|1|1|0", "Stock Items|1|0|1|1|0", "Ledgers|4|0|4|4|0",
                           "Sales|3|0|3|2|1", "Receipts|1|0|1|1|0", "Totals|10|0|10|9|1"}));
  const StandinStore store(Store());
  Names ledgers = store.Masters(kStandinCompany, "LEDGER");  // those the documents name
  std::sort(ledgers.begin(), ledgers.end());
  EXPECT_EQ(ledgers, (Names{"Anand Hardware", "HDFC Bank", "Output VAT", "Sales @ 4%"}));
  EXPECT_EQ(store.CountMasters("Second Co"), 0);
  Names vouchers;
  for (const StoredVoucher& voucher : store.Vouchers(kStandinCompany)) {
    vouchers.push_back(voucher.remote_id + " " + voucher.type);
  }
  std::sort(vouchers.begin(), vouchers.end());
  EXPECT_EQ(vouchers, (Names{"R1 Receipt", "S1 Sales", "SM1 Sales"}));
  EXPECT_TRUE(messages_.shown.empty());
  {  // The journal holds what was accepted of every kind, SalesMst's sale among the sales.
    sqlite::Database journal((folder_ / "journal.sqlite").string(), true);
    sqlite::Statement& journaled = journal.Query(
        "SELECT group_concat(kind || ' ' || n, ', ') FROM (SELECT kind, count(*) AS n FROM "
        "fed_entries "
        "WHERE outcome = 'accepted' GROUP BY kind ORDER BY kind)");
    ASSERT_TRUE(journaled.Step());
    EXPECT_EQ(journaled.Text(0), "ledgers 4, receipts 1, sales 2, stock-items 1, units 1");
  }

  // The Sales row's rejection, listed and saved.
  const QModelIndex sales = Grid()->model()->index(3, 0);  // after the three masters' rows
  const QPoint at = Grid()->visualRect(sales).center();
  QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(Grid()->viewport(), Qt::LeftButton, {}, at);
  auto* list = dialog_->findChild<QDialog*>("Rejections");
  ASSERT_NE(list, nullptr);
  auto* table = Child<QTableWidget>(*list, "RejectionList");
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->item(0, 0)->text(), "X2");
  EXPECT_THAT(table->item(0, 1)->text().toStdString(), HasSubstr("\"Unknown Ledger\""));
  const std::string csv = (folder_ / "rejected.csv").string();
  dialog_->chooseCsvFile = [&csv](const QString&) { return QString::fromStdString(csv); };
  QTest::mouseClick(list->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save),
                    Qt::LeftButton);
  std::stringstream saved;
  saved << std::ifstream(csv).rdbuf();
  EXPECT_THAT(saved.str(), AllOf(HasSubstr("id,reason\r\nX2,"), HasSubstr("Unknown Ledger")));

  // A second run finds the rest in the books and sends nothing; a ledger the books hold under
  // another group is left alone and listed, as a document held otherwise is.
  sqlite::Database(Store(), false)
      .Execute("UPDATE masters SET parent = 'Sundry Creditors' WHERE name = 'Anand Hardware'");
  Process();
  WaitForTheEnd();
  EXPECT_EQ(Rows()[2], "Ledgers|4|3|1|0|1");
  EXPECT_EQ(Rows()[3], "Sales|3|2|1|0|1");
  const auto& held = static_cast<const StatusModel*>(Grid()->model())->RejectionsAt(2);
  ASSERT_EQ(held.size(), 1U);
  EXPECT_EQ(held.front().first, "Anand Hardware");
  EXPECT_THAT(held.front().second,
              HasSubstr("held otherwise in the books: Ledgers row 1: Parent \"Sundry Debtors\" in "
                        "the source, \"Sundry Creditors\" in the books"));
  EXPECT_EQ(StandinStore(Store()).Master(kStandinCompany, "LEDGER", "Anand Hardware")->parent,
            "Sundry Creditors");
}

// Stop ends the run after the request in hand: what the grid counts as accepted is what the
// books hold. Close during a run asks first; "no" leaves it running, "yes" stops and closes.
TEST_F(ExportRun, StopAndCloseInterruptARunAndTheGridSaysWhatArrived) {
  Serve();
  Open(Source(kGodownsSql));
  Check("Check1")->setChecked(true);
  Process();
  ASSERT_TRUE(QTest::qWaitFor([this] { return Figure(0, 3) > 0; }, kDeadlineMs));
  Click(*dialog_, "Command1");  // Stop
  WaitForTheEnd();
  const long accepted = Figure(0, 4);
  EXPECT_LT(accepted, kManyGodowns);
  // The request in hand when Stop came is abandoned; the server may still have taken it.
  const long long stored = StandinStore(Store()).CountMasters(kStandinCompany, "GODOWN");
  EXPECT_GE(stored, accepted);
  EXPECT_LE(stored, accepted + lirvo::sync::kDefaultBatch);
  ASSERT_EQ(messages_.shown.size(), 1U);
  EXPECT_THAT(messages_.shown[0].text, HasSubstr("stopped"));

  Process();
  answer_ = false;
  dialog_->close();
  EXPECT_TRUE(dialog_->running());
  EXPECT_TRUE(Child<QPushButton>(*dialog_, "Command1")->isEnabled());  // still Stop, not stopping
  answer_ = true;
  dialog_->close();
  ASSERT_TRUE(QTest::qWaitFor(
      [this] {
        FlushDeferredDeletes();
        return dialog_.isNull();
      },
      kDeadlineMs));
  EXPECT_LT(StandinStore(Store()).CountMasters(kStandinCompany, "GODOWN"), kManyGodowns);
}

// A source that cannot be read and a server that does not answer each end the login with one
// message saying why and what to do; Process then tries again.
TEST_F(ExportRun, LoginFailuresAreOneMessageWithTheReason) {
  const struct {
    bool serve;
    std::string uri;
    const char* words[2];
  } cases[] = {
      {true,
       "sqlite:" + (folder_ / "missing.db").string(),
       {"Cannot read the source", "missing.db"}},
      {false, Source(kShopSql), {"Cannot list the companies", "Start the server"}},
  };
  for (const auto& c : cases) {
    messages_.shown.clear();
    address_.reset();
    if (c.serve) {
      Serve();
    } else {
      address_.emplace("LIRVO_TALLY_URL", "http://127.0.0.1:1");  // nothing listens there
    }
    delete dialog_.data();
    Open(c.uri);
    EXPECT_EQ(login_, false) << c.uri;
    ASSERT_EQ(messages_.shown.size(), 1U) << c.uri;
    EXPECT_THAT(messages_.shown[0].text,
                AllOf(HasSubstr(c.words[0]), HasSubstr(c.words[1]), HasSubstr("press Process")));
  }
  // Process opens the source again once the server is there.
  Serve();
  Click(*dialog_, "Command1");
  WaitForLogin();
  EXPECT_EQ(login_, true);
  EXPECT_EQ(Entries().size(), 4U);
}

// An ODBC source takes the login: a wrong password is refused with the driver's reason (never
// the password) and the login can be tried again; the right one fills the list. A password in the
// connection string is never shown.
TEST_F(ExportRun, PostgresLoginWithAWrongThenTheRightPassword) {
  if (!PostgresCluster::Available() || !OdbcDriver("psqlodbcw.so")) {
    GTEST_FAIL() << "PostgreSQL (postgresql) or its ODBC driver (odbc-postgresql) is missing";
  }
  const PostgresCluster cluster;
  {
    const odbc::Environment environment;
    odbc::Connection admin(environment, cluster.ConnectionString(),
                           {PostgresCluster::kAdmin, PostgresCluster::kAdminPassword});
    admin.Execute("CREATE TABLE units (name TEXT)", "create the units");
    admin.Execute("INSERT INTO units VALUES ('Nos'), ('Box')", "load the units");
  }
  Serve();
  Open("odbc:" + cluster.ConnectionString());
  auto* user = Child<QLineEdit>(*dialog_, "txtUserName");
  auto* password = Child<QLineEdit>(*dialog_, "txtPassword");
  EXPECT_TRUE(user->isEnabled());
  EXPECT_FALSE(Check("Check2")->isEnabled());
  QTest::keyClicks(user, PostgresCluster::kAdmin);
  QTest::keyClicks(password, "Wrong-Secret-9");
  QTest::keyClick(password, Qt::Key_Return);
  WaitForLogin();
  EXPECT_EQ(login_, false);
  ASSERT_EQ(messages_.shown.size(), 1U);
  EXPECT_THAT(messages_.shown[0].text,
              AllOf(HasSubstr("authentication failed"), HasSubstr("password"),
                    Not(HasSubstr("Wrong-Secret"))));

  password->clear();
  QTest::keyClicks(password, PostgresCluster::kAdminPassword);
  QTest::keyClick(password, Qt::Key_Return);
  WaitForLogin();
  EXPECT_EQ(login_, true);
  EXPECT_EQ(Entries(), (Names{"Demo Trading Co", "Second Co"}));
  EXPECT_TRUE(Check("Check2")->isEnabled());
  EXPECT_EQ(Check("Check2")->toolTip(), "2 in units");
  EXPECT_TRUE(password->text().isEmpty());

  // A password in the connection string logs in too, and is not shown in the title.
  delete dialog_.data();
  Open("odbc:" + cluster.ConnectionString() + ";PWD=" + PostgresCluster::kAdminPassword);
  QTest::keyClicks(Child<QLineEdit>(*dialog_, "txtUserName"), PostgresCluster::kAdmin);
  QTest::keyClick(Child<QLineEdit>(*dialog_, "txtPassword"), Qt::Key_Return);
  WaitForLogin();
  EXPECT_EQ(login_, true);
  EXPECT_THAT(dialog_->windowTitle().toStdString(),
              AllOf(HasSubstr("odbc:DRIVER="), Not(HasSubstr(PostgresCluster::kAdminPassword))));
}

}  // namespace
}  // namespace lirvo::test
