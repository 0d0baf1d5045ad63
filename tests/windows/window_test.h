// Helpers for the window tests: message boxes recorded instead of shown, a scripted accounting
// server on a loopback port, and access to a window's controls by name.
#pragma once

#include <string>
#include <vector>

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include "raw_server.h"

namespace lirvo::test {

// One message box a window asked to show.
struct Shown {
  QMessageBox::Icon icon;
  QString title;
  QString text;
};

// Collects the message boxes a window shows; assign recorder() to the window's showMessage.
class MessageLog {
 public:
  auto recorder() {
    return [this](QMessageBox::Icon icon, const QString& title, const QString& text) {
      shown.push_back({icon, title, text});
    };
  }
  std::vector<Shown> shown;
};

// The body of a raw HTTP request (everything after the blank line).
std::string BodyOf(const std::string& request);

// What the scripted server answers. Requests are told apart by their bodies, as the accounting
// server does: an empty body is the probe, "List of Companies" and "List of Accounts" are the two
// export queries, anything else is an import.
struct ServerScript {
  std::string versionLine = "Tally stand-in is running.";
  std::vector<std::string> companies = {"Acme Traders"};
  std::string currentCompany = "Acme Traders";
  // The reply body to imports; by default one created master and no errors.
  std::string importReply =
      "<RESPONSE><CREATED>1</CREATED><ALTERED>0</ALTERED><DELETED>0</DELETED>"
      "<LASTVCHID>0</LASTVCHID><LASTMID>0</LASTMID><COMBINED>0</COMBINED><IGNORED>0</IGNORED>"
      "<ERRORS>0</ERRORS><CANCELLED>0</CANCELLED><EXCEPTIONS>0</EXCEPTIONS></RESPONSE>";
};

// A loopback server that answers every request by `script`.
RawServer::Handler Scripted(ServerScript script);

// The bodies of the requests `server` received that were imports.
std::vector<std::string> ImportBodies(const RawServer& server);

// The child of `window` named `name` and of type T; fails the test when there is none.
template <class T>
T* Child(const QWidget& window, const char* name) {
  T* child = window.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(child, nullptr) << "no control named " << name;
  return child;
}

// The names of the controls that Tab visits, in order, starting at `first`.
std::vector<std::string> TabOrder(QWidget* first);

// Runs `work` the next time the event loop (or a window's own event processing) gets to it.
void Later(const std::function<void()>& work);

// Deletes what waits for deferred deletion (windows closed with delete-on-close).
void FlushDeferredDeletes();

}  // namespace lirvo::test
