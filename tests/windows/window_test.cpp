#include "window_test.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>

namespace lirvo::test {

std::string BodyOf(const std::string& request) {
  const std::size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : request.substr(end + 4);
}

RawServer::Handler Scripted(ServerScript script) {
  return [script = std::move(script)](int socket, const std::string& request) {
    const std::string body = BodyOf(request);
    std::string reply;
    if (body.empty()) {
      reply = "<RESPONSE>" + script.versionLine + "</RESPONSE>";
    } else if (body.find("List of Companies") != std::string::npos) {
      reply = "<ENVELOPE><BODY><DATA><COLLECTION>";
      for (const std::string& company : script.companies) {
        reply += "<COMPANYNAME.LIST><COMPANYNAME>" + company + "</COMPANYNAME></COMPANYNAME.LIST>";
      }
      reply += "</COLLECTION></DATA></BODY></ENVELOPE>";
    } else if (body.find("List of Accounts") != std::string::npos) {
      reply =
          "<ENVELOPE><HEADER><VERSION>1</VERSION></HEADER><BODY><DESC><STATICVARIABLES>"
          "<SVCURRENTCOMPANY>" +
          script.currentCompany + "</SVCURRENTCOMPANY></STATICVARIABLES></DESC></BODY></ENVELOPE>";
    } else {
      reply = script.importReply;
    }
    RawServer::SendAll(socket, RawServer::HttpReply(200, reply));
  };
}

std::vector<std::string> ImportBodies(const RawServer& server) {
  std::vector<std::string> imports;
  for (const std::string& request : server.requests()) {
    const std::string body = BodyOf(request);
    if (body.find("Import Data") != std::string::npos) {
      imports.push_back(body);
    }
  }
  return imports;
}

std::vector<std::string> TabOrder(QWidget* first) {
  std::vector<std::string> names;
  QWidget* widget = first;
  // Bounded: a focus chain is a ring, so this ends where it began.
  for (int step = 0; step < 1000 && widget != nullptr; ++step) {
    const QString name = widget->objectName();
    if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->focusProxy() == nullptr &&
        !name.isEmpty() && !name.startsWith(QStringLiteral("qt_"))) {
      names.push_back(name.toStdString());
    }
    widget = widget->nextInFocusChain();
    if (widget == first) {
      break;
    }
  }
  return names;
}

void Later(const std::function<void()>& work) {
  QMetaObject::invokeMethod(qApp, work, Qt::QueuedConnection);
}

void FlushDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace lirvo::test

// The windows need an application object; without a display they draw offscreen.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
