// The three queries: what each makes of every kind of reply, of a server that is down or answers
// an HTTP error, the address they use and their time limits.
#include <chrono>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/encoding.h>
#include <lirvo/export_reply.h>
#include <lirvo/modTally.h>

#include "raw_server.h"

namespace {

using lirvo::test::RawServer;
using lirvo::test::ScopedEnv;
using ::testing::HasSubstr;
using Slots = std::vector<std::string>;
const std::string kRunning = "Tally ees 6.3 Server is Running.";

// kFails in place of an answer: the query fails, and its description names the server and holds
// the case's `says`.
const std::string kFails = "(fails)";

TEST(Queries, ResultShapesForEachReply) {
  const std::string shree = "श्री गणेश ट्रेडर्स";
  std::string deep;
  for (int i = 0; i < 200'000; ++i) {
    deep += "<A>";
  }
  deep += "<RESPONSE>deep</RESPONSE>";
  const Slots fails{kFails};
  const struct {
    const char* name;
    std::string body;
    std::string version;
    std::string company;
    modTally::CompanyList companies;
    const char* says = "";
    const char* content_type = "text/xml";
  } cases[] = {
      {"every element, first wins, any depth",
       "<ENVELOPE><RESPONSE>Server line</RESPONSE><RESPONSE>second</RESPONSE>"
       "<DEEP><DEEPER><SVCURRENTCOMPANY>Acme &amp; Co</SVCURRENTCOMPANY></DEEPER></DEEP>"
       "<SVCURRENTCOMPANY>Other</SVCURRENTCOMPANY><COMPANYNAME.LIST><COMPANYNAME>One"
       "</COMPANYNAME><COMPANYNAME> Two </COMPANYNAME></COMPANYNAME.LIST>"
       "<X><COMPANYNAME>Three</COMPANYNAME></X></ENVELOPE>",
       "Server line", "Acme & Co", Slots{"One", " Two ", "Three", ""}},
      {"one company", "<ENVELOPE><COMPANYNAME>Solo</COMPANYNAME></ENVELOPE>", kRunning, "",
       Slots{"Solo", ""}},
      {"empty elements",
       "<ENVELOPE><RESPONSE/><SVCURRENTCOMPANY></SVCURRENTCOMPANY><COMPANYNAME/></ENVELOPE>", "",
       "", Slots{"", ""}},
      {"no company open", "<ENVELOPE><COMPANYNAME.LIST/></ENVELOPE>", kRunning, "", std::nullopt},
      // Only the objects of the collection are companies, not the counter in CMPINFO.
      {"the Company collection",
       "<ENVELOPE><HEADER><STATUS>1</STATUS></HEADER><BODY><DESC><CMPINFO><COMPANY>2</COMPANY>"
       "</CMPINFO></DESC><DATA><COLLECTION><COMPANY NAME=\" Acme \"><NAME>x</NAME></COMPANY>"
       "<COMPANY><NAME TYPE=\"String\">Beta &amp; Co</NAME><STARTINGFROM TYPE=\"Date\">20160401"
       "</STARTINGFROM></COMPANY></COLLECTION></DATA></BODY></ENVELOPE>",
       kRunning, "", Slots{"Acme", "Beta & Co", ""}},
      {"an empty ENVELOPE", "<ENVELOPE/>", kRunning, "", fails, "nothing in it"},
      {"no such elements", "<ENVELOPE><OTHER/></ENVELOPE>", kRunning, "", fails, "no COLLECTION"},
      {"a report the server does not know",
       "<RESPONSE><LINEERROR>Could not find Report 'List of Companies'!</LINEERROR></RESPONSE>",
       kFails, kFails, fails, "Could not find Report 'List of Companies'!"},
      {"a refusal", "<RESPONSE>Unknown Request, cannot be processed</RESPONSE>",
       "Unknown Request, cannot be processed", kFails, fails, "Unknown Request"},
      {"a web page", "<!DOCTYPE html><html><body>It works!</body></html>", kFails, kFails, fails,
       "an HTML page (\"<!DOCTYPE html><html><body>It works!", "text/html"},
      {"a web page as XML", "<html><body>It works!</body></html>", kFails, kFails, fails,
       "an HTML page"},
      {"empty reply", "", kFails, kFails, fails, "an empty reply"},
      {"not XML", "plain text, not xml", kFails, kFails, fails,
       "not well-formed XML (19 bytes, cut short or malformed: \"plain text, not xml\")"},
      {"unterminated", "<RESPONSE>unterminated", kFails, kFails, fails, "not well-formed"},
      {"nested deeper than any stack", deep, kFails, kFails, fails, "<A><A><A>"},
      {"names in an Indian script, UTF-16",
       lirvo::test::Utf16Le("<ENVELOPE><SVCURRENTCOMPANY>" + shree + "</SVCURRENTCOMPANY><C>" +
                            "<COMPANYNAME>" + shree + "</COMPANYNAME></C></ENVELOPE>"),
       kRunning, shree, Slots{shree, ""}, "", "text/xml; charset=utf-16"},
      {"Windows-1252 under a utf-8 header",
       "<ENVELOPE><RESPONSE>caf\xe9 \xff</RESPONSE><COMPANYNAME>caf\xe9</COMPANYNAME></ENVELOPE>",
       "café ÿ", "", Slots{"café", ""}, "", "text/xml; charset=utf-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = RawServer::Replying(RawServer::HttpReply(200, c.body, c.content_type));
    const ScopedEnv env("LIRVO_TALLY_URL", server.url());
    const auto failed = [&](const std::string& description) {
      EXPECT_THAT(description, HasSubstr(server.url()));
      EXPECT_THAT(description, HasSubstr(c.says));
    };
    for (const auto& [query, expected] : {std::pair{&modTally::TryGetTallyVersion, c.version},
                                          std::pair{&modTally::TryGetCurrentCompany, c.company}}) {
      const auto result = query();
      EXPECT_EQ(result ? *result.value : kFails, expected) << result.description;
      if (!result) {
        failed(result.description);
        EXPECT_EQ(result.kind, modTally::FailureKind::Reply);
      }
    }
    const modTally::CompanyList list = modTally::GetCompanyList();
    if (c.companies != fails) {
      EXPECT_EQ(list, c.companies);
    } else if (list.has_value() && list->size() == 2 && (*list)[0].empty()) {
      EXPECT_THAT((*list)[1], ::testing::StartsWith("ERROR cannot read the list of companies"));
      failed((*list)[1]);
    } else {
      ADD_FAILURE() << "not the failure shape";
    }
  }
}

// Where "List of Companies" is not a report the server knows, the names come from the Company
// collection; the current company's failure carries the server's words.
TEST(Queries, CompaniesComeFromTheCompanyCollectionWhereTheReportIsUnknown) {
  RawServer server([](int socket, const std::string& request) {
    const bool collection =
        lirvo::test::BodyText(request).find("<TYPE>Company</TYPE>") != std::string::npos;
    RawServer::SendAll(
        socket, RawServer::HttpReply(
                    200, collection ? "<ENVELOPE><BODY><DATA><COLLECTION><COMPANY NAME=\"Acme\"/>"
                                      "</COLLECTION></DATA></BODY></ENVELOPE>"
                                    : "<RESPONSE><LINEERROR>Could not find Report 'X'!</LINEERROR>"
                                      "</RESPONSE>"));
  });
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetCompanyList(), (Slots{"Acme", ""}));
  EXPECT_EQ(modTally::GetCurrentCompany(), "cannot read the current company from " + server.url() +
                                               ": the server says: Could not find Report 'X'!");
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(lirvo::test::BodyText(server.requests()[1]), modTally::CompanyCollectionRequest());
  EXPECT_EQ(lirvo::test::BodyText(server.requests()[2]), modTally::kListOfAccountsRequest);
  // The sync's masters lists are built as the documented request, naming the company.
  EXPECT_THAT(modTally::ListOfAccountsRequest("Units", "A & B"),
              HasSubstr("<STATICVARIABLES>\r\n<SVCURRENTCOMPANY>A &amp; B</SVCURRENTCOMPANY>\r\n"
                        "<SVEXPORTFORMAT>"));
}

// LIRVO_TALLY_URL replaces the documented default when set and not empty (the default is read,
// never connected to); the queries note the address they use in TallyUrl.
TEST(Queries, ServerDownGivesDescriptionsAndTheFailureList) {
  {
    const ScopedEnv unset("LIRVO_TALLY_URL", "");
    EXPECT_EQ(modTally::DefaultAddress(), "http://127.0.0.1:9000");
  }
  const lirvo::test::RefusedPort refused;
  const ScopedEnv env("LIRVO_TALLY_URL", refused.url());
  EXPECT_EQ(modTally::DefaultAddress(), refused.url());
  modTally::TallyUrl.clear();
  const auto version = modTally::TryGetTallyVersion();
  EXPECT_FALSE(version);
  EXPECT_EQ(version.kind, modTally::FailureKind::Transport);
  EXPECT_EQ(modTally::TallyUrl, refused.url());
  EXPECT_THAT(modTally::GetTallyVersion(), HasSubstr(refused.url()));
  EXPECT_THAT(modTally::GetCurrentCompany(), HasSubstr(refused.url()));
  const modTally::CompanyList list = modTally::GetCompanyList();
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0], "");
  EXPECT_THAT((*list)[1],
              ::testing::StartsWith("ERROR cannot exchange a request with " + refused.url()));
}

