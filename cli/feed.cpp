// The kinds a source's masters and documents come in, as --kinds names them.
#include <CLI/CLI.hpp>

#include "source_login.h"

namespace lirvo::cli {

std::optional<KindsToMove> KindsOf(const std::vector<std::string>& names) {
  KindsToMove kinds;
  if (names.empty()) {
    kinds.masters.assign(books::kMasterKinds.begin(), books::kMasterKinds.end());
    kinds.documents.assign(books::kDocumentTypes.begin(), books::kDocumentTypes.end());
    return kinds;
  }
  kinds.sales_table = false;
  for (const std::string& name : names) {
    if (const std::optional<books::MasterKind> kind = books::KindOfKindName(name)) {
      kinds.masters.push_back(*kind);
    } else if (const std::optional<books::DocumentType> type = books::TypeOfKindName(name)) {
      kinds.documents.push_back(*type);
      kinds.sales_table = kinds.sales_table || *type == books::DocumentType::kSales;
    } else {
      return std::nullopt;
    }
  }
  return kinds;
}

void AddKindsOption(CLI::App& command, std::vector<std::string>& kinds, const std::string& verb) {
  command
      .add_option("--kinds", kinds,
                  "with --source, what to " + verb +
                      ", comma-separated: units, godowns, ledger-groups, ledgers, stock-groups, "
                      "stock-items (the source's master tables), sales-orders, delivery-notes, "
                      "sales (with SalesMst), receipts, purchase-orders, receipt-notes, "
                      "purchases, payments (its Vouchers); default all it holds")
      ->delimiter(',')
      ->check(CLI::Validator(
          [verb](const std::string& name) -> std::string {
            return KindsOf({name}) ? "" : "\"" + name + "\" is no kind to " + verb;
          },
          "KIND"));
}

}  // namespace lirvo::cli
