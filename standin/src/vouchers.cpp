#include "vouchers.h"

#include <cmath>
#include <optional>
#include <string>

#include "text.h"
#include "values.h"

namespace lirvo::standin {

namespace {

// Reads the lines of one voucher into its record, checking each master it names and adding up
// its debits and credits.
class LineReader {
 public:
  LineReader(Store& store, std::int64_t company, const std::string& label, VoucherRecord& voucher)
      : store_(store), company_(company), label_(label), voucher_(voucher) {}

  void Read(const pugi::xml_node& element, bool order) {
    for (const pugi::xml_node line : element.children()) {
      const std::string_view name = line.name();
      if (name == "LEDGERENTRIES.LIST" || name == "ALLLEDGERENTRIES.LIST") {
        voucher_.entries.push_back(LedgerLine(line, "ledger"));
      } else if (name == "ALLINVENTORYENTRIES.LIST" || name == "INVENTORYENTRIES.LIST") {
        InventoryLine(line, order);
      }
    }
  }

  double debit() const { return debit_; }
  double credit() const { return credit_; }

 private:
  // `what` ("Ledger", "Stock Item") and `name` make the message only when it is refused.
  double Amount(const std::string& amount, const char* what, const std::string& name) const {
    const std::optional<double> value = ParseAmount(amount);
    if (!value) {
      throw Rejection(label_ + ": amount " + Quoted(amount) + " of " + what + " " + Quoted(name) +
                      " is not a number");
    }
    return *value;
  }

  void Count(double amount) { (amount < 0 ? debit_ : credit_) += std::fabs(amount); }

  EntryRecord LedgerLine(const pugi::xml_node& line, const char* kind) {
    EntryRecord entry;
    entry.kind = kind;
    entry.name = LeafText(line.child("LEDGERNAME"));
    if (Trim(entry.name).empty()) {
      throw Rejection(label_ + ": a ledger entry names no ledger");
    }
    entry.master_id = RequireMaster(store_, company_, LedgerKind(), entry.name);
    entry.amount = LeafText(line.child("AMOUNT"));
    const double amount = Amount(entry.amount, "Ledger", entry.name);
    Count(amount);
    entry.deemed_positive = LeafText(line.child("ISDEEMEDPOSITIVE"));
    // The bills a line makes or settles add up to its amount, as the server requires. They are
    // not kept: the books' copy of a voucher is read back without them.
    double billed = 0;
    bool bills = false;
    for (const pugi::xml_node bill : line.children("BILLALLOCATIONS.LIST")) {
      bills = true;
      billed += Amount(LeafText(bill.child("AMOUNT")), "the bill of Ledger", entry.name);
    }
    if (bills && std::fabs(billed - amount) > 0.005) {
      throw Rejection("Bill-Allocation totals do not match");
    }
    return entry;
  }

  // An item with its accounting allocations (the sales or purchase ledger, which carry its
  // amount into the balance) and its batch allocations (godown, batch, order, tracking number).
  void InventoryLine(const pugi::xml_node& line, bool order) {
    EntryRecord entry;
    entry.kind = "inventory";
    entry.name = LeafText(line.child("STOCKITEMNAME"));
    if (Trim(entry.name).empty()) {
      throw Rejection(label_ + ": an inventory entry names no stock item");
    }
    entry.master_id = RequireMaster(store_, company_, StockItemKind(), entry.name);
    entry.amount = LeafText(line.child("AMOUNT"));
    const double amount = Amount(entry.amount, "Stock Item", entry.name);
    entry.deemed_positive = LeafText(line.child("ISDEEMEDPOSITIVE"));
    entry.actual_qty = LeafText(line.child("ACTUALQTY"));
    entry.billed_qty = LeafText(line.child("BILLEDQTY"));
    entry.rate = LeafText(line.child("RATE"));
    voucher_.entries.push_back(std::move(entry));
    bool allocated = false;
    bool ordered = false;
    bool due = false;
    for (const pugi::xml_node child : line.children()) {
      const std::string_view name = child.name();
      if (name == "ACCOUNTINGALLOCATIONS.LIST") {
        voucher_.entries.push_back(LedgerLine(child, "allocation"));
        allocated = true;
      } else if (name == "BATCHALLOCATIONS.LIST") {
        voucher_.entries.push_back(BatchLine(child));
        ordered = ordered || Given(voucher_.entries.back().order_no);
        due = due || Given(voucher_.entries.back().due_date);
      }
    }
    // Without an allocation the line itself carries the amount into the balance.
    if (!allocated) {
      Count(amount);
    }
    if (order && !ordered) {
      throw Rejection("Order No. is missing in Item Allocations");
    }
    if (order && !due) {
      throw Rejection("Due Date of Order is missing in Item Allocations");
    }
  }

