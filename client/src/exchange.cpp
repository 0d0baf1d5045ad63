// The request exchange over libcurl: an easy handle for each exchange, taken from its server's
// idle ones or made, and given back when the exchange ends. Somewhat over 400 lines: libcurl's
// callbacks, the handles and the exchange that sets them up share the handle's state.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <system_error>
#include <utility>

#include <curl/curl.h>

#include "lirvo/encoding.h"
#include "lirvo/modTally.h"
#include "lirvo/text.h"

namespace modTally {

namespace {

// curl_global_init must run once before any handle exists; a function-local static does that on
// first use and cleans up at exit.
class CurlGlobal {
 public:
  CurlGlobal() : code_(curl_global_init(CURL_GLOBAL_DEFAULT)) {}
  ~CurlGlobal() {
    if (code_ == CURLE_OK) {
      curl_global_cleanup();
    }
  }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
  CURLcode code() const { return code_; }

 private:
  CURLcode code_;
};

void EnsureCurlGlobal() {
  static const CurlGlobal global;
  if (global.code() != CURLE_OK) {
    throw Failure(FailureNumber::kHttpClient, std::string("cannot start the HTTP client: ") +
                                                  curl_easy_strerror(global.code()));
  }
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using Handle = std::unique_ptr<CURL, CurlDeleter>;
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Collects the reply while it arrives; refuses to grow past kMaxReplyBytes.
struct Sink {
  Reply reply;
  bool too_large = false;
  bool status_line_seen = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t bytes = size * count;
  if (sink->reply.raw.size() + bytes > kMaxReplyBytes) {
    sink->too_large = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  sink->reply.raw.append(data, bytes);
  return bytes;
}

// A request being sent: its UTF-8 text (checked) in pieces, and how much of it has gone.
struct Upload {
  std::span<const std::string_view> pieces;
  std::size_t piece = 0;
  std::size_t at = 0;  // in pieces[piece]
  WireEncoding wire;
};

size_t OnUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const size_t room = size * count;
  size_t written = 0;
  try {
    for (; upload->piece < upload->pieces.size(); ++upload->piece, upload->at = 0) {
      const std::string_view piece = upload->pieces[upload->piece];
      if (upload->wire == WireEncoding::kUtf8) {
        const size_t bytes = std::min(room - written, piece.size() - upload->at);
        if (bytes > 0) {
          std::memcpy(buffer + written, piece.data() + upload->at, bytes);
        }
        written += bytes;
        upload->at += bytes;
      } else {
        written +=
            lirvo::encoding::Utf8ToUtf16Into(piece, upload->at, buffer + written, room - written,
                                             lirvo::encoding::ByteOrder::kLittle);
      }
      if (upload->at < piece.size()) {
        break;  // the buffer is full
      }
    }
  } catch (const lirvo::encoding::Error&) {
    return CURL_READFUNC_ABORT;  // cannot happen: the text was checked before the exchange
  }
  // Nothing written before the end would read as the end: a buffer too small for a character.
  return written > 0 || upload->piece == upload->pieces.size() ? written : CURL_READFUNC_ABORT;
}

// libcurl rewinds a request only to send it again from the start.
int OnUploadSeek(void* user, curl_off_t offset, int origin) {
  if (origin != SEEK_SET || offset != 0) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  static_cast<Upload*>(user)->piece = 0;
  static_cast<Upload*>(user)->at = 0;
  return CURL_SEEKFUNC_OK;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t bytes = size * count;
  const std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    // A new status line (after a 1xx reply) starts the header block afresh.
    sink->reply.headers.clear();
    sink->status_line_seen = true;
  } else if (line != "\r\n" && line != "\n") {
    if (sink->reply.headers.size() + bytes > kMaxReplyBytes) {
      sink->too_large = true;
      return 0;
    }
    sink->reply.headers.append(line);
    // A declared length sizes the body once instead of growing it (and copying it) as it comes.
    constexpr std::string_view kLength = "content-length:";
    if (line.size() > kLength.size() &&
        std::equal(kLength.begin(), kLength.end(), line.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      std::string_view value = line.substr(kLength.size());
      value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
      unsigned long long length = 0;
      std::from_chars(value.data(), value.data() + value.size(), length);
      sink->reply.raw.reserve(std::min<unsigned long long>(length, kMaxReplyBytes));
    }
  }
  return bytes;
}

// Asks the caller's cancel flag and tells it how long the exchange has waited; libcurl calls this
// many times a second while data moves and at least once a second while it does not.
struct Watch {
  const ExchangeLimits& limits;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_told = start;
  bool cancelled = false;
};

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* watch = static_cast<Watch*>(user);
  const auto now = std::chrono::steady_clock::now();
  if (watch->limits.waiting && now - watch->last_told >= std::chrono::milliseconds(250)) {
    watch->last_told = now;
    watch->limits.waiting(std::chrono::duration<double>(now - watch->start).count());
  }
  if (watch->limits.cancelled && watch->limits.cancelled()) {
    watch->cancelled = true;
    return 1;  // makes libcurl stop with CURLE_ABORTED_BY_CALLBACK
  }
  return 0;
}

template <class T>
void SetOption(CURL* handle, CURLoption option, T value) {
  const CURLcode code = curl_easy_setopt(handle, option, value);
  if (code != CURLE_OK) {
    throw Failure(FailureNumber::kHttpClient,
                  std::string("cannot set up the HTTP request: ") + curl_easy_strerror(code));
  }
}

}  // namespace

class HandlePool {
 public:
  // An idle handle, or a new one (empty when libcurl cannot make one).
  Handle Take() {
    {
      const std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        Handle handle = std::move(idle_.back());
        idle_.pop_back();
        return handle;
      }
    }
    return Handle(curl_easy_init());
  }
  // Keeps `handle`, its options cleared, for a later exchange; a few are enough for the exchanges
  // a server has at once.
  void Give(Handle handle) {
    constexpr std::size_t kMostIdle = 4;
    curl_easy_reset(handle.get());
    const std::lock_guard lock(mutex_);
    if (idle_.size() < kMostIdle) {
      idle_.push_back(std::move(handle));
    }
  }

