// The export selection dialog: masked password, initial state, Process inert, Close unloads.
#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>

#include <gtest/gtest.h>

#include "dlgExport.h"
#include "window_test.h"

namespace lirvo::test {
namespace {

TEST(ExportDialog, StartsClearedWithAMaskedPasswordProcessDoesNothingAndCloseUnloads) {
  QPointer<dlgExport> dialog = new dlgExport;
  dialog->show();
  auto* password = Child<QLineEdit>(*dialog, "txtPassword");
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password),
            '*');
  EXPECT_TRUE(password->text().isEmpty());
  EXPECT_TRUE(Child<QLineEdit>(*dialog, "txtUserName")->text().isEmpty());
  for (int check = 1; check <= 14; ++check) {
    const std::string name = "Check" + std::to_string(check);
    EXPECT_FALSE(Child<QCheckBox>(*dialog, name.c_str())->isChecked()) << name;
  }

  QTest::keyClicks(Child<QLineEdit>(*dialog, "txtUserName"), "admin");
  QTest::keyClicks(password, "s3cret, \"x\"");
  Child<QCheckBox>(*dialog, "Check12")->setChecked(true);
  Click(*dialog, "Command1");
  FlushDeferredDeletes();
  ASSERT_FALSE(dialog.isNull());
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(password->text(), "s3cret, \"x\"");
  EXPECT_TRUE(Child<QCheckBox>(*dialog, "Check12")->isChecked());

  Click(*dialog, "Command2");
  FlushDeferredDeletes();
  EXPECT_TRUE(dialog.isNull());
}

}  // namespace
}  // namespace lirvo::test
