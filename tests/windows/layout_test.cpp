// The three windows' captions, fixed sizes and tab orders (the order Tab visits the controls in is
// what Qt's focus chain makes of the windows' setTabOrder calls and creation order).
#include <string>

#include <QWidget>

#include <gtest/gtest.h>

#include "Form1.h"
#include "LirvoDemo.h"
#include "dlgExport.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

// The names of the controls that Tab visits, in order, starting at `first`, separated by blanks.
std::string TabOrder(QWidget* first) {
  std::string names;
  QWidget* widget = first;
  // Bounded: a focus chain is a ring, so this ends where it began.
  for (int step = 0; step < 1000 && widget != nullptr; ++step) {
    const QString name = widget->objectName();
    if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->focusProxy() == nullptr &&
        !name.isEmpty() && !name.startsWith(QStringLiteral("qt_"))) {
      names += (names.empty() ? "" : " ") + name.toStdString();
    }
    widget = widget->nextInFocusChain();
    if (widget == first) {
      break;
    }
  }
  return names;
}

TEST(Layout, EachWindowHasItsCaptionAFixedSizeAndItsTabOrder) {
  // Fresh windows, as designed, before any load has run.
  LirvoDemo demo;
  Form1 console;
  dlgExport exporter;
  const struct {
    QWidget* window;
    const char* title;
    const char* tabs;
  } layouts[] = {
      {&demo, "Demo Application using Lirvo 1.0 ",
       "cmbCurrentCompanyList cmdRefresh cmdProcess cmdClose Text1"},
      {&console, "Tally Request", "txtFileName Command1 txtResponseHeaders txtResponse cmdRequest"},
      {&exporter, "Data Transformation - QX to Tally ",
       "txtUserName txtPassword tvFY Check1 Check2 Check3 Check4 Check5 Check6 Check12 Check11 "
       "Check10 Check9 Check8 Check7 Check14 Check13 MSHFlexGrid1 Command1 Command2"},
  };
  for (const auto& layout : layouts) {
    const std::string window = layout.window->objectName().toStdString();
    EXPECT_EQ(layout.window->minimumSize(), layout.window->maximumSize()) << "resizable " << window;
    EXPECT_EQ(layout.window->windowTitle().toStdString(), layout.title);
    const std::string first =
        std::string(layout.tabs).substr(0, std::string(layout.tabs).find(' '));
    EXPECT_EQ(TabOrder(Child<QWidget>(*layout.window, first.c_str())), layout.tabs) << window;
  }
}

}  // namespace
}  // namespace lirvo::test
