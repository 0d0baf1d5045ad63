// Sending: the layout the server receives, requests that never leave, the reply as it came, and
// how import replies are judged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include <lirvo/transfer.h>

#include "raw_server.h"

namespace {

using lirvo::demo::IsRejection;
using lirvo::demo::RejectionText;
using lirvo::demo::SendRequest;
using lirvo::demo::SendToTally;
using lirvo::test::RawServer;

std::string Body(const std::string& raw_request) {
  const auto end_of_headers = raw_request.find("\r\n\r\n");
  return end_of_headers == std::string::npos ? std::string()
                                             : raw_request.substr(end_of_headers + 4);
}

class Sending : public ::testing::Test {
 protected:
  void SetUp() override { modTally::TallyUrl = server_.url(); }
  void TearDown() override { modTally::TallyUrl.clear(); }

  // What the server received for `request`.
  std::string Sent(const std::string& request) {
    const std::size_t before = server_.requests().size();
    SendToTally(request);
    const auto requests = server_.requests();
    EXPECT_EQ(requests.size(), before + 1);
    return requests.empty() ? std::string() : Body(requests.back());
  }

  RawServer server_ = RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE>ok</RESPONSE>"));
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
// document node by node (FormatXml) and writing it would give, escaping included.
TEST(Layout, OnePassWritesWhatFormatXmlThenSavingWrites) {
  std::string every_character;
  for (int c = 1; c < 256; ++c) {
    every_character += static_cast<char>(c);
  }
  const auto with_values = [&](pugi::xml_document& document) {
    pugi::xml_node root = document.append_child("R");
    root.append_attribute("all").set_value(every_character.c_str());
    root.append_child("T").text().set(every_character.c_str());
    pugi::xml_node mixed = root.append_child("M");
    mixed.append_child(pugi::node_pcdata).set_value("a\r\n<b>&");
    mixed.append_child(pugi::node_cdata).set_value("x]]>y]]>");
    mixed.append_child("E").append_attribute("q").set_value("\"'<>&\t");
    mixed.append_child(pugi::node_cdata).set_value("");
    root.append_child("Only").append_child(pugi::node_cdata).set_value("c]]");
  };
  const struct {
    const char* name;
    std::function<void(pugi::xml_document&)> build;
  } cases[] = {
      {"every character in text and attributes", with_values},
      {"a request as loaded",
       [](pugi::xml_document& document) {
         modTally::LoadXml(document,
                           "<ENVELOPE><HEADER><X a=\"1\">v</X></HEADER><BODY><D/><E></E>"
                           "<L><M><N>deep</N></M></L>t</BODY></ENVELOPE>");
       }},
      {"root holding only text",
       [](pugi::xml_document& document) { modTally::LoadXml(document, "<R>only</R>"); }},
      {"empty root", [](pugi::xml_document& document) { document.append_child("R"); }},
      {"a comment, laid out node by node",
       [](pugi::xml_document& document) {
         pugi::xml_node root = document.append_child("R");
         root.append_child(pugi::node_comment).set_value("note");
         root.append_child("A").text().set("1");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pugi::xml_document document;
    c.build(document);
    const std::string before = modTally::DocumentXml(document);
    pugi::xml_document formatted;
    formatted.reset(document);
    lirvo::demo::FormatXml(formatted);
    EXPECT_EQ(lirvo::demo::LaidOutXml(document), modTally::DocumentXml(formatted));
    EXPECT_EQ(modTally::DocumentXml(document), before) << "the document was changed";
  }
  pugi::xml_document empty;
  try {
    lirvo::demo::LaidOutXml(empty);
    ADD_FAILURE() << "an empty document was laid out";
  } catch (const modTally::Failure& failure) {
    EXPECT_EQ(failure.number(), modTally::FailureNumber::kDocument);
  }
}

TEST_F(Sending, RequestThatCannotBeSentNeverReachesTheServer) {
  const std::string too_deep = [] {
    std::string text;
    for (int i = 0; i < 16384; ++i) {
      text += "<a>";
    }
    text += "x";  // the innermost element's text would sit 32768 blanks deep
    for (int i = 0; i < 16384; ++i) {
      text += "</a>";
    }
    return text;
  }();
  const struct {
    const char* name;
    std::string request;
    int number;
  } cases[] = {
      {"unclosed element", "<A><B></A>", modTally::FailureNumber::kParse},
      {"a bare less-than sign", "<A>1 < 2</A>", modTally::FailureNumber::kParse},
      {"empty text", "", modTally::FailureNumber::kParse},
      {"nested too deeply", too_deep, modTally::FailureNumber::kDepth},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      SendToTally(c.request);
      ADD_FAILURE() << "sent";
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(failure.number(), c.number) << failure.what();
    }
  }
  EXPECT_TRUE(server_.requests().empty());
}

TEST(SendingReply, ComesBackExactlyAsReceivedWithItsStatus) {
  const std::string body = " <ENVELOPE>\r\n <X>raw  text</X></ENVELOPE>\n\n";
  RawServer server = RawServer::Replying(RawServer::HttpReply(500, body));
  modTally::TallyUrl = server.url();
  const modTally::Reply reply = SendRequest("<A/>");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.text, body);
  EXPECT_EQ(SendToTally("<A/>"), body);
  modTally::TallyUrl.clear();
}

TEST(ImportReply, RejectionsAreRecognisedAndExplained) {
  const struct {
    const char* name;
    long status;
    const char* text;
    bool rejected;
    const char* reason;  // a part of RejectionText when rejected
  } cases[] = {
      {"all created", 200,
       "<RESPONSE><CREATED>1</CREATED><ALTERED>0</ALTERED><ERRORS>0</ERRORS>"
       "<EXCEPTIONS>0</EXCEPTIONS></RESPONSE>",
       false, ""},
      {"not XML", 200, "fine", false, ""},
      {"a line error", 200,
       "<RESPONSE><CREATED>0</CREATED><ERRORS>1</ERRORS>"
       "<LINEERROR>Ledger 'X' does not exist!</LINEERROR></RESPONSE>",
       true, "Ledger 'X' does not exist!"},
      {"errors counted", 200,
       "<ENVELOPE><BODY><DATA><IMPORTRESULT><ERRORS>3</ERRORS></IMPORTRESULT></DATA></BODY>"
       "</ENVELOPE>",
       true, "3 ERRORS"},
      {"exceptions counted", 200,
       "<RESPONSE><CREATED>0</CREATED><ERRORS>0</ERRORS><EXCEPTIONS>1</EXCEPTIONS></RESPONSE>",
       true, "1 EXCEPTIONS"},
      {"message only", 200, "<RESPONSE>Unknown Request, cannot be processed</RESPONSE>", true,
       "Unknown Request, cannot be processed"},
      {"HTTP error with counters", 500,
       "<RESPONSE><CREATED>1</CREATED><ERRORS>0</ERRORS></RESPONSE>", true, "HTTP status 500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const modTally::Reply reply{c.status, "", c.text};
    EXPECT_EQ(IsRejection(reply), c.rejected);
    if (c.rejected) {
      EXPECT_THAT(RejectionText(reply), ::testing::HasSubstr(c.reason));
    }
  }
}

}  // namespace