 private:
  std::mutex mutex_;
  std::vector<Handle> idle_;
};

std::shared_ptr<HandlePool> NewHandlePool() {
  return std::make_shared<HandlePool>();
}

namespace {

// A handle of `pool` (or of its own without one) for one exchange, given back when it ends.
class Lease {
 public:
  explicit Lease(HandlePool* pool)
      : pool_(pool), handle_(pool ? pool->Take() : Handle(curl_easy_init())) {}
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  ~Lease() {
    if (pool_ != nullptr && handle_) {
      pool_->Give(std::move(handle_));
    }
  }
  CURL* get() const { return handle_.get(); }

 private:
  HandlePool* pool_;
  Handle handle_;
};

}  // namespace

Reply Exchange(const std::string& url, const std::optional<std::string_view>& body,
               const ExchangeLimits& limits) {
  return Exchange(Server{url, {}, {}, ConfiguredWireEncoding(), {}}, body, limits);
}

Reply Exchange(const Server& server, const std::optional<std::string_view>& body,
               const ExchangeLimits& limits) {
  const std::string_view text = body.value_or(std::string_view());
  return Exchange(server, std::span<const std::string_view>(&text, 1), limits);
}

// Long: one exchange from setting up the handle to judging the reply; its steps share the handle.
Reply Exchange(const Server& server, std::span<const std::string_view> body,
               const ExchangeLimits& limits) {
  const std::string& url = server.url;
  // The wire text is settled before anything is sent: a text that is not UTF-8 never leaves.
  const WireEncoding wire = server.encoding;
  const auto not_utf8 = [&](std::size_t piece, std::size_t bad) {
    std::string text;
    for (const std::string_view earlier : body.first(piece)) {
      text += earlier;
      bad += earlier.size();
    }
    text += body[piece];
    const auto at = lirvo::encoding::PositionOf(text, bad);
    return Failure(FailureNumber::kEncoding,
                   "the request for " + ShownUrl(url) + " is not UTF-8 text at line " +
                       std::to_string(at.line) + ", column " + std::to_string(at.column) +
                       " (byte " + std::to_string(bad + 1) + "); nothing was sent");
  };
  // A UTF-16 request is converted as libcurl sends it, straight into its upload buffer, and the
  // pieces of a request are read from where they are (a request runs to megabytes: converting
  // or joining it first cost a copy of it, and libcurl's copy of that); its size, taken first,
  // checks the UTF-8 before anything is sent.
  Upload upload{body, 0, 0, wire};
  std::size_t payload_size = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (wire == WireEncoding::kUtf16) {
      try {
        payload_size += lirvo::encoding::Utf16Size(body[i]);
      } catch (const lirvo::encoding::Error& error) {
        throw not_utf8(i, error.offset());
      }
    } else if (const std::size_t bad = lirvo::encoding::FindInvalidUtf8(body[i]);
               bad != std::string_view::npos) {
      throw not_utf8(i, bad);
    } else {
      payload_size += body[i].size();
    }
  }

  EnsureCurlGlobal();
  const Lease handle(server.handles.get());
  CURL* const curl = handle.get();
  if (curl == nullptr) {
    throw Failure(FailureNumber::kHttpClient, "cannot create an HTTP request for " + ShownUrl(url));
  }

  // The three fixed headers, in order. "SOAPAction;" sends the header with an empty value;
  // "Expect:" stops libcurl from waiting for a 100-continue before large bodies.
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  const char* const content_type = wire == WireEncoding::kUtf16
                                       ? "Content-Type: text/xml;charset=utf-16"
                                       : "Content-Type: text/xml";
  for (const char* header : {content_type, "Connection: close", "SOAPAction;", "Expect:"}) {
    curl_slist* const extended = curl_slist_append(headers.get(), header);
    if (extended == nullptr) {
      throw Failure(FailureNumber::kHttpClient,
                    "cannot set the request headers for " + ShownUrl(url));
    }
    static_cast<void>(headers.release());
    headers.reset(extended);
  }

  Sink sink;
  char error[CURL_ERROR_SIZE] = {};
  SetOption(curl, CURLOPT_ERRORBUFFER, error);
  SetOption(curl, CURLOPT_URL, url.c_str());
  SetOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  SetOption(curl, CURLOPT_PROXY, "");  // the server is local: never go through a proxy
  SetOption(curl, CURLOPT_NOSIGNAL, 1L);
  // A connection for each request, as the server expects: none is kept for the handle's next.
  SetOption(curl, CURLOPT_FORBID_REUSE, 1L);
  SetOption(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_ms);
  SetOption(curl, CURLOPT_TIMEOUT_MS, limits.total_ms);
  SetOption(curl, CURLOPT_POST, 1L);
  SetOption(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload_size));
  if (wire == WireEncoding::kUtf16 || body.size() > 1) {
    SetOption(curl, CURLOPT_READFUNCTION, &OnUpload);
    SetOption(curl, CURLOPT_READDATA, &upload);
    SetOption(curl, CURLOPT_SEEKFUNCTION, &OnUploadSeek);
    SetOption(curl, CURLOPT_SEEKDATA, &upload);
  } else {
    // One piece of UTF-8 goes as it is; a small one in the same send as the headers.
    SetOption(curl, CURLOPT_POSTFIELDS,
              !body.empty() && body[0].data() != nullptr ? body[0].data() : "");
  }
  // libcurl copies a large body into its upload buffer and sends it a buffer at a time, waiting
  // for the socket before each: a request of a megabyte went out in some twenty rounds of 64 KiB
  // (its default). A buffer the size of the body, up to libcurl's largest, sends it in one or two;
  // two bytes more, because the conversion into it keeps room for a character's widest form and
  // would leave the last character of a body that fits exactly to a send of its own.
  constexpr std::size_t kDefaultUpload = 64 * 1024;
  constexpr std::size_t kLargestUpload = 2 * 1024 * 1024;
  if (payload_size > kDefaultUpload) {
    SetOption(curl, CURLOPT_UPLOAD_BUFFERSIZE,
              static_cast<long>(std::min(payload_size + 2, kLargestUpload)));
  }
  SetOption(curl, CURLOPT_HTTPHEADER, headers.get());
  SetOption(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  SetOption(curl, CURLOPT_WRITEDATA, &sink);
  SetOption(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  SetOption(curl, CURLOPT_HEADERDATA, &sink);
  Watch watch{limits};
  if (limits.cancelled || limits.waiting) {
    SetOption(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    SetOption(curl, CURLOPT_XFERINFODATA, &watch);
    SetOption(curl, CURLOPT_NOPROGRESS, 0L);
  }

  const CURLcode code = curl_easy_perform(curl);
  if (watch.cancelled) {
    throw Failure(
        FailureKind::Cancelled, static_cast<int>(CURLE_ABORTED_BY_CALLBACK),
        "the exchange with " + ShownUrl(url) + " was cancelled before the server had answered",
        {FailureCause::From::kCurl, CURLE_ABORTED_BY_CALLBACK});
  }
  if (sink.too_large) {
    throw Failure(FailureKind::Reply, FailureNumber::kReplyTooLarge,
                  "the reply from " + ShownUrl(url) + " is larger than " +
                      std::to_string(kMaxReplyBytes / (1024 * 1024)) + " MiB and was refused");
  }
  if (code != CURLE_OK) {
    const std::string detail = error[0] != '\0' ? error : curl_easy_strerror(code);
    const char* configured = std::getenv("LIRVO_TALLY_URL");
    const bool from_variable = configured != nullptr && url == configured;
    throw Failure(FailureKind::Transport, static_cast<int>(code),
                  "cannot exchange a request with " + ShownUrl(url) + ": " + detail +
                      (code == CURLE_URL_MALFORMAT && from_variable
                           ? " (the address is LIRVO_TALLY_URL's: set it to a URL such as " +
                                 std::string(kDefaultUrl) + ")"
                           : std::string()),
                  {FailureCause::From::kCurl, code});
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &sink.reply.status);
  const char* reply_type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &reply_type) != CURLE_OK) {
    reply_type = nullptr;
  }
  try {
    sink.reply.text =
        lirvo::encoding::DecodeReply(sink.reply.raw, reply_type != nullptr ? reply_type : "");
  } catch (const lirvo::encoding::Error& undecodable) {
    throw Failure(FailureNumber::kEncoding,
                  "cannot read the reply from " + ShownUrl(url) + ": " + undecodable.what());
  }
  return std::move(sink.reply);
}

Reply Exchange(const std::string& url, const pugi::xml_document& document) {
  const std::string text = DocumentXml(document);
  return Exchange(url, std::optional<std::string_view>(text));
}

}  // namespace modTally
