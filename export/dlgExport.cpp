// The export dialog: one Qt class whose slots share the dialog's state (its controls, the login,
// the run on a worker thread and its status grid), so it stays in one file of about 620 lines.
#include "dlgExport.h"

#include <chrono>
#include <fstream>
#include <mutex>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <lirvo/design.h>
#include <lirvo/odbc.h>
#include <lirvo/text.h>

#include "StatusModel.h"

namespace {

namespace source = lirvo::source;
namespace feed = lirvo::feed;
using Clock = std::chrono::steady_clock;

// The title as designed; with a source, the source follows it.
constexpr const char* kTitle = "Data Transformation - QX to Tally ";

// The grid is drawn again at most this often while a transfer runs.
constexpr auto kRefreshEvery = std::chrono::milliseconds(100);

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A field of a CSV line, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) {
    return value;
  }
  std::string quoted = "\"";
  for (const char c : value) {
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  }
  return quoted + "\"";
}

using lirvo::widgets::AddLabel;
using lirvo::widgets::CenterOnScreen;
using lirvo::widgets::DesignFont;
using lirvo::widgets::Twips;

// Masks a password with "*" whatever the platform's own mask character is.
class AsteriskMaskStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    if (hint == SH_LineEdit_PasswordCharacter) {
      return '*';
    }
    return QProxyStyle::styleHint(hint, option, widget, returned);
  }
};

QGroupBox* AddFrame(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* frame = new QGroupBox(QString::fromUtf8(caption), parent);
  frame->setObjectName(QString::fromUtf8(name));
  frame->setGeometry(geometry);
  return frame;
}

}  // namespace

