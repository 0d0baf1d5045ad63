// The request exchange as the server sees it, and how the queries read replies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "raw_server.h"

namespace {

using lirvo::test::RawServer;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Splits a raw request into its header block (without the blank line) and its body.
std::pair<std::string, std::string> Split(const std::string& request) {
  const size_t end = request.find("\r\n\r\n");
  return {request.substr(0, end), request.substr(end + 4)};
}

// The three fixed headers appear once each and in order, SOAPAction with an empty value, and no
// Expect.
void ExpectFixedHeaders(const std::string& head, const std::string& content_type) {
  EXPECT_THAT(head, ::testing::Not(HasSubstr("Expect:")));
  size_t at = 0;
  for (const std::string& header :
       {"\r\nContent-Type: " + content_type + "\r\n", std::string("\r\nConnection: close\r\n"),
        std::string("\r\nSOAPAction:\r\n")}) {
    const size_t found = head.find(header, at);
    ASSERT_NE(found, std::string::npos) << header << " missing or out of order in\n" << head;
    EXPECT_EQ(head.find(header, found + 1), std::string::npos) << header << " sent twice";
    at = found + 1;
  }
}

std::string Utf16(std::string_view text) {
  std::string out;
  for (const char c : text) {  // the request texts are ASCII
    out += c;
    out += '\0';
  }
  return out;
}

// By default the text travels as UTF-16LE without a mark; with LIRVO_TALLY_ENCODING=utf-8 it is
// the text's own bytes under a bare text/xml.
TEST(Exchange, EachQuerySendsItsExactRequest) {
  for (const char* encoding : {"", "utf-16", "UTF-8"}) {
    SCOPED_TRACE(encoding);
    const bool utf8 = std::string_view(encoding) == "UTF-8";
    const lirvo::test::ScopedEnv wire("LIRVO_TALLY_ENCODING", encoding);
    auto server = RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE>ok</RESPONSE>"));
    const lirvo::test::ScopedEnv env("LIRVO_TALLY_URL", server.url());

    EXPECT_EQ(modTally::GetTallyVersion(), "ok");
    modTally::GetCurrentCompany();
    modTally::GetCompanyList();

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string accounts =
        "<ENVELOPE>\r\n<HEADER>\r\n<TALLYREQUEST> Export Data </TALLYREQUEST>\r\n</HEADER>\r\n"
        "<BODY>\r\n<EXPORTDATA>\r\n<REQUESTDESC>\r\n"
        "<REPORTNAME>List of Accounts</REPORTNAME>\r\n<STATICVARIABLES>\r\n"
        "<SVEXPORTFORMAT> $$SysName:XML </SVEXPORTFORMAT>\r\n"
        "<ACCOUNTTYPE>Stock Items</ACCOUNTTYPE>\r\n</STATICVARIABLES>\r\n</REQUESTDESC>\r\n"
        "</EXPORTDATA>\r\n</BODY>\r\n</ENVELOPE>\r\n";
    const std::string companies =
        "<ENVELOPE>\r\n<HEADER>\r\n<TALLYREQUEST>Export Data</TALLYREQUEST>\r\n</HEADER>\r\n"
        "<BODY>\r\n<EXPORTDATA>\r\n<REQUESTDESC>\r\n"
        "<REPORTNAME>List of Companies</REPORTNAME>\r\n<STATICVARIABLES>\r\n"
        "<SVEXPORTFORMAT> $$SysName:XML </SVEXPORTFORMAT>\r\n</STATICVARIABLES>\r\n"
        "</REQUESTDESC>\r\n</EXPORTDATA>\r\n</BODY>\r\n</ENVELOPE>\r\n";
    const std::string expected_bodies[] = {"", accounts, companies};
    for (size_t i = 0; i < requests.size(); ++i) {
      SCOPED_TRACE("request " + std::to_string(i));
      const auto [head, body] = Split(requests[i]);
      const std::string expected = utf8 ? expected_bodies[i] : Utf16(expected_bodies[i]);
      EXPECT_THAT(head, StartsWith("POST / HTTP/1.1\r\n"));
      ExpectFixedHeaders(head + "\r\n", utf8 ? "text/xml" : "text/xml;charset=utf-16");
      EXPECT_THAT(head, HasSubstr("Content-Length: " + std::to_string(expected.size())));
      EXPECT_EQ(body, expected);
      EXPECT_THAT(head, ::testing::Not(HasSubstr("Authorization")));
    }
  }
}

TEST(Exchange, NonAsciiTextTravelsAsUtf16AndBadTextOrSettingIsRefusedUnsent) {
  auto server = RawServer::Replying(RawServer::HttpReply(200, ""));
  modTally::Exchange(server.url(), std::string_view("<N>₹ नग</N>"));
  EXPECT_EQ(Split(server.requests().at(0)).second,
            std::string("<\0N\0>\0\xB9\x20 \0\x28\x09\x17\x09<\0/\0N\0>\0", 22));
  const struct {
    const char* encoding;
    std::string text;
    const char* message;
  } refused[] = {
      {"", "<N>caf\xE9</N>", "not UTF-8 text at line 1, column 7"},
      {"utf-8", "<N>\n\xC3</N>", "line 2, column 1"},
      {"latin1", "<A/>", "LIRVO_TALLY_ENCODING is \"latin1\": it takes utf-16"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.message);
    const lirvo::test::ScopedEnv wire("LIRVO_TALLY_ENCODING", c.encoding);
    try {
      modTally::Exchange(server.url(), std::string_view(c.text));
      ADD_FAILURE() << "expected a refusal";
    } catch (const modTally::Failure& failure) {
      EXPECT_THAT(failure.description(), HasSubstr(c.message));
    }
  }
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(Exchange, ReturnsStatusHeadersAndBodyUnchanged) {
  const std::string body = "  <not-xml> & \xff\xfe raw";
  auto server = RawServer::Replying(RawServer::HttpReply(503, body, "text/plain"));
  const modTally::Reply reply = modTally::Exchange(server.url(), std::string_view("<A/>"));
  EXPECT_EQ(reply.status, 503);
  EXPECT_EQ(reply.raw, body);
  EXPECT_EQ(reply.text, "  <not-xml> & ÿþ raw");  // not UTF-8: read as Windows-1252
  EXPECT_THAT(reply.headers, HasSubstr("Content-Type: text/plain\r\n"));
  EXPECT_THAT(reply.headers, ::testing::Not(HasSubstr("HTTP/1.1")));
}

TEST(Exchange, DocumentBodyIsItsXml) {
  const lirvo::test::ScopedEnv wire("LIRVO_TALLY_ENCODING", "utf-8");
  auto server = RawServer::Replying(RawServer::HttpReply(200, ""));
  pugi::xml_document document;
  ASSERT_TRUE(modTally::LoadXml(document, "<A x=\"1\">\r\n  <B>t &amp; u</B>\r\n</A>"));
  modTally::Exchange(server.url(), document);
  EXPECT_EQ(Split(server.requests().at(0)).second, "<A x=\"1\"><B>t &amp; u</B></A>");
}

TEST(Exchange, NothingListeningIsAFailureNamingTheUrl) {
  const lirvo::test::RefusedPort refused;
  const std::string url = refused.url();
  try {
    modTally::Exchange(url, std::nullopt);
    FAIL() << "expected a failure";
  } catch (const modTally::Failure& failure) {
    EXPECT_GT(failure.number(), 0);
    EXPECT_THAT(failure.description(), HasSubstr(url));
  }
}

TEST(Exchange, ConnectionDroppedBeforeReplyIsAFailure) {
  RawServer server([](int, const std::string&) {});  // reads the request, closes without a word
  EXPECT_THROW(modTally::Exchange(server.url(), std::string_view("<A/>")), modTally::Failure);
}

TEST(Exchange, ReplyLargerThanTheLimitIsRefused) {
  RawServer server([](int fd, const std::string&) {
    const std::string chunk(1 << 20, 'x');
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " +
                       std::to_string(modTally::kMaxReplyBytes + chunk.size()) + "\r\n\r\n";
    if (!RawServer::SendAll(fd, head))
      return;
    for (size_t sent = 0; sent <= modTally::kMaxReplyBytes; sent += chunk.size()) {
      if (!RawServer::SendAll(fd, chunk))
        return;
    }
  });
  try {
    modTally::Exchange(server.url(), std::nullopt);
    FAIL() << "expected a failure";
  } catch (const modTally::Failure& failure) {
    EXPECT_EQ(failure.number(), modTally::FailureNumber::kReplyTooLarge);
  }
}

TEST(Exchange, UrlOverrideReplacesTheDefaultOnlyWhenSetAndNotEmpty) {
  {
    const lirvo::test::ScopedEnv env("LIRVO_TALLY_URL", "");
    EXPECT_EQ(modTally::DefaultAddress(), "http://127.0.0.1:9000");
  }
  const lirvo::test::ScopedEnv env("LIRVO_TALLY_URL", "http://127.0.0.1:1234");
  EXPECT_EQ(modTally::DefaultAddress(), "http://127.0.0.1:1234");
}

}  // namespace
