// The result shapes of the three queries for every kind of reply.
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "raw_server.h"

namespace {

using lirvo::test::RawServer;
using lirvo::test::ScopedEnv;
using Slots = std::vector<std::string>;
const std::string kRunning = "Tally ees 6.3 Server is Running.";

TEST(Queries, ResultShapesForEachReply) {
  const struct {
    const char* name;
    int status;
    std::string body;
    std::string version;
    std::string company;
    modTally::CompanyList companies;
  } cases[] = {
      {"every element, first wins, any depth", 200,
       "<ENVELOPE><RESPONSE>Server line</RESPONSE><RESPONSE>second</RESPONSE>"
       "<DEEP><DEEPER><SVCURRENTCOMPANY>Acme &amp; Co</SVCURRENTCOMPANY></DEEPER></DEEP>"
       "<SVCURRENTCOMPANY>Other</SVCURRENTCOMPANY><COMPANYNAME.LIST><COMPANYNAME>One"
       "</COMPANYNAME><COMPANYNAME> Two </COMPANYNAME></COMPANYNAME.LIST>"
       "<X><COMPANYNAME>Three</COMPANYNAME></X></ENVELOPE>",
       "Server line", "Acme & Co", Slots{"One", " Two ", "Three", ""}},
      {"one company", 200, "<E><COMPANYNAME>Solo</COMPANYNAME></E>", kRunning, "",
       Slots{"Solo", ""}},
      {"empty elements", 200,
       "<E><RESPONSE/><SVCURRENTCOMPANY></SVCURRENTCOMPANY><COMPANYNAME/></E>", "", "",
       Slots{"", ""}},
      {"empty reply", 200, "", kRunning, "", std::nullopt},
      {"not XML", 200, "plain text, not xml", kRunning, "", std::nullopt},
      {"no such elements", 200, "<ENVELOPE><OTHER/></ENVELOPE>", kRunning, "", std::nullopt},
      {"unterminated", 200, "<RESPONSE>unterminated", kRunning, "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = RawServer::Replying(RawServer::HttpReply(c.status, c.body));
    const ScopedEnv env("LIRVO_TALLY_URL", server.url());
    EXPECT_EQ(modTally::GetTallyVersion(), c.version);
    EXPECT_EQ(modTally::GetCurrentCompany(), c.company);
    EXPECT_EQ(modTally::GetCompanyList(), c.companies);
  }
}

TEST(Queries, ServerDownGivesDescriptionsAndTheFailureList) {
  const lirvo::test::RefusedPort refused;
  const ScopedEnv env("LIRVO_TALLY_URL", refused.url());
  modTally::TallyUrl.clear();
  const std::string version = modTally::GetTallyVersion();
  EXPECT_FALSE(version.empty());
  EXPECT_NE(version, kRunning);
  EXPECT_EQ(modTally::TallyUrl, modTally::DefaultAddress());
  EXPECT_FALSE(modTally::GetCurrentCompany().empty());

  const modTally::CompanyList list = modTally::GetCompanyList();
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0], "");
  EXPECT_THAT((*list)[1], ::testing::StartsWith("ERROR "));
  EXPECT_GT((*list)[1].size(), 6u);
  EXPECT_FALSE(modTally::TryGetCompanyList());
}

// Whatever body comes with it, a redirect or an HTTP error status is not the server's answer.
TEST(Queries, HttpErrorStatusIsAFailureForEveryQuery) {
  const struct {
    int status;
    const char* said;
  } cases[] = {{404, "HTTP 404 Not Found"},
               {500, "HTTP 500 Internal Server Error"},
               {302, "HTTP 302 Found"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    auto server = RawServer::Replying(RawServer::HttpReply(
        c.status, "<RESPONSE>x</RESPONSE><SVCURRENTCOMPANY>x</SVCURRENTCOMPANY>"));
    const ScopedEnv env("LIRVO_TALLY_URL", server.url());
    const std::string said = "the server at " + server.url() + " answered " + c.said;
    const auto version = modTally::TryGetTallyVersion();
    const auto company = modTally::TryGetCurrentCompany();
    const auto list = modTally::TryGetCompanyList();
    for (const auto& [ok, kind, description] :
         {std::tuple(bool(version), version.kind, version.description),
          std::tuple(bool(company), company.kind, company.description),
          std::tuple(bool(list), list.kind, list.description)}) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(kind, modTally::FailureKind::Http);
      EXPECT_EQ(description, said);
    }
    EXPECT_EQ(modTally::GetTallyVersion(), said);
    EXPECT_EQ(modTally::GetCompanyList(), (Slots{"", "ERROR " + said}));
  }
}

TEST(Queries, NamesInIndianScriptsReadIntactFromAUtf16Reply) {
  const std::string name = "श्री गणेश ट्रेडर्स";
  std::string body;
  for (const char16_t unit :
       u"<ENVELOPE><SVCURRENTCOMPANY>श्री गणेश ट्रेडर्स</SVCURRENTCOMPANY>"
       u"<COMPANYNAME>श्री गणेश ट्रेडर्स</COMPANYNAME><COMPANYNAME>B"
       u"</COMPANYNAME></ENVELOPE>") {
    if (unit != 0) {
      body += static_cast<char>(unit & 0xFF);
      body += static_cast<char>(unit >> 8);
    }
  }
  auto server = RawServer::Replying(RawServer::HttpReply(200, body, "text/xml; charset=utf-16"));
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetCurrentCompany(), name);
  EXPECT_EQ(modTally::GetCompanyList(), (Slots{name, "B", ""}));
}

TEST(Queries, TryFormsTellAnAnswerFromAFailure) {
  auto server = RawServer::Replying(RawServer::HttpReply(200, "<X/>"));
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  const auto version = modTally::TryGetTallyVersion();
  ASSERT_TRUE(version);
  EXPECT_EQ(*version.value, kRunning);
  const auto companies = modTally::TryGetCompanyList();
  ASSERT_TRUE(companies);
  EXPECT_TRUE(companies.value->empty());
}

TEST(Queries, WithoutOverrideTheQueriesSetTheDefaultAddress) {
  const ScopedEnv env("LIRVO_TALLY_URL", "");
  // Whether or not anything listens on 9000 here, the address is set.
  modTally::TallyUrl.clear();
  modTally::GetCurrentCompany();
  EXPECT_EQ(modTally::TallyUrl, "http://127.0.0.1:9000");
}

}  // namespace
