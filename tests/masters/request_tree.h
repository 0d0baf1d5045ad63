// Parses a master request back into its tree, checking the envelope around the master on the
// way, and renders trees in a compact form ("NAME=Nos; NAME.LIST[NAME=BUSH]") so that tests
// compare structure rather than text.
#pragma once

#include <string>

namespace lirvo::test {

struct MasterRequest {
  std::string company;  // the envelope's SVCURRENTCOMPANY
  std::string
      head;  // the master element and its attributes in order: "UNIT(NAME=Nos, ACTION=Create)"
  std::string children;  // the master's child elements, rendered: "NAME=Nos; ISSIMPLEUNIT=Yes"
};

// Elements render as "NAME=text[child; child]", without "=text" when there is no text and without
// the brackets when there are no children; siblings are separated by "; ".
//
// Throws std::runtime_error, saying what is wrong, unless `text` is exactly the import envelope
// whose REQUESTDATA holds one TALLYMESSAGE (xmlns:UDF="TallyUDF") with one master element.
// Whitespace-only text is kept as text.
MasterRequest ParseMasterRequest(const std::string& text);

}  // namespace lirvo::test
