// Any bytes as a reply body under any Content-Type: the decoder gives clean UTF-8 text or a clear
// encoding failure, never a crash; the conversions round-trip.
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include <lirvo/encoding.h>

namespace enc = lirvo::encoding;

namespace {

// The first byte picks the Content-Type, as the server's replies carry one of these.
constexpr const char* kContentTypes[] = {"",
                                         "text/xml",
                                         "text/xml; charset=utf-8",
                                         "text/xml;charset=utf-16",
                                         "text/xml; charset=\"UTF-16BE\"",
                                         "text/xml; charset=windows-1252"};

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const char* content_type = kContentTypes[data[0] % std::size(kContentTypes)];
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    const std::string text = enc::DecodeReply(body, content_type);
    Require(enc::IsValidUtf8(text));
    Require(enc::DropForbiddenXml(text) == text);  // nothing forbidden is left
  } catch (const enc::Error& error) {
    Require(error.offset() <= body.size());
  }
  if (enc::IsValidUtf8(body)) {
    for (const auto order : {enc::ByteOrder::kLittle, enc::ByteOrder::kBig}) {
      Require(enc::Utf16ToUtf8(enc::Utf8ToUtf16(body, order), order) == body);
    }
    Require(enc::IsValidUtf8(enc::Windows1252ToUtf8(enc::Utf8ToWindows1252(body))));
  }
  return 0;
}
