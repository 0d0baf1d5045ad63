// Form1: the request console. The user names a file holding an XML request (or leaves the name
// empty to send the last sample request built when the window loaded) and presses Request; the
// console posts it, shows the reply's headers and body, and saves the reply as "Responce.xml".
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <lirvo/design.h>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class Form1 : public QWidget {
  Q_OBJECT

 public:
  using MessageFn = lirvo::widgets::MessageFn;
  // Asks for a request file, starting in `folder`, adding `defaultSuffix` to a name typed without
  // one; gives back the chosen path, or an empty text when the user cancelled.
  using ChooseFileFn = std::function<QString(const QString& folder, const QString& defaultSuffix)>;

  static constexpr const char* kApplicationTitle = lirvo::widgets::kApplicationTitle;
  // The title of the two boxes the load shows.
  static constexpr const char* kHarnessTitle = "Korbex";
  // The name the reply is saved under.
  static constexpr const char* kReplyFileName = "Responce.xml";

  // Builds the window, centred on the screen. It deletes itself when closed.
  explicit Form1(QWidget* parent = nullptr);

  // The load: sets the server address, shows the server's reply line and the current company in
  // two "Korbex" boxes, then builds the nine sample master requests, keeping the last in
  // LastRequest(). A failure while building is reported in a box and leaves the window usable.
  // Call once, before the window is first shown.
  void Form_Load();

  // The request posted when no file is named.
  const std::string& LastRequest() const { return lastRequest_; }

  // The application's folder: where the file chooser starts and where the reply to a named file
  // is saved (in the working folder instead, saying so, when it cannot be written there, as in an
  // installed copy). The executable's folder unless set.
  QString applicationFolder() const { return applicationFolder_; }
  void setApplicationFolder(const QString& folder) { applicationFolder_ = folder; }

  MessageFn showMessage;
  ChooseFileFn chooseFile;

 private:
  void Command1_Click();
  void cmdRequest_Click();
  // Posts, shows and saves; throws modTally::Failure at the first step that fails.
  void Request();
  // Saves the reply as kReplyFileName at `path`, or in the working folder when `path`'s folder
  // cannot take it (said in a box); throws modTally::Failure when neither can.
  void SaveReply(const std::string& reply, const std::filesystem::path& path);

  std::string lastRequest_;
  QString applicationFolder_;

  QLineEdit* txtFileName_ = nullptr;
  QPushButton* Command1_ = nullptr;
  QPlainTextEdit* txtResponseHeaders_ = nullptr;
  QPlainTextEdit* txtResponse_ = nullptr;
  QPushButton* cmdRequest_ = nullptr;
};
