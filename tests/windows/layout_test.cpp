// The three windows' layouts: every control where the design puts it (twips, 15 to a pixel),
// the client areas, captions and tab orders.
#include <cmath>
#include <memory>

#include <QWidget>

#include <gtest/gtest.h>

#include "Form1.h"
#include "LirvoDemo.h"
#include "dlgExport.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

struct Placed {
  const char* window;
  const char* control;           // "" for the window's client area
  int left, top, width, height;  // twips; a control inside a frame is placed relative to it
};

const Placed kLayout[] = {
    {"LirvoDemo", "", 0, 0, 7500, 4695},
    {"LirvoDemo", "Label1", 2310, 30, 2880, 435},
    {"LirvoDemo", "Label3", 1080, 570, 5340, 240},
    {"LirvoDemo", "Label2", 1298, 870, 4905, 240},
    {"LirvoDemo", "Frame1", 203, 1320, 7095, 1005},
    {"LirvoDemo", "lblVer", 120, 180, 4905, 240},
    {"LirvoDemo", "Label17", 120, 585, 1500, 195},
    {"LirvoDemo", "cmbCurrentCompanyList", 1770, 525, 3975, 315},
    {"LirvoDemo", "cmdRefresh", 5910, 510, 945, 345},
    {"LirvoDemo", "lblProc", 203, 2505, 480, 240},
    {"LirvoDemo", "cmdProcess", 4410, 2430, 1335, 405},
    {"LirvoDemo", "cmdClose", 5963, 2430, 1335, 405},
    {"LirvoDemo", "Text1", 203, 2940, 7095, 1605},
    {"Form1", "", 0, 0, 7545, 6720},
    {"Form1", "Label3", 300, 90, 705, 195},
    {"Form1", "txtFileName", 300, 300, 6435, 315},
    {"Form1", "Command1", 6840, 300, 405, 345},
    {"Form1", "Label1", 300, 780, 1365, 195},
    {"Form1", "txtResponseHeaders", 300, 990, 6945, 975},
    {"Form1", "Label2", 300, 2130, 720, 195},
    {"Form1", "txtResponse", 300, 2340, 6945, 3735},
    {"Form1", "cmdRequest", 2760, 6240, 2025, 345},
    {"dlgExport", "", 0, 0, 8520, 7035},
    {"dlgExport", "Frame4", 150, 60, 8175, 1185},
    {"dlgExport", "Label1", 240, 360, 795, 195},
    {"dlgExport", "txtUserName", 1140, 300, 2865, 315},
    {"dlgExport", "Label2", 4290, 360, 690, 195},
    {"dlgExport", "txtPassword", 5130, 300, 2865, 315},
    {"dlgExport", "Label3", 240, 810, 1785, 195},
    {"dlgExport", "tvFY", 2280, 750, 5745, 315},
    {"dlgExport", "Frame1", 150, 1350, 4035, 1455},
    {"dlgExport", "Check1", 390, 270, 1335, 225},
    {"dlgExport", "Check2", 390, 555, 1335, 225},
    {"dlgExport", "Check3", 390, 840, 1335, 225},
    {"dlgExport", "Check4", 390, 1125, 1335, 225},
    {"dlgExport", "Check5", 2340, 270, 1425, 225},
    {"dlgExport", "Check6", 2340, 555, 1425, 225},
    {"dlgExport", "Frame3", 4290, 1350, 4035, 1455},
    {"dlgExport", "Check12", 390, 270, 1395, 225},
    {"dlgExport", "Check11", 390, 545, 1395, 225},
    {"dlgExport", "Check10", 390, 820, 1395, 225},
    {"dlgExport", "Check9", 390, 1095, 1395, 255},
    {"dlgExport", "Check8", 2250, 270, 1545, 225},
    {"dlgExport", "Check7", 2250, 545, 1545, 225},
    {"dlgExport", "Check14", 2250, 820, 1485, 225},
    {"dlgExport", "Check13", 2250, 1095, 1485, 255},
    {"dlgExport", "Frame2", 150, 2910, 8175, 3555},
    {"dlgExport", "MSHFlexGrid1", 180, 300, 7815, 3075},
    {"dlgExport", "Command1", 5550, 6570, 1335, 405},
    {"dlgExport", "Command2", 6990, 6570, 1335, 405},
};

