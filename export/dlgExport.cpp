#include "dlgExport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTableWidget>

#include <lirvo/design.h>

namespace {

using lirvo::widgets::AddLabel;
using lirvo::widgets::CenterOnScreen;
using lirvo::widgets::DesignFont;
using lirvo::widgets::Twips;

// Masks a password with "*" whatever the platform's own mask character is.
class AsteriskMaskStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    if (hint == SH_LineEdit_PasswordCharacter) {
      return '*';
    }
    return QProxyStyle::styleHint(hint, option, widget, returned);
  }
};

QGroupBox* AddFrame(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* frame = new QGroupBox(QString::fromUtf8(caption), parent);
  frame->setObjectName(QString::fromUtf8(name));
  frame->setGeometry(geometry);
  return frame;
}

}  // namespace

dlgExport::dlgExport(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlgExport"));
  setWindowTitle(QStringLiteral("Data Transformation - QX to Tally "));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(DesignFont());
  setFixedSize(Twips(0, 0, 8520, 7035).size());

  QGroupBox* frame4 = AddFrame(this, "Frame4", "QX 2.0 Login", Twips(150, 60, 8175, 1185));
  AddLabel(frame4, "Label1", "User Name", Twips(240, 360, 795, 195));
  txtUserName_ = new QLineEdit(frame4);
  txtUserName_->setObjectName(QStringLiteral("txtUserName"));
  txtUserName_->setGeometry(Twips(1140, 300, 2865, 315));
  AddLabel(frame4, "Label2", "Password", Twips(4290, 360, 690, 195));
  txtPassword_ = new QLineEdit(frame4);
  txtPassword_->setObjectName(QStringLiteral("txtPassword"));
  txtPassword_->setGeometry(Twips(5130, 300, 2865, 315));
  txtPassword_->setEchoMode(QLineEdit::Password);
  auto* mask = new AsteriskMaskStyle;
  mask->setParent(txtPassword_);  // the style lives as long as the box it draws
  txtPassword_->setStyle(mask);
  // A label shows "&" as it stands (it has no buddy to give a mnemonic to).
  AddLabel(frame4, "Label3", "Company & Finance Year", Twips(240, 810, 1785, 195));
  tvFY_ = new QComboBox(frame4);
  tvFY_->setObjectName(QStringLiteral("tvFY"));
  tvFY_->setGeometry(Twips(2280, 750, 5745, 315));
  tvFY_->setEditable(true);
  tvFY_->setEditText(QStringLiteral("Combo1"));

  QGroupBox* frame1 = AddFrame(this, "Frame1", "Masters", Twips(150, 1350, 4035, 1455));
  QGroupBox* frame3 = AddFrame(this, "Frame3", "Documents", Twips(4290, 1350, 4035, 1455));
  // Tab order follows creation order: Check1 to Check6, then the documents as listed here.
  AddCheck(frame1, "Check1", "Godowns", 390, 270, 1335, 225);
  AddCheck(frame1, "Check2", "Units", 390, 555, 1335, 225);
  AddCheck(frame1, "Check3", "Stock Groups", 390, 840, 1335, 225);
  AddCheck(frame1, "Check4", "Stock Items", 390, 1125, 1335, 225);
  AddCheck(frame1, "Check5", "Ledger Groups", 2340, 270, 1425, 225);
  AddCheck(frame1, "Check6", "Ledgers", 2340, 555, 1425, 225);
  AddCheck(frame3, "Check12", "Sales Orders", 390, 270, 1395, 225);
  AddCheck(frame3, "Check11", "Delivery Notes", 390, 545, 1395, 225);
  AddCheck(frame3, "Check10", "Sales", 390, 820, 1395, 225);
  AddCheck(frame3, "Check9", "Receipts", 390, 1095, 1395, 255);
  AddCheck(frame3, "Check8", "Purchase Orders", 2250, 270, 1545, 225);
  AddCheck(frame3, "Check7", "Receipt Notes", 2250, 545, 1545, 225);
  AddCheck(frame3, "Check14", "Purchases", 2250, 820, 1485, 225);
  AddCheck(frame3, "Check13", "Payments", 2250, 1095, 1485, 255);

  QGroupBox* frame2 = AddFrame(this, "Frame2", "Status", Twips(150, 2910, 8175, 3555));
  MSHFlexGrid1_ = new QTableWidget(0, 4, frame2);
  MSHFlexGrid1_->setObjectName(QStringLiteral("MSHFlexGrid1"));
  MSHFlexGrid1_->setGeometry(Twips(180, 300, 7815, 3075));
  MSHFlexGrid1_->setHorizontalHeaderLabels({QStringLiteral("Item"), QStringLiteral("Records"),
                                            QStringLiteral("Transferred"),
                                            QStringLiteral("Status")});
  MSHFlexGrid1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  MSHFlexGrid1_->verticalHeader()->hide();
  MSHFlexGrid1_->setEditTriggers(QAbstractItemView::NoEditTriggers);

  Command1_ = new QPushButton(QStringLiteral("Process"), this);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command1_->setGeometry(Twips(5550, 6570, 1335, 405));
  Command1_->setAutoDefault(false);
  Command2_ = new QPushButton(QStringLiteral("Close"), this);
  Command2_->setObjectName(QStringLiteral("Command2"));
  Command2_->setGeometry(Twips(6990, 6570, 1335, 405));
  Command2_->setAutoDefault(false);
  // Process has no action of its own; Close unloads the dialog.
  connect(Command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });

  QWidget::setTabOrder(txtUserName_, txtPassword_);
  QWidget::setTabOrder(txtPassword_, tvFY_);
  QWidget* previous = tvFY_;
  for (const char* name :
       {"Check1", "Check2", "Check3", "Check4", "Check5", "Check6", "Check12", "Check11", "Check10",
        "Check9", "Check8", "Check7", "Check14", "Check13"}) {
    auto* check = findChild<QCheckBox*>(QString::fromUtf8(name));
    QWidget::setTabOrder(previous, check);
    previous = check;
  }
  QWidget::setTabOrder(previous, MSHFlexGrid1_);
  QWidget::setTabOrder(MSHFlexGrid1_, Command1_);
  QWidget::setTabOrder(Command1_, Command2_);
  txtUserName_->setFocus();

  // Frame captions are bold; the controls inside keep the ordinary weight.
  QFont plain = font();
  plain.setBold(false);
  QFont caption = plain;
  caption.setBold(true);
  for (QGroupBox* frame : findChildren<QGroupBox*>()) {
    frame->setFont(caption);
    for (QWidget* child : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      child->setFont(plain);
    }
  }

  CenterOnScreen(*this);
}

QCheckBox* dlgExport::AddCheck(QGroupBox* frame, const char* name, const char* text, int left,
                               int top, int width, int height) {
  auto* check = new QCheckBox(QString::fromUtf8(text), frame);
  check->setObjectName(QString::fromUtf8(name));
  check->setGeometry(Twips(left, top, width, height));
  return check;
}

void dlgExport::Command2_Click() {
  close();
}