// Long: the dialog's controls laid out at their design positions, one after another.
dlgExport::dlgExport(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlgExport"));
  setWindowTitle(QString::fromUtf8(kTitle));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(DesignFont());
  setFixedSize(Twips(0, 0, 8520, 7035).size());

  QGroupBox* frame4 = AddFrame(this, "Frame4", "QX 2.0 Login", Twips(150, 60, 8175, 1185));
  AddLabel(frame4, "Label1", "User Name", Twips(240, 360, 795, 195));
  txtUserName_ = new QLineEdit(frame4);
  txtUserName_->setObjectName(QStringLiteral("txtUserName"));
  txtUserName_->setGeometry(Twips(1140, 300, 2865, 315));
  AddLabel(frame4, "Label2", "Password", Twips(4290, 360, 690, 195));
  txtPassword_ = new QLineEdit(frame4);
  txtPassword_->setObjectName(QStringLiteral("txtPassword"));
  txtPassword_->setGeometry(Twips(5130, 300, 2865, 315));
  txtPassword_->setEchoMode(QLineEdit::Password);
  auto* mask = new AsteriskMaskStyle;
  mask->setParent(txtPassword_);  // the style lives as long as the box it draws
  txtPassword_->setStyle(mask);
  // A label shows "&" as it stands (it has no buddy to give a mnemonic to).
  AddLabel(frame4, "Label3", "Company & Finance Year", Twips(240, 810, 1785, 195));
  tvFY_ = new QComboBox(frame4);
  tvFY_->setObjectName(QStringLiteral("tvFY"));
  tvFY_->setGeometry(Twips(2280, 750, 5745, 315));
  tvFY_->setEditable(true);
  tvFY_->setEditText(QStringLiteral("Combo1"));
  // With an ODBC source, Return in the password box logs in, and so does leaving the box with a
  // password typed (a Return fires both: the second finds the login under way).
  const auto login = [this](bool typed) {
    if (uri_ && uri_->scheme == source::Scheme::kOdbc && !busy() && !source_ && typed) {
      Login();
    }
  };
  connect(txtPassword_, &QLineEdit::returnPressed, this, [login] { login(true); });
  connect(txtPassword_, &QLineEdit::editingFinished, this,
          [this, login] { login(!txtPassword_->text().isEmpty()); });

  QGroupBox* frame1 = AddFrame(this, "Frame1", "Masters", Twips(150, 1350, 4035, 1455));
  QGroupBox* frame3 = AddFrame(this, "Frame3", "Documents", Twips(4290, 1350, 4035, 1455));
  // Tab order follows creation order: Check1 to Check6, then the documents as listed here.
  AddCheck(frame1, "Check1", "Godowns", 390, 270, 1335, 225);
  AddCheck(frame1, "Check2", "Units", 390, 555, 1335, 225);
  AddCheck(frame1, "Check3", "Stock Groups", 390, 840, 1335, 225);
  AddCheck(frame1, "Check4", "Stock Items", 390, 1125, 1335, 225);
  AddCheck(frame1, "Check5", "Ledger Groups", 2340, 270, 1425, 225);
  AddCheck(frame1, "Check6", "Ledgers", 2340, 555, 1425, 225);
  AddCheck(frame3, "Check12", "Sales Orders", 390, 270, 1395, 225);
  AddCheck(frame3, "Check11", "Delivery Notes", 390, 545, 1395, 225);
  AddCheck(frame3, "Check10", "Sales", 390, 820, 1395, 225);
  AddCheck(frame3, "Check9", "Receipts", 390, 1095, 1395, 255);
  AddCheck(frame3, "Check8", "Purchase Orders", 2250, 270, 1545, 225);
  AddCheck(frame3, "Check7", "Receipt Notes", 2250, 545, 1545, 225);
  AddCheck(frame3, "Check14", "Purchases", 2250, 820, 1485, 225);
  AddCheck(frame3, "Check13", "Payments", 2250, 1095, 1485, 255);

  QGroupBox* frame2 = AddFrame(this, "Frame2", "Status", Twips(150, 2910, 8175, 3555));
  MSHFlexGrid1_ = new QTableView(frame2);
  MSHFlexGrid1_->setObjectName(QStringLiteral("MSHFlexGrid1"));
  MSHFlexGrid1_->setGeometry(Twips(180, 300, 7815, 3075));
  model_ = new StatusModel(MSHFlexGrid1_);
  MSHFlexGrid1_->setModel(model_);
  MSHFlexGrid1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  MSHFlexGrid1_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  MSHFlexGrid1_->verticalHeader()->hide();
  MSHFlexGrid1_->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
  MSHFlexGrid1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  MSHFlexGrid1_->setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(MSHFlexGrid1_, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { ShowRejections(index.row()); });

  Command1_ = new QPushButton(QStringLiteral("Process"), this);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command1_->setGeometry(Twips(5550, 6570, 1335, 405));
  Command1_->setAutoDefault(false);
  Command2_ = new QPushButton(QStringLiteral("Close"), this);
  Command2_->setObjectName(QStringLiteral("Command2"));
  Command2_->setGeometry(Twips(6990, 6570, 1335, 405));
  Command2_->setAutoDefault(false);
  // Process acts once a source is logged in; Close unloads the dialog (asking first during a run).
  connect(Command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(Command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });

  QWidget::setTabOrder(txtUserName_, txtPassword_);
  QWidget::setTabOrder(txtPassword_, tvFY_);
  QWidget* previous = tvFY_;
  for (const char* name :
       {"Check1", "Check2", "Check3", "Check4", "Check5", "Check6", "Check12", "Check11", "Check10",
        "Check9", "Check8", "Check7", "Check14", "Check13"}) {
    auto* check = findChild<QCheckBox*>(QString::fromUtf8(name));
    QWidget::setTabOrder(previous, check);
    previous = check;
  }
  QWidget::setTabOrder(previous, MSHFlexGrid1_);
  QWidget::setTabOrder(MSHFlexGrid1_, Command1_);
  QWidget::setTabOrder(Command1_, Command2_);
  txtUserName_->setFocus();

  // Frame captions are bold; the controls inside keep the ordinary weight.
  QFont plain = font();
  plain.setBold(false);
  QFont caption = plain;
  caption.setBold(true);
  for (QGroupBox* frame : findChildren<QGroupBox*>()) {
    frame->setFont(caption);
    for (QWidget* child : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      child->setFont(plain);
    }
  }

  for (const source::Kind& kind : source::Kinds()) {
    for (QCheckBox* check : findChildren<QCheckBox*>()) {
      if (check->text() == Utf8(kind.label)) {
        checks_.emplace_back(&kind, check);
      }
    }
  }
  showMessage = lirvo::widgets::ModalMessages(*this);
  askYesNo = [this](const QString& question) {
    return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
  };
  chooseCsvFile = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, tr("Save the rejected rows"), suggested,
                                        tr("CSV files (*.csv)"));
  };

  CenterOnScreen(*this);
}