// Whatever body comes with it, a redirect or an HTTP error status is not the server's answer.
TEST(Queries, HttpErrorStatusIsAFailureForEveryQuery) {
  for (const auto& [status, said] :
       {std::pair{404, "HTTP 404 Not Found"}, std::pair{500, "HTTP 500 Internal Server Error"},
        std::pair{302, "HTTP 302 Found"}}) {
    SCOPED_TRACE(status);
    auto server = RawServer::Replying(RawServer::HttpReply(
        status, "<RESPONSE>x</RESPONSE><SVCURRENTCOMPANY>x</SVCURRENTCOMPANY>"));
    const ScopedEnv env("LIRVO_TALLY_URL", server.url());
    const std::string description = "the server at " + server.url() + " answered " + said;
    const auto version = modTally::TryGetTallyVersion();
    const auto company = modTally::TryGetCurrentCompany();
    const auto list = modTally::TryGetCompanyList();
    for (const auto& [kind, text] :
         {std::pair(version.kind, version.description),
          std::pair(company.kind, company.description), std::pair(list.kind, list.description)}) {
      EXPECT_EQ(kind, modTally::FailureKind::Http);
      EXPECT_EQ(text, description);
    }
    EXPECT_FALSE(version || company || list);
    EXPECT_EQ(modTally::GetCompanyList(), (Slots{"", "ERROR " + description}));
  }
}

