// UTF-8, UTF-16 and Windows-1252 conversions and the reply decoder. The conversions and the
// decoder share their tables and the UTF-8 stepping, so they stay in one file of about 710 lines.
#include "lirvo/encoding.h"

#include <endian.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "lirvo/text.h"

namespace lirvo::encoding {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Code points of Windows-1252 bytes 80..9F; the undefined five keep their own value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Reads one UTF-8 sequence at `at`; returns the code point and advances `at`, or
// kInvalid (leaving `at`) when the bytes there are not a valid sequence.
char32_t NextUtf8(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  std::size_t length = 0;
  char32_t c = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, least = 0x10000;
  } else {
    return kInvalid;
  }
  if (text.size() - at < length) {
    return kInvalid;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      return kInvalid;
    }
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    return kInvalid;
  }
  at += length;
  return c;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// The offset of the first byte from `at` on that is not ASCII, looking at eight bytes at a time.
std::size_t SkipAscii(std::string_view text, std::size_t at) {
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    if ((word & kHighBits) != 0) {
      break;
    }
  }
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) {
    ++at;
  }
  return at;
}

char32_t NextUtf8OrThrow(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  const char32_t c = NextUtf8(text, at);
  if (c == kInvalid) {
    throw Error("the text is not valid UTF-8 at byte " + std::to_string(start + 1), start);
  }
  return c;
}

