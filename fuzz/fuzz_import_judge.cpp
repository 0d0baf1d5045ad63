// Any bytes as an import reply, judged for a request of a few objects or of an unknown count, and
// as a request whose objects are counted: the judge never fails, an acceptance carries no reason
// and anything else says why, and the count-free forms agree with it.
#include <cstdint>
#include <cstdlib>
#include <optional>

#include <lirvo/books/judge.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  // The first byte: the number of objects sent (255: unknown); the second: the HTTP status.
  const long statuses[] = {200, 200, 200, 201, 302, 400, 404, 500};
  const long status = statuses[data[1] % 8];
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  const modTally::Reply reply{status, "Location: http://elsewhere/\r\n", text};

  const lirvo::books::SentObjects counted = lirvo::books::CountSentObjects(text);
  if (counted.deletions < 0 || counted.deletions > counted.objects ||
      (counted.objects != 1 && !counted.only.empty())) {
    std::abort();
  }

  const std::optional<lirvo::books::SentObjects> sent =
      data[0] == 255 ? std::nullopt
                     : std::optional(lirvo::books::SentObjects{data[0], data[0] % 3 == 0, {}});
  const lirvo::books::ImportVerdict verdict = lirvo::books::JudgeImport(reply, sent);
  const bool accepted = verdict.outcome == lirvo::books::ImportOutcome::kAccepted;
  if (accepted != verdict.reason.empty()) {
    std::abort();
  }
  if (!accepted && verdict.created != 0) {
    std::abort();
  }
  if ((status < 200 || status >= 300) && accepted) {
    std::abort();
  }
  if (!sent && (lirvo::books::IsRejection(reply) == accepted ||
                lirvo::books::RejectionText(reply) != verdict.reason)) {
    std::abort();
  }
  return 0;
}
