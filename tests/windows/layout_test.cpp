// The three windows' layouts: every control where the design puts it (twips, 15 to a pixel) and in
// the window or frame it belongs to, the client areas, captions and tab orders.
#include <cmath>
#include <sstream>

#include <QWidget>

#include <gtest/gtest.h>

#include "Form1.h"
#include "LirvoDemo.h"
#include "dlgExport.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

int Pixels(int twips) {
  return static_cast<int>(std::lround(twips / 15.0));
}

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

// Fresh windows, as designed, before any load has run.
struct Windows {
  LirvoDemo demo;
  Form1 console;
  dlgExport exporter;
};

TEST(Layout, EachWindowHasItsCaptionSizeTabOrderAndEveryControlWhereTheDesignPutsIt) {
  Windows windows;
  // Controls as "name left top width height" in twips, relative to the window or frame named
  // before them ("Frame1:").
  const struct {
    QWidget* window;
    const char* title;
    int width, height;
    const char* tabs;
    const char* controls;
  } layouts[] = {
      {&windows.demo, "Demo Application using Lirvo 1.0 ", 7500, 4695,
       "cmbCurrentCompanyList cmdRefresh cmdProcess cmdClose Text1",
       "LirvoDemo: Label1 2310 30 2880 435  Label3 1080 570 5340 240  Label2 1298 870 4905 240 "
       "Frame1 203 1320 7095 1005  lblProc 203 2505 480 240  cmdProcess 4410 2430 1335 405 "
       "cmdClose 5963 2430 1335 405  Text1 203 2940 7095 1605 "
       "Frame1: lblVer 120 180 4905 240  Label17 120 585 1500 195  cmdRefresh 5910 510 945 345 "
       "cmbCurrentCompanyList 1770 525 3975 315"},
      {&windows.console, "Tally Request", 7545, 6720,
       "txtFileName Command1 txtResponseHeaders txtResponse cmdRequest",
       "Form1: Label3 300 90 705 195  txtFileName 300 300 6435 315  Command1 6840 300 405 345 "
       "Label1 300 780 1365 195  txtResponseHeaders 300 990 6945 975  Label2 300 2130 720 195 "
       "txtResponse 300 2340 6945 3735  cmdRequest 2760 6240 2025 345"},
      {&windows.exporter, "Data Transformation - QX to Tally ", 8520, 7035,
       "txtUserName txtPassword tvFY Check1 Check2 Check3 Check4 Check5 Check6 Check12 Check11 "
       "Check10 Check9 Check8 Check7 Check14 Check13 MSHFlexGrid1 Command1 Command2",
       "dlgExport: Frame4 150 60 8175 1185  Frame1 150 1350 4035 1455  Frame3 4290 1350 4035 1455 "
       "Frame2 150 2910 8175 3555  Command1 5550 6570 1335 405  Command2 6990 6570 1335 405 "
       "Frame4: Label1 240 360 795 195  txtUserName 1140 300 2865 315  Label2 4290 360 690 195 "
       "txtPassword 5130 300 2865 315  Label3 240 810 1785 195  tvFY 2280 750 5745 315 "
       "Frame1: Check1 390 270 1335 225  Check2 390 555 1335 225  Check3 390 840 1335 225 "
       "Check4 390 1125 1335 225  Check5 2340 270 1425 225  Check6 2340 555 1425 225 "
       "Frame3: Check12 390 270 1395 225  Check11 390 545 1395 225  Check10 390 820 1395 225 "
       "Check9 390 1095 1395 255  Check8 2250 270 1545 225  Check7 2250 545 1545 225 "
       "Check14 2250 820 1485 225  Check13 2250 1095 1485 255 "
       "Frame2: MSHFlexGrid1 180 300 7815 3075"},
  };
  for (const auto& layout : layouts) {
    const std::string window = layout.window->objectName().toStdString();
    EXPECT_EQ(layout.window->size(), QSize(Pixels(layout.width), Pixels(layout.height))) << window;
    EXPECT_EQ(layout.window->minimumSize(), layout.window->maximumSize()) << "resizable " << window;
    EXPECT_EQ(layout.window->windowTitle().toStdString(), layout.title);
    const std::string first =
        std::string(layout.tabs).substr(0, std::string(layout.tabs).find(' '));
    EXPECT_EQ(TabOrder(Child<QWidget>(*layout.window, first.c_str())), layout.tabs) << window;
    std::istringstream rows(layout.controls);
    std::string parent, name;
    int left = 0, top = 0, width = 0, height = 0;
    while (rows >> name) {
      if (name.back() == ':') {
        parent = name.substr(0, name.size() - 1);
      } else if (rows >> left >> top >> width >> height) {
        SCOPED_TRACE(window + " " + name);
        const auto* control = layout.window->findChild<QWidget*>(QString::fromStdString(name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(),
                  QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height)));
        EXPECT_EQ(control->parentWidget()->objectName().toStdString(), parent);
      }
    }
    EXPECT_TRUE(rows.eof()) << window << ": the table is malformed near " << name;
  }
}

}  // namespace
}  // namespace lirvo::test