// The charset parameter of a Content-Type value, lower case, without quotes; "" when absent.
std::string CharsetOf(std::string_view content_type) {
  const std::string folded = text::FoldCase(content_type);
  const std::size_t at = folded.find("charset=");
  if (at == std::string::npos) {
    return {};
  }
  std::string_view value = std::string_view(folded).substr(at + 8);
  value = value.substr(0, value.find(';'));
  value = text::Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

// UTF-16 when the first unit is an ASCII character beside a zero byte (how an XML text in UTF-16
// begins), or when zero bytes fill a quarter of one parity of the first 512 bytes and none of the
// other.
std::optional<ByteOrder> LooksLikeUtf16(std::string_view body) {
  const std::size_t span = std::min<std::size_t>(body.size(), 512) & ~std::size_t{1};
  if (span < 2) {
    return std::nullopt;
  }
  const auto ascii = [](char c) { return c != '\0' && static_cast<unsigned char>(c) < 0x80; };
  if (ascii(body[0]) && body[1] == '\0') {
    return ByteOrder::kLittle;
  }
  if (body[0] == '\0' && ascii(body[1])) {
    return ByteOrder::kBig;
  }
  std::size_t even_zeros = 0;
  std::size_t odd_zeros = 0;
  for (std::size_t i = 0; i < span; i += 2) {
    even_zeros += body[i] == '\0';
    odd_zeros += body[i + 1] == '\0';
  }
  const std::size_t units = span / 2;
  if (odd_zeros * 4 >= units && even_zeros == 0) {
    return ByteOrder::kLittle;
  }
  if (even_zeros * 4 >= units && odd_zeros == 0) {
    return ByteOrder::kBig;
  }
  return std::nullopt;
}

bool ForbiddenInXml(char32_t c) {
  return (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || (c >= 0xD800 && c <= 0xDFFF) ||
         c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF;
}

// The length of a character reference at `at` ("&#4;", "&#x1F;") whose character XML forbids, or
// 0 when there is none there.
std::size_t ForbiddenReferenceAt(std::string_view text, std::size_t at) {
  if (text.substr(at, 2) != "&#") {
    return 0;
  }
  std::size_t i = at + 2;
  const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
  i += hex ? 1 : 0;
  const std::size_t digits_start = i;
  char32_t value = 0;
  for (; i < text.size(); ++i) {
    const char d = text[i];
    int digit = -1;
    if (d >= '0' && d <= '9') {
      digit = d - '0';
    } else if (hex && d >= 'a' && d <= 'f') {
      digit = d - 'a' + 10;
    } else if (hex && d >= 'A' && d <= 'F') {
      digit = d - 'A' + 10;
    } else {
      break;
    }
    // Saturate above the Unicode range: anything larger is as forbidden as 0x110000.
    value = std::min<char32_t>(value * (hex ? 16 : 10) + static_cast<char32_t>(digit), 0x110000);
  }
  if (i == digits_start || i >= text.size() || text[i] != ';') {
    return 0;  // not a complete reference: the parser judges it
  }
  return ForbiddenInXml(value) ? i + 1 - at : 0;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::size_t FindInvalidUtf8(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    at = SkipAscii(text, at);
    if (at < text.size() && NextUtf8(text, at) == kInvalid) {
      return at;
    }
  }
  return std::string_view::npos;
}

#if defined(__SSE2__)
namespace {

// The sixteen bytes of `text` from `at`, which the caller keeps within it.
__m128i Load16(std::string_view text, std::size_t at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
}

}  // namespace
#endif

std::size_t Utf16Size(std::string_view utf8) {
  std::size_t size = 0;
  std::size_t at = 0;
  while (at < utf8.size()) {
    const std::size_t ascii = at;
#if defined(__SSE2__)
    // Sixty-four bytes a step while they are all ASCII (most of a request), then sixteen.
    while (at + 64 <= utf8.size() &&
           _mm_movemask_epi8(
               _mm_or_si128(_mm_or_si128(Load16(utf8, at), Load16(utf8, at + 16)),
                            _mm_or_si128(Load16(utf8, at + 32), Load16(utf8, at + 48)))) == 0) {
      at += 64;
    }
    while (at + 16 <= utf8.size() && _mm_movemask_epi8(Load16(utf8, at)) == 0) {
      at += 16;
    }
#endif
    at = SkipAscii(utf8, at);
    size += 2 * (at - ascii);
    if (at < utf8.size()) {
      size += NextUtf8OrThrow(utf8, at) >= 0x10000 ? 4 : 2;
    }
  }
  return size;
}

#if defined(__SSE2__)
namespace {

// Widens the ASCII bytes of `utf8` from `at` to UTF-16 units at `next`, thirty-two or sixteen at a
// time, while they are ASCII and before `limit`; returns where the units end. The byte order is a
// parameter of the template so that the loop holds no choice of it.
template <bool kLittle>
char* WidenAscii(std::string_view utf8, std::size_t& at, std::size_t limit, char* next) {
  const __m128i zero = _mm_setzero_si128();
  const auto store = [&next, &zero](__m128i bytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(next),
                     kLittle ? _mm_unpacklo_epi8(bytes, zero) : _mm_unpacklo_epi8(zero, bytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(next + 16),
                     kLittle ? _mm_unpackhi_epi8(bytes, zero) : _mm_unpackhi_epi8(zero, bytes));
    next += 32;
  };
  for (; at + 32 <= limit; at += 32) {
    const __m128i first = Load16(utf8, at);
    const __m128i second = Load16(utf8, at + 16);
    if (_mm_movemask_epi8(_mm_or_si128(first, second)) != 0) {
      break;
    }
    store(first);
    store(second);
  }
  for (; at + 16 <= limit; at += 16) {
    const __m128i bytes = Load16(utf8, at);
    if (_mm_movemask_epi8(bytes) != 0) {
      break;
    }
    store(bytes);
  }
  return next;
}

}  // namespace
#endif

std::size_t Utf8ToUtf16Into(std::string_view utf8, std::size_t& at, char* out, std::size_t room,
                            ByteOrder order) {
  // Each UTF-8 byte gives at most two bytes of UTF-16, and a sequence that starts before `limit`
  // may run three bytes past it, giving four: two more than its bytes before `limit` allow for.
  if (room < 4) {
    return 0;
  }
  const std::size_t limit = std::min(utf8.size(), at + (room - 2) / 2);
  const std::size_t low = order == ByteOrder::kLittle ? 0 : 1;
  char* next = out;
  const auto unit = [&](char32_t u) {
    next[low] = static_cast<char>(u & 0xFF);
    next[1 - low] = static_cast<char>((u >> 8) & 0xFF);
    next += 2;
  };
  while (at < limit) {
    // A run of ASCII, thirty-two, sixteen or eight bytes at a time, each byte widened to a unit.
#if defined(__SSE2__)
    next = low == 0 ? WidenAscii<true>(utf8, at, limit, next)
                    : WidenAscii<false>(utf8, at, limit, next);
#endif
    while (at + 8 <= limit) {
      std::uint64_t word = 0;
      std::memcpy(&word, utf8.data() + at, 8);
      if ((word & kHighBits) != 0) {
        break;
      }
      for (std::size_t i = 0; i < 8; ++i) {
        next[2 * i + low] = utf8[at + i];
        next[2 * i + 1 - low] = '\0';
      }
      next += 16;
      at += 8;
    }
    if (at == limit) {
      break;
    }
    const char32_t c = NextUtf8OrThrow(utf8, at);
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return static_cast<std::size_t>(next - out);
}

std::string Utf8ToUtf16(std::string_view utf8, ByteOrder order) {
  // Converted block by block into a buffer on the stack and appended: the result is reserved at
  // its size for ASCII text but never zero-filled first (requests and exports run to megabytes,
  // and filling them cost about as much as converting them).
  char buffer[8192];
  std::string out;
  out.reserve(utf8.size() * 2);
  std::size_t at = 0;
  while (at < utf8.size()) {
    out.append(buffer, Utf8ToUtf16Into(utf8, at, buffer, sizeof buffer, order));
  }
  return out;
}

namespace {

// Copies the ASCII units at the start of `bytes` (UTF-16 in `order`) to `out`, a byte each,
// sixteen or four units at a time, as most of a reply is; returns how many bytes of `bytes` it
// read. Stops at the first unit that is not ASCII or up to three units before it (or before the
// end), which the caller reads one at a time.
std::size_t NarrowAscii(std::string_view bytes, char* out, ByteOrder order) {
  const std::size_t low = order == ByteOrder::kLittle ? 0 : 1;
  std::size_t at = 0;
#if defined(__SSE2__)
  // Loaded into 16-bit lanes, a big-endian unit has its bytes swapped: its ASCII byte is the high
  // one, and the bits that must be clear are 80FF rather than FF80.
  const __m128i not_ascii = _mm_set1_epi16(static_cast<short>(low == 0 ? 0xFF80 : 0x80FF));
  const __m128i zero = _mm_setzero_si128();
  for (; at + 32 <= bytes.size(); at += 32) {
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at));
    __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at + 16));
    const __m128i high = _mm_and_si128(_mm_or_si128(first, second), not_ascii);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, zero)) != 0xFFFF) {
      break;
    }
    if (low == 1) {
      first = _mm_srli_epi16(first, 8);
      second = _mm_srli_epi16(second, 8);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at / 2), _mm_packus_epi16(first, second));
  }
