// The sync's posting: batches sent one request at a time, a rejected or failed batch split in
// halves until every rejected item is named with the server's own reason.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <lirvo/sync.h>

namespace lirvo::transfer::detail {

// A run that cannot go on: the server is gone, or a request keeps failing.
struct Stop {
  std::string reason;
};

struct Item {
  std::string label;  // for messages: "voucher \"X\" (row 7)" or "stock item \"Y\""
  const std::string* message;
};

// Posts items in batches, one request at a time, and splits a batch the server rejects (or whose
// request fails) in halves until every rejected item is alone, so each gets the server's own
// reason. `decided` receives each part as its outcome is known.
class Poster {
 public:
  using Decided = std::function<void(std::size_t begin, std::size_t end, bool accepted,
                                     const std::string& reason)>;

  Poster(const SyncOptions& options, SyncSummary& summary);

  // Posts items [0, size). Returns false when interrupted before every item was decided. Throws
  // Stop when a single item's request keeps failing.
  bool Post(const std::vector<Item>& items, const Decided& decided);

 private:
  bool Interrupted() const;
  bool Part(const std::vector<Item>& items, std::size_t begin, std::size_t end, bool split,
            const Decided& decided);

  const SyncOptions& options_;
  SyncSummary& summary_;
  const std::string head_;
  std::string body_;
};

}  // namespace lirvo::transfer::detail
