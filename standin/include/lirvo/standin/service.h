// The stand-in accounting server's request handling, without any network: give it the body of a
// POST (or the Accept header of a GET) and it answers as the accounting server does, keeping
// companies, masters and vouchers in its store. Thread-safe; the HTTP front end and the fuzz
// target call it directly.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo::standin {

// Bodies larger than this are refused with an error reply.
inline constexpr std::size_t kMaxRequestBytes = 16u * 1024u * 1024u;
// Requests holding more markup than this ('<' characters) are refused before parsing, which
// bounds the memory one request can take.
inline constexpr std::size_t kMaxMarkup = 1'000'000;
// Values nested deeper than this below a master element are refused.
inline constexpr int kMaxValueDepth = 16;

// The company a stand-in opens when none is named.
inline constexpr std::string_view kDefaultCompany = "Demo Trading Co";
// The text of the probe's RESPONSE line.
inline constexpr std::string_view kRunningLine = "tally-standin 1.0 Server is Running.";
// The reply to malformed XML and to requests the stand-in does not know.
inline constexpr std::string_view kUnknownRequest = "Unknown Request, cannot be processed";

struct Options {
  std::string data_path;               // SQLite file; empty keeps the store in memory
  std::vector<std::string> companies;  // open companies, the first current; empty: the default
  bool strict = false;                 // altering a missing master is an error, not a create
};

struct HttpReply {
  int status = 200;
  std::string content_type = "text/xml; charset=utf-8";
  std::string body;
};

class Service {
 public:
  // Opens the store and the companies. Throws std::runtime_error when the store cannot be opened
  // or a company is named twice.
  explicit Service(Options options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Answers a POST with `body` sent under `content_type`: the probe (empty body), the two export
  // reports, imports, and an "Unknown Request" reply for anything else. Never throws; a store
  // failure is a 500 reply. As the accounting server does, it reads UTF-16 (by byte order mark or
  // charset, either order; without either, by its zero bytes) and answers it in UTF-16LE under
  // charset=utf-16; it reads anything else as UTF-8 (Windows-1252 where that is not valid) and
  // answers in Windows-1252 under charset=utf-8, and in such a request every character that code
  // page lacks is '?' before it is applied or stored.
  HttpReply Post(std::string_view body, std::string_view content_type = {});
  // Answers a GET: the HTML overview when `accept` asks for text/html, else the probe's reply.
  HttpReply Get(std::string_view accept);

  const std::vector<std::string>& companies() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lirvo::standin
