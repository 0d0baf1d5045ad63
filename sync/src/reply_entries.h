// A reply's entries as the journal keeps them: one text per reply, a JSON array of [key, digest]
// pairs, so that SQLite's json_each can list them (the journal's view fed_entries does) while the
// journal reads them back many times faster itself.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <lirvo/sync/fed_journal.h>

namespace lirvo::sync::detail {

// The text of `entries`' keys and digests, in their order: [["K1","d1"],["K2","d2"]].
std::string EntriesText(std::span<const FedJournal::Entry> entries);

// Calls `each` with the key and digest of each pair of `text`, in order. False when `text` is not
// an array of such pairs (the journal was damaged), after the pairs before the fault.
bool ReadEntries(std::string_view text,
                 const std::function<void(std::string&& key, std::string&& digest)>& each);

}  // namespace lirvo::sync::detail
