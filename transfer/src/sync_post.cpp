// The sync's posting of batches.
#include "sync_post.h"

#include <chrono>
#include <optional>
#include <thread>

#include <lirvo/transfer.h>

namespace lirvo::transfer::detail {

using modTally::Failure;

Poster::Poster(const SyncOptions& options, SyncSummary& summary)
    : options_(options), summary_(summary), head_(ImportRequestHead(options.company)) {}

bool Poster::Post(const std::vector<Item>& items, const Decided& decided) {
  return Part(items, 0, items.size(), false, decided);
}

bool Poster::Interrupted() const {
  return options_.interrupted && options_.interrupted();
}

bool Poster::Part(const std::vector<Item>& items, std::size_t begin, std::size_t end, bool split,
                  const Decided& decided) {
  if (begin == end) {
    return true;
  }
  if (Interrupted()) {
    return false;
  }
  body_ = head_;
  for (std::size_t i = begin; i < end; ++i) {
    body_ += *items[i].message;
  }
  body_ += kImportRequestTail;
  const bool single = end - begin == 1;
  std::optional<modTally::Reply> reply;
  std::string failure;
  // A single item whose request fails is tried three times before the run stops.
  for (int attempt = 0; attempt < (single ? 3 : 1); ++attempt) {
    if (attempt > 0) {
      if (Interrupted()) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250 * attempt));
    }
    ++summary_.requests;
    summary_.split_requests += split ? 1 : 0;
    try {
      reply = modTally::Exchange(options_.url, std::optional<std::string_view>(body_),
                                 options_.import_limits);
      break;
    } catch (const Failure& error) {
      failure = error.description();
    }
  }
  if (reply && !IsRejection(*reply)) {
    decided(begin, end, true, {});
    return true;
  }
  if (single) {
    if (!reply) {
      throw Stop{"the request for " + items[begin].label + " failed three times: " + failure};
    }
    decided(begin, end, false, RejectionText(*reply));
    return true;
  }
  const std::size_t middle = begin + (end - begin) / 2;
  return Part(items, begin, middle, true, decided) && Part(items, middle, end, true, decided);
}

}  // namespace lirvo::transfer::detail