  // Whether a number or date is given: "&#4; Not Applicable", which the server's own exports
  // carry where there is none, counts as missing.
  static bool Given(std::string_view value) {
    while (!value.empty() && (value.front() == '\x04' || value.front() == ' ')) {
      value.remove_prefix(1);
    }
    value = Trim(value);
    return !value.empty() && !EqualsNoCase(value, "Not Applicable");
  }

  EntryRecord BatchLine(const pugi::xml_node& batch) {
    EntryRecord entry;
    entry.kind = "batch";
    entry.name = LeafText(batch.child("GODOWNNAME"));
    // A batch without a godown goes to the one every company has (unconfirmed).
    entry.master_id =
        RequireMaster(store_, company_, GodownKind(),
                      Trim(entry.name).empty() ? std::string_view("Main Location") : entry.name);
    entry.amount = LeafText(batch.child("AMOUNT"));
    entry.actual_qty = LeafText(batch.child("ACTUALQTY"));
    entry.billed_qty = LeafText(batch.child("BILLEDQTY"));
    entry.batch_name = LeafText(batch.child("BATCHNAME"));
    entry.order_no = LeafText(batch.child("ORDERNO"));
    entry.tracking_no = LeafText(batch.child("TRACKINGNUMBER"));
    entry.due_date = LeafText(batch.child("ORDERDUEDATE"));
    return entry;
  }

  Store& store_;
  std::int64_t company_;
  const std::string& label_;
  VoucherRecord& voucher_;
  double debit_ = 0;
  double credit_ = 0;
};

// The party's line must be on its type's side, its amount and ISDEEMEDPOSITIVE (when sent) both:
// a purchase sent with its signs turned came back from a live server as EXCEPTIONS 1 without a
// LINEERROR. Which other lines the server checks so is unconfirmed (a discount line keeps its
// voucher's ISDEEMEDPOSITIVE with the opposite sign), so only the party's line is.
void CheckPartySide(const VoucherRecord& voucher, const VoucherType& type) {
  if (type.party == Side::kEither || Trim(voucher.party).empty()) {
    return;
  }
  for (const EntryRecord& entry : voucher.entries) {
    if (entry.kind != "ledger" || !EqualsNoCase(Trim(entry.name), Trim(voucher.party))) {
      continue;
    }
    const bool debit = type.party == Side::kDebit;
    const double amount = ParseAmount(entry.amount).value_or(0);
    const std::string_view deemed = Trim(entry.deemed_positive);
    if ((debit ? amount > 0 : amount < 0) ||
        (!deemed.empty() && !EqualsNoCase(deemed, debit ? "Yes" : "No"))) {
      throw ShapeException("the party's line of a " + std::string(type.name) + " voucher is a " +
                           (debit ? "credit" : "debit"));
    }
    return;
  }
}

}  // namespace

const VoucherType* FindVoucherType(std::string_view name) {
  for (const VoucherType& type : kVoucherTypes) {
    if (EqualsNoCase(type.name, Trim(name))) {
      return &type;
    }
  }
  return nullptr;
}

// Long: a voucher's checks and its store in the order the server applies them.
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
  const VoucherType* type = FindVoucherType(voucher.type);
  if (!type) {
    // Worded as the server words every missing master (unconfirmed for voucher types).
    throw Rejection("Voucher Type " + Quoted(voucher.type) + " does not exist!");
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

  voucher.entries.reserve(8);  // enough for most vouchers' lines without moving them
  LineReader lines(store, company, label, voucher);
  lines.Read(element, type->order);
  if (voucher.entries.empty()) {
    throw Rejection(label + " has no ledger or inventory entries!");
  }
  // Debits are negative amounts, credits positive; the numbers' format in the server's message
  // (thousands separators, Dr/Cr marks) is unconfirmed.
  if (std::fabs(lines.debit() - lines.credit()) >= 0.005) {
    throw Rejection("Voucher totals do not match! Dr: " + FormatAmount(lines.debit()) +
                    " Cr: " + FormatAmount(lines.credit()) +
                    " Diff: " + FormatAmount(std::fabs(lines.debit() - lines.credit())));
  }
  CheckPartySide(voucher, *type);
  if (existing) {
    voucher.id = *existing;
    store.ReplaceVoucher(voucher);
    return {Outcome::kAltered, voucher.id, true};
  }
  return {Outcome::kCreated, store.AddVoucher(company, voucher), true};
}

}  // namespace lirvo::standin
