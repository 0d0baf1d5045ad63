// LirvoDemo: the demonstration's main window. It checks that the accounting server answers, shows
// the server's reply line, lists the open companies, remembers the server's current company, and
// runs the sales transfer into that company, showing progress in its status label.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <lirvo/design.h>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class LirvoDemo : public QWidget {
  Q_OBJECT

 public:
  using MessageFn = lirvo::widgets::MessageFn;
  static constexpr const char* kApplicationTitle = lirvo::widgets::kApplicationTitle;

  // Builds the window, centred on the screen. It deletes itself when closed.
  explicit LirvoDemo(QWidget* parent = nullptr);

  // The load: runs Refresh once. The start-up shows the window first and then runs the load from
  // the event loop, so the window is there at once and the status label shows each query.
  void Form_Load();

  // Runs the sales transfer from the database into CurrentCompany(), hides the status label and
  // shows the final message. Throws modTally::Failure when the transfer stops; the status label
  // then keeps its last text.
  void DataToTally();

  // Posts a request text, re-indented, to the server and gives back the reply text. Throws
  // modTally::Failure when the text is not XML or the server cannot be reached.
  std::string SendToTally(const std::string& request);

  // Shows `message` followed by nine full stops in the status label, makes the label visible,
  // and lets the window handle pending events (repaints, input) before returning.
  void Stat(const std::string& message);

  // The company the transfer sends to: the server's current company at the last Refresh.
  const std::string& CurrentCompany() const { return currentCompany_; }
  // The server's reply line at the last Refresh, or why the server could not be asked. The label
  // shows as much of it as fits; its tooltip holds all of it.
  const std::string& TallyVersion() const { return tallyVersion_; }
  // Whether Refresh or the transfer is running (their buttons and the window's close are held
  // off meanwhile).
  bool busy() const { return busy_; }

  // The database the transfer reads; SampleData.mdb beside the executable unless set.
  void setDatabasePath(const std::filesystem::path& database) { database_ = database; }

  MessageFn showMessage;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Marks the window busy for its lifetime; a close asked for meanwhile happens at its end.
  class Work;

  void cmdRefresh_Click();
  void cmdProcess_Click();
  void cmdClose_Click();
  void Refresh();
  // Ends a Refresh that could not ask the server: shows `reason` as the server line, empties the
  // list and the current company, hides the status label and disables Process.
  void RefreshFailed(const std::string& reason);
  void ShowServerLine(const std::string& line);

  std::string currentCompany_;
  std::string tallyVersion_;
  std::filesystem::path database_;
  bool busy_ = false;
  bool closePending_ = false;

  QLabel* Label1_ = nullptr;
  QLabel* Label3_ = nullptr;
  QLabel* Label2_ = nullptr;
  QGroupBox* Frame1_ = nullptr;
  QLabel* lblVer_ = nullptr;
  QLabel* Label17_ = nullptr;
  QComboBox* cmbCurrentCompanyList_ = nullptr;
  QPushButton* cmdRefresh_ = nullptr;
  QLabel* lblProc_ = nullptr;
  QPushButton* cmdProcess_ = nullptr;
  QPushButton* cmdClose_ = nullptr;
  QPlainTextEdit* Text1_ = nullptr;
};
