// Any text as a reply to verify's collection exports: the read-back either gives the vouchers and
// masters it finds or throws modTally::Failure, never anything else, whatever the nesting; what it
// gives is dated in the range asked for and compares with a row without failing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <lirvo/books/readback.h>
#include <lirvo/verify.h>

namespace {

using lirvo::books::MasterType;

lirvo::books::SalesRow Row() {
  return {"SV-1", "20160401", "INV/101", "Chandra & Sons", "Sales", "Output VAT", "Brass Lota",
          "Nos",  "2",        "600",     "1200",           "12.5"};
}

template <typename Read>
void ReadOrFail(Read read) {
  try {
    read();
  } catch (const modTally::Failure& failure) {
    if (failure.description().rfind("page: ", 0) != 0) {
      std::abort();  // a failure names what was being read
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const modTally::Reply reply{200, "", std::string(reinterpret_cast<const char*>(data), size)};
  ReadOrFail([&] {
    for (const auto& voucher :
         lirvo::books::ReadVoucherReply(reply, "page", "20160401", "20160430")) {
      if (voucher.date.size() == 8 && (voucher.date < "20160401" || voucher.date > "20160430")) {
        std::abort();
      }
      lirvo::verify::CompareVoucher(Row(), voucher);
    }
  });
  for (const MasterType type : {MasterType::kLedger, MasterType::kStockItem, MasterType::kUnit}) {
    ReadOrFail([&] {
      for (const auto& master : lirvo::books::ReadMasterReply(reply, type, "page")) {
        if (master.name.empty()) {
          std::abort();
        }
      }
    });
  }
  return 0;
}