// Controls that lie inside a frame: window, control, frame.
const char* const kInFrame[][3] = {
    {"LirvoDemo", "lblVer", "Frame1"},
    {"LirvoDemo", "Label17", "Frame1"},
    {"LirvoDemo", "cmbCurrentCompanyList", "Frame1"},
    {"LirvoDemo", "cmdRefresh", "Frame1"},
    {"dlgExport", "txtUserName", "Frame4"},
    {"dlgExport", "tvFY", "Frame4"},
    {"dlgExport", "Check6", "Frame1"},
    {"dlgExport", "Check13", "Frame3"},
    {"dlgExport", "MSHFlexGrid1", "Frame2"},
};

int Pixels(int twips) {
  return static_cast<int>(std::lround(twips / 15.0));
}

struct Windows {
  // Fresh windows, as designed, before any load has run.
  Windows() {
    for (QWidget* window : {static_cast<QWidget*>(demo.get()), static_cast<QWidget*>(console.get()),
                            static_cast<QWidget*>(exporter.get())}) {
      window->setAttribute(Qt::WA_DeleteOnClose, false);
    }
  }
  QWidget* ByName(const std::string& name) const {
    if (name == "LirvoDemo") {
      return demo.get();
    }
    return name == "Form1" ? static_cast<QWidget*>(console.get()) : exporter.get();
  }
  std::unique_ptr<LirvoDemo> demo = std::make_unique<LirvoDemo>();
  std::unique_ptr<Form1> console = std::make_unique<Form1>();
  std::unique_ptr<dlgExport> exporter = std::make_unique<dlgExport>();
};

TEST(Layout, EveryControlSitsWhereTheDesignPutsIt) {
  const Windows windows;
  for (const Placed& placed : kLayout) {
    SCOPED_TRACE(std::string(placed.window) + " " + placed.control);
    const QWidget* window = windows.ByName(placed.window);
    const QRect expected(Pixels(placed.left), Pixels(placed.top), Pixels(placed.width),
                         Pixels(placed.height));
    if (*placed.control == '\0') {
      EXPECT_EQ(window->size(), expected.size());
      EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window is not resizable";
      continue;
    }
    const auto* control = window->findChild<QWidget*>(QString::fromUtf8(placed.control));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), expected);
  }
  for (const auto& [window, control, frame] : kInFrame) {
    SCOPED_TRACE(std::string(window) + " " + control);
    const auto* child = windows.ByName(window)->findChild<QWidget*>(QString::fromUtf8(control));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->parentWidget()->objectName(), frame);
  }
}

TEST(Layout, CaptionsAndTabOrders) {
  const Windows windows;
  EXPECT_EQ(windows.demo->windowTitle(), "Demo Application using Lirvo 1.0 ");
  EXPECT_EQ(windows.console->windowTitle(), "Tally Request");
  EXPECT_EQ(windows.exporter->windowTitle(), "Data Transformation - QX to Tally ");

  using Names = std::vector<std::string>;
  EXPECT_EQ(TabOrder(Child<QWidget>(*windows.demo, "cmbCurrentCompanyList")),
            (Names{"cmbCurrentCompanyList", "cmdRefresh", "cmdProcess", "cmdClose", "Text1"}));
  EXPECT_EQ(TabOrder(Child<QWidget>(*windows.console, "txtFileName")),
            (Names{"txtFileName", "Command1", "txtResponseHeaders", "txtResponse", "cmdRequest"}));
  EXPECT_EQ(TabOrder(Child<QWidget>(*windows.exporter, "txtUserName")),
            (Names{"txtUserName", "txtPassword", "tvFY",         "Check1",   "Check2",
                   "Check3",      "Check4",      "Check5",       "Check6",   "Check12",
                   "Check11",     "Check10",     "Check9",       "Check8",   "Check7",
                   "Check14",     "Check13",     "MSHFlexGrid1", "Command1", "Command2"}));
}

}  // namespace
}  // namespace lirvo::test