dlgExport::~dlgExport() {
  cancel_->store(true);
  if (worker_.joinable()) {
    worker_.join();
  }
}

QCheckBox* dlgExport::AddCheck(QGroupBox* frame, const char* name, const char* text, int left,
                               int top, int width, int height) {
  auto* check = new QCheckBox(QString::fromUtf8(text), frame);
  check->setObjectName(QString::fromUtf8(name));
  check->setGeometry(Twips(left, top, width, height));
  return check;
}

// What the worker thread leaves for the window: the latest figures and the rejections told since
// they were last drawn.
struct dlgExport::Live {
  std::mutex mutex;
  std::vector<feed::KindStatus> kinds;
  std::vector<feed::KindRejection> rejected;
  bool pending = false;  // a redraw is on its way to the window
  Clock::time_point drawn{};
};

// What the login found: the source open, what it offers, the server's companies (the current one
// first); or why it failed.
struct dlgExport::LoginResult {
  std::shared_ptr<source::Source> source;
  source::Offer offer;
  modTally::Server server;
  std::vector<std::string> companies;
  QString failure;
};

template <class Result>
void dlgExport::Background(std::function<Result()> work, std::function<void(Result&)> done) {
  worker_ = std::thread([this, work = std::move(work), done = std::move(done)] {
    auto result = std::make_shared<Result>(work());
    // Delivered on the window's thread; dropped if the window is gone by then (its destructor
    // waits for this thread first).
    QMetaObject::invokeMethod(
        this,
        [this, result, done] {
          worker_.join();
          done(*result);
        },
        Qt::QueuedConnection);
  });
}

void dlgExport::setSource(const std::string& uri) {
  try {
    uri_ = source::ParseUri(uri);
  } catch (const modTally::Failure& failure) {
    Fail(tr("Cannot use the source: %1").arg(QString::fromStdString(failure.description())));
    return;
  }
  // A connection string's own login (UID, PWD) is neither shown nor remembered.
  uriText_ =
      uri_->scheme == source::Scheme::kOdbc ? "odbc:" + lirvo::odbc::Scrubbed(uri_->target) : uri;
  setWindowTitle(QString::fromUtf8(kTitle) + QStringLiteral("- ") +
                 QString::fromStdString(uriText_));
  const bool login = uri_->scheme == source::Scheme::kOdbc;
  txtUserName_->setEnabled(login);
  txtPassword_->setEnabled(login);
  tvFY_->setEnabled(false);
  for (const auto& [kind, check] : checks_) {
    check->setEnabled(false);
  }
  Command1_->setEnabled(false);
  if (!login) {
    QTimer::singleShot(0, this, [this] { Login(); });
  }
}

