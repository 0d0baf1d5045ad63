#include "document_journal.h"

#include <lirvo/feed.h>
#include <lirvo/sync.h>

namespace lirvo::feed {

namespace {

// How many documents found in the books are noted before they are recorded: one transaction for
// about one read-back of the books.
constexpr std::size_t kNotedAtOnce = 500;

}  // namespace

DocumentJournal::DocumentJournal(const DocumentsOptions& options)
    : options_(options),
      recording_(!options.journal.empty() && !options.dry_run),
      trusting_(!options.journal.empty() && options.trust_journal) {}

sync::FedJournal& DocumentJournal::Open() {
  if (!journal_) {
    journal_.emplace(options_.journal, options_.dry_run, options_.server.url, options_.company);
  }
  return *journal_;
}

std::string DocumentJournal::DigestOf(const books::Document& document,
                                      const books::CheckedDocument& checked) {
  message_.clear();
  try {
    books::AppendMessage(message_, document, checked);
  } catch (const modTally::Failure&) {
    return {};  // rejected when it is sent
  }
  return sync::Digest(message_);
}

bool DocumentJournal::Trusted(const books::Document& document,
                              const books::CheckedDocument& checked) {
  if (!trusting_) {
    return false;
  }
  const std::string digest = DigestOf(document, checked);
  return !digest.empty() &&
         Open().Accepted({books::KindName(document.type), document.voucher_id, digest});
}

bool DocumentJournal::ChangedSinceAccepted(const books::Document& document,
                                           const books::CheckedDocument& checked) {
  if (options_.journal.empty()) {
    return false;
  }
  const std::string digest = DigestOf(document, checked);
  return !digest.empty() &&
         Open().AcceptedOtherwise({books::KindName(document.type), document.voucher_id, digest});
}

bool DocumentJournal::AcceptedBefore(const books::Document& document) {
  if (options_.journal.empty()) {
    return false;
  }
  const std::string_view kind = books::KindName(document.type);
  std::optional<bool>& held = held_before_[static_cast<std::size_t>(document.type)];
  if (!held) {
    held = Open().HoldsAny(kind);
  }
  return *held && Open().AcceptedBefore(kind, document.voucher_id);
}

void DocumentJournal::NoteInBooks(const books::Document& document,
                                  const books::CheckedDocument& checked) {
  if (!recording_) {
    return;
  }
  std::string digest = DigestOf(document, checked);
  if (!digest.empty()) {
    noted_.push_back({document.type, document.voucher_id, std::move(digest)});
  }
  if (noted_.size() >= kNotedAtOnce) {
    RecordNoted();
  }
}

void DocumentJournal::RecordNoted() {
  if (noted_.empty()) {
    return;
  }
  std::vector<sync::FedJournal::Entry> entries;
  entries.reserve(noted_.size());
  for (const Noted& noted : noted_) {
    entries.push_back({books::KindName(noted.type), noted.voucher_id, noted.digest});
  }
  Open().RecordInBooks(entries);
  noted_.clear();
}

void DocumentJournal::Finish() {
  RecordNoted();
  if (journal_) {
    journal_->Commit();
  }
}

std::vector<std::string> DocumentJournal::Digests(std::span<const std::string> messages) const {
  std::vector<std::string> digests;
  if (recording_) {
    sync::AppendDigests(messages, digests);
  }
  return digests;
}

}  // namespace lirvo::feed
