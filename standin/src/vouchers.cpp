#include "vouchers.h"

#include <cmath>
#include <optional>
#include <string>

#include "text.h"
#include "values.h"

namespace lirvo::standin {

Applied ApplyVoucher(Store& store, bool strict, std::int64_t company,
                     const pugi::xml_node& element) {
  const std::string action = ActionOf(element);
  VoucherRecord voucher;
  voucher.remote_id = element.attribute("REMOTEID").value();
  const std::string label =
      voucher.remote_id.empty() ? std::string("Voucher") : "Voucher " + Quoted(voucher.remote_id);
  const bool create = EqualsNoCase(action, "Create");
  const bool alter = EqualsNoCase(action, "Alter");
  const bool remove = EqualsNoCase(action, "Delete");
  if (!create && !alter && !remove) {
    throw Rejection(label + ": unknown action " + Quoted(action));
  }
  std::optional<std::int64_t> existing;
  if (!voucher.remote_id.empty()) {
    existing = store.FindVoucher(company, voucher.remote_id);
  }
  if (remove || alter) {
    if (voucher.remote_id.empty()) {
      throw Rejection("Voucher to " + std::string(remove ? "delete" : "alter") +
                      " has no REMOTEID!");
    }
    if (!existing && (remove || strict)) {
      throw Rejection(label + " does not exist!");
    }
  }
  if (remove) {
    store.RemoveVoucher(*existing);
    return {Outcome::kDeleted, *existing, true};
  }

  voucher.type = element.attribute("VCHTYPE").value();
  if (Trim(voucher.type).empty()) {
    voucher.type = LeafText(element.child("VOUCHERTYPENAME"));
  }
  if (Trim(voucher.type).empty()) {
    throw Rejection(label + " has no voucher type!");
  }
  voucher.date = std::string(Trim(LeafText(element.child("DATE"))));
  if (!IsDate(voucher.date)) {
    throw Rejection(label + ": date " + Quoted(voucher.date) +
                    " is not a date of the form YYYYMMDD");
  }
  voucher.guid = LeafText(element.child("GUID"));
  voucher.number = LeafText(element.child("VOUCHERNUMBER"));
  voucher.reference = LeafText(element.child("REFERENCE"));
  voucher.party = LeafText(element.child("PARTYLEDGERNAME"));
  voucher.narration = LeafText(element.child("NARRATION"));
  if (!Trim(voucher.party).empty()) {
    RequireMaster(store, company, LedgerKind(), voucher.party);
  }

  // The amounts of the ledger lines and of the inventory lines' accounting allocations must add
  // up to zero (debits are negative).
  double balance = 0;
  // `what` ("Ledger", "Stock Item") and `name` make the message only when the amount is refused.
  const auto amount_of = [&](const std::string& amount, const char* what, const std::string& name) {
    const std::optional<double> value = ParseAmount(amount);
    if (!value) {
      throw Rejection(label + ": amount " + Quoted(amount) + " of " + what + " " + Quoted(name) +
                      " is not a number");
    }
    return *value;
  };
  const auto ledger_line = [&](const pugi::xml_node& line, const char* kind) {
    EntryRecord entry;
    entry.kind = kind;
    entry.name = LeafText(line.child("LEDGERNAME"));
    if (Trim(entry.name).empty()) {
      throw Rejection(label + ": a ledger entry names no ledger");
    }
    entry.master_id = RequireMaster(store, company, LedgerKind(), entry.name);
    entry.amount = LeafText(line.child("AMOUNT"));
    balance += amount_of(entry.amount, "Ledger", entry.name);
    entry.deemed_positive = LeafText(line.child("ISDEEMEDPOSITIVE"));
    return entry;
  };
  for (const pugi::xml_node line : element.children()) {
    const std::string_view name = line.name();
    if (name == "LEDGERENTRIES.LIST" || name == "ALLLEDGERENTRIES.LIST") {
      voucher.entries.push_back(ledger_line(line, "ledger"));
    } else if (name == "ALLINVENTORYENTRIES.LIST" || name == "INVENTORYENTRIES.LIST") {
      EntryRecord entry;
      entry.kind = "inventory";
      entry.name = LeafText(line.child("STOCKITEMNAME"));
      if (Trim(entry.name).empty()) {
        throw Rejection(label + ": an inventory entry names no stock item");
      }
      entry.master_id = RequireMaster(store, company, StockItemKind(), entry.name);
      entry.amount = LeafText(line.child("AMOUNT"));
      const double amount = amount_of(entry.amount, "Stock Item", entry.name);
      entry.deemed_positive = LeafText(line.child("ISDEEMEDPOSITIVE"));
      entry.actual_qty = LeafText(line.child("ACTUALQTY"));
      entry.billed_qty = LeafText(line.child("BILLEDQTY"));
      entry.rate = LeafText(line.child("RATE"));
      voucher.entries.push_back(std::move(entry));
      bool allocated = false;
      for (const pugi::xml_node allocation : line.children("ACCOUNTINGALLOCATIONS.LIST")) {
        voucher.entries.push_back(ledger_line(allocation, "allocation"));
        allocated = true;
      }
      // Without an allocation the line itself carries the amount into the balance.
      if (!allocated) {
        balance += amount;
      }
    }
  }
  if (voucher.entries.empty()) {
    throw Rejection(label + " has no ledger or inventory entries!");
  }
  if (std::fabs(balance) >= 0.005) {
    throw Rejection(label + ": the amounts do not balance (they add up to " +
                    FormatAmount(balance) + ")");
  }
  if (existing) {
    voucher.id = *existing;
    store.ReplaceVoucher(voucher);
    return {Outcome::kAltered, voucher.id, true};
  }
  return {Outcome::kCreated, store.AddVoucher(company, voucher), true};
}

}  // namespace lirvo::standin
