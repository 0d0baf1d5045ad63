// How the database reader lirvo-mdb-reader talks to the library over its standard output: a
// stream of frames, each a 4-byte little-endian length, a 1-byte kind and `length` bytes of
// payload. A payload is a run of fields, each a 4-byte little-endian length and its bytes; a null
// field has the length kNullField and no bytes.
//
//   kTables    the names of the database's tables, one field each (the "tables" command)
//   kHeader    the row count in decimal, then per column its name and, for a column whose type
//              has no text form, what it holds ("OLE objects"); a null field otherwise
//   kRow       one field per column of the header, null for a null
//   kProgress  no payload: the reader is still at work (sent while DISTINCT reads the table)
//   kError     the failure number in decimal and its description; the reader then exits 1
//   kDone      no payload: everything was sent; the reader then exits 0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lirvo::access::frames {

enum Kind : char {
  kTables = 'T',
  kHeader = 'H',
  kRow = 'R',
  kProgress = 'P',
  kError = 'E',
  kDone = 'D',
};

inline constexpr std::uint32_t kNullField = 0xffffffffu;
// The largest frame either side accepts: a memo is at most 1 GB in Access, but a transfer has no
// use for one beyond this, and a damaged length must not make the library allocate gigabytes.
inline constexpr std::uint32_t kMaxFrame = 64u * 1024u * 1024u;
inline constexpr std::size_t kPrefix = 5;  // length and kind

inline void AppendUint32(std::string& out, std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
                         static_cast<char>((value >> 16) & 0xff),
                         static_cast<char>((value >> 24) & 0xff)};
  out.append(bytes, 4);
}

inline std::uint32_t ReadUint32(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// Starts a frame of `kind` in `out`; FinishFrame fills in its length once the fields are in.
inline std::size_t StartFrame(std::string& out, Kind kind) {
  const std::size_t at = out.size();
  AppendUint32(out, 0);
  out.push_back(kind);
  return at;
}

inline void FinishFrame(std::string& out, std::size_t at) {
  const auto length = static_cast<std::uint32_t>(out.size() - at - kPrefix);
  for (std::size_t i = 0; i < 4; ++i) {
    out[at + i] = static_cast<char>((length >> (8 * i)) & 0xff);
  }
}

inline void AppendField(std::string& out, std::string_view field) {
  AppendUint32(out, static_cast<std::uint32_t>(field.size()));
  out.append(field);
}

inline void AppendNull(std::string& out) {
  AppendUint32(out, kNullField);
}

// Takes the next field off the front of `payload`. False when the payload ends inside a field or
// has no field left.
inline bool TakeField(std::string_view& payload, std::optional<std::string_view>& field) {
  if (payload.size() < 4) {
    return false;
  }
  const std::uint32_t length = ReadUint32(payload.data());
  payload.remove_prefix(4);
  if (length == kNullField) {
    field.reset();
    return true;
  }
  if (length > payload.size()) {
    return false;
  }
  field = payload.substr(0, length);
  payload.remove_prefix(length);
  return true;
}

}  // namespace lirvo::access::frames
