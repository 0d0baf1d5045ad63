#include "overview.h"

#include "text.h"

namespace lirvo::standin {

namespace {

struct KindTitle {
  const char* kind;
  const char* title;
};

constexpr KindTitle kKindTitles[] = {
    {"GROUP", "Groups"},   {"LEDGER", "Ledgers"},          {"UNIT", "Units"},
    {"GODOWN", "Godowns"}, {"STOCKGROUP", "Stock Groups"}, {"STOCKITEM", "Stock Items"}};

void More(std::string& page, std::int64_t total, std::size_t shown) {
  if (total > static_cast<std::int64_t>(shown)) {
    page += "<p>&hellip; and " + std::to_string(total - static_cast<std::int64_t>(shown)) +
            " more.</p>\n";
  }
}

void Masters(std::string& page, Store& store, const CompanyView& company) {
  for (const KindTitle& kind : kKindTitles) {
    const std::int64_t total = store.CountMasters(company.id, kind.kind);
    page += "<h3>" + std::string(kind.title) + " (" + std::to_string(total) + ")</h3>\n";
    if (total == 0) {
      continue;
    }
    const std::vector<MasterRecord> masters = store.Masters(company.id, kind.kind, kOverviewRows);
    page += "<table>\n<tr><th>Name</th><th>Parent</th><th>Values</th></tr>\n";
    for (const MasterRecord& master : masters) {
      page += "<tr><td>" + EscapeHtml(master.name) + "</td><td>" + EscapeHtml(master.parent) +
              "</td><td>";
      for (const auto& [path, value] : master.values) {
        page += "<code>" + EscapeHtml(path) + "</code> = " + EscapeHtml(value) + "<br>";
      }
      page += "</td></tr>\n";
    }
    page += "</table>\n";
    More(page, total, masters.size());
  }
}

void Vouchers(std::string& page, Store& store, const CompanyView& company) {
  const std::int64_t total = store.CountVouchers(company.id);
  page += "<h3>Vouchers (" + std::to_string(total) + ")</h3>\n";
  if (total == 0) {
    return;
  }
  const std::vector<VoucherRecord> vouchers = store.Vouchers(company.id, kOverviewRows);
  page +=
      "<table>\n<tr><th>Remote id</th><th>Date</th><th>Type</th><th>Number</th><th>Reference</th>"
      "<th>Party</th><th>Entries</th></tr>\n";
  for (const VoucherRecord& voucher : vouchers) {
    page += "<tr><td>" + EscapeHtml(voucher.remote_id) + "</td><td>" + EscapeHtml(voucher.date) +
            "</td><td>" + EscapeHtml(voucher.type) + "</td><td>" + EscapeHtml(voucher.number) +
            "</td><td>" + EscapeHtml(voucher.reference) + "</td><td>" + EscapeHtml(voucher.party) +
            "</td><td><table>";
    for (const EntryRecord& entry : voucher.entries) {
      page += "<tr><td>" + EscapeHtml(entry.kind) + "</td><td>" + EscapeHtml(entry.name) +
              "</td><td class=\"amount\">" + EscapeHtml(entry.amount) + "</td><td>" +
              EscapeHtml(entry.billed_qty) + "</td><td>" + EscapeHtml(entry.rate) + "</td></tr>";
    }
    page += "</table></td></tr>\n";
  }
  page += "</table>\n";
  More(page, total, vouchers.size());
}

}  // namespace

std::string OverviewPage(Store& store, const std::vector<CompanyView>& companies) {
  std::string page =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>tally-standin</title>\n"
      "<style>body{font-family:sans-serif}table{border-collapse:collapse}"
      "td,th{border:1px solid #bbb;padding:2px 6px;vertical-align:top;text-align:left}"
      ".amount{text-align:right}</style>\n</head>\n<body>\n<h1>tally-standin</h1>\n";
  bool current = true;
  for (const CompanyView& company : companies) {
    page += "<h2>" + EscapeHtml(company.name) + (current ? " (current company)" : "") + "</h2>\n";
    current = false;
    Masters(page, store, company);
    Vouchers(page, store, company);
  }
  page += "</body>\n</html>\n";
  return page;
}

}  // namespace lirvo::standin
