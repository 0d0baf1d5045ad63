// The request exchange as the server sees it, the reply as it came, and peers that misbehave.
#include <sys/socket.h>

#include <chrono>
#include <span>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/encoding.h>
#include <lirvo/modTally.h>

#include "raw_server.h"

namespace {

using lirvo::test::RawServer;
using lirvo::test::ScopedEnv;
using lirvo::test::Utf16Le;
using ::testing::HasSubstr;

// By default the text travels as UTF-16LE without a mark; with LIRVO_TALLY_ENCODING=utf-8 it is
// the text's own bytes under a bare text/xml. The fixed headers come once each, in order.
TEST(Exchange, EachQuerySendsItsExactRequest) {
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
  for (const char* encoding : {"", "utf-16", "UTF-8"}) {
    SCOPED_TRACE(encoding);
    const bool utf8 = std::string_view(encoding) == "UTF-8";
    const ScopedEnv wire("LIRVO_TALLY_ENCODING", encoding);
    auto server = RawServer::Replying(RawServer::HttpReply(
        200, "<ENVELOPE><RESPONSE>ok</RESPONSE><COMPANYNAME.LIST/></ENVELOPE>"));
    const ScopedEnv env("LIRVO_TALLY_URL", server.url());
    EXPECT_EQ(modTally::GetTallyVersion(), "ok");
    modTally::GetCurrentCompany();
    modTally::GetCompanyList();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string bodies[] = {"", accounts, companies};
    for (size_t i = 0; i < requests.size(); ++i) {
      const std::string head = requests[i].substr(0, requests[i].find("\r\n\r\n") + 2);
      const std::string body = utf8 ? bodies[i] : Utf16Le(bodies[i]);
      EXPECT_EQ(lirvo::test::BodyOf(requests[i]), body) << i;
      EXPECT_THAT(head, ::testing::StartsWith("POST / HTTP/1.1\r\n"));
      EXPECT_THAT(head, HasSubstr("Content-Length: " + std::to_string(body.size()) + "\r\n"));
      EXPECT_THAT(head, ::testing::Not(HasSubstr("Expect:")));
      size_t at = 0;
      for (const std::string& header :
           {std::string("\r\nContent-Type: ") + (utf8 ? "text/xml" : "text/xml;charset=utf-16"),
            std::string("\r\nConnection: close\r\n"), std::string("\r\nSOAPAction:\r\n")}) {
        const size_t found = head.find(header, at);
        ASSERT_NE(found, std::string::npos) << header << " missing or out of order in\n" << head;
        EXPECT_EQ(head.find(header, found + 1), std::string::npos) << header << " sent twice";
        at = found + 1;
      }
    }
  }
}

// A request larger than libcurl's largest upload buffer goes in several pieces, converted as they
// go: every character arrives, those cut across the pieces' ends too.
TEST(Exchange, ALargeRequestArrivesWhole) {
  std::string text;
  for (int i = 0; text.size() < 5'000'000; ++i) {
    text += "<N>Item " + std::to_string(i) + (i % 3 == 0 ? " ₹ नग" : "") +
            (i % 7 == 0 ? " \xF0\x9F\x98\x80" : "") + "</N>";
  }
  auto server = RawServer::Replying(RawServer::HttpReply(200, ""));
  modTally::Exchange(server.url(), std::string_view(text));
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string body = lirvo::test::BodyOf(server.requests()[0]);
  EXPECT_EQ(body.size(), Utf16Le(text).size());
  EXPECT_TRUE(body == Utf16Le(text));  // not EXPECT_EQ: a difference would print megabytes
}

// The exchanges of one server (and of its copies) share HTTP handles, yet each request goes whole
// on a connection of its own, also to a peer that would keep the last one open: a large body, a
// probe without one after it, then a small one as UTF-8.
TEST(Exchange, AServersExchangesEachGoWholeOnAConnectionOfTheirOwn) {
  RawServer server([&server](int fd, const std::string&) {
    if (RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")) {
      server.Hold(fd);  // a connection of HTTP/1.1 stays open unless the client closes it
    }
  });
  modTally::Server tally = modTally::Server::At(server.url());
  const modTally::ExchangeLimits limits{.connect_ms = 2'000, .total_ms = 5'000};
  const std::string large(100'000, 'x');
  EXPECT_EQ(modTally::Exchange(tally, std::string_view(large), limits).text, "ok");
  EXPECT_EQ(modTally::Exchange(tally, std::nullopt, limits).text, "ok");
  modTally::Server utf8 = tally;
  utf8.encoding = modTally::WireEncoding::kUtf8;
  EXPECT_EQ(modTally::Exchange(utf8, std::string_view("<A/>"), limits).text, "ok");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(lirvo::test::BodyOf(requests[0]) == Utf16Le(large));
  EXPECT_EQ(lirvo::test::BodyOf(requests[1]), "");
  EXPECT_THAT(requests[1], HasSubstr("Content-Length: 0\r\n"));
  EXPECT_EQ(lirvo::test::BodyOf(requests[2]), "<A/>");
}

// A body in pieces arrives as their text joined, in either encoding, with empty pieces and one
// larger than the upload buffer among them; a piece that is not UTF-8 is named by its place in
// the whole text, and nothing is sent.
TEST(Exchange, ABodyInPiecesArrivesJoined) {
  auto server = RawServer::Replying(RawServer::HttpReply(200, ""));
  const std::string large(3'000'000, 'y');
  const std::vector<std::string_view> pieces = {"<A>₹", "", "नग\n", large, "", "</A>"};
  std::string joined;
  for (const std::string_view piece : pieces) {
    joined += piece;
  }
  modTally::Server tally = modTally::Server::At(server.url());
  // A body shorter than its stated length would leave the peer waiting for the rest.
  const modTally::ExchangeLimits limits{.connect_ms = 2'000, .total_ms = 10'000};
  for (const auto encoding : {modTally::WireEncoding::kUtf16, modTally::WireEncoding::kUtf8}) {
    tally.encoding = encoding;
    modTally::Exchange(tally, std::span(pieces), limits);
  }
  const std::vector<std::string_view> bad = {"<A>\n", "ok\xC3"};
  EXPECT_THAT([&] { modTally::Exchange(tally, std::span(bad), limits); },
              ::testing::Throws<modTally::Failure>(::testing::Property(
                  &modTally::Failure::description, HasSubstr("line 2, column 3 (byte 7)"))));
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(lirvo::test::BodyOf(requests[0]) == Utf16Le(joined));
  EXPECT_TRUE(lirvo::test::BodyOf(requests[1]) == joined);
}

TEST(Exchange, NonAsciiTextTravelsAsUtf16AndBadTextOrSettingIsRefusedUnsent) {
  auto server = RawServer::Replying(RawServer::HttpReply(200, ""));
  modTally::Exchange(server.url(), std::string_view("<N>₹ नग</N>"));
  EXPECT_EQ(lirvo::test::BodyOf(server.requests().at(0)),
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
    const ScopedEnv wire("LIRVO_TALLY_ENCODING", c.encoding);
    EXPECT_THAT([&] { modTally::Exchange(server.url(), std::string_view(c.text)); },
                ::testing::Throws<modTally::Failure>(
                    ::testing::Property(&modTally::Failure::description, HasSubstr(c.message))));
  }
  EXPECT_EQ(server.requests().size(), 1u);
}

// The status, the headers without the status line, the bytes as received and the text decoded.
TEST(Exchange, ReplyKeepsItsStatusHeadersAndBytesBesideTheDecodedText) {
  const std::string body = "\xFF\xFE" + Utf16Le("<R>\x04नग</R>");
  auto server = RawServer::Replying(RawServer::HttpReply(503, body, "text/plain"));
  const modTally::Reply reply = modTally::Exchange(server.url(), std::string_view("<A/>"));
  EXPECT_EQ(reply.status, 503);
  EXPECT_EQ(reply.raw, body);
  EXPECT_EQ(reply.text, "<R>नग</R>");
  EXPECT_THAT(reply.headers, HasSubstr("Content-Type: text/plain\r\n"));
  EXPECT_THAT(reply.headers, ::testing::Not(HasSubstr("HTTP/1.1")));

  const ScopedEnv wire("LIRVO_TALLY_ENCODING", "utf-8");
  pugi::xml_document document;
  ASSERT_TRUE(modTally::LoadXml(document, "<A x=\"1\">\r\n  <B>t &amp; u</B>\r\n</A>"));
  modTally::Exchange(server.url(), document);
  EXPECT_EQ(lirvo::test::BodyOf(server.requests().at(1)), "<A x=\"1\"><B>t &amp; u</B></A>");
}

void WaitForHangUp(int fd) {
  char byte;
  while (recv(fd, &byte, 1, 0) > 0) {
  }
}

// Each peer's exchange ends within its limit: in a failure naming the address, or (`text`) in
// the whole reply. A well-behaved server is reached as usual afterwards.
TEST(Exchange, MisbehavingPeersEndInAFailureNamingTheAddress) {
  const auto large = [](int fd, const std::string&) {
    const std::string chunk(1 << 20, 'x');
    if (!RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                    std::to_string(modTally::kMaxReplyBytes + chunk.size()) +
                                    "\r\n\r\n")) {
      return;
    }
    for (size_t sent = 0; sent <= modTally::kMaxReplyBytes && RawServer::SendAll(fd, chunk);
         sent += chunk.size()) {
    }
  };
  const struct {
    const char* name;
    RawServer::Handler handler;  // null: nothing listens
    const char* says;            // in the failure
    modTally::FailureKind kind = modTally::FailureKind::Transport;
    const char* text = nullptr;  // the reply's text when it is not a failure
    long total_ms = 20'000;
  } cases[] = {
      {"nothing listens", nullptr, ""},
      {"resets in the middle of the reply",
       [](int fd, const std::string&) {
         RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n<RESPONSE>par");
         const linger abort_on_close{1, 0};  // close with RST instead of FIN
         setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
       },
       ""},
      {"never answers", [](int fd, const std::string&) { WaitForHangUp(fd); }, "imed out",
       modTally::FailureKind::Transport, nullptr, 500},
      {"answers more than the limit", large, "larger than 64 MiB", modTally::FailureKind::Reply},
      {"cuts a UTF-16 reply in a pair",
       [](int fd, const std::string&) {
         RawServer::SendAll(
             fd, RawServer::HttpReply(200, "\xFF\xFE" + Utf16Le("<R>\U0001F600").substr(0, 8)));
       },
       "cannot read the reply", modTally::FailureKind::Reply},
      {"trickles the reply byte by byte",
       [](int fd, const std::string&) {
         for (const char c : RawServer::HttpReply(200, "<R>Slow &amp; Steady</R>")) {
           if (!RawServer::SendAll(fd, std::string_view(&c, 1))) {
             return;
           }
         }
       },
       "", modTally::FailureKind::Transport, "<R>Slow &amp; Steady</R>"},
  };
  const lirvo::test::RefusedPort refused;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<RawServer> server;
    if (c.handler) {
      server.emplace(c.handler);
    }
    const std::string url = server ? server->url() : refused.url();
    const auto started = std::chrono::steady_clock::now();
    try {
      const auto reply = modTally::Exchange(url, std::string_view("<A/>"), {1'000, c.total_ms});
      EXPECT_EQ(reply.text, c.text != nullptr ? c.text : "(a failure)");
    } catch (const modTally::Failure& failure) {
      EXPECT_EQ(c.text, nullptr) << failure.description();
      EXPECT_EQ(failure.kind(), c.kind);
      EXPECT_THAT(failure.description(), HasSubstr(url));
      EXPECT_THAT(failure.description(), HasSubstr(c.says));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
  auto good = RawServer::Replying(RawServer::HttpReply(200, "<RESPONSE>fine</RESPONSE>"));
  EXPECT_EQ(modTally::Exchange(good.url(), std::nullopt).text, "<RESPONSE>fine</RESPONSE>");
}

// A caller waiting on a silent server is told the wait (at least once a second, at most four
// times), and its cancel flag ends the exchange within a second in a failure that says so.
TEST(Exchange, AWaitIsToldAndCanBeCancelled) {
  RawServer server([](int fd, const std::string&) { WaitForHangUp(fd); });
  std::vector<double> told;
  const modTally::ExchangeLimits limits{
      .connect_ms = 1'000,
      .total_ms = 20'000,
      .cancelled = [&] { return !told.empty(); },
      .waiting = [&](double seconds) { told.push_back(seconds); }};
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THAT(
      [&] { modTally::Exchange(server.url(), std::string_view("<A/>"), limits); },
      ::testing::Throws<modTally::Failure>(::testing::AllOf(
          ::testing::Property(&modTally::Failure::kind, modTally::FailureKind::Cancelled),
          ::testing::Property(&modTally::Failure::description,
                              ::testing::AllOf(HasSubstr(server.url()), HasSubstr("cancelled"))))));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::milliseconds(2'500));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_GT(told[0], 0.2);
  EXPECT_LE(told[0], took.count());
}

}  // namespace
