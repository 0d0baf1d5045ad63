// dlgExport: the layout of a transfer from an outside source system into Tally (a login, a company
// and financial year, the kinds of masters and documents to move, a status grid). Only Close acts:
// it unloads the dialog.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

class dlgExport : public QDialog {
  Q_OBJECT

 public:
  // Builds the dialog, centred on the screen. It deletes itself when closed.
  explicit dlgExport(QWidget* parent = nullptr);

 private:
  QCheckBox* AddCheck(QGroupBox* frame, const char* name, const char* text, int left, int top,
                      int width, int height);
  void Command2_Click();

  QLineEdit* txtUserName_ = nullptr;
  QLineEdit* txtPassword_ = nullptr;
  QComboBox* tvFY_ = nullptr;
  QTableWidget* MSHFlexGrid1_ = nullptr;
  QPushButton* Command1_ = nullptr;
  QPushButton* Command2_ = nullptr;
};