#endif
  // The word read as a number in the text's order, so that each unit is one group of 16 bits.
  constexpr std::uint64_t kNotAscii = 0xFF80FF80FF80FF80ULL;
  for (; at + 8 <= bytes.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + at, 8);
    if (((low == 0 ? le64toh(word) : be64toh(word)) & kNotAscii) != 0) {
      break;
    }
    for (std::size_t k = 0; k < 8; k += 2) {
      out[(at + k) / 2] = bytes[at + k + low];
    }
  }
  return at;
}

}  // namespace

// Long: one decoding loop over the code units, its surrogate and error cases together.
std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order) {
  if (bytes.size() % 2 != 0) {
    throw Error("the UTF-16 text ends in the middle of a character (" +
                    std::to_string(bytes.size()) + " bytes)",
                bytes.size() - 1);
  }
  const auto unit = [&](std::size_t i) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    return order == ByteOrder::kLittle ? (second << 8 | first) : (first << 8 | second);
  };
  // Converted block by block into a buffer on the stack and appended, as in Utf8ToUtf16: replies
  // run to megabytes, mostly ASCII. Each unit gives at most three bytes; a surrogate pair that
  // starts at the end of a block gives four and runs one unit past it.
  constexpr std::size_t kBlockUnits = 4096;
  char buffer[3 * kBlockUnits + 4];
  std::string out;
  out.reserve(bytes.size() / 2);
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t limit = std::min(bytes.size(), i + 2 * kBlockUnits);
    char* next = buffer;
    const auto put = [&next](char32_t c) {
      if (c < 0x800) {
        *next++ = static_cast<char>(0xC0 | (c >> 6));
        *next++ = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        *next++ = static_cast<char>(0xE0 | (c >> 12));
        *next++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *next++ = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        *next++ = static_cast<char>(0xF0 | (c >> 18));
        *next++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *next++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *next++ = static_cast<char>(0x80 | (c & 0x3F));
      }
    };
    for (; i < limit; i += 2) {
      const std::size_t ascii = NarrowAscii(bytes.substr(i, limit - i), next, order);
      next += ascii / 2;
      i += ascii;
      if (i >= limit) {
        break;
      }
      const char32_t u = unit(i);
      if (u < 0x80) {
        *next++ = static_cast<char>(u);
        continue;
      }
      if (u >= 0xDC00 && u <= 0xDFFF) {
        throw Error("the UTF-16 text holds a lone low surrogate at byte " + std::to_string(i + 1),
                    i);
      }
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (i + 2 >= bytes.size()) {
          throw Error("the UTF-16 text ends in the middle of a surrogate pair", i);
        }
        const char32_t second = unit(i + 2);
        if (second < 0xDC00 || second > 0xDFFF) {
          throw Error(
              "the UTF-16 text holds a lone high surrogate at byte " + std::to_string(i + 1), i);
        }
        put(0x10000 + ((u - 0xD800) << 10) + (second - 0xDC00));
        i += 2;
      } else {
        put(u);
      }
    }
    out.append(buffer, static_cast<std::size_t>(next - buffer));
  }
  return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char b : bytes) {
    const auto byte = static_cast<unsigned char>(b);
    AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char32_t{byte});
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char b : bytes) {
    AppendUtf8(out, static_cast<unsigned char>(b));
  }
  return out;
}

