// The request exchange over libcurl: one easy handle per exchange, owned for its duration.
#include <cstdlib>
#include <memory>

#include <curl/curl.h>

#include "lirvo/modTally.h"

namespace modTally {

std::string TallyUrl;

std::string DefaultAddress() {
  const char* configured = std::getenv("LIRVO_TALLY_URL");
  if (configured != nullptr && *configured != '\0') {
    return configured;
  }
  return std::string(kDefaultUrl);
}

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
  if (sink->reply.text.size() + bytes > kMaxReplyBytes) {
    sink->too_large = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  sink->reply.text.append(data, bytes);
  return bytes;
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
  }
  return bytes;
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

Reply Exchange(const std::string& url, const std::optional<std::string_view>& body,
               const ExchangeLimits& limits) {
  EnsureCurlGlobal();
  const std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  if (!handle) {
    throw Failure(FailureNumber::kHttpClient, "cannot create an HTTP request for " + url);
  }
  CURL* const curl = handle.get();

  // The three fixed headers, in order. "SOAPAction;" sends the header with an empty value;
  // "Expect:" stops libcurl from waiting for a 100-continue before large bodies.
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const char* header :
       {"Content-Type: text/xml", "Connection: close", "SOAPAction;", "Expect:"}) {
    curl_slist* const extended = curl_slist_append(headers.get(), header);
    if (extended == nullptr) {
      throw Failure(FailureNumber::kHttpClient, "cannot set the request headers for " + url);
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
  SetOption(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_ms);
  SetOption(curl, CURLOPT_TIMEOUT_MS, limits.total_ms);
  SetOption(curl, CURLOPT_POST, 1L);
  const std::string_view payload = body.value_or(std::string_view());
  SetOption(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  SetOption(curl, CURLOPT_POSTFIELDS, payload.data() != nullptr ? payload.data() : "");
  SetOption(curl, CURLOPT_HTTPHEADER, headers.get());
  SetOption(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  SetOption(curl, CURLOPT_WRITEDATA, &sink);
  SetOption(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  SetOption(curl, CURLOPT_HEADERDATA, &sink);

  const CURLcode code = curl_easy_perform(curl);
  if (sink.too_large) {
    throw Failure(FailureNumber::kReplyTooLarge,
                  "the reply from " + url + " is larger than " +
                      std::to_string(kMaxReplyBytes / (1024 * 1024)) + " MiB and was refused");
  }
  if (code != CURLE_OK) {
    const std::string detail = error[0] != '\0' ? error : curl_easy_strerror(code);
    throw Failure(static_cast<int>(code), "cannot exchange a request with " + url + ": " + detail);
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &sink.reply.status);
  return std::move(sink.reply);
}

Reply Exchange(const std::string& url, const pugi::xml_document& document) {
  const std::string text = DocumentXml(document);
  return Exchange(url, std::optional<std::string_view>(text));
}

}  // namespace modTally
