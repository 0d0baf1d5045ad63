#include "jet_text.h"

#include <lirvo/encoding.h>

namespace lirvo::mdbreader {

namespace {

bool HighSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool LowSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// UTF-16 units written out as UTF-8, a surrogate pair joined into its character.
class Units {
 public:
  explicit Units(std::string& out) : out_(out) {}

  // One unit; false at a zero unit, which ends the text.
  bool Add(char32_t unit) {
    if (high_ != 0) {
      const char32_t high = high_;
      high_ = 0;
      if (LowSurrogate(unit)) {
        encoding::AppendUtf8(out_, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
        return true;
      }
      out_ += '?';
    }
    if (unit == 0) {
      return false;
    }
    if (HighSurrogate(unit)) {
      high_ = unit;
    } else if (LowSurrogate(unit)) {
      out_ += '?';
    } else {
      encoding::AppendUtf8(out_, unit);
    }
    return true;
  }

  // Before text that does not come unit by unit: a high surrogate left waiting is unreadable.
  void Finish() {
    if (high_ != 0) {
      out_ += '?';
      high_ = 0;
    }
  }

 private:
  std::string& out_;
  char32_t high_ = 0;  // a high surrogate waiting for its low half
};

}  // namespace

void AppendJetText(std::string& out, const unsigned char* bytes, std::size_t size) {
  Units units(out);
  const bool compressed = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  bool single = compressed;
  std::size_t at = compressed ? 2 : 0;
  while (at < size) {
    if (compressed && bytes[at] == 0) {
      single = !single;
      ++at;
    } else if (single && bytes[at] < 0x80) {
      // Most text is ASCII: copied a run at a time.
      const std::size_t run = at;
      while (at < size && bytes[at] != 0 && bytes[at] < 0x80) {
        ++at;
      }
      units.Finish();
      out.append(reinterpret_cast<const char*>(bytes + run), at - run);
    } else if (single) {
      units.Add(bytes[at]);
      ++at;
    } else if (at + 1 == size) {
      units.Finish();
      out += '?';
      ++at;
    } else if (!units.Add(static_cast<char32_t>(bytes[at] | (bytes[at + 1] << 8)))) {
      return;
    } else {
      at += 2;
    }
  }
  units.Finish();
}

}  // namespace lirvo::mdbreader
