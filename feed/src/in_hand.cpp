#include "in_hand.h"

#include <optional>
#include <utility>

#include <lirvo/books/readback.h>
#include <lirvo/export_reply.h>

namespace lirvo::feed {

namespace {

// `server` with a cancel flag that `abandoned` also raises.
modTally::Server Abandonable(const modTally::Server& server, const std::atomic<bool>& abandoned) {
  modTally::Server copy = server;
  copy.cancelled = [&abandoned, user = server.cancelled] {
    return abandoned.load() || (user && user());
  };
  return copy;
}

void Abandon(std::thread& thread, std::atomic<bool>& abandoned) {
  if (thread.joinable()) {
    abandoned = true;
    thread.join();
  }
}

}  // namespace

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

Posting::~Posting() {
  Abandon(thread, abandoned_);
}

void Posting::Start(const modTally::Server& server, std::string company,
                    std::function<std::string(const SpooledDocument&)> label) {
  server_ = Abandonable(server, abandoned_);
  thread = std::thread([this, company = std::move(company), label = std::move(label)] {
    try {
      sync::Poster poster(server_, company, counts);
      finished = poster.Post(
          messages,
          [this](std::size_t begin, std::size_t end, bool accepted, const std::string& reason) {
            decided.push_back({begin, end, accepted, reason});
          },
          [this, &label](std::size_t i) { return label(batch[i]); },
          [this](std::size_t i) { return batch[i].row; });
    } catch (...) {
      error = std::current_exception();
    }
  });
}

ReadAhead::~ReadAhead() {
  Abandon(thread, abandoned_);
}

void ReadAhead::Start(const modTally::Server& server, std::string company) {
  server_ = Abandonable(server, abandoned_);
  thread = std::thread([this, company = std::move(company)] {
    try {
      held = ReadBooks(server_, company, type, from, to);
    } catch (...) {
      error = std::current_exception();
    }
  });
}

}  // namespace lirvo::feed
