// dlgExport: moves the kinds of masters and documents an outside source system holds into a
// company of Tally. The login opens the source (ODBC sources take a user name and password; the
// others open at once), the company & finance year list offers each open company of the server
// with each financial year of the source's documents, the check boxes offer the kinds the source
// holds, Process runs the transfer on a worker thread (becoming Stop meanwhile) and the status
// grid follows each kind live. Without a source the dialog only lays this out: Close unloads it.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <QDialog>

#include <lirvo/design.h>
#include <lirvo/feed_run.h>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableView;
class StatusModel;

class dlgExport : public QDialog {
  Q_OBJECT

 public:
  using MessageFn = lirvo::widgets::MessageFn;

  // Builds the dialog, centred on the screen. It deletes itself when closed.
  explicit dlgExport(QWidget* parent = nullptr);
  // Stops a run in progress and waits for it to end.
  ~dlgExport() override;

  // Works from the source `uri` (sqlite:PATH, odbc:CONNECTION-STRING or access:PATH), shown in
  // the title bar. An ODBC source waits for the login (Return in the password box, or leaving
  // it); the others are opened at once. An unknown form is reported and leaves the dialog as
  // without a source.
  void setSource(const std::string& uri);
  // The source as shown and remembered: its URI without the login a connection string holds.
  const std::string& sourceName() const { return uriText_; }
  // The sync journal for SalesMst; the default one ($XDG_STATE_HOME/lirvo/...) unless set.
  void setJournal(const std::filesystem::path& journal) { journal_ = journal; }

  // Whether the source set opens without a login (so the dialog logs in by itself).
  bool logsInAtOnce() const { return uri_ && uri_->scheme != lirvo::source::Scheme::kOdbc; }
  // Whether a login or a transfer is running on the worker thread.
  bool busy() const { return worker_.joinable(); }
  bool running() const { return running_; }

  // Shows one message box; tests replace it to answer without a modal loop.
  MessageFn showMessage;
  // Asks a yes/no question (Close during a run); true for yes.
  std::function<bool(const QString& question)> askYesNo;
  // The file to save a list of rejections in as CSV; empty to save nothing.
  std::function<QString(const QString& suggested)> chooseCsvFile;

 signals:
  // The login ended: the list and check boxes are filled, or the failure was shown.
  void loginFinished(bool ok);
  // A transfer ended (its figures are in the grid).
  void runFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Live;
  struct LoginResult;

  QCheckBox* AddCheck(QGroupBox* frame, const char* name, const char* text, int left, int top,
                      int width, int height);
  void Command1_Click();
  void Command2_Click();
  void Login();
  void LoggedIn(LoginResult& result);
  void StartRun();
  void RunEnded(const lirvo::feed::RunSummary& summary);
  void Flush();
  void ShowRejections(int row);
  void Fail(const QString& text);
  // Runs `work` on the worker thread, then `done` with its result on this window's thread.
  template <class Result>
  void Background(std::function<Result()> work, std::function<void(Result&)> done);

  QLineEdit* txtUserName_ = nullptr;
  QLineEdit* txtPassword_ = nullptr;
  QComboBox* tvFY_ = nullptr;
  QTableView* MSHFlexGrid1_ = nullptr;
  StatusModel* model_ = nullptr;
  QPushButton* Command1_ = nullptr;
  QPushButton* Command2_ = nullptr;
  std::vector<std::pair<const lirvo::source::Kind*, QCheckBox*>> checks_;

  std::optional<lirvo::source::Uri> uri_;
  std::string uriText_;
  std::shared_ptr<lirvo::source::Source> source_;  // touched by one thread at a time
  std::optional<lirvo::source::Offer> offer_;
  modTally::Server server_;
  std::filesystem::path journal_;
  std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<Live> live_;
  bool running_ = false;
  bool closeWhenDone_ = false;
  std::thread worker_;
};