namespace {

// The Windows-1252 byte of `c`, or no value when the code page lacks it.
std::optional<char> Windows1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    return static_cast<char>(c);
  }
  for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == c) {
      return static_cast<char>(0x80 + i);
    }
  }
  return std::nullopt;
}

}  // namespace

std::string Utf8ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    out += Windows1252Byte(NextUtf8OrThrow(utf8, at)).value_or('?');
  }
  return out;
}

std::size_t FindOutsideWindows1252(std::string_view utf8) {
  std::size_t at = 0;
  while (at < utf8.size()) {
    at = SkipAscii(utf8, at);
    const std::size_t start = at;
    if (at < utf8.size() && !Windows1252Byte(NextUtf8OrThrow(utf8, at))) {
      return start;
    }
  }
  return std::string_view::npos;
}

Encoding DetectReplyEncoding(std::string_view body, std::string_view content_type) {
  if (body.starts_with("\xEF\xBB\xBF")) {
    return Encoding::kUtf8;
  }
  if (body.starts_with("\xFF\xFE")) {
    return Encoding::kUtf16Le;
  }
  if (body.starts_with("\xFE\xFF")) {
    return Encoding::kUtf16Be;
  }
  const std::optional<ByteOrder> utf16 = LooksLikeUtf16(body);
  const auto utf8_or_1252 = [&] {
    return IsValidUtf8(body) ? Encoding::kUtf8 : Encoding::kWindows1252;
  };
  const std::string charset = CharsetOf(content_type);
  if (charset == "utf-16le") {
    return Encoding::kUtf16Le;
  }
  if (charset == "utf-16be") {
    return Encoding::kUtf16Be;
  }
  if (charset == "utf-16") {
    return utf16 == ByteOrder::kBig ? Encoding::kUtf16Be : Encoding::kUtf16Le;
  }
  if (charset == "windows-1252" || charset == "cp1252" || charset == "iso-8859-1" ||
      charset == "latin1") {
    return Encoding::kWindows1252;
  }
  if (charset == "utf-8" || charset == "utf8" || charset == "us-ascii") {
    return utf8_or_1252();
  }
  if (utf16) {
    return *utf16 == ByteOrder::kLittle ? Encoding::kUtf16Le : Encoding::kUtf16Be;
  }
  return utf8_or_1252();
}

namespace {

// The bytes DropForbiddenXmlInPlace looks at: control characters, and those that may start or end
// something it drops (outside a CDATA section "&", ";", "[" and the last bytes of U+FFFE and
// U+FFFF; inside one only ">"). Runs of the others are kept whole.
constexpr std::array<bool, 256> LookedAt(bool cdata) {
  std::array<bool, 256> look{};
  for (int b = 0; b < 0x20; ++b) {
    look[static_cast<std::size_t>(b)] = b != '\t' && b != '\n' && b != '\r';
  }
  if (cdata) {
    look[0x3E] = true;  // >
    return look;
  }
  for (const int b : {0x26, 0x3B, 0x5B, 0xBE, 0xBF}) {  // & ; [ and two of U+FFFE/FFFF
    look[static_cast<std::size_t>(b)] = true;
  }
  return look;
}

constexpr std::array<bool, 256> kLookedAtOutside = LookedAt(false);
constexpr std::array<bool, 256> kLookedAtInside = LookedAt(true);

// The offset of the first byte from `at` on that LookedAt(cdata) marks, or the size of `text`;
// sixteen bytes at a time where SSE2 is there to compare them.
std::size_t NextLookedAt(std::string_view text, std::size_t at, bool cdata) {
#if defined(__SSE2__)
  for (; at + 16 <= text.size(); at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const auto is = [&bytes](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(0x1F)), bytes);
    const __m128i blank = _mm_or_si128(is('\t'), _mm_or_si128(is('\n'), is('\r')));
    __m128i look = _mm_andnot_si128(blank, control);
    if (cdata) {
      look = _mm_or_si128(look, is('>'));
    } else {
      // 0xBE and 0xBF are the bytes whose value with the lowest bit set is 0xBF.
      const __m128i last_of_ffff = _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(1)),
                                                  _mm_set1_epi8(static_cast<char>(0xBF)));
      look = _mm_or_si128(
          look, _mm_or_si128(_mm_or_si128(is('&'), is(';')), _mm_or_si128(is('['), last_of_ffff)));
    }
    const int found = _mm_movemask_epi8(look);
    if (found != 0) {
      return at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(found)));
    }
  }
