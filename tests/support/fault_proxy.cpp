#include "fault_proxy.h"

#include <lirvo/encoding.h>

namespace lirvo::test {

namespace {

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// `reply` (a raw HTTP reply) as UTF-8 text with its first CREATED lowered by one, or its first
// ALTERED when no CREATED is above 0.
std::string ShortOfOne(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  if (end == std::string::npos) {
    return reply;
  }
  // The stand-in answers in the request's encoding; the bytes tell which.
  std::string text = encoding::DecodeReply(reply.substr(end + 4), "");
  for (const std::string counter : {"CREATED", "ALTERED"}) {
    const std::string open = "<" + counter + ">";
    const std::size_t at = text.find(open);
    if (at == std::string::npos) {
      continue;
    }
    const std::size_t from = at + open.size();
    const std::size_t to = text.find('<', from);
    const long value = std::stol(text.substr(from, to - from));
    if (value > 0) {
      text.replace(from, to - from, std::to_string(value - 1));
      break;
    }
  }
  return RawServer::HttpReply(200, text, "text/xml; charset=utf-8");
}

}  // namespace

FaultProxy::FaultProxy(const std::string& target, Kind kind, Mode mode, std::string marker,
                       std::string reply)
    : target_port_(std::stoi(target.substr(target.rfind(':') + 1))),
      kind_(kind),
      marker_(std::move(marker)),
      reply_(std::move(reply)),
      mode_(mode),
      server_([this](int socket, const std::string& request) { Handle(socket, request); }) {}

void FaultProxy::Handle(int socket, const std::string& request) {
  const std::string text = BodyText(request);
  const bool import = text.find("Import Data") != std::string::npos ||
                      text.find("<TALLYREQUEST>Import</TALLYREQUEST>") != std::string::npos;
  const bool export_request = !import && (text.find("List of Accounts") != std::string::npos ||
                                          text.find("Export") != std::string::npos);
  const bool chosen = (kind_ == Kind::kImport ? import : export_request) &&
                      (marker_.empty() || text.find(marker_) != std::string::npos);
  const Mode mode = chosen ? mode_.load() : Mode::kForward;
  if (mode != Mode::kForward) {
    ++faulted_;
  }
  switch (mode) {
    case Mode::kForward:
    case Mode::kShortCount: {  // the stand-in closes the connection after its reply: read to the
                               // end
      const std::string reply = ReadAll(Connected(target_port_, request));
      overlapped_ += server_.Waiting() ? 1 : 0;
      RawServer::SendAll(socket, mode == Mode::kShortCount ? ShortOfOne(reply) : reply);
      return;
    }
    case Mode::kIgnored: {
      const std::string objects = std::to_string(Occurrences(text, "<TALLYMESSAGE"));
      RawServer::SendAll(
          socket, RawServer::HttpReply(
                      200,
                      "<RESPONSE><CREATED>0</CREATED><ALTERED>0</ALTERED><DELETED>0</DELETED>"
                      "<LASTVCHID>0</LASTVCHID><LASTMID>0</LASTMID><COMBINED>0</COMBINED>"
                      "<IGNORED>" +
                          objects +
                          "</IGNORED><ERRORS>0</ERRORS><CANCELLED>0</CANCELLED>"
                          "<EXCEPTIONS>0</EXCEPTIONS></RESPONSE>",
                      "text/xml; charset=utf-8"));
      return;
    }
    case Mode::kReply:
      RawServer::SendAll(socket, reply_);
      return;
    case Mode::kNever:
      server_.Hold(socket);
      return;
    case Mode::kClose:
      return;
  }
}

}  // namespace lirvo::test
