// Helpers for tests that drive the windows offscreen: message boxes recorded instead of shown,
// controls found by name and clicked, deferred work run, and a test main with an application
// object. Header only, so that the support library itself stays free of Qt.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace lirvo::test {

// One message box a window asked to show.
struct Shown {
  QMessageBox::Icon icon;
  std::string title;
  std::string text;
};

// Collects the message boxes a window shows; assign recorder() to the window's showMessage.
struct MessageLog {
  auto recorder() {
    return [this](QMessageBox::Icon icon, const QString& title, const QString& text) {
      shown.push_back({icon, title.toStdString(), text.toStdString()});
    };
  }
  std::vector<Shown> shown;
};

// The child of `window` named `name` and of type T; fails the test when there is none.
template <class T>
T* Child(const QWidget& window, const char* name) {
  T* child = window.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(child, nullptr) << "no control named " << name;
  return child;
}

inline void Click(const QWidget& window, const char* button) {
  QTest::mouseClick(Child<QPushButton>(window, button), Qt::LeftButton);
}

// Runs `work` the next time the event loop (or a window's own event processing) gets to it.
inline void Later(std::function<void()> work) {
  QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
}

// Deletes what waits for deferred deletion (windows closed with delete-on-close).
inline void FlushDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs the tests under an application object; without a display the windows draw offscreen.
inline int RunWindowTests(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace lirvo::test
