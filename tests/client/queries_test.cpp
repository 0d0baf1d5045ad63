// The result shapes of the three queries for every kind of reply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/modTally.h>

#include "raw_server.h"

namespace {

using lirvo::test::RawServer;
using lirvo::test::ScopedEnv;
using Slots = std::vector<std::string>;

struct Answers {
  std::string version;
  std::string company;
  modTally::CompanyList companies;
};

Answers AskAll(const std::string& raw_reply) {
  auto server = RawServer::Replying(raw_reply);
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  return {modTally::GetTallyVersion(), modTally::GetCurrentCompany(), modTally::GetCompanyList()};
}

Answers AskAll(int status, const std::string& body) {
  return AskAll(RawServer::HttpReply(status, body));
}

TEST(Queries, ReplyWithEveryElement) {
  const Answers answers =
      AskAll(200,
             "<ENVELOPE><RESPONSE>Server line</RESPONSE><RESPONSE>second</RESPONSE>"
             "<DEEP><DEEPER><SVCURRENTCOMPANY>Acme &amp; Co</SVCURRENTCOMPANY></DEEPER></DEEP>"
             "<SVCURRENTCOMPANY>Other</SVCURRENTCOMPANY>"
             "<COMPANYNAME.LIST><COMPANYNAME>One</COMPANYNAME><COMPANYNAME> Two </COMPANYNAME>"
             "</COMPANYNAME.LIST><X><COMPANYNAME>Three</COMPANYNAME></X></ENVELOPE>");
  EXPECT_EQ(answers.version, "Server line");
  EXPECT_EQ(answers.company, "Acme & Co");
  EXPECT_EQ(answers.companies, (Slots{"One", " Two ", "Three", ""}));
}

TEST(Queries, OneCompanyGivesTwoSlots) {
  EXPECT_EQ(AskAll(200, "<E><COMPANYNAME>Solo</COMPANYNAME></E>").companies, (Slots{"Solo", ""}));
}

TEST(Queries, RepliesWithoutTheElementsLookedFor) {
  for (const std::string body :
       {"", "plain text, not xml", "<ENVELOPE><OTHER/></ENVELOPE>", "<RESPONSE>unterminated"}) {
    SCOPED_TRACE(body);
    const Answers answers = AskAll(200, body);
    EXPECT_EQ(answers.version, "Tally ees 6.3 Server is Running.");
    EXPECT_EQ(answers.company, "");
    EXPECT_FALSE(answers.companies.has_value());
  }
}

TEST(Queries, EmptyElementsGiveEmptyText) {
  const Answers answers =
      AskAll(200, "<E><RESPONSE/><SVCURRENTCOMPANY></SVCURRENTCOMPANY><COMPANYNAME/></E>");
  EXPECT_EQ(answers.version, "");
  EXPECT_EQ(answers.company, "");
  EXPECT_EQ(answers.companies, (Slots{"", ""}));
}

TEST(Queries, ErrorStatusWithXmlBodyIsReadLikeAnyReply) {
  const Answers answers = AskAll(500, "<RESPONSE>Internal trouble</RESPONSE>");
  EXPECT_EQ(answers.version, "Internal trouble");
}

TEST(Queries, ServerDownGivesDescriptionsAndTheFailureList) {
  const ScopedEnv env("LIRVO_TALLY_URL",
                      "http://127.0.0.1:" + std::to_string(lirvo::test::UnusedPort()));
  modTally::TallyUrl.clear();
  const std::string version = modTally::GetTallyVersion();
  EXPECT_FALSE(version.empty());
  EXPECT_NE(version, "Tally ees 6.3 Server is Running.");
  EXPECT_EQ(modTally::TallyUrl, modTally::DefaultAddress());
  EXPECT_FALSE(modTally::GetCurrentCompany().empty());

  const modTally::CompanyList list = modTally::GetCompanyList();
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0], "");
  EXPECT_THAT((*list)[1], ::testing::StartsWith("ERROR "));
  EXPECT_GT((*list)[1].size(), 6u);

  const auto tried = modTally::TryGetCompanyList();
  EXPECT_FALSE(tried);
  EXPECT_GT(tried.number, 0);
}

TEST(Queries, TryFormsTellAnAnswerFromAFailure) {
  auto server = RawServer::Replying(RawServer::HttpReply(200, "<X/>"));
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  const auto version = modTally::TryGetTallyVersion();
  ASSERT_TRUE(version);
  EXPECT_EQ(*version.value, "Tally ees 6.3 Server is Running.");
  const auto companies = modTally::TryGetCompanyList();
  ASSERT_TRUE(companies);
  EXPECT_TRUE(companies.value->empty());
}

TEST(Queries, WithoutOverrideTheProbeSetsTheDefaultAddress) {
  const ScopedEnv env("LIRVO_TALLY_URL", "");
  // Nothing may listen on 9000 here; the address is set either way.
  modTally::TallyUrl.clear();
  modTally::GetCurrentCompany();
  EXPECT_EQ(modTally::TallyUrl, "http://127.0.0.1:9000");
}

}  // namespace
