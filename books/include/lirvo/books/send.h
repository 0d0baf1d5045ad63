// Sending a request as the server is used to receiving it: laid out, one element a line.
#pragma once

#include <string>

#include <lirvo/modTally.h>

namespace lirvo::books {

// Loads `request` into a document, lays it out (every element on a line of its own, CR LF, two
// blanks a level, leaves on one line) and posts it to `server` in its request encoding, within its
// import time limits; returns the reply unchanged. The server's cancel flag is asked before
// anything is sent and while the exchange is in hand: raised, it abandons the request (a Failure
// of kind Cancelled). Throws modTally::Failure when the server has no address, when the request
// is not well-formed XML (kParse) or nests deeper than LaidOutXml allows (kDepth), nothing being
// sent then, or when the exchange fails.
modTally::Reply SendRequest(const modTally::Server& server, const std::string& request);

// SendRequest to modTally::TallyUrl (modTally::Server::At).
modTally::Reply SendRequest(const std::string& request);

// As SendRequest to modTally::TallyUrl, giving back only the reply text.
std::string SendToTally(const std::string& request);

// The text SendRequest posts for `document`, written in one pass that leaves the document as it
// is: the root element's subtree laid out with every element on a line of its own, indented two
// blanks per level (the root at 0, no indentation or line break around it), CR LF line ends; an
// element whose children are all text stays on one line; text is not changed. Nodes beside the
// root are written as they are. Throws modTally::Failure (kDocument) when the document has no
// root element, and (kDepth) when an element sits more than 100 levels deep (the root is level
// 1): the indentation grows with the level, and this bound keeps the text within about fifty
// times the size of the request.
std::string LaidOutXml(const pugi::xml_document& document);

}  // namespace lirvo::books
