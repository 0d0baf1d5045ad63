// Encodings: conversions, how replies are decoded, and how request files are read or refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/encoding.h>
#include <lirvo/modTally.h>

#include <iconv.h>

#include <optional>
#include <random>

#include "raw_server.h"

namespace {

namespace enc = lirvo::encoding;
using lirvo::test::Utf16Le;
using ::testing::HasSubstr;

const std::string kShree = "श्री गणेश ट्रेडर्स";

std::string Be(std::string_view utf8) {
  return enc::Utf8ToUtf16(utf8, enc::ByteOrder::kBig);
}

TEST(Encoding, Conversions) {
  // "₹" and an emoji (a surrogate pair) survive UTF-16 both ways, in both orders.
  const std::string text = "A ₹ \xF0\x9F\x98\x80 " + kShree;
  EXPECT_EQ(Utf16Le("A\xE2\x82\xB9"), std::string("A\0\xB9\x20", 4));
  EXPECT_EQ(enc::Utf16ToUtf8(Utf16Le(text), enc::ByteOrder::kLittle), text);
  EXPECT_EQ(enc::Utf16ToUtf8(Be(text), enc::ByteOrder::kBig), text);
  // Windows-1252: the euro sign and Ó map, Ł and Devanagari do not.
  EXPECT_EQ(enc::Utf8ToWindows1252("SPÓŁKA € नग"), "SP\xD3?KA \x80 ??");
  EXPECT_EQ(enc::Windows1252ToUtf8("SP\xD3KA \x80 \x81"), "SPÓKA € \xC2\x81");
  for (const std::string_view bad :
       {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xFF"}) {
    EXPECT_FALSE(enc::IsValidUtf8(bad)) << bad;
    EXPECT_THROW(enc::Utf8ToUtf16(bad, enc::ByteOrder::kLittle), enc::Error);
  }
}

// Converted a buffer at a time, whatever the buffer's size, a text comes out as converted whole,
// no buffer overrun and none left empty before the end; its size is known before.
TEST(Encoding, Utf16APieceAtATime) {
  const std::string text = "0123456789abcdefghij ₹ \xF0\x9F\x98\x80" + kShree + "ASCII to the end.";
  const std::string whole = enc::Utf8ToUtf16(text, enc::ByteOrder::kLittle);
  EXPECT_EQ(enc::Utf16Size(text), whole.size());
  for (const std::size_t room : {4, 5, 6, 7, 9, 34, 4096}) {
    std::string pieces;
    std::size_t at = 0;
    while (at < text.size()) {
      std::string buffer(room + 8, '#');
      const std::size_t written =
          enc::Utf8ToUtf16Into(text, at, buffer.data(), room, enc::ByteOrder::kLittle);
      ASSERT_GT(written, 0u) << "room " << room << " at " << at;
      ASSERT_LE(written, room) << "room " << room;
      EXPECT_EQ(buffer.substr(room), std::string(8, '#')) << "room " << room;
      pieces += buffer.substr(0, written);
    }
    EXPECT_EQ(pieces, whole) << "room " << room;
  }
  std::size_t at = 0;
  char small[3];
  EXPECT_EQ(enc::Utf8ToUtf16Into(text, at, small, sizeof small, enc::ByteOrder::kLittle), 0u);
  for (const std::string_view bad : {"\xC3", "abc\xED\xA0\x80"}) {
    EXPECT_THROW(enc::Utf16Size(bad), enc::Error) << bad;
  }
}

// Runs of ASCII of every length around other characters, through the fast paths that take 64,
// 32, 16 or 8 bytes a step: the result is iconv's, in both orders, and its size is known before.
TEST(Encoding, Utf16OfAsciiRunsOfEveryLengthIsIconvs) {
  const auto iconv_of = [](const std::string& utf8, const char* to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    std::string in = utf8, out(utf8.size() * 4, '\0');
    char* from = in.data();
    char* into = out.data();
    std::size_t left = in.size(), room = out.size();
    const std::size_t converted = iconv(cd, &from, &left, &into, &room);
    iconv_close(cd);
    EXPECT_NE(converted, static_cast<std::size_t>(-1));
    out.resize(out.size() - room);
    return out;
  };
  for (std::size_t run = 0; run <= 100; ++run) {
    const std::string text = std::string(run, static_cast<char>('a' + run % 26)) + "₹" +
                             std::string(run / 2, 'x') + "\xF0\x9F\x98\x80" +
                             std::string(130 - run, 'z');
    const std::string little = iconv_of(text, "UTF-16LE");
    EXPECT_EQ(enc::Utf8ToUtf16(text, enc::ByteOrder::kLittle), little) << "run " << run;
    EXPECT_EQ(Be(text), iconv_of(text, "UTF-16BE")) << "run " << run;
    EXPECT_EQ(enc::Utf16Size(text), little.size()) << "run " << run;
  }
}

// The references the fast paths of the decoder are held to, written one unit or byte at a time.
std::optional<std::string> SlowUtf16ToUtf8(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    const auto low = [](char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    if (low(c) || (c >= 0xD800 && c <= 0xDBFF && (i + 1 == units.size() || !low(units[i + 1])))) {
      return std::nullopt;
    }
    c = c >= 0xD800 && c <= 0xDBFF ? 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00) : c;
    enc::AppendUtf8(out, c);
  }
  return out;
}

bool Forbidden(char32_t c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0xD800 && c <= 0xDFFF) ||
         c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF;
}

