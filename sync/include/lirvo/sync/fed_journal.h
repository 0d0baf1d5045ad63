// The sync's journal as the feeds of a source's masters and documents keep it: per server address,
// company, kind and key, the digest of what was sent and what the server did with it, beside the
// sales of SalesMst in the same file. A re-run with --trust-journal takes what it holds as
// accepted, unchanged, to be in the books without reading them back.
#pragma once

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/modTally.h>

namespace lirvo::sync {

namespace detail {
class Journal;
}

// A stable digest of a message's text (16 hexadecimal digits): equal texts, equal digests. The
// journal keeps it to tell a changed row, master or document from one sent before.
std::string Digest(std::string_view text);
// Appends the Digest of each of `texts` to `digests`, in their order; faster than one at a time.
void AppendDigests(std::span<const std::string> texts, std::vector<std::string>& digests);

// What to say when the journal cannot record what the server said of `what` ("rows 1 to 200",
// a voucher and the ones after it): the verdict stands, and the next run reads the books.
modTally::Failure Unrecorded(const modTally::Failure& failure, bool accepted,
                             const std::string& what);

// `first`, and when `count` is more than one, " and the N after it".
std::string AndAfter(const std::string& first, std::size_t count);

class FedJournal {
 public:
  // One master or document: its kind (books::KindName's, such as "ledgers" or "sales"), its key
  // (a document's VoucherID; a master's name as the server compares names) and the digest of its
  // message (Digest). The views must outlive the call they are given to.
  struct Entry {
    std::string_view kind;
    std::string_view key;
    std::string_view digest;
  };

  // Opens the journal file at `path` (created with its folder when missing, and locked for the
  // life of the object as the sync locks it) for the server at `url` (kept without a user name or
  // password) and `company`. With `read_only` (a dry run) nothing is written and no lock is taken.
  // Throws modTally::Failure (kFile) naming the file, with what to do about it.
  FedJournal(const std::filesystem::path& path, bool read_only, const std::string& url,
             const std::string& company);
  ~FedJournal();
  FedJournal(const FedJournal&) = delete;
  FedJournal& operator=(const FedJournal&) = delete;

  // Whether the journal holds `entry` as accepted with the same digest.
  bool Accepted(const Entry& entry);
  // Whether the journal holds `entry`'s kind and key as accepted with another digest: what was
  // sent has changed in the source since.
  bool AcceptedOtherwise(const Entry& entry);
  // Whether the journal holds `kind` and `key` as accepted, whatever the digest.
  bool AcceptedBefore(std::string_view kind, std::string_view key);
  // Whether the journal holds anything of `kind`, as the file has it now: asked before a feed
  // records any, whether an earlier run left any.
  bool HoldsAny(std::string_view kind);
  // Records what the server said to one reply for `entries`: accepted, or rejected with `reason`;
  // committed with the next few replies' records, at least once a second, and by Commit (or,
  // without a word when it fails, when the journal closes). Throws modTally::Failure (kFile) when
  // it cannot.
  void Record(std::span<const Entry> entries, bool accepted, const std::string& reason);
  // Commits the records Record holds; throws modTally::Failure (kFile) when it cannot.
  void Commit();
  // Records `entries`, found in the books as the source has them, as accepted where the journal
  // says otherwise, in one transaction.
  void RecordInBooks(std::span<const Entry> entries);

 private:
  std::unique_ptr<detail::Journal> journal_;
};

}  // namespace lirvo::sync
