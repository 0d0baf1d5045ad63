// Any bytes as a request to lay out before sending: either it is refused before anything is sent
// (not XML, or nested too deeply), or the text posted loads as XML again into the same tree as the
// request's, apart from the line breaks and blanks the layout put around the texts, and laying it
// out leaves the request's document as it was.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <lirvo/books/send.h>
#include <lirvo/modTally.h>

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// `text` with its line ends as loading gives them: CR LF and a lone CR become LF.
std::string WithoutCr(std::string_view text) {
  std::string kept;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      kept += text[i];
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      kept += '\n';
    }
  }
  return kept;
}

// Whether `text` is `original` with line breaks and blanks the layout put before and after it
// (line ends compared as loading gives them).
bool SameText(std::string_view original, std::string_view text) {
  const std::string plain = WithoutCr(original);
  const std::string got = WithoutCr(text);
  const auto layout = [](char c) { return c == '\n' || c == ' '; };
  for (std::size_t at = 0; at + plain.size() <= got.size(); ++at) {
    if (got.compare(at, plain.size(), plain) == 0) {
      bool rest = true;
      for (std::size_t i = at + plain.size(); rest && i < got.size(); ++i) {
        rest = layout(got[i]);
      }
      if (rest) {
        return true;
      }
    }
    if (!layout(got[at])) {
      break;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view request(reinterpret_cast<const char*>(data), size);
  pugi::xml_document document;
  if (!modTally::LoadXml(document, request)) {
    return 0;  // the sender refuses it before sending
  }
  const std::string loaded = modTally::DocumentXml(document);

  std::string sent;
  try {
    sent = lirvo::books::LaidOutXml(document);
  } catch (const modTally::Failure& failure) {
    // The only refusal of a loaded document: nesting too deep.
    Require(failure.number() == modTally::FailureNumber::kDepth);
    return 0;
  }
  Require(modTally::DocumentXml(document) == loaded);

  // What goes on the wire loads again, into the same tree. Loading merges texts that end up side
  // by side (the request's own loading may have left two, a comment dropped between them) and
  // drops text made of whitespace alone, so the request's children are taken that way too.
  pugi::xml_document received;
  Require(modTally::LoadXml(received, sent));
  std::vector<std::pair<pugi::xml_node, pugi::xml_node>> pending{
      {document.document_element(), received.document_element()}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    Require(a.type() == pugi::node_element && b.type() == pugi::node_element &&
            std::string_view(a.name()) == b.name());
    pugi::xml_attribute x = a.first_attribute();
    pugi::xml_attribute y = b.first_attribute();
    for (; x && y; x = x.next_attribute(), y = y.next_attribute()) {
      Require(std::string_view(x.name()) == y.name() && std::string_view(x.value()) == y.value());
    }
    Require(!x && !y);
    pugi::xml_node d = b.first_child();
    for (pugi::xml_node c = a.first_child(); c;) {
      if (c.type() != pugi::node_pcdata) {
        Require(d && d.type() == c.type());
        if (c.type() == pugi::node_element) {
          pending.emplace_back(c, d);
        } else {
          Require(std::string_view(c.value()) == d.value());
        }
        c = c.next_sibling();
        d = d.next_sibling();
        continue;
      }
      std::string text;
      for (; c && c.type() == pugi::node_pcdata; c = c.next_sibling()) {
        text += c.value();
      }
      if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        continue;
      }
      Require(d && d.type() == pugi::node_pcdata && SameText(text, d.value()));
      d = d.next_sibling();
    }
    Require(!d);
  }
  return 0;
}