// The offset and length of the first thing `text` must lose ({npos, 0} when none): a raw control,
// and outside CDATA sections U+FFFE, U+FFFF or a reference to a forbidden character.
std::pair<std::size_t, std::size_t> FirstForbidden(std::string_view text) {
  bool cdata = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::string_view rest = text.substr(at);
    if (Forbidden(static_cast<unsigned char>(text[at]))) {
      return {at, 1};
    } else if (cdata || rest.starts_with("<![CDATA[")) {
      cdata = !rest.starts_with("]]>");
    } else if (rest.starts_with("\xEF\xBF\xBE") || rest.starts_with("\xEF\xBF\xBF")) {
      return {at, 3};
    } else if (rest.starts_with("&#")) {
      const bool hex = rest.size() > 2 && (rest[2] | 0x20) == 'x';
      const std::size_t digits =
          rest.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789", hex ? 3 : 2);
      if (digits != std::string_view::npos && digits > (hex ? 3u : 2u) && rest[digits] == ';') {
        char32_t value = 0;  // saturated above the Unicode range
        for (const char d : rest.substr(hex ? 3 : 2, digits - (hex ? 3 : 2))) {
          const char32_t digit = d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10;
          value = std::min<char32_t>(value * (hex ? 16 : 10) + digit, 0x110000);
        }
        if (Forbidden(value)) {
          return {at, digits + 1};
        }
      }
    }
  }
  return {std::string_view::npos, 0};
}

std::string SlowDropForbiddenXml(std::string text) {
  while (true) {
    const auto [at, size] = FirstForbidden(text);
    if (size == 0) {
      return text;
    }
    text.erase(at, size);
  }
}

