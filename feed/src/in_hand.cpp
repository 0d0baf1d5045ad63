#include "in_hand.h"

#include <optional>
#include <utility>

#include <lirvo/books/readback.h>
#include <lirvo/export_reply.h>

namespace lirvo::feed {

RangeBooks ReadBooks(const modTally::Server& server, const std::string& company,
                     books::DocumentType type, const std::string& from, const std::string& to) {
  const std::string what = "cannot read the " + std::string(books::ServerName(type)) +
                           " vouchers of \"" + company + "\" dated " + from + " to " + to +
                           " from " + modTally::ShownUrl(server.url);
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(
        server, books::VoucherExportRequest(company, from, to, books::ServerName(type)),
        server.Import());
  } catch (const modTally::Failure& failure) {
    throw modTally::Failure(failure, what + ": " + failure.description());
  }
  pugi::xml_document xml;
  const pugi::xml_node root = modTally::ReadExportReply(xml, reply, {what, company});
  RangeBooks held;
  for (const pugi::xml_node voucher :
       root.child("BODY").child("DATA").child("COLLECTION").children("VOUCHER")) {
    if (std::optional<books::BooksDocument> read = books::ReadDocument(voucher)) {
      std::string id = read->document.voucher_id;
      held.emplace(std::move(id), std::move(*read));
    }
  }
  return held;
}

InHand::~InHand() {
  if (thread_.joinable()) {
    abandoned_ = true;
    thread_.join();
  }
}

void InHand::Start(const modTally::Server& server,
                   std::function<void(const modTally::Server&)> work) {
  server_ = server;
  server_.cancelled = [this, user = server.cancelled] {
    return abandoned_.load() || (user && user());
  };
  thread_ = std::thread([this, work = std::move(work)] {
    try {
      work(server_);
    } catch (...) {
      error_ = std::current_exception();
    }
  });
}

void InHand::Join() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

void InHand::Rethrow() const {
  if (error_) {
    std::rethrow_exception(error_);
  }
}

void Posting::Start(const modTally::Server& server, std::string company,
                    std::function<std::string(const SpooledDocument&)> label) {
  in_hand.Start(server, [this, company = std::move(company),
                         label = std::move(label)](const modTally::Server& at) {
    sync::Poster poster(at, company, counts);
    finished = poster.Post(
        messages,
        [this](std::size_t begin, std::size_t end, bool accepted, const std::string& reason) {
          decided.push_back({begin, end, accepted, reason});
        },
        [this, &label](std::size_t i) { return label(batch[i]); },
        [this](std::size_t i) { return batch[i].row; });
  });
}

void ReadAhead::Start(const modTally::Server& server, std::string company) {
  in_hand.Start(server, [this, company = std::move(company)](const modTally::Server& at) {
    held = ReadBooks(at, company, type, from, to);
  });
}

}  // namespace lirvo::feed
