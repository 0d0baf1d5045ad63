// Any text as the VOUCHER elements of a collection export: reading each back as a document gives
// a document or nothing, never a crash; it compares with a source document without failing; and a
// document read back that passes the local checks builds a message that reads back as itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <lirvo/books/document.h>

namespace {

using lirvo::books::Document;
using lirvo::books::DocumentType;

// The VOUCHER elements anywhere in the tree; pugixml's walker does not recurse.
struct Vouchers : pugi::xml_tree_walker {
  std::vector<pugi::xml_node> found;
  bool for_each(pugi::xml_node& node) override {
    if (std::string_view(node.name()) == "VOUCHER") {
      found.push_back(node);
    }
    return found.size() < 64;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pugi::xml_document xml;
  if (!modTally::LoadXml(xml, std::string_view(reinterpret_cast<const char*>(data), size))) {
    return 0;
  }
  Vouchers vouchers;
  xml.traverse(vouchers);
  const Document sample{"V-1",      DocumentType::kSales,
                        "20250401", "",
                        "",         "Rao",
                        "",         {{"1", "Sales", "Lota", "", "2", "Nos", "5", "10"}}};
  for (const pugi::xml_node& node : vouchers.found) {
    const auto books = lirvo::books::ReadDocument(node);
    if (!books) {
      continue;
    }
    lirvo::books::Compare(sample, *books);
    if (lirvo::books::Check(books->document)) {
      continue;
    }
    try {
      const std::string message = lirvo::books::Message(books->document);
      pugi::xml_document again;
      if (modTally::LoadXml(again, message)) {
        if (!lirvo::books::ReadDocument(again.document_element().child("VOUCHER"))) {
          std::abort();  // a message of one of the eight types reads back as one
        }
      }
    } catch (const modTally::Failure&) {
    }
  }
  return 0;
}