// Long: the login's steps on the worker and their answers back on the window, clearer whole.
void dlgExport::Login() {
  if (busy() || !uri_) {
    return;
  }
  const source::Login login{txtUserName_->text().toStdString(), txtPassword_->text().toStdString()};
  const source::Uri uri = *uri_;
  const std::shared_ptr<std::atomic<bool>> cancel = cancel_;
  // How to try again: an ODBC source logs in from the password box, the others from Process.
  const QString again = uri.scheme == source::Scheme::kOdbc
                            ? tr("press Return in the password box to log in again")
                            : tr("press Process to open the source again");
  setCursor(Qt::BusyCursor);
  Command1_->setEnabled(false);
  Background<LoginResult>(
      [uri, login, cancel, again]() {
        LoginResult result;
        modTally::Server& server = result.server;
        try {
          server = modTally::Server::FromEnvironment();
          server.cancelled = [cancel] { return cancel->load(); };
        } catch (const modTally::Failure& failure) {
          result.failure = tr("Cannot reach the accounting server: %1\nCorrect the setting, "
                              "then open this window again.")
                               .arg(QString::fromStdString(failure.description()));
          return result;
        }
        try {
          result.source = source::Open(uri, login);
          result.offer = source::Survey(*result.source);
        } catch (const modTally::Failure& failure) {
          result.source.reset();
          result.failure = tr("Cannot read the source: %1\n%2, then %3.")
                               .arg(QString::fromStdString(failure.description()),
                                    uri.scheme == source::Scheme::kOdbc
                                        ? tr("Check the user name and password")
                                        : tr("Check that the source is there and readable"),
                                    again);
          return result;
        }
        try {
          const std::string current = lirvo::sync::CurrentCompany(server);
          if (!current.empty()) {
            result.companies.push_back(current);
          }
          for (std::string& company : modTally::ListCompanies(server)) {
            if (!lirvo::text::EqualsNoCase(company, current)) {
              result.companies.push_back(std::move(company));
            }
          }
          if (result.companies.empty()) {
            result.failure =
                tr("The accounting server at %1 has no company open.\nOpen the company to move "
                   "the data into there, then %2.")
                    .arg(QString::fromStdString(modTally::ShownUrl(server.url)), again);
          }
        } catch (const modTally::Failure& failure) {
          result.failure = tr("Cannot list the companies of the accounting server: %1\nStart the "
                              "server (or correct LIRVO_TALLY_URL), then %2.")
                               .arg(QString::fromStdString(failure.description()), again);
        }
        return result;
      },
      [this](LoginResult& result) { LoggedIn(result); });
}

void dlgExport::LoggedIn(LoginResult& result) {
  unsetCursor();
  if (!result.failure.isEmpty()) {
    Command1_->setEnabled(logsInAtOnce());  // Process opens the source again
    Fail(result.failure);
    emit loginFinished(false);
    if (closeWhenDone_) {
      close();
    }
    return;
  }
  source_ = std::move(result.source);
  server_ = std::move(result.server);
  offer_ = std::move(result.offer);
  tvFY_->clear();
  tvFY_->setEditable(false);
  for (const std::string& company : result.companies) {
    if (offer_->years.empty()) {
      tvFY_->addItem(QString::fromStdString(company), QStringList{QString::fromStdString(company)});
    }
    for (const std::string& year : offer_->years) {
      tvFY_->addItem(
          QString::fromStdString(company) + QString::fromUtf8(" — ") + QString::fromStdString(year),
          QStringList{QString::fromStdString(company), QString::fromStdString(year)});
    }
  }
  tvFY_->setEnabled(true);
  for (const auto& [kind, check] : checks_) {
    QStringList held;
    for (const source::KindRows& rows : offer_->kinds) {
      // A master kind is moved from its own table; the names SalesMst implies come with its sales.
      if (rows.kind == kind &&
          (kind->document() || lirvo::text::EqualsNoCase(rows.table, kind->table))) {
        held << tr("%1 in %2").arg(rows.rows).arg(QString::fromStdString(rows.table));
      }
    }
    check->setEnabled(!held.isEmpty());
    check->setToolTip(held.join(QStringLiteral(", ")));
    if (held.isEmpty()) {
      check->setChecked(false);
    }
  }
  txtUserName_->setEnabled(false);
  txtPassword_->setEnabled(false);
  txtPassword_->clear();  // not kept beyond the login
  Command1_->setEnabled(true);
  emit loginFinished(true);
  if (closeWhenDone_) {
    close();
  }
}

