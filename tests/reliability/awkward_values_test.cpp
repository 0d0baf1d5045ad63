// Values no one would choose reach the server as they are: markup characters, quotes, tabs and
// line feeds in names, in element text and in the voucher's REMOTEID attribute, through the
// masters' builders, the voucher and the sender's layout; and amounts at the edges of what a
// double holds are read as what they are.
#include <gtest/gtest.h>

#include <cmath>

#include <lirvo/books/judge.h>
#include <lirvo/books/sales.h>
#include <lirvo/books/send.h>
#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

#include "raw_server.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

using lirvo::test::kStandinCompany;

bool Accepted(const std::string& request) {
  const modTally::Reply reply = lirvo::books::SendRequest(request);
  return !lirvo::books::IsRejection(reply);
}

TEST(AwkwardValues, ArriveUnchangedInTheServersStore) {
  const lirvo::test::TempDir dir("awkward-values");
  const std::string data = dir.File("store.db").string();
  lirvo::test::StandinProcess server(LIRVO_STANDIN_PATH, {"--data", data});
  modTally::TallyUrl = server.url();

  // VoucherID, VoucherDate, RefNo, PartyName, SalesLedger, TaxAc, ItemName, Unit, Qty, Rate,
  // Amount, TaxPer.
  const lirvo::books::SalesRow row("V\t1 & <2>", "20160401", "first line\nsecond\tline",
                                   "Anand & \"Sons\" <Pvt>", "Sales 'A' \t 4%", "VAT\t4% ]]>",
                                   "Cable Tie \xc3\xa9", "Nos", "3", "50", "1000", "4");
  const auto ledger = [](const std::string& name, const char* parent) {
    modTallyIm::LedgerMaster master;
    master.Name = name;
    master.Parent = parent;
    return modTallyIm::BuildLedger(kStandinCompany, master, "Create");
  };
  modTallyIm::UnitMaster unit;
  unit.Name = *row.Unit;
  unit.IsSimpleUnit = "Yes";
  modTallyIm::StockItemMaster item;
  item.Name = *row.ItemName;
  item.BaseUnits = *row.Unit;
  for (const std::string& request :
       {ledger(*row.PartyName, "Sundry Debtors"), ledger(*row.SalesLedger, "Sales Accounts"),
        ledger(*row.TaxAc, "Duties & Taxes"),
        modTallyIm::BuildUnit(kStandinCompany, unit, "Create"),
        modTallyIm::BuildStockItem(kStandinCompany, item, "Create"),
        lirvo::books::BuildSalesVoucher(row, kStandinCompany)}) {
    ASSERT_TRUE(Accepted(request)) << request;
  }

  const lirvo::test::StandinStore store(data);
  const auto vouchers = store.Vouchers(kStandinCompany);
  ASSERT_EQ(vouchers.size(), 1u);
  const auto& v = vouchers[0];
  ASSERT_EQ(v.entries.size(), 4u);
  EXPECT_EQ(
      (std::vector<std::string>{v.remote_id, v.guid, v.reference, v.party, v.entries[0].name,
                                v.entries[1].name, v.entries[2].name, v.entries[3].name}),
      (std::vector<std::string>{*row.VoucherID, *row.VoucherID, *row.RefNo, *row.PartyName,
                                *row.PartyName, *row.TaxAc, *row.ItemName, *row.SalesLedger}));
  EXPECT_EQ(store.Masters(kStandinCompany, "LEDGER"),
            (std::vector<std::string>{*row.PartyName, *row.SalesLedger, *row.TaxAc}));
}

TEST(AwkwardValues, AmountsBeyondADoubleAreToldApartByTheirSize) {
  const std::string zeros(400, '0');
  const double kTooLarge = std::nan("");  // refused as too large
  const std::pair<std::string, double> cases[] = {{"0." + zeros + "1", 0},
                                                  {"-0." + zeros + "1e5", 0},
                                                  {"0.001e-400", 0},
                                                  {"1" + zeros + "e-5", kTooLarge},
                                                  {"-1" + zeros + "e-90", kTooLarge},
                                                  {"1" + zeros + "e-395", 1e5}};
  for (const auto& [text, value] : cases) {
    const std::string shown = text.substr(0, 12) + "... (" + std::to_string(text.size()) + ")";
    if (std::isnan(value)) {
      EXPECT_THROW(lirvo::books::ReadNumber(text), modTally::Failure) << shown;
    } else {
      EXPECT_NEAR(lirvo::books::ReadNumber(text), value, value * 1e-15) << shown;
    }
  }
}

}  // namespace
