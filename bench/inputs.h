// Inputs shared by the benchmarks: the company, the harness's ledger, the voucher row, the large
// import, and a writer that collects a pugixml document into a string.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <lirvo/books/sales.h>
#include <lirvo/modTallyIm.h>
#include <pugixml.hpp>

namespace lirvo::bench {

// The company every master request names (the stand-in's default company).
inline constexpr const char* kCompany = "Demo Trading Co";

// The "VAT OUTPUT 4%" record of the builder harness (the console's sample requests).
modTallyIm::LedgerMaster VatOutputLedger();

// The first row of SalesMst in SampleData.mdb.
books::SalesRow FirstSampleRow();

// The 76 pieces of the sales voucher of `row`, values filled in, as the voucher joins them.
std::vector<std::string> VoucherPieces(const books::SalesRow& row);

// An "All Masters" import for kCompany holding `messages` TALLYMESSAGE elements, each one customer
// ledger as BuildLedger writes it (about 262 bytes a message), on one line.
std::string LedgerImport(std::size_t messages);

// Appends whatever pugixml writes to a string.
class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

}  // namespace lirvo::bench