// Queries give up within their own limit; a limit that is not a number of seconds up to a day is
// refused naming the variable.
TEST(Queries, TimeLimitsComeFromTheEnvironment) {
  {
    const ScopedEnv query("LIRVO_QUERY_TIMEOUT", "");
    const ScopedEnv import("LIRVO_IMPORT_TIMEOUT", "");
    EXPECT_EQ(modTally::QueryLimits().total_ms, 10'000);
    EXPECT_EQ(modTally::QueryLimits().connect_ms, 5'000);
    EXPECT_EQ(modTally::ImportLimits().total_ms, 120'000);
  }
  RawServer server([&server](int fd, const std::string&) { server.Hold(fd); });
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  const ScopedEnv limit("LIRVO_QUERY_TIMEOUT", "0.3");
  EXPECT_EQ(modTally::QueryLimits().total_ms, 300);
  EXPECT_EQ(modTally::QueryLimits().connect_ms, 300);  // connecting takes no longer than all
  const auto started = std::chrono::steady_clock::now();
  const auto version = modTally::TryGetTallyVersion();
  EXPECT_EQ(version.kind, modTally::FailureKind::Transport);
  EXPECT_THAT(version.description, HasSubstr("imed out"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  for (const char* bad : {"0", "ten", "-1", "2s", "86400.5"}) {
    const ScopedEnv wrong("LIRVO_QUERY_TIMEOUT", bad);
    const auto refused = modTally::TryGetCompanyList();
    EXPECT_THAT(refused.description, HasSubstr("LIRVO_QUERY_TIMEOUT is \"" + std::string(bad)));
    EXPECT_EQ(refused.kind, modTally::FailureKind::Value);
  }
  const ScopedEnv import("LIRVO_IMPORT_TIMEOUT", "86400");
  EXPECT_EQ(modTally::ImportLimits().total_ms, 86'400'000);
}

}  // namespace
