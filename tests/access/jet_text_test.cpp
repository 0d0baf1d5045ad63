// The reader's own reading of stored Access text, beside what the fixtures' rows already prove.
#include "../../access/mdbreader/jet_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Read(const std::vector<unsigned char>& bytes) {
  std::string out = "<";
  lirvo::mdbreader::AppendJetText(out, bytes.data(), bytes.size());
  return out;
}

TEST(JetText, CompressedTextSwitchesBetweenBytesAndUnits) {
  EXPECT_EQ(Read({0xFF, 0xFE, 'K', 'g', 's'}), "<Kgs");
  // "Caf" single bytes, U+00E9 as a single byte, then two-byte units for "₹" and back.
  EXPECT_EQ(Read({0xFF, 0xFE, 'C', 'a', 'f', 0xE9, 0x00, 0xB9, 0x20, 0x00, '1'}),
            "<Caf\u00e9\u20b91");
  EXPECT_EQ(Read({0xFF, 0xFE}), "<");
}

TEST(JetText, UnitsBecomeUtf8WithPairsJoined) {
  // "नग": U+0928 U+0917.
  EXPECT_EQ(Read({0x28, 0x09, 0x17, 0x09}), "<\u0928\u0917");
  // U+1F600 as a surrogate pair, between ASCII units.
  EXPECT_EQ(Read({'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'b', 0}), "<a\U0001F600b");
}

TEST(JetText, UnreadableUnitsBecomeQuestionMarksAndAZeroUnitEndsTheText) {
  EXPECT_EQ(Read({0x3D, 0xD8, 'a', 0}), "<?a");   // a high surrogate without its low half
  EXPECT_EQ(Read({'a', 0, 0x00, 0xDE}), "<a?");   // a low surrogate alone
  EXPECT_EQ(Read({'a', 0, 0x3D, 0xD8}), "<a?");   // a high surrogate at the end
  EXPECT_EQ(Read({'a', 0, 'b'}), "<a?");          // an odd last byte
  EXPECT_EQ(Read({'a', 0, 0, 0, 'b', 0}), "<a");  // a zero unit
  EXPECT_EQ(Read({0xFF, 0xFE, 'a', 0, 0x3D, 0xD8, 0, 'b'}), "<a?b");  // pair cut by a switch
}

}  // namespace
