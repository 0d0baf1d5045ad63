#include "Form1.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <lirvo/design.h>
#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

using lirvo::widgets::AddLabel;
using lirvo::widgets::CenterOnScreen;
using lirvo::widgets::DesignFont;
using lirvo::widgets::FromUtf8;
using lirvo::widgets::Twips;

std::filesystem::path ToPath(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::filesystem::path(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QString ErrorText(int number, const std::string& description) {
  return QStringLiteral("Error %1: %2").arg(number).arg(FromUtf8(description));
}

// Text boxes break lines at LF; a CR before it would show as a stray character.
QString ForDisplay(const std::string& text) {
  QString shown = FromUtf8(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

std::string Absolute(const std::filesystem::path& path) {
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  return (absolute.empty() ? path : absolute).lexically_normal().string();
}

// Writes `content` as the file at `path`; on failure gives the system's reason, otherwise "".
std::string WriteFile(const std::filesystem::path& path, const std::string& content) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) {
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
  }
  if (out) {
    return "";
  }
  return errno != 0 ? std::strerror(errno) : "the file could not be written";
}

// The reply as it is saved: re-written as an XML document; a reply that is not well-formed XML is
// saved as received, so nothing the server said is lost.
std::string SavedForm(const std::string& reply) {
  pugi::xml_document document;
  if (!modTally::LoadXml(document, reply)) {
    return reply;
  }
  std::ostringstream out;
  document.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

// Runs one start-up query with the busy cursor, after letting the window paint.
template <class Query>
auto WhileBusy(Query query) {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  QCoreApplication::processEvents();
  auto answer = query();
  QGuiApplication::restoreOverrideCursor();
  return answer;
}

QPlainTextEdit* AddReplyBox(QWidget* parent, const char* name, QRect geometry) {
  auto* box = new QPlainTextEdit(parent);
  box->setObjectName(QString::fromUtf8(name));
  box->setGeometry(geometry);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setTabChangesFocus(true);
  return box;
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Tally Request"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(DesignFont());
  setFixedSize(Twips(0, 0, 7545, 6720).size());
  applicationFolder_ = QCoreApplication::applicationDirPath();

  AddLabel(this, "Label3", "File Name", Twips(300, 90, 705, 195));
  txtFileName_ = new QLineEdit(this);
  txtFileName_->setObjectName(QStringLiteral("txtFileName"));
  txtFileName_->setGeometry(Twips(300, 300, 6435, 315));
  Command1_ = new QPushButton(QStringLiteral("..."), this);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command1_->setGeometry(Twips(6840, 300, 405, 345));
  AddLabel(this, "Label1", "Response Headers", Twips(300, 780, 1365, 195));
  txtResponseHeaders_ = AddReplyBox(this, "txtResponseHeaders", Twips(300, 990, 6945, 975));
  AddLabel(this, "Label2", "Response", Twips(300, 2130, 720, 195));
  txtResponse_ = AddReplyBox(this, "txtResponse", Twips(300, 2340, 6945, 3735));
  cmdRequest_ = new QPushButton(QStringLiteral("Request"), this);
  cmdRequest_->setObjectName(QStringLiteral("cmdRequest"));
  cmdRequest_->setGeometry(Twips(2760, 6240, 2025, 345));

  QWidget::setTabOrder(txtFileName_, Command1_);
  QWidget::setTabOrder(Command1_, txtResponseHeaders_);
  QWidget::setTabOrder(txtResponseHeaders_, txtResponse_);
  QWidget::setTabOrder(txtResponse_, cmdRequest_);
  txtFileName_->setFocus();

  connect(Command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(cmdRequest_, &QPushButton::clicked, this, [this] { cmdRequest_Click(); });

  showMessage = lirvo::widgets::ModalMessages(*this);
  chooseFile = [this](const QString& folder, const QString& defaultSuffix) {
    QFileDialog cd(this, QString(), folder);
    cd.setObjectName(QStringLiteral("cd"));
    cd.setAcceptMode(QFileDialog::AcceptOpen);
    cd.setFileMode(QFileDialog::ExistingFile);
    cd.setDefaultSuffix(defaultSuffix);
    if (cd.exec() != QDialog::Accepted || cd.selectedFiles().isEmpty()) {
      return QString();
    }
    return cd.selectedFiles().constFirst();
  };

  CenterOnScreen(*this);
}

void Form1::Form_Load() {
  modTally::TallyUrl = modTally::DefaultAddress();
  cmdRequest_->setEnabled(false);
  const std::string version = WhileBusy(&modTally::GetTallyVersion);
  showMessage(QMessageBox::Information, QString::fromUtf8(kHarnessTitle),
              QStringLiteral("Tally Version: ") + FromUtf8(version));
  const std::string company = WhileBusy(&modTally::GetCurrentCompany);
  cmdRequest_->setEnabled(true);
  showMessage(QMessageBox::Information, QString::fromUtf8(kHarnessTitle),
              QStringLiteral("Company Name: ") + FromUtf8(company));
  try {
    for (auto& [call, request] : modTallyIm::SampleRequests(company)) {
      lastRequest_ = std::move(request);
    }
  } catch (const Failure& failure) {
    showMessage(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                ErrorText(failure.number(),
                          "the sample requests could not be built: " + failure.description()));
  }
}

void Form1::Command1_Click() {
  const QString chosen = chooseFile(applicationFolder_, QStringLiteral("xml"));
  if (!chosen.isEmpty()) {
    txtFileName_->setText(chosen);
  }
}

void Form1::cmdRequest_Click() {
  try {
    Request();
  } catch (const Failure& failure) {
    showMessage(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                ErrorText(failure.number(), failure.description()));
  } catch (const std::exception& error) {
    showMessage(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                ErrorText(FailureNumber::kDocument, error.what()));
  }
}

void Form1::Request() {
  const QString fileName = txtFileName_->text();
  std::string body;
  std::filesystem::path saveTo;
  if (!fileName.isEmpty()) {
    body = modTally::LoadRequestFile(ToPath(fileName));
    saveTo = ToPath(applicationFolder_) / kReplyFileName;
  } else {
    body = lastRequest_;
    saveTo = std::filesystem::path(".") / kReplyFileName;
  }
  const modTally::Reply reply =
      modTally::Exchange(modTally::TallyUrl, std::optional<std::string_view>(body));
  txtResponseHeaders_->setPlainText(ForDisplay(reply.headers));
  txtResponse_->setPlainText(ForDisplay(reply.text));
  SaveReply(reply.raw, saveTo);
}

void Form1::SaveReply(const std::string& reply, const std::filesystem::path& path) {
  const std::string content = SavedForm(reply);
  const std::string reason = WriteFile(path, content);
  if (reason.empty()) {
    return;
  }
  const std::filesystem::path here = std::filesystem::path(".") / kReplyFileName;
  std::error_code ignored;
  if (std::filesystem::equivalent(path.parent_path(), ".", ignored) ||
      !WriteFile(here, content).empty()) {
    throw Failure(FailureNumber::kFile,
                  "cannot write the reply to " + Absolute(path) + ": " + reason);
  }
  // The application's folder cannot take it (an installed copy): the working folder does.
  showMessage(QMessageBox::Information, QString::fromUtf8(kApplicationTitle),
              FromUtf8("cannot write the reply to " + Absolute(path) + ": " + reason +
                       "; it was saved as " + Absolute(here) + " instead"));
}
