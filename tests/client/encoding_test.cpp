// Encodings: conversions, how replies are decoded, and how request files are read or refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/encoding.h>
#include <lirvo/modTally.h>

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
