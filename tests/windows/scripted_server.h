// A loopback server that plays the accounting server by a script, for the window tests. Requests
// are told apart by their bodies, as the accounting server does: an empty body is the probe, "List
// of Companies", the Company collection and "List of Accounts" are the export queries, anything
// else is an import.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <lirvo/modTally.h>

#include "raw_server.h"

namespace lirvo::test {

struct ServerScript {
  std::string versionLine = "Tally stand-in is running.";
  std::vector<std::string> companies = {"Acme Traders"};
  std::string currentCompany = "Acme Traders";
  // The reply body to imports; by default one created master and no errors.
  std::string importReply = "<RESPONSE><CREATED>1</CREATED><ERRORS>0</ERRORS></RESPONSE>";
  // How many imports get importReply; the later ones get the default. -1: every one.
  int importReplies = -1;
};

inline RawServer::Handler Scripted(ServerScript script) {
  auto imports = std::make_shared<int>(0);
  return [script = std::move(script), imports](int socket, const std::string& request) {
    const std::string body = BodyText(request);
    std::string reply;
    if (body.empty()) {
      reply = "<RESPONSE>" + script.versionLine + "</RESPONSE>";
    } else if (body.find("List of Companies") != std::string::npos) {
      reply = "<ENVELOPE><BODY><DATA><COLLECTION>";
      for (const std::string& company : script.companies) {
        reply += "<COMPANYNAME.LIST><COMPANYNAME>" + modTally::EscapeXml(company) +
                 "</COMPANYNAME></COMPANYNAME.LIST>";
      }
      reply += "</COLLECTION></DATA></BODY></ENVELOPE>";
    } else if (body.find("<TYPE>Company</TYPE>") != std::string::npos) {
      // The Company collection, which the company list asks for when the report gives no list.
      reply = "<ENVELOPE><BODY><DATA><COLLECTION>";
      for (const std::string& company : script.companies) {
        reply += "<COMPANY NAME=\"" + modTally::EscapeXml(company) + "\"/>";
      }
      reply += "</COLLECTION></DATA></BODY></ENVELOPE>";
    } else if (body.find("List of Accounts") != std::string::npos) {
      reply = "<ENVELOPE><BODY><DESC><STATICVARIABLES><SVCURRENTCOMPANY>" +
              modTally::EscapeXml(script.currentCompany) +
              "</SVCURRENTCOMPANY></STATICVARIABLES></DESC></BODY></ENVELOPE>";
    } else {
      const bool scripted = script.importReplies < 0 || (*imports)++ < script.importReplies;
      reply = scripted ? script.importReply : ServerScript{}.importReply;
    }
    RawServer::SendAll(socket, RawServer::HttpReply(200, reply));
  };
}

}  // namespace lirvo::test
