#include "LirvoDemo.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <lirvo/books/send.h>
#include <lirvo/design.h>
#include <lirvo/modTally.h>
#include <lirvo/transfer.h>

namespace {

using lirvo::widgets::AddButton;
using lirvo::widgets::AddLabel;
using lirvo::widgets::CenterOnScreen;
using lirvo::widgets::DesignFont;
using lirvo::widgets::FromUtf8;
using lirvo::widgets::Twips;

void SetBold(QWidget& widget, qreal pointSize = 0) {
  QFont font = widget.font();
  font.setBold(true);
  if (pointSize > 0) {
    font.setPointSizeF(pointSize);
  }
  widget.setFont(font);
}

void SetTextColour(QWidget& widget, const QColor& colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::Text, colour);
  widget.setPalette(palette);
}

constexpr const char* kContactNotice =
    "Lirvo puts your business data into Tally.\n"
    "Questions about this demo or about Lirvo?\n"
    "Write to support@lirvo.example\n";

}  // namespace

class LirvoDemo::Work {
 public:
  explicit Work(LirvoDemo& window) : window_(window) { window_.busy_ = true; }
  ~Work() {
    window_.busy_ = false;
    if (window_.closePending_) {
      window_.closePending_ = false;
      window_.close();
    }
  }
  Work(const Work&) = delete;
  Work& operator=(const Work&) = delete;

 private:
  LirvoDemo& window_;
};

LirvoDemo::LirvoDemo(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LirvoDemo"));
  setWindowTitle(QStringLiteral("Demo Application using Lirvo 1.0 "));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(DesignFont());
  setFixedSize(Twips(0, 0, 7500, 4695).size());

  Label1_ = AddLabel(this, "Label1", "Lirvo 1.0 Demo", Twips(2310, 30, 2880, 435));
  SetBold(*Label1_, 18);
  SetTextColour(*Label1_, QColor(0xC0, 0x40, 0x00));
  Label3_ = AddLabel(this, "Label3", "This demo is using SampleData.mdb as source file.",
                     Twips(1080, 570, 5340, 240));
  SetBold(*Label3_);
  Label2_ = AddLabel(this, "Label2", "This Demo will export only 5 records in to Tally.",
                     Twips(1298, 870, 4905, 240));
  SetBold(*Label2_);

  Frame1_ = new QGroupBox(this);
  Frame1_->setObjectName(QStringLiteral("Frame1"));
  Frame1_->setGeometry(Twips(203, 1320, 7095, 1005));
  lblVer_ = AddLabel(Frame1_, "lblVer", "This Demo will export only 5 records in to Tally.",
                     Twips(120, 180, 4905, 240));
  SetBold(*lblVer_);
  SetTextColour(*lblVer_, QColor(0x00, 0x00, 0x80));
  lblVer_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Label17_ = AddLabel(Frame1_, "Label17", "Open Companies List", Twips(120, 585, 1500, 195));
  cmbCurrentCompanyList_ = new QComboBox(Frame1_);
  cmbCurrentCompanyList_->setObjectName(QStringLiteral("cmbCurrentCompanyList"));
  cmbCurrentCompanyList_->setGeometry(Twips(1770, 525, 3975, 315));
  cmdRefresh_ = AddButton(Frame1_, "cmdRefresh", "Refresh", Twips(5910, 510, 945, 345));

  lblProc_ = AddLabel(this, "lblProc", "Wait", Twips(203, 2505, 480, 240));
  cmdProcess_ = AddButton(this, "cmdProcess", "Process", Twips(4410, 2430, 1335, 405));
  cmdProcess_->setEnabled(false);
  cmdClose_ = AddButton(this, "cmdClose", "Close", Twips(5963, 2430, 1335, 405));

  Text1_ = new QPlainTextEdit(QString::fromUtf8(kContactNotice), this);
  Text1_->setObjectName(QStringLiteral("Text1"));
  Text1_->setGeometry(Twips(203, 2940, 7095, 1605));
  Text1_->setReadOnly(true);
  Text1_->setTabChangesFocus(true);
  SetBold(*Text1_, 12);

  QWidget::setTabOrder(cmbCurrentCompanyList_, cmdRefresh_);
  QWidget::setTabOrder(cmdRefresh_, cmdProcess_);
  QWidget::setTabOrder(cmdProcess_, cmdClose_);
  QWidget::setTabOrder(cmdClose_, Text1_);
  cmbCurrentCompanyList_->setFocus();

  connect(cmdRefresh_, &QPushButton::clicked, this, [this] { cmdRefresh_Click(); });
  connect(cmdProcess_, &QPushButton::clicked, this, [this] { cmdProcess_Click(); });
  connect(cmdClose_, &QPushButton::clicked, this, [this] { cmdClose_Click(); });

  showMessage = lirvo::widgets::ModalMessages(*this);

  CenterOnScreen(*this);
}

