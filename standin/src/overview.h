// The HTML page that shows a person what arrived: per open company, its masters by kind and its
// vouchers with their entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store.h"

namespace lirvo::standin {

struct CompanyView {
  std::string name;
  std::int64_t id = 0;
};

// Rows shown per table; the page says how many more there are.
inline constexpr std::int64_t kOverviewRows = 500;

// The whole page. The first company is marked as the current one. Throws StoreError.
std::string OverviewPage(Store& store, const std::vector<CompanyView>& companies);

}  // namespace lirvo::standin
