// Any bytes as a reply to the three queries: the readers never fail and give the documented
// shapes.
#include <cstdint>
#include <cstdlib>

#include <lirvo/modTally.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  pugi::xml_document document;
  const bool is_xml = modTally::LoadXml(document, reply);

  const std::string version = modTally::ReadVersionReply(reply);
  const std::string company = modTally::ReadCurrentCompanyReply(reply);
  const std::vector<std::string> names = modTally::ReadCompanyNames(reply);

  if (!is_xml) {
    // A reply that is not XML reads as one without the elements looked for.
    if (version != modTally::kServerRunningLine || !company.empty() || !names.empty()) {
      std::abort();
    }
  }
  if (!document.select_node("//RESPONSE") && version != modTally::kServerRunningLine) {
    std::abort();
  }
  if (names.size() != document.select_nodes("//COMPANYNAME").size()) {
    std::abort();
  }
  return 0;
}
