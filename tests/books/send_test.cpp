// Sending: the layout the server receives, requests that never leave, the reply as it came, and
// how import replies are judged.
#include <atomic>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/books/judge.h>
#include <lirvo/books/send.h>

#include "raw_server.h"

namespace {

using lirvo::books::SendToTally;
using lirvo::test::RawServer;

class Sending : public ::testing::Test {
 protected:
  void SetUp() override { modTally::TallyUrl = server_.url(); }
  void TearDown() override { modTally::TallyUrl.clear(); }

  // The body the server received for `request` (sent as UTF-8, so the bytes are the text); the
  // reply comes back exactly as it was sent.
  std::string Sent(const std::string& request) {
    const lirvo::test::ScopedEnv wire("LIRVO_TALLY_ENCODING", "utf-8");
    const std::size_t before = server_.requests().size();
    EXPECT_EQ(SendToTally(request), kReply);
    const auto requests = server_.requests();
    EXPECT_EQ(requests.size(), before + 1);
    return requests.empty() ? std::string() : lirvo::test::BodyOf(requests.back());
  }

  static constexpr const char* kReply = " <RESPONSE>\r\n <X>raw  text</X></RESPONSE>\n\n";
  RawServer server_ = RawServer::Replying(RawServer::HttpReply(200, kReply));
};

TEST_F(Sending, LaysTheRequestOutOneElementPerLine) {
  const struct {
    const char* name;
    const char* request;
    const char* sent;
  } cases[] = {
      {"nested elements", "<A><B>x</B><C><D/></C></A>",
       "<A>\r\n  <B>x</B>\r\n  <C>\r\n    <D/>\r\n  </C>\r\n</A>"},
      {"the same request already laid out", "<A>\n    <B>x</B>\n\t<C>\r\n<D/>   </C>\n</A>\n",
       "<A>\r\n  <B>x</B>\r\n  <C>\r\n    <D/>\r\n  </C>\r\n</A>"},
      {"root holding only text", "<R>some text</R>", "<R>some text</R>"},
      {"empty root", "<R/>", "<R/>"},
      {"mixed content", "<R>t<B/></R>", "<R>\r\nt  <B/>\r\n</R>"},
      {"attributes and leaf texts untouched",
       "<R a=\"two  blanks &amp; more\"><L k='v'>  padded  &lt;text&gt; </L><E/></R>",
       "<R a=\"two  blanks &amp; more\">\r\n  <L k=\"v\">  padded  &lt;text&gt; </L>\r\n  <E/>\r\n"
       "</R>"},
      {"siblings at several depths", "<A><B><C>1</C><C>2</C></B><B/></A>",
       "<A>\r\n  <B>\r\n    <C>1</C>\r\n    <C>2</C>\r\n  </B>\r\n  <B/>\r\n</A>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Sent(c.request), c.sent);
  }
}

// Leaves are written exactly as the document writer writes them (escaping and CDATA included);
// what a caller may build beyond elements and text is written as the writer does, laid out like
// a leaf; the document itself is never changed.
TEST(Layout, WritesValuesAsTheDocumentWriterDoes) {
  std::string every_character;
  for (int c = 1; c < 256; ++c) {
    every_character += static_cast<char>(c);
  }
  pugi::xml_document leaves[3];
  leaves[0].append_child("R").append_attribute("all").set_value(every_character.c_str());
  leaves[1].append_child("T").text().set(every_character.c_str());
  pugi::xml_node mixed = leaves[2].append_child("M");
  mixed.append_child(pugi::node_pcdata).set_value("a\r\n<b>&");
  mixed.append_child(pugi::node_cdata).set_value("x]]>y]]>");
  mixed.append_child(pugi::node_cdata).set_value("");
  for (const pugi::xml_document& leaf : leaves) {
    EXPECT_EQ(lirvo::books::LaidOutXml(leaf), modTally::DocumentXml(leaf));
  }
  pugi::xml_document built;
  built.append_child(pugi::node_comment).set_value("before");
  pugi::xml_node root = built.append_child("R");
  root.append_child(pugi::node_comment).set_value("note");
  root.append_child("A").text().set("1");
  root.append_child("E").append_attribute("q").set_value("\"'<>&\t");
  const std::string before = modTally::DocumentXml(built);
  EXPECT_EQ(lirvo::books::LaidOutXml(built),
            "<!--before--><R>\r\n  <!--note-->\r\n  <A>1</A>\r\n  <E q=\"&quot;'&lt;>&amp;&#09;\"/>"
            "\r\n</R>");
  EXPECT_EQ(modTally::DocumentXml(built), before) << "the document was changed";
  EXPECT_THROW(lirvo::books::LaidOutXml(pugi::xml_document()), modTally::Failure);  // empty
}

std::string Nested(int levels, int leaves) {
  std::string text;
  for (int i = 0; i < levels; ++i) {
    text += "<a>";
  }
  for (int i = 0; i < leaves; ++i) {
    text += "<b/>";
  }
  for (int i = 0; i < levels; ++i) {
    text += "</a>";
  }
  return text;
}

// The indentation grows with the level, so the level is bounded: what is laid out stays within a
// small multiple of the request. A request nested deeper, or not well-formed, never leaves.
TEST_F(Sending, RequestThatCannotBeSentNeverReachesTheServer) {
  for (const auto& [levels, leaves] : {std::pair{100, 0}, std::pair{99, 10'000}}) {
    pugi::xml_document document;
    ASSERT_TRUE(modTally::LoadXml(document, Nested(levels, leaves)));
    EXPECT_LE(lirvo::books::LaidOutXml(document).size(), 64 * Nested(levels, leaves).size());
  }
  const struct {
    std::string request;
    int number;
    const char* says;
  } cases[] = {
      {"<A><B></A>", modTally::FailureNumber::kParse, "not well-formed"},
      {"<A>1 < 2</A>", modTally::FailureNumber::kParse, "not well-formed"},
      {"", modTally::FailureNumber::kParse, "not well-formed"},
      {Nested(100, 1), modTally::FailureNumber::kDepth, "nests 101 levels deep; at most 100"},
      {Nested(20'000, 0), modTally::FailureNumber::kDepth, "nests 20000 levels deep"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(
        [&] { SendToTally(c.request); },
        ::testing::Throws<modTally::Failure>(::testing::AllOf(
            ::testing::Property(&modTally::Failure::number, c.number),
            ::testing::Property(&modTally::Failure::description, ::testing::HasSubstr(c.says)))))
        << c.request.substr(0, 20);
  }
  EXPECT_EQ(server_.requests().size(), 0u);
  // The address given is the one used, whatever TallyUrl holds; the status comes back.
  modTally::TallyUrl = "http://127.0.0.1:1";
  RawServer other = RawServer::Replying(RawServer::HttpReply(500, "<RESPONSE/>"));
  EXPECT_EQ(lirvo::books::SendRequest(modTally::Server{other.url()}, "<A/>").status, 500);
  EXPECT_EQ(other.requests().size(), 1u);
}

// The server value rules the request: its encoding whatever the environment says, and its cancel
// flag, which abandons a request in hand at once and keeps one not yet sent from leaving.
TEST_F(Sending, TheServerValueGivesTheEncodingAndTheCancelFlag) {
  const lirvo::test::ScopedEnv wire("LIRVO_TALLY_ENCODING", "utf-16");
  modTally::Server server{server_.url()};
  server.encoding = modTally::WireEncoding::kUtf8;
  EXPECT_EQ(lirvo::books::SendRequest(server, "<A><B>\u00e9</B></A>").text, kReply);
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(lirvo::test::BodyOf(server_.requests()[0]), "<A>\r\n  <B>\u00e9</B>\r\n</A>");

  std::atomic<bool> received{false};
  RawServer silent([&](int fd, const std::string&) {
    received = true;
    silent.Hold(fd);
  });
  server.url = silent.url();
  server.imports.total_ms = 5'000;  // a request not cancelled in hand would time out instead
  server.cancelled = [&received] { return received.load(); };
  for (int attempt = 0; attempt < 2; ++attempt) {  // raised while in hand, then before
    EXPECT_THAT([&] { lirvo::books::SendRequest(server, "<A/>"); },
                ::testing::Throws<modTally::Failure>(::testing::Property(
                    &modTally::Failure::kind, modTally::FailureKind::Cancelled)));
    EXPECT_EQ(silent.requests().size(), 1u);
  }
}

// Each reply judged for a request of `objects` objects (-1: unknown, as IsRejection does).
TEST(ImportReply, OnlyCountersThatAccountForEveryObjectSentAreAnAcceptance) {
  using Outcome = lirvo::books::ImportOutcome;
  constexpr auto A = Outcome::kAccepted, R = Outcome::kRejected, N = Outcome::kNotImportReply;
  constexpr const char* kDone =
      "<RESPONSE><CREATED>1</CREATED><ALTERED>0</ALTERED><ERRORS>0</ERRORS>"
      "<EXCEPTIONS>0</EXCEPTIONS></RESPONSE>";
  constexpr const char* kNotImport = "the server's reply is not an import response: ";
  const struct {
    const char* text;
    Outcome outcome;
    const char* reason = "";  // the start of the reason (after kNotImport for N below 400)
    long objects = -1;
    long deletions = 0;
    long status = 200;
  } cases[] = {
      {kDone, A},
      {kDone, A, "", 1},
      {"<RESPONSE><ALTERED>2</ALTERED><IGNORED>0</IGNORED></RESPONSE>", A},
      {"<ENVELOPE><HEADER/><BODY><DATA><IMPORTRESULT><CREATED>1</CREATED><ERRORS>0</ERRORS>"
       "</IMPORTRESULT></DATA></BODY></ENVELOPE>",
       A},
      {"<RESPONSE><CREATED>2</CREATED><ALTERED>1</ALTERED><COMBINED>1</COMBINED></RESPONSE>", A, "",
       4},
      {"<RESPONSE><DELETED>1</DELETED></RESPONSE>", A, "", 1, 1},
      // Something sent is not in the books as sent.
      {"<RESPONSE><CREATED>0</CREATED><IGNORED>3</IGNORED><ERRORS>0</ERRORS></RESPONSE>", R,
       "the server ignored 3 of the 3 objects sent", 3},
      {"<ENVELOPE><BODY><DATA><IGNORED>1</IGNORED></DATA></BODY></ENVELOPE>", R,
       "the server ignored 1 (IGNORED 1)"},
      {"<RESPONSE><CREATED>1</CREATED><CANCELLED>1</CANCELLED></RESPONSE>", R,
       "the server cancelled 1 of the 2 objects sent", 2},
      {"<RESPONSE><CREATED>4</CREATED><ERRORS>0</ERRORS></RESPONSE>", R,
       "the server's counters account for 4 of the 5 objects sent (CREATED 4, ALTERED 0, "
       "COMBINED 0)",
       5},
      {"<RESPONSE><DELETED>1</DELETED></RESPONSE>", R, "the server's counters account for 0", 1},
      {"<RESPONSE><CREATED>1e400</CREATED><IGNORED>1e400</IGNORED></RESPONSE>", R,
       "the server ignored", 1},
      {"<RESPONSE><CREATED>1e400</CREATED><ALTERED>1</ALTERED></RESPONSE>", R,
       "the server's counters account for 1 of the 2 objects sent", 2},
      {"<RESPONSE><CREATED>0</CREATED><ERRORS>0</ERRORS></RESPONSE>", R,
       "the server's counters account for none of the objects sent"},
      // Seventeen ledgers refused: counted per object, with no LINEERROR.
      {"<RESPONSE><CREATED>0</CREATED><ERRORS>0</ERRORS><EXCEPTIONS>17</EXCEPTIONS></RESPONSE>", R,
       "the server counted 17 EXCEPTIONS", 17},
      // The server's word wins over its counters.
      {"<RESPONSE><ERRORS>1</ERRORS><LINEERROR>Ledger 'X' does not exist!</LINEERROR></RESPONSE>",
       R, "Ledger 'X' does not exist!"},
      {"<RESPONSE><CREATED>1</CREATED><ERRORS>0</ERRORS><LINEERROR>Voucher totals do not match!"
       "</LINEERROR></RESPONSE>",
       R, "Voucher totals do not match!", 1},
      {"<ENVELOPE><BODY><DATA><IMPORTRESULT><ERRORS>3</ERRORS></IMPORTRESULT></DATA></BODY>"
       "</ENVELOPE>",
       R, "the server counted 3 ERRORS"},
      {"<RESPONSE><CREATED>1</CREATED><EXCEPTIONS>1</EXCEPTIONS></RESPONSE>", R,
       "the server counted 1 EXCEPTIONS"},
      {"<RESPONSE>Unknown Request, cannot be processed</RESPONSE>", R, "Unknown Request"},
      {"<RESPONSE/>", R, "the server answered with an empty RESPONSE"},
      {"<ENVELOPE><HEADER><STATUS>0</STATUS></HEADER><BODY><DATA>DESC not found </DATA></BODY>"
       "</ENVELOPE>",
       R, "DESC not found", 1},
      // Not an import reply at all.
      {"<RESPONSE><CREATED>1</CREATED><ERRORS>0</ERRORS></RESPONSE>", N, "HTTP status 500", -1, 0,
       500},
      {kDone, N, "HTTP status 400", -1, 0, 400},
      {"<html><body>Too large</body></html>", N, "HTTP status 413: an HTML page", -1, 0, 413},
      {"", N, "HTTP 302 to http://elsewhere/, empty body", -1, 0, 302},
      {"", N, "empty body", 1},
      {"fine", N, "not XML (\"fine\")"},
      {"<!DOCTYPE html><html><p>It works!</p></html>", N, "an HTML page", 200},
      {"<A><CREATED>1</CREATED></A>", N, "an XML document whose root is <A>"},
      {"<ENVELOPE><BODY/></ENVELOPE>", N, "an XML document whose root is <ENVELOPE>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.objects) + " objects: " + c.text);
    const modTally::Reply reply{c.status, "Location: http://elsewhere/\r\n", c.text};
    const auto sent = c.objects < 0
                          ? std::nullopt
                          : std::optional(lirvo::books::SentObjects{c.objects, c.deletions, {}});
    const auto verdict = lirvo::books::JudgeImport(reply, sent);
    EXPECT_EQ(verdict.outcome, c.outcome) << verdict.reason;
    const bool prefixed = c.outcome == N && c.status < 400;
    EXPECT_THAT(verdict.reason,
                ::testing::StartsWith(std::string(prefixed ? kNotImport : "") + c.reason));
    if (c.objects < 0) {
      EXPECT_EQ(lirvo::books::IsRejection(reply), c.outcome != A);
      EXPECT_EQ(lirvo::books::RejectionText(reply), verdict.reason);
    }
  }
}

// What a request carries is counted from its TALLYMESSAGEs; a lone master answered IGNORED is
// named as one the server already holds and left alone.
TEST(ImportReply, ObjectsSentAreCountedAndALoneIgnoredMasterNamed) {
  const auto sent = lirvo::books::CountSentObjects(
      "<ENVELOPE><BODY><DATA><TALLYMESSAGE><VOUCHER REMOTEID=\"V1\"/><VOUCHER/></TALLYMESSAGE>"
      "<TALLYMESSAGE><LEDGER NAME=\"Old\" ACTION=\"Delete\"/></TALLYMESSAGE></DATA></BODY>"
      "</ENVELOPE>");
  EXPECT_EQ(sent.objects, 3);
  EXPECT_EQ(sent.deletions, 1);
  EXPECT_EQ(sent.only, "");
  const auto one = lirvo::books::CountSentObjects(
      "<E><TALLYMESSAGE><STOCKITEM><NAME.LIST><NAME>Fan &amp; Co</NAME></NAME.LIST></STOCKITEM>"
      "</TALLYMESSAGE></E>");
  EXPECT_EQ(one.objects, 1);
  const modTally::Reply ignored{200, "", "<RESPONSE><IGNORED>1</IGNORED></RESPONSE>"};
  EXPECT_EQ(lirvo::books::JudgeImport(ignored, one).reason,
            "the server says it already holds stock item \"Fan & Co\" and left it alone "
            "(IGNORED 1), so it is not as sent");
}

}  // namespace
