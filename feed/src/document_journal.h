// The sync's journal in the documents feed: each batch's verdict recorded as the server gives it,
// the documents found in the books noted as accepted, and, with --trust-journal, the documents it
// holds as accepted, unchanged, taken to be in the books without reading them back.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/sync/fed_journal.h>

namespace lirvo::feed {

struct DocumentsOptions;

class DocumentJournal {
 public:
  // The journal of `options` (none when it names no file; read only in a dry run), opened when
  // first needed: a source without documents leaves it alone. Each call below throws
  // modTally::Failure (kFile) when it cannot be opened or written.
  explicit DocumentJournal(const DocumentsOptions& options);

  // Each of these takes a document that passed Check into `checked` (dated YYYYMMDD after, as
  // sent): its message is built from what Check found, as it is when sent.

  // Whether the journal is to be trusted and holds `document` as accepted with the digest of its
  // message as it would be sent now.
  bool Trusted(const books::Document& document, const books::CheckedDocument& checked);
  // Whether the journal holds `document` as accepted with another message than it would be sent
  // now: the source has changed since, so the books' other copy is what was sent before.
  bool ChangedSinceAccepted(const books::Document& document, const books::CheckedDocument& checked);
  // Whether an earlier run left `document` in the journal as accepted, in any form: one the books
  // lack was in them, or the server said so and did not keep it. Asked before the feed sends any
  // of its type.
  bool AcceptedBefore(const books::Document& document);

  // Notes that the books hold `document` as the source has it; the notes are recorded every few
  // hundred and by RecordNoted.
  void NoteInBooks(const books::Document& document, const books::CheckedDocument& checked);
  void RecordNoted();
  // Records what is noted and commits what is recorded: the end of a feed.
  void Finish();

  // The digests of a request's `messages`, in their order (none when nothing is recorded).
  std::vector<std::string> Digests(std::span<const std::string> messages) const;
  // Records what the server said to `part`, whose messages' digests are `digests` (Digests' of
  // the request) from the `first`th on, committed on return.
  template <class Part>
  void Record(books::DocumentType type, const Part& part, std::span<const std::string> digests,
              std::size_t first, bool accepted, const std::string& reason) {
    if (!recording_) {
      return;
    }
    std::vector<sync::FedJournal::Entry> entries;
    entries.reserve(std::size(part));
    std::size_t i = first;
    for (const auto& read : part) {
      entries.push_back({books::KindName(type), read.document.voucher_id, digests[i++]});
    }
    Open().Record(entries, accepted, reason);
  }

 private:
  // The digest of `document`'s message, or "" when it cannot be built.
  std::string DigestOf(const books::Document& document, const books::CheckedDocument& checked);
  sync::FedJournal& Open();

  const DocumentsOptions& options_;
  std::optional<sync::FedJournal> journal_;
  bool recording_ = false;  // a journal that is written: not in a dry run
  bool trusting_ = false;
  std::string message_;  // scratch for one message
  // Found in the books, not yet recorded: type, VoucherID and digest.
  struct Noted {
    books::DocumentType type;
    std::string voucher_id;
    std::string digest;
  };
  std::vector<Noted> noted_;
  // Per document type, once asked: whether the journal held any of it. One that held none is not
  // asked about each document, nor kept in memory for the asking.
  std::array<std::optional<bool>, books::kDocumentTypes.size()> held_before_;
};

}  // namespace lirvo::feed