#endif
  const std::array<bool, 256>& look = cdata ? kLookedAtInside : kLookedAtOutside;
  while (at < text.size() && !look[static_cast<unsigned char>(text[at])]) {
    ++at;
  }
  return at;
}

// DropForbiddenXml on `text` itself: what is kept is written over what was read, never ahead of
// it, as nothing written is longer than what was read.
// Long: one in-place pass whose read and write positions must stay together.
void DropForbiddenXmlInPlace(std::string& text) {
  // Works on what it has written so far (text[0, kept)), so that dropping a character never joins
  // its neighbours into something that would itself have to go ("&\x04#4;", "&#&#4;4;"): the
  // result is clean.
  std::size_t kept = 0;
  const auto out = [&text, &kept] { return std::string_view(text.data(), kept); };
  bool in_cdata = false;
  // Where the "&"s that may still start a reference sit in what is kept; a ";" that stays ends
  // them all.
  std::vector<std::size_t> ampersands;
  const std::size_t size = text.size();
  for (std::size_t at = 0; at < size; ++at) {
    const std::size_t end = NextLookedAt(text, at, in_cdata);
    if (kept != at) {
      std::memmove(text.data() + kept, text.data() + at, end - at);
    }
    kept += end - at;
    if (end == size) {
      break;
    }
    at = end;
    const char c = text[at];
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) {
      continue;  // tab, CR and LF never need a look
    }
    text[kept++] = c;
    if (in_cdata) {
      in_cdata = !out().ends_with("]]>");
    } else if (c == '[' && out().ends_with("<![CDATA[")) {
      in_cdata = true;
      ampersands.clear();
    } else if (c == '&') {
      ampersands.push_back(kept - 1);
    } else if (c == ';' && !ampersands.empty()) {
      const std::size_t amp = ampersands.back();
      if (ForbiddenReferenceAt(out(), amp) == kept - amp) {
        kept = amp;
        ampersands.pop_back();
      } else {
        ampersands.clear();
      }
    } else if ((c == '\xBE' || c == '\xBF') && kept >= 3 &&
               out().substr(kept - 3, 2) == "\xEF\xBF") {
      kept -= 3;  // U+FFFE, U+FFFF
    }
  }
  text.resize(kept);
}

std::string Dropped(std::string text) {
  DropForbiddenXmlInPlace(text);
  return text;
}

}  // namespace

std::string DropForbiddenXml(std::string_view text) {
  return Dropped(std::string(text));
}

std::string DecodeReply(std::string_view body, std::string_view content_type) {
  switch (DetectReplyEncoding(body, content_type)) {
    case Encoding::kUtf16Le:
      if (body.starts_with("\xFF\xFE")) {
        body.remove_prefix(2);
      }
      return Dropped(Utf16ToUtf8(body, ByteOrder::kLittle));
    case Encoding::kUtf16Be:
      if (body.starts_with("\xFE\xFF")) {
        body.remove_prefix(2);
      }
      return Dropped(Utf16ToUtf8(body, ByteOrder::kBig));
    case Encoding::kWindows1252:
      return Dropped(Windows1252ToUtf8(body));
    case Encoding::kUtf8:
      break;
  }
  if (body.starts_with("\xEF\xBB\xBF")) {
    body.remove_prefix(3);
    const std::size_t bad = FindInvalidUtf8(body);
    if (bad != std::string_view::npos) {
      throw Error(
          "the reply is marked as UTF-8 but is not valid UTF-8 at byte " + std::to_string(bad + 4),
          bad + 3);
    }
  }
  return DropForbiddenXml(body);
}

Position PositionOf(std::string_view text, std::size_t offset) {
  Position position;
  offset = std::min(offset, text.size());
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++position.line;
      position.column = 1;
    } else {
      ++position.column;
    }
  }
  return position;
}

}  // namespace lirvo::encoding