// Seeded mixes of ASCII runs and of what the decoder must treat with care, at every length up to
// 40 units and so at every place in the sixteen-unit blocks of the fast paths, in both orders.
TEST(Encoding, FastPathsDecodeAsTheOneUnitAtATimeReference) {
  const std::u16string_view pieces[] = {
      u"\t",      u"\r\n",     u"\u00E9",     u"\u00BF", u"\u0100", u"\u20B9", u"\u7F80",
      u"\uFFFE",  u"\uFFFF",   u"\U0001F600", u"\xD800", u"\xDC00", u"\x04",   u"\x1B",
      {u"\0", 1}, u"&",        u"&#",         u";",      u"#4",     u"&#4;",   u"&#x1F;",
      u"&#65;",   u"&#xfffe;", u"<![CDATA[",  u"]]>",    u"[",      u">"};
  std::mt19937 random(20240601);
  for (int round = 0; round < 4000; ++round) {
    std::u16string units;
    const std::size_t length = random() % 41;
    const unsigned sparseness = 1 + random() % 24;
    while (units.size() < length) {
      units += random() % sparseness != 0
                   ? std::u16string(1, static_cast<char16_t>(u'a' + random() % 26))
                   : std::u16string(pieces[random() % std::size(pieces)]);
    }
    const std::optional<std::string> expected = SlowUtf16ToUtf8(units);
    for (const auto order : {enc::ByteOrder::kLittle, enc::ByteOrder::kBig}) {
      std::string bytes;
      for (const char16_t u : units) {
        const char pair[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        bytes += order == enc::ByteOrder::kLittle ? std::string{pair[0], pair[1]}
                                                  : std::string{pair[1], pair[0]};
      }
      SCOPED_TRACE(::testing::PrintToString(bytes));
      if (!expected) {
        EXPECT_THROW(enc::Utf16ToUtf8(bytes, order), enc::Error);
        continue;
      }
      ASSERT_EQ(enc::Utf16ToUtf8(bytes, order), *expected);
      ASSERT_EQ(enc::DropForbiddenXml(*expected), SlowDropForbiddenXml(*expected));
    }
  }
}

TEST(Encoding, RepliesDecodeToCleanUtf8) {
  const std::string xml = "<E><N>" + kShree + "</N></E>";
  const std::string cut =
      Utf16Le("<N>\xF0\x9F\x98\x80</N>").substr(0, 8);  // ends after a high half
  const struct {
    const char* name;
    std::string body;
    const char* content_type;
    std::string expected;  // "" with `fails`
    bool fails = false;
  } cases[] = {
      {"UTF-16LE with mark", "\xFF\xFE" + Utf16Le(xml), "text/xml", xml},
      {"UTF-16LE without mark, charset", Utf16Le(xml), "text/xml; charset=UTF-16", xml},
      {"UTF-16LE without mark or charset", Utf16Le(xml), "text/xml", xml},
      {"utf-16 whose bytes tell no order is little-endian", Utf16Le("नग"),
       "text/xml;charset=utf-16", "नग"},
      {"UTF-16BE with mark", "\xFE\xFF" + Be(xml), "text/xml;charset=utf-16", xml},
      {"UTF-8 with mark", "\xEF\xBB\xBF" + xml, "", xml},
      {"UTF-8", xml, "text/xml; charset=\"utf-8\"", xml},
      {"Windows-1252 under a utf-8 header", "<N>SP\xD3?KA \x80</N>", "text/xml;charset=utf-8",
       "<N>SPÓ?KA €</N>"},
      {"forbidden references go, their blank stays", "<G>&#4; Not Applicable&#x1f;&#xFFFE;</G>",
       "text/xml", "<G> Not Applicable</G>"},
      {"allowed references and CDATA stay", "<G>&#9;&#x41;<![CDATA[&#4;]]>&#1114112;</G>", "",
       "<G>&#9;&#x41;<![CDATA[&#4;]]></G>"},
      {"raw controls go, tab CR LF stay", std::string("<G>a\x04\x00\x1b\t\r\nb</G>", 15), "",
       "<G>a\t\r\nb</G>"},
      {"UTF-16 controls go too", "\xFF\xFE" + Utf16Le("<G>\x04x</G>"), "", "<G>x</G>"},
      {"cut in the middle of a UTF-16 pair", "\xFF\xFE" + cut, "", "", true},
      {"odd number of UTF-16 bytes", Utf16Le(xml) + "<", "text/xml;charset=utf-16", "", true},
      {"UTF-8 mark over bytes that are not UTF-8", "\xEF\xBB\xBF\xFF", "", "", true},
      {"empty", "", "text/xml;charset=utf-16", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fails) {
      EXPECT_THROW(enc::DecodeReply(c.body, c.content_type), enc::Error);
    } else {
      EXPECT_EQ(enc::DecodeReply(c.body, c.content_type), c.expected);
    }
  }
}

TEST(RequestFiles, ReadInTheirEncodingOrRefused) {
  const lirvo::test::TempDir dir("lirvo-request-files");
  const std::string body = "<E><N>" + kShree + " &amp; ₹</N></E>";
  const struct {
    const char* name;
    std::string bytes;
    std::string expected;  // the text read, or a piece of the failure's description
    bool fails = false;
  } cases[] = {
      {"UTF-16LE with mark", "\xFF\xFE" + Utf16Le(body), body},
      {"UTF-16BE with mark", "\xFE\xFF" + Be(body), body},
      {"UTF-8 with mark, byte for byte", "\xEF\xBB\xBF" + body, "\xEF\xBB\xBF" + body},
      {"UTF-8, byte for byte", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + body,
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + body},
      {"declared windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><N>\x80 \xD3</N>",
       "<?xml version=\"1.0\"?><N>€ Ó</N>"},
      {"'&' in CDATA and comments is text", "<E><!-- & --><![CDATA[a & b]]></E>",
       "<E><!-- & --><![CDATA[a & b]]></E>"},
      {"declared utf-16", Utf16Le("<?xml version=\"1.0\" encoding='UTF-16'?>" + body),
       "<?xml version=\"1.0\"?>" + body},
      {"bare &", "<E>\r\n<N>Chandra & Sons</N></E>", "line 2, column 12: a bare \"&\"", true},
      {"undefined entity", "<E><N>&xxe;</N></E>", "line 1, column 7: \"&xxe;\" is not a defined",
       true},
      {"forbidden reference", "<E><N>&#4;</N></E>", "column 7", true},
      {"document type declaration", "<!DOCTYPE E [<!ENTITY x \"y\">]><E/>", "document type", true},
      {"bytes that are not UTF-8", "<E>\n<N>caf\xE9</N></E>", "line 2, column 7", true},
      {"cut UTF-16", "\xFF\xFE" + Utf16Le("<E>") + "\x3C", "not UTF-16", true},
      {"unknown declared encoding", "<?xml version=\"1.0\" encoding=\"koi8-r\"?><E/>", "koi8-r",
       true},
      {"declared utf-16, written in one byte", "<?xml version='1.0' encoding='utf-16'?><E/>",
       "not UTF-16", true},
      {"not well-formed", "<E><N></E>", "not well-formed", true},
      {"two roots", "<E/><F/>", "exactly one root", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir.File("request.xml");
    lirvo::test::WriteFile(file, c.bytes);
    if (!c.fails) {
      EXPECT_EQ(modTally::LoadRequestFile(file), c.expected);
      continue;
    }
    try {
      modTally::LoadRequestFile(file);
      ADD_FAILURE() << "expected a refusal";
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.kind(), modTally::FailureKind::Reply);
      EXPECT_THAT(failure.description(), HasSubstr(c.expected));
      EXPECT_THAT(failure.description(), HasSubstr(file.string()));
    }
  }
}

TEST(RequestFiles, FileProblemsGiveTheSystemsReason) {
  const lirvo::test::TempDir dir("lirvo-request-files");
  const auto large = dir.File("large.xml");
  lirvo::test::WriteFile(large, "<E>" + std::string(modTally::kMaxRequestBytes, ' ') + "</E>");
  const struct {
    std::filesystem::path path;
    const char* reason;
  } cases[] = {
      {dir.File("missing.xml"), "No such file or directory"},
      {dir.path(), "Is a directory"},
      {large, "16 MiB"},
  };
  for (const auto& c : cases) {
    try {
      modTally::LoadRequestFile(c.path);
      ADD_FAILURE() << "expected a failure for " << c.path;
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.kind(), modTally::FailureKind::File);
      EXPECT_THAT(failure.description(),
                  HasSubstr("cannot read the request file " + c.path.string() + ": "));
      EXPECT_THAT(failure.description(), HasSubstr(c.reason));
    }
  }
}

}  // namespace