void dlgExport::Command1_Click() {
  if (running_) {
    cancel_->store(true);  // the run ends at once, abandoning the request in hand
    Command1_->setEnabled(false);
    return;
  }
  if (!source_) {
    if (logsInAtOnce()) {
      Login();  // the last attempt failed: try again
    }
    return;
  }
  if (busy()) {
    return;
  }
  StartRun();
}

// Long: the run's options gathered from the controls and its callbacks wired, clearer whole.
void dlgExport::StartRun() {
  std::vector<const source::Kind*> kinds;
  for (const auto& [kind, check] : checks_) {
    if (check->isEnabled() && check->isChecked()) {
      kinds.push_back(kind);
    }
  }
  const QStringList chosen = tvFY_->currentData().toStringList();
  if (kinds.empty() || chosen.isEmpty()) {
    Fail(kinds.empty() ? tr("Nothing is ticked: tick the masters and documents to move.")
                       : tr("No company is chosen: choose one in Company & Finance Year."));
    return;
  }
  feed::RunOptions options;
  options.server = server_;
  options.company = chosen.front().toStdString();
  if (chosen.size() > 1) {
    options.range = source::FinancialYearRange(chosen[1].toStdString());
  }
  options.kinds = kinds;
  options.offer = offer_;
  try {
    options.journal = journal_.empty() ? lirvo::sync::DefaultJournalPath() : journal_;
  } catch (const modTally::Failure& failure) {
    Fail(tr("Cannot keep the journal of the transfer: %1\nSet XDG_STATE_HOME or HOME to a folder "
            "that can be written.")
             .arg(QString::fromStdString(failure.description())));
    return;
  }
  auto live = std::make_shared<Live>();
  live_ = live;
  // Called on the worker thread: keeps the latest figures and asks the window to draw them, no
  // sooner than kRefreshEvery after it last did.
  const auto post = [this, live](std::unique_lock<std::mutex>& lock) {
    if (live->pending) {
      return;
    }
    live->pending = true;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(Clock::duration::zero(), live->drawn + kRefreshEvery - Clock::now()));
    lock.unlock();
    QMetaObject::invokeMethod(
        this, [this, wait] { QTimer::singleShot(wait, this, [this] { Flush(); }); },
        Qt::QueuedConnection);
  };
  options.progress = [live, post](const std::vector<feed::KindStatus>& latest) {
    std::unique_lock lock(live->mutex);
    live->kinds = latest;
    post(lock);
  };
  options.rejected = [live, post](const feed::KindRejection& rejection) {
    std::unique_lock lock(live->mutex);
    live->rejected.push_back(rejection);
    post(lock);
  };

  model_->Reset(kinds);
  cancel_->store(false);
  running_ = true;
  Command1_->setText(tr("Stop"));
  tvFY_->setEnabled(false);
  for (const auto& [kind, check] : checks_) {
    check->setEnabled(false);
  }
  const std::shared_ptr<source::Source> db = source_;
  Background<feed::RunSummary>(
      [db, options]() {
        try {
          return feed::Run(db, options);
        } catch (const modTally::Failure& failure) {
          feed::RunSummary summary;
          summary.stopped = failure.description();
          return summary;
        }
      },
      [this](feed::RunSummary& summary) { RunEnded(summary); });
}

void dlgExport::Flush() {
  if (!live_) {
    return;
  }
  std::vector<feed::KindStatus> kinds;
  std::vector<feed::KindRejection> rejected;
  {
    const std::lock_guard lock(live_->mutex);
    kinds = live_->kinds;
    rejected.swap(live_->rejected);
    live_->pending = false;
    live_->drawn = Clock::now();
  }
  model_->Update(kinds, rejected);
}

