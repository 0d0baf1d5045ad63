// Sending: the layout the server receives, requests that never leave, the reply as it came, and
// how import replies are judged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
