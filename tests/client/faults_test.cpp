// The client against peers that misbehave: each case ends in a clear failure or a documented
// result within the time limit, and the next exchange works.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "raw_server.h"

namespace {

using lirvo::test::RawServer;
using lirvo::test::ScopedEnv;

const std::string kGoodReply = RawServer::HttpReply(200, "<RESPONSE>fine</RESPONSE>");

// After any fault, a well-behaved server is reached as usual.
void ExpectNextExchangeWorks() {
  auto server = RawServer::Replying(kGoodReply);
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetTallyVersion(), "fine");
}

// Waits until the client hangs up (or the server's own read limit passes).
void WaitForHangUp(int fd) {
  char byte;
  while (recv(fd, &byte, 1, 0) > 0) {
  }
}

TEST(Faults, ResetInTheMiddleOfTheReplyIsAFailure) {
  RawServer server([](int fd, const std::string&) {
    RawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n<RESPONSE>par");
    const linger abort_on_close{1, 0};  // close with RST instead of FIN
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  });
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  const auto version = modTally::TryGetTallyVersion();
  EXPECT_FALSE(version);
  EXPECT_THAT(version.description, ::testing::HasSubstr(server.url()));
  const modTally::CompanyList list = modTally::GetCompanyList();
  ASSERT_TRUE(list);
  EXPECT_THAT(list->at(1), ::testing::StartsWith("ERROR "));
  ExpectNextExchangeWorks();
}

TEST(Faults, ServerThatNeverAnswersRunsIntoTheTimeLimit) {
  RawServer server([](int fd, const std::string&) { WaitForHangUp(fd); });
  const auto started = std::chrono::steady_clock::now();
  try {
    modTally::Exchange(server.url(), std::string_view("<A/>"), {1'000, 300});
    FAIL() << "expected a time-out";
  } catch (const modTally::Failure& failure) {
    EXPECT_THAT(failure.description(), ::testing::HasSubstr("imed out"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  ExpectNextExchangeWorks();
}

// Queries give up within their own limit; a limit that is not a number of seconds is refused.
TEST(Faults, QueriesGiveUpOnASilentServerWithinTheirLimit) {
  RawServer server([](int fd, const std::string&) { WaitForHangUp(fd); });
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  const ScopedEnv limit("LIRVO_QUERY_TIMEOUT", "0.3");
  EXPECT_EQ(modTally::QueryLimits().total_ms, 300);
  EXPECT_EQ(modTally::ImportLimits().total_ms, 120'000);
  const auto started = std::chrono::steady_clock::now();
  const auto version = modTally::TryGetTallyVersion();
  EXPECT_FALSE(version);
  EXPECT_EQ(version.kind, modTally::FailureKind::Transport);
  EXPECT_THAT(version.description, ::testing::HasSubstr("imed out"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  for (const char* bad : {"0", "ten", "-1", "1e9"}) {
    const ScopedEnv wrong("LIRVO_QUERY_TIMEOUT", bad);
    const auto refused = modTally::TryGetCompanyList();
    EXPECT_THAT(refused.description, ::testing::HasSubstr("LIRVO_QUERY_TIMEOUT"));
    EXPECT_EQ(refused.kind, modTally::FailureKind::Value);
  }
  const ScopedEnv import("LIRVO_IMPORT_TIMEOUT", "2.5");
  EXPECT_EQ(modTally::ImportLimits().total_ms, 2'500);
}

TEST(Faults, ReplyTrickledByteByByteArrivesWhole) {
  RawServer server([](int fd, const std::string&) {
    const std::string reply =
        RawServer::HttpReply(200, "<E><COMPANYNAME>Slow &amp; Steady</COMPANYNAME></E>");
    for (const char c : reply) {
      if (!RawServer::SendAll(fd, std::string_view(&c, 1)))
        return;
    }
  });
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetCompanyList(), (std::vector<std::string>{"Slow & Steady", ""}));
}

TEST(Faults, TwentyMegabytesOfGarbageReadAsAReplyWithoutElements) {
  std::string garbage(20u << 20, '\0');
  std::mt19937 random(42);
  for (char& c : garbage)
    c = static_cast<char>(random());
  auto server = RawServer::Replying(RawServer::HttpReply(200, garbage, "application/octet-stream"));
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetTallyVersion(), "Tally ees 6.3 Server is Running.");
  EXPECT_EQ(modTally::GetCurrentCompany(), "");
  EXPECT_FALSE(modTally::GetCompanyList().has_value());
  ExpectNextExchangeWorks();
}

// The server writes Windows-1252 under a utf-8 header when asked in UTF-8.
TEST(Faults, InvalidUtf8ReadsAsWindows1252) {
  const std::string odd = "caf\xe9 \xff\xfe \xc3";
  const std::string read = "café ÿþ Ã";
  auto server = RawServer::Replying(RawServer::HttpReply(
      200, "<E><RESPONSE>" + odd + "</RESPONSE><COMPANYNAME>" + odd + "</COMPANYNAME></E>",
      "text/xml; charset=utf-8"));
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetTallyVersion(), read);
  EXPECT_EQ(modTally::GetCompanyList(), (std::vector<std::string>{read, ""}));
}

TEST(Faults, DeeplyNestedReplyDoesNotExhaustTheStack) {
  std::string body;
  for (int i = 0; i < 200'000; ++i)
    body += "<A>";
  body += "<RESPONSE>deep</RESPONSE>";
  for (int i = 0; i < 200'000; ++i)
    body += "</A>";
  auto server = RawServer::Replying(RawServer::HttpReply(200, body));
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetTallyVersion(), "deep");
  EXPECT_EQ(modTally::NodeText(pugi::xml_node()), "");
}

}  // namespace
