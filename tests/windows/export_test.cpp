// The export selection dialog: masked password, initial state, Process inert, Close unloads.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include "dlgExport.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

const char* const kChecks[] = {"Check1",  "Check2",  "Check3",  "Check4", "Check5",
                               "Check6",  "Check7",  "Check8",  "Check9", "Check10",
                               "Check11", "Check12", "Check13", "Check14"};

TEST(ExportDialog, StartsClearedWithAMaskedPassword) {
  dlgExport dialog;
  dialog.setAttribute(Qt::WA_DeleteOnClose, false);
  EXPECT_EQ(dialog.windowTitle(), "Data Transformation - QX to Tally ");
  auto* password = Child<QLineEdit>(dialog, "txtPassword");
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password),
            '*');
  EXPECT_TRUE(password->text().isEmpty());
  EXPECT_TRUE(Child<QLineEdit>(dialog, "txtUserName")->text().isEmpty());
  EXPECT_EQ(Child<QComboBox>(dialog, "tvFY")->currentText(), "Combo1");
  EXPECT_EQ(Child<QLabel>(dialog, "Label3")->text(), "Company & Finance Year");
  for (const char* name : kChecks) {
    EXPECT_FALSE(Child<QCheckBox>(dialog, name)->isChecked()) << name;
  }
}

TEST(ExportDialog, ProcessDoesNothingAndCloseUnloadsWhateverWasEntered) {
  QPointer<dlgExport> dialog = new dlgExport;
  dialog->show();
  QTest::keyClicks(Child<QLineEdit>(*dialog, "txtUserName"), "admin");
  QTest::keyClicks(Child<QLineEdit>(*dialog, "txtPassword"), "s3cret, \"x\"");
  for (const char* name : {"Check3", "Check12"}) {
    Child<QCheckBox>(*dialog, name)->setChecked(true);
  }

  QTest::mouseClick(Child<QPushButton>(*dialog, "Command1"), Qt::LeftButton);
  FlushDeferredDeletes();
  ASSERT_FALSE(dialog.isNull());
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(Child<QLineEdit>(*dialog, "txtPassword")->text(), "s3cret, \"x\"");
  EXPECT_TRUE(Child<QCheckBox>(*dialog, "Check12")->isChecked());

  QTest::mouseClick(Child<QPushButton>(*dialog, "Command2"), Qt::LeftButton);
  FlushDeferredDeletes();
  EXPECT_TRUE(dialog.isNull());
}

}  // namespace
}  // namespace lirvo::test
