// Judging an import reply: whether the server took the data, and if not, why in a line.
#pragma once

#include <string>

#include <lirvo/modTally.h>

namespace lirvo::transfer {

// Whether an import reply says the data was not taken. It is a rejection when its HTTP status is
// 400 or above, when it holds a LINEERROR, when ERRORS or EXCEPTIONS is above 0, when its RESPONSE
// root holds only a message, and when it is not an import response at all: an HTTP status outside
// 2xx (a redirect), an empty body, an HTML page, text that is not XML, a document that is neither
// a RESPONSE nor an ENVELOPE with BODY/DATA, or one whose counters (CREATED, ALTERED, DELETED,
// COMBINED, IGNORED, CANCELLED) are all zero with no error.
bool IsRejection(const modTally::Reply& reply);

// What a rejected reply says: its LINEERROR texts, its message, its error counts, or what came
// back instead of an import response ("the server's reply is not an import response: HTTP 302,
// empty body"); prefixed with "HTTP status N" for a status of 400 or above. Empty for a reply
// that is not a rejection.
std::string RejectionText(const modTally::Reply& reply);

// How many items an import reply says it created: the sum of its CREATED counters, 0 for a
// rejection.
double CreatedCount(const modTally::Reply& reply);

}  // namespace lirvo::transfer
