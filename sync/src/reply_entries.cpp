#include "reply_entries.h"

#include <algorithm>

#include <lirvo/encoding.h>

namespace lirvo::sync::detail {

namespace {

// JSON's escapes for what it cannot hold as it is; other bytes, UTF-8 or not, go unchanged, a run
// at a time (keys and digests rarely hold any to escape).
void AppendString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto plain = [](char c) {
    return c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20;
  };
  out += '"';
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t run = static_cast<std::size_t>(
        std::find_if_not(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), plain) -
        text.begin());
    out.append(text, at, run - at);
    if (run == text.size()) {
      break;
    }
    const auto byte = static_cast<unsigned char>(text[run]);
    if (byte >= 0x20) {
      out += '\\';
      out += text[run];
    } else {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
    at = run + 1;
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// The four hexadecimal digits at `at`, moved past; -1 when they are not.
long Hex4(std::string_view text, std::size_t& at) {
  if (text.size() - at < 4) {
    return -1;
  }
  long value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = HexDigit(text[at++]);
    if (digit < 0) {
      return -1;
    }
    value = value * 16 + digit;
  }
  return value;
}

// The \u escape after "\u" at `at` (with the low half of a pair that follows), appended to `out`.
bool ReadUnicodeEscape(std::string_view text, std::size_t& at, std::string& out) {
  long code = Hex4(text, at);
  if (code >= 0xD800 && code < 0xDC00) {
    if (text.substr(at, 2) != "\\u") {
      return false;
    }
    at += 2;
    const long low = Hex4(text, at);
    if (low < 0xDC00 || low >= 0xE000) {
      return false;
    }
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
  } else if (code < 0 || (code >= 0xDC00 && code < 0xE000)) {
    return false;
  }
  encoding::AppendUtf8(out, static_cast<char32_t>(code));
  return true;
}

// The JSON string at `at` (its opening quote), into `out`; `at` moved past its closing quote.
bool ReadString(std::string_view text, std::size_t& at, std::string& out) {
  if (at >= text.size() || text[at] != '"') {
    return false;
  }
  ++at;
  while (at < text.size()) {
    const char c = text[at++];
    if (c == '"') {
      return true;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
      return false;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (at >= text.size()) {
      return false;
    }
    const char escaped = text[at++];
    static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t i = kFrom.find(escaped); i != std::string_view::npos) {
      out += kTo[i];
    } else if (escaped != 'u' || !ReadUnicodeEscape(text, at, out)) {
      return false;
    }
  }
  return false;
}

bool Expect(std::string_view text, std::size_t& at, char c) {
  if (at < text.size() && text[at] == c) {
    ++at;
    return true;
  }
  return false;
}

}  // namespace

std::string EntriesText(std::span<const FedJournal::Entry> entries) {
  std::string text = "[";
  for (const FedJournal::Entry& entry : entries) {
    text += text.size() == 1 ? "[" : ",[";
    AppendString(text, entry.key);
    text += ',';
    AppendString(text, entry.digest);
    text += ']';
  }
  return text + ']';
}

bool ReadEntries(std::string_view text,
                 const std::function<void(std::string&& key, std::string&& digest)>& each) {
  std::size_t at = 0;
  if (!Expect(text, at, '[')) {
    return false;
  }
  if (Expect(text, at, ']')) {
    return at == text.size();
  }
  do {
    std::string key, digest;
    if (!Expect(text, at, '[') || !ReadString(text, at, key) || !Expect(text, at, ',') ||
        !ReadString(text, at, digest) || !Expect(text, at, ']')) {
      return false;
    }
    each(std::move(key), std::move(digest));
  } while (Expect(text, at, ','));
  return Expect(text, at, ']') && at == text.size();
}

}  // namespace lirvo::sync::detail
