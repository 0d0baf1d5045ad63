// The server value: its address (from LIRVO_TALLY_URL), its time limits and request encoding
// (from the environment), and the address as shown in messages, without credentials.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "lirvo/modTally.h"
#include "lirvo/text.h"

namespace modTally {

std::string TallyUrl;

std::string DefaultAddress() {
  const char* configured = std::getenv("LIRVO_TALLY_URL");
  if (configured != nullptr && *configured != '\0') {
    return configured;
  }
  return std::string(kDefaultUrl);
}

std::string ShownUrl(std::string_view url) {
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t end = url.find_first_of("/?#", start);
  const std::size_t at = url.rfind('@', end == std::string_view::npos ? url.size() : end);
  if (at == std::string_view::npos || at < start) {
    return std::string(url);
  }
  return std::string(url.substr(0, start)) + std::string(url.substr(at + 1));
}

namespace {

// The limits with the total taken from `variable` when it is set and not empty: a positive number
// of seconds (fractions allowed), at most a day.
ExchangeLimits LimitsFrom(const char* variable, long total_ms) {
  ExchangeLimits limits{5'000, total_ms};
  const char* configured = std::getenv(variable);
  if (configured == nullptr || *configured == '\0') {
    return limits;
  }
  const std::string_view value = lirvo::text::Trim(configured);
  double seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (error != std::errc() || end != value.data() + value.size() || !(seconds > 0) ||
      seconds > 86'400) {
    throw Failure(FailureNumber::kSetting, std::string(variable) + " is \"" + configured +
                                               "\": it takes a number of seconds above 0 and at "
                                               "most 86400, such as 10 or 0.5");
  }
  limits.total_ms = std::max(1L, static_cast<long>(seconds * 1000));
  limits.connect_ms = std::min(limits.connect_ms, limits.total_ms);
  return limits;
}

}  // namespace

ExchangeLimits QueryLimits() {
  return LimitsFrom("LIRVO_QUERY_TIMEOUT", 10'000);
}

ExchangeLimits ImportLimits() {
  return LimitsFrom("LIRVO_IMPORT_TIMEOUT", 120'000);
}

WireEncoding ConfiguredWireEncoding() {
  const char* configured = std::getenv("LIRVO_TALLY_ENCODING");
  if (configured == nullptr || *configured == '\0' ||
      lirvo::text::EqualsNoCase(configured, "utf-16")) {
    return WireEncoding::kUtf16;
  }
  if (lirvo::text::EqualsNoCase(configured, "utf-8")) {
    return WireEncoding::kUtf8;
  }
  throw Failure(FailureNumber::kSetting,
                std::string("LIRVO_TALLY_ENCODING is \"") + configured +
                    "\": it takes utf-16 (the default, what the server reads intact) or utf-8");
}

Server Server::FromEnvironment() {
  return At(DefaultAddress());
}

Server Server::At(std::string url) {
  return {std::move(url), QueryLimits(), ImportLimits(), ConfiguredWireEncoding(), {}};
}

ExchangeLimits Server::Query() const {
  ExchangeLimits limits = queries;
  limits.cancelled = cancelled;
  return limits;
}

ExchangeLimits Server::Import() const {
  ExchangeLimits limits = imports;
  limits.cancelled = cancelled;
  return limits;
}

}  // namespace modTally
