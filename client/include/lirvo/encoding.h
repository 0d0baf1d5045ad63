// Text encodings on the wire: UTF-8 checks, UTF-16 and Windows-1252 in both directions, and the
// decoder that turns a reply body, in whatever encoding it came, into clean UTF-8 text.
//
// Written by hand rather than over iconv: the four encodings involved have short, fixed rules, the
// failures must say where (byte offset) and never depend on the locale or on glibc's treatment of
// the five bytes Windows-1252 leaves undefined, and no conversion handle has to be kept.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lirvo::encoding {

// Appends the UTF-8 bytes of the code point `c` (at most U+10FFFF) to `out`.
void AppendUtf8(std::string& out, char32_t c);

// A text that is not valid in the encoding it is read in; `offset` is the byte where reading
// stopped.
class Error : public std::runtime_error {
 public:
  Error(const std::string& what, std::size_t offset) : std::runtime_error(what), offset_(offset) {}
  std::size_t offset() const noexcept { return offset_; }

 private:
  std::size_t offset_;
};

enum class ByteOrder { kLittle, kBig };

// The offset of the first byte that is not part of a valid UTF-8 sequence (overlong forms,
// surrogates and values above U+10FFFF are invalid), or std::string_view::npos.
std::size_t FindInvalidUtf8(std::string_view text);
inline bool IsValidUtf8(std::string_view text) {
  return FindInvalidUtf8(text) == std::string_view::npos;
}

// UTF-8 to UTF-16 in the given byte order, without a byte order mark. Throws Error on invalid
// UTF-8.
std::string Utf8ToUtf16(std::string_view utf8, ByteOrder order);

// The size in bytes of `utf8` in UTF-16. Throws Error on invalid UTF-8, as Utf8ToUtf16 does.
std::size_t Utf16Size(std::string_view utf8);

// Converts the characters of `utf8` from `at` into `out` (room for `room` bytes) as Utf8ToUtf16
// does, as many whole characters as surely fit (at least one while `room` is 4 or more, none
// below), advancing `at` past them; returns how many bytes it wrote. For a text sent a buffer at a
// time without being converted whole first. Throws Error on invalid UTF-8.
std::size_t Utf8ToUtf16Into(std::string_view utf8, std::size_t& at, char* out, std::size_t room,
                            ByteOrder order);

// UTF-16 bytes (without a mark) to UTF-8. Throws Error on an odd number of bytes, a pair cut off
// at the end, or a lone surrogate.
std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order);

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined (81, 8D, 8F, 90, 9D) read
// as the C1 controls of the same value, as Windows itself reads them.
std::string Windows1252ToUtf8(std::string_view bytes);

// ISO-8859-1 to UTF-8: every byte is the character of the same value.
std::string Latin1ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252, with '?' for every character the code page lacks. Throws Error on
// invalid UTF-8.
std::string Utf8ToWindows1252(std::string_view utf8);

// The offset of the first character of `utf8` that Windows-1252 lacks (one Utf8ToWindows1252
// turns into '?'), or std::string_view::npos when there is none. Throws Error on invalid UTF-8.
std::size_t FindOutsideWindows1252(std::string_view utf8);

// What a reply body was read as.
enum class Encoding { kUtf8, kUtf16Le, kUtf16Be, kWindows1252 };

// The encoding of a reply body, decided in this order:
//  1. a byte order mark (EF BB BF, FF FE, FE FF);
//  2. the charset of `content_type` (utf-8, utf-16, utf-16le, utf-16be, windows-1252,
//     iso-8859-1, us-ascii; any case, quoted or not). Under utf-8 a body that is not valid
//     UTF-8 is Windows-1252: the server writes that under a utf-8 header. Under utf-16 without a
//     mark the order is little-endian unless the bytes show big-endian;
//  3. the bytes: UTF-16 when the first two bytes are an ASCII character and a zero (in either
//     order), or when zero bytes fill a quarter of the odd (little-endian) or even (big-endian)
//     positions of the first 512 bytes and none of the others; else UTF-8 when valid; else
//     Windows-1252.
Encoding DetectReplyEncoding(std::string_view body, std::string_view content_type);

// `text` (UTF-8) without what XML 1.0 forbids: raw C0 controls other than tab, LF and CR, U+FFFE
// and U+FFFF, and character references (&#4;, &#x4;) to any of those, to NUL, to a surrogate or
// beyond U+10FFFF. Only the character or the reference is dropped; the text around it stays, so
// "&#4; Not Applicable" reads " Not Applicable". Inside CDATA sections references are text and
// stay.
std::string DropForbiddenXml(std::string_view text);

// A reply body as clean UTF-8: decoded by DetectReplyEncoding (the mark removed), then
// DropForbiddenXml. Throws Error when the body is not valid in the encoding its mark or charset
// names (a UTF-16 reply cut in the middle of a pair, an odd length).
std::string DecodeReply(std::string_view body, std::string_view content_type);

// The line and column (both from 1, column in bytes) of `offset` in `text`.
struct Position {
  std::size_t line = 1;
  std::size_t column = 1;
};
Position PositionOf(std::string_view text, std::size_t offset);

}  // namespace lirvo::encoding