void dlgExport::RunEnded(const feed::RunSummary& summary) {
  Flush();
  live_.reset();
  if (!summary.kinds.empty()) {
    model_->Update(summary.kinds, {});
  }
  running_ = false;
  Command1_->setText(tr("Process"));
  Command1_->setEnabled(true);
  tvFY_->setEnabled(true);
  for (const auto& [kind, check] : checks_) {
    check->setEnabled(!check->toolTip().isEmpty());
  }
  if (summary.interrupted) {
    showMessage(QMessageBox::Information, windowTitle(),
                tr("The transfer was stopped. What the grid shows as accepted is in the books "
                   "(and noted in the journal); press Process to go on from there."));
  } else if (summary.stopped) {
    Fail(tr("The transfer stopped: %1\nWhat the grid shows as accepted is in the books. Correct "
            "the cause, then press Process again: what is already there is not sent twice.")
             .arg(QString::fromStdString(*summary.stopped)));
  }
  emit runFinished();
  if (closeWhenDone_) {
    close();
  }
}

void dlgExport::ShowRejections(int row) {
  const std::vector<StatusModel::Rejection>& rejections = model_->RejectionsAt(row);
  if (rejections.empty()) {
    return;
  }
  auto* list = new QDialog(this);
  list->setObjectName(QStringLiteral("Rejections"));
  list->setAttribute(Qt::WA_DeleteOnClose);
  list->setWindowTitle(tr("Rejected: %1").arg(model_->LabelAt(row)));
  auto* table = new QTableWidget(static_cast<int>(rejections.size()), 2, list);
  table->setObjectName(QStringLiteral("RejectionList"));
  table->setHorizontalHeaderLabels({tr("VoucherID or name"), tr("Reason")});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  for (std::size_t i = 0; i < rejections.size(); ++i) {
    const int at = static_cast<int>(i);
    table->setItem(at, 0, new QTableWidgetItem(QString::fromStdString(rejections[i].first)));
    table->setItem(at, 1, new QTableWidgetItem(QString::fromStdString(rejections[i].second)));
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Close, list);
  connect(buttons, &QDialogButtonBox::rejected, list, &QDialog::close);
  const QString label = model_->LabelAt(row);
  connect(buttons, &QDialogButtonBox::accepted, list, [this, rejections, label] {
    const QString path = chooseCsvFile(tr("rejected %1.csv").arg(label.toLower()));
    if (path.isEmpty()) {
      return;
    }
    std::ofstream file(std::filesystem::path(path.toStdString()), std::ios::binary);
    file << "id,reason\r\n";
    for (const auto& [id, reason] : rejections) {
      file << CsvField(id) << ',' << CsvField(reason) << "\r\n";
    }
    file.close();
    if (!file) {
      Fail(tr("Cannot write %1: the folder may be missing or read-only. Choose another place.")
               .arg(path));
    }
  });
  auto* layout = new QVBoxLayout(list);
  layout->addWidget(table);
  layout->addWidget(buttons);
  list->resize(640, 320);
  list->show();
}

void dlgExport::Fail(const QString& text) {
  showMessage(QMessageBox::Warning, windowTitle(), text);
}

void dlgExport::Command2_Click() {
  close();
}

void dlgExport::closeEvent(QCloseEvent* event) {
  if (!busy()) {
    event->accept();
    return;
  }
  event->ignore();
  if (closeWhenDone_) {
    return;
  }
  if (running_ && !askYesNo(tr("A transfer is running. Stop it and close?\nWhat has been "
                               "accepted so far stays in the books and in the journal."))) {
    return;
  }
  closeWhenDone_ = true;
  cancel_->store(true);
  Command1_->setEnabled(false);
}
