// Any bytes as requests to the stand-in, handled in-process: up to four request bodies separated
// by NUL bytes go to one fresh server in turn. Every request gets an XML answer with a status the
// server documents, an import's counters agree with its error lines, no request leaves the store
// unusable (a failure of the store is a 500), and the server still answers the probe and draws
// its overview afterwards.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <lirvo/encoding.h>
#include <lirvo/modTally.h>
#include <lirvo/standin/service.h>

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void CheckReply(const lirvo::standin::HttpReply& reply) {
  // The server answers 200 whatever happened; only a body over the limit gets a status of its own.
  Require(reply.status == 200 || reply.status == 413);
  pugi::xml_document document;
  // The reply comes in the request's encoding (UTF-16LE, or Windows-1252 under a utf-8 header).
  Require(
      modTally::LoadXml(document, lirvo::encoding::DecodeReply(reply.body, reply.content_type)));
  const std::string_view root = document.document_element().name();
  Require(root == "RESPONSE" || root == "ENVELOPE");
  const pugi::xml_node errors = document.document_element().child("ERRORS");
  if (root == "RESPONSE" && errors) {
    const auto lines = document.select_nodes("/RESPONSE/LINEERROR").size();
    Require(errors.text().as_llong(-1) == static_cast<long long>(lines));
    Require(reply.status == 200);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  lirvo::standin::Service service(lirvo::standin::Options{});
  for (int request = 0; request < 4 && !input.empty(); ++request) {
    const std::size_t end = input.find('\0');
    CheckReply(service.Post(input.substr(0, end)));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }

  const lirvo::standin::HttpReply probe = service.Post("");
  Require(probe.status == 200 &&
          probe.body.find(lirvo::standin::kRunningLine) != std::string::npos);
  Require(service.Get("text/html").status == 200);
  return 0;
}
