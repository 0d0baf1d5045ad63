// Judging an import reply: whether the server took every object sent, and if not, why in a line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <lirvo/modTally.h>

namespace lirvo::books {

// What a request carried: its objects (every element directly under a TALLYMESSAGE: a master or a
// voucher), how many of them are deletions, and for a request of one object what it is
// ("ledger \"Chandra & Sons\"", "voucher \"V1\"").
struct SentObjects {
  long objects = 0;
  long deletions = 0;
  std::string only;
};

// The objects of a request text. A text that is not XML carries none.
SentObjects CountSentObjects(std::string_view request);

// The three things an import reply can be.
enum class ImportOutcome {
  kAccepted,        // the counters account for every object sent, and nothing was refused
  kRejected,        // the server stated that something is not in the books as sent: a row's fault
  kNotImportReply,  // no import reply at all (HTML, not XML, empty, HTTP status outside 2xx):
                    // the server or what stands in front of it is broken, no row's fault
};

struct ImportVerdict {
  ImportOutcome outcome = ImportOutcome::kAccepted;
  std::string reason;  // empty when accepted
  double created = 0;  // the sum of the CREATED counters (0 unless accepted)
};

// Judges an import reply for a request that carried `sent` objects. Accepted only when the reply
// is an import reply (a RESPONSE root, or ENVELOPE/BODY/DATA with or without IMPORTRESULT) with
// no LINEERROR, no ERRORS, EXCEPTIONS, IGNORED or CANCELLED above 0, and counters that account for
// every object sent: CREATED + ALTERED + COMBINED (+ DELETED when the request deletes) at least
// `sent.objects`. Without `sent` (an unknown request) the counters must account for something.
// A RESPONSE holding only a message, and an ENVELOPE whose HEADER/STATUS is 0, are rejections.
ImportVerdict JudgeImport(const modTally::Reply& reply,
                          const std::optional<SentObjects>& sent = std::nullopt);

// Whether an import reply is not an acceptance (JudgeImport without a count): a rejection or not
// an import reply at all.
bool IsRejection(const modTally::Reply& reply);

// Why a reply is not an acceptance: its LINEERROR texts, its message, its error counts, what is
// unaccounted for, or what came back instead of an import reply ("the server's reply is not an
// import response: HTTP 302, empty body"). Empty for an accepted reply.
std::string RejectionText(const modTally::Reply& reply);

// How many items an import reply says it created: the sum of its CREATED counters, 0 when it is
// not an acceptance.
double CreatedCount(const modTally::Reply& reply);

}  // namespace lirvo::books
