// Sending: the layout the server receives, requests that never leave, the reply as it came, and
// how import replies are judged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/transfer.h>

#include "raw_server.h"

namespace {

using lirvo::transfer::SendToTally;
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
    const auto body = requests.empty() ? std::string::npos : requests.back().find("\r\n\r\n");
    return body == std::string::npos ? std::string() : requests.back().substr(body + 4);
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

// The send path writes the layout in one pass; it must give exactly the text that laying out the
// document node by node (FormatXml) and writing it would give, escaping included, and leave the
// document as it was. (The cases above check the common shapes through the send path.)
TEST(Layout, OnePassWritesWhatFormatXmlThenSavingWrites) {
  std::string every_character;
  for (int c = 1; c < 256; ++c) {
    every_character += static_cast<char>(c);
  }
  pugi::xml_document documents[2];
  pugi::xml_node root = documents[0].append_child("R");
  root.append_attribute("all").set_value(every_character.c_str());
  root.append_child("T").text().set(every_character.c_str());
  pugi::xml_node mixed = root.append_child("M");
  mixed.append_child(pugi::node_pcdata).set_value("a\r\n<b>&");
  mixed.append_child(pugi::node_cdata).set_value("x]]>y]]>");
  mixed.append_child("E").append_attribute("q").set_value("\"'<>&\t");
  mixed.append_child(pugi::node_cdata).set_value("");
  root.append_child("Only").append_child(pugi::node_cdata).set_value("c]]");
  root = documents[1].append_child("R");  // a comment: laid out node by node
  root.append_child(pugi::node_comment).set_value("note");
  root.append_child("A").text().set("1");
  for (const pugi::xml_document& document : documents) {
    const std::string before = modTally::DocumentXml(document);
    pugi::xml_document formatted;
    formatted.reset(document);
    lirvo::transfer::FormatXml(formatted);
    EXPECT_EQ(lirvo::transfer::LaidOutXml(document), modTally::DocumentXml(formatted)) << before;
    EXPECT_EQ(modTally::DocumentXml(document), before) << "the document was changed";
  }
  EXPECT_THROW(lirvo::transfer::LaidOutXml(pugi::xml_document()), modTally::Failure);  // empty
}

TEST_F(Sending, RequestThatCannotBeSentNeverReachesTheServer) {
  std::string open, close;
  for (int i = 0; i < 16384; ++i) {
    open += "<a>";
    close += "</a>";
  }
  const std::pair<std::string, int> cases[] = {
      {"<A><B></A>", modTally::FailureNumber::kParse},
      {"<A>1 < 2</A>", modTally::FailureNumber::kParse},
      {"", modTally::FailureNumber::kParse},
      // The innermost element's text would sit 32768 blanks deep.
      {open + "x" + close, modTally::FailureNumber::kDepth},
  };
  for (const auto& [request, number] : cases) {
    EXPECT_THAT([&] { SendToTally(request); },
                ::testing::Throws<modTally::Failure>(
                    ::testing::Property(&modTally::Failure::number, number)))
        << request.substr(0, 20);
  }
  EXPECT_EQ(server_.requests().size(), 0u);
}

TEST(SendingReply, KeepsItsHttpStatus) {
  RawServer server = RawServer::Replying(RawServer::HttpReply(500, "<RESPONSE/>"));
  modTally::TallyUrl = server.url();
  EXPECT_EQ(lirvo::transfer::SendRequest("<A/>").status, 500);
  modTally::TallyUrl.clear();
}

TEST(ImportReply, RejectionsAreRecognisedAndExplained) {
  const struct {
    long status;
    const char* text;
    const char* reason;  // a part of RejectionText; null when not a rejection
  } cases[] = {
      {200, "<RESPONSE><CREATED>1</CREATED><ERRORS>0</ERRORS><EXCEPTIONS>0</EXCEPTIONS></RESPONSE>",
       nullptr},
      {200, "fine", nullptr},
      {200,
       "<RESPONSE><ERRORS>1</ERRORS><LINEERROR>Ledger 'X' does not exist!</LINEERROR></RESPONSE>",
       "Ledger 'X' does not exist!"},
      {200,
       "<ENVELOPE><BODY><DATA><IMPORTRESULT><ERRORS>3</ERRORS></IMPORTRESULT></DATA></BODY>"
       "</ENVELOPE>",
       "3 ERRORS"},
      {200, "<RESPONSE><ERRORS>0</ERRORS><EXCEPTIONS>1</EXCEPTIONS></RESPONSE>", "1 EXCEPTIONS"},
      {200, "<RESPONSE>Unknown Request, cannot be processed</RESPONSE>", "Unknown Request"},
      {500, "<RESPONSE><CREATED>1</CREATED><ERRORS>0</ERRORS></RESPONSE>", "HTTP status 500"},
  };
  for (const auto& c : cases) {
    const modTally::Reply reply{c.status, "", c.text};
    EXPECT_EQ(lirvo::transfer::IsRejection(reply), c.reason != nullptr) << c.text;
    if (c.reason != nullptr) {
      EXPECT_THAT(lirvo::transfer::RejectionText(reply), ::testing::HasSubstr(c.reason));
    }
  }
}

}  // namespace