void LirvoDemo::Form_Load() {
  cmdRefresh_Click();
}

void LirvoDemo::Stat(const std::string& message) {
  lblProc_->setVisible(true);
  lblProc_->setText(FromUtf8(message) + QStringLiteral("........."));
  // The label grows and shrinks with its text.
  lblProc_->resize(lblProc_->sizeHint().width(), lblProc_->height());
  QCoreApplication::processEvents();
}

std::string LirvoDemo::SendToTally(const std::string& request) {
  return lirvo::books::SendToTally(request);
}

void LirvoDemo::DataToTally() {
  const lirvo::transfer::TransferResult result = lirvo::transfer::DataToTally(
      currentCompany_, [this](const std::string& message) { Stat(message); },
      database_.empty() ? lirvo::transfer::DefaultDatabasePath() : database_);
  lblProc_->setVisible(false);
  // A transfer the server took whole is reported as a success; one it turned parts of down is a
  // warning that says what was rejected.
  showMessage(result.rejected > 0 ? QMessageBox::Warning : QMessageBox::Information,
              QString::fromUtf8(lirvo::transfer::kMessageTitle),
              FromUtf8(lirvo::transfer::FinalMessage(result)));
}

void LirvoDemo::cmdRefresh_Click() {
  if (busy_) {
    return;
  }
  const Work work(*this);
  try {
    Refresh();
  } catch (const std::exception& error) {
    showMessage(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                QStringLiteral("Refresh could not finish: ") + QString::fromUtf8(error.what()));
  }
}

void LirvoDemo::ShowServerLine(const std::string& line) {
  const QString text = FromUtf8(line);
  lblVer_->setText(
      lblVer_->fontMetrics().elidedText(text, Qt::ElideRight, lblVer_->contentsRect().width()));
  lblVer_->setToolTip(text);
}

void LirvoDemo::RefreshFailed(const std::string& reason) {
  tallyVersion_ = reason;
  ShowServerLine(reason);
  cmbCurrentCompanyList_->clear();
  currentCompany_.clear();
  cmdProcess_->setEnabled(false);
  lblProc_->setVisible(false);
}

void LirvoDemo::Refresh() {
  // Each query is announced in the status label before it runs; the first that fails ends the
  // Refresh with its reason in the server line.
  Stat("Initializing Tally Engine");
  Stat("Checking Tally Version");
  const auto version = modTally::TryGetTallyVersion();
  if (!version) {
    RefreshFailed(version.description);
    return;
  }
  tallyVersion_ = *version.value;
  ShowServerLine(tallyVersion_);
  if (tallyVersion_.empty()) {
    showMessage(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                QStringLiteral("Tally is not running."));
    cmdProcess_->setEnabled(false);
    lblProc_->setVisible(false);
    return;
  }

  Stat("Reading Open Companies");
  const auto list = modTally::TryGetCompanyList();
  if (!list) {
    RefreshFailed(list.description);
    return;
  }
  cmbCurrentCompanyList_->clear();
  for (const std::string& name : *list.value) {
    cmbCurrentCompanyList_->addItem(FromUtf8(name));
  }
  cmbCurrentCompanyList_->setCurrentIndex(-1);
  Stat("Reading Current Company");
  const auto current = modTally::TryGetCurrentCompany();
  if (!current) {
    RefreshFailed(current.description);
    return;
  }
  currentCompany_ = *current.value;

  if (list.value->empty()) {
    // The server names no company: there is nothing to transfer into.
    cmdProcess_->setEnabled(false);
    lblProc_->setVisible(false);
    return;
  }
  // Select the current company; a name the list does not hold leaves no entry selected.
  const QString currentName = FromUtf8(currentCompany_);
  int index =
      cmbCurrentCompanyList_->findText(currentName, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) {
    index = cmbCurrentCompanyList_->findText(currentName, Qt::MatchFixedString);
  }
  cmbCurrentCompanyList_->setCurrentIndex(index);
  cmdProcess_->setEnabled(true);
  lblProc_->setVisible(false);
}

void LirvoDemo::cmdProcess_Click() {
  if (busy_) {
    return;
  }
  const Work work(*this);
  try {
    DataToTally();
  } catch (const modTally::Failure& failure) {
    showMessage(QMessageBox::Critical, QString::fromUtf8(lirvo::transfer::kMessageTitle),
                FromUtf8(lirvo::transfer::StopMessage(failure)));
  } catch (const std::exception& error) {
    showMessage(QMessageBox::Critical, QString::fromUtf8(lirvo::transfer::kMessageTitle),
                QStringLiteral("The transfer stopped: ") + FromUtf8(error.what()));
  }
}

void LirvoDemo::cmdClose_Click() {
  if (busy_) {
    return;
  }
  close();
}

void LirvoDemo::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // Held off until the running work ends; the work closes the window then.
    closePending_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}
