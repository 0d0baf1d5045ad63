// tally-standin as a process: the modTally client against it, its command line, its signals,
// durability of its --data file, bad HTTP input and a bounded load.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include <lirvo/modTally.h>
#include <lirvo/standin/service.h>

#include "raw_server.h"
#include "requests.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

using lirvo::test::ImportRequest;
using lirvo::test::MasterXml;
using lirvo::test::ScopedEnv;
using lirvo::test::StandinProcess;
using lirvo::test::StandinStore;
using Names = std::vector<std::string>;
using testing::HasSubstr;

constexpr const char* kStandin = LIRVO_STANDIN_PATH;
constexpr const char* kLoad = LIRVO_STANDIN_LOAD_PATH;

// A temporary folder removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("standin-process-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

lirvo::test::ImportReply Import(const StandinProcess& server, const std::string& body) {
  const modTally::Reply reply = modTally::Exchange(server.url(), std::string_view(body));
  return lirvo::test::ReadReply(static_cast<int>(reply.status), reply.text);
}

// Connects to the server, writes `bytes`, and returns what comes back until the server closes
// the connection or `seconds` pass. With `hang_up` set, closes right after writing instead.
std::string RawExchange(int port, const std::string& bytes, bool hang_up, int seconds = 20) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      lirvo::test::RawServer::SendAll(fd, bytes) && !hang_up) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd waiting{fd, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) {
        continue;
      }
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) {
        break;
      }
      reply.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return reply;
}

std::string PostHead(std::size_t length) {
  return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(length) + "\r\n\r\n";
}

TEST(StandinClient, ProbeCompaniesAndCurrentCompany) {
  struct Case {
    std::vector<std::string> arguments;
    Names expected;
  };
  for (const Case& c :
       {Case{{}, {"Demo Trading Co"}},
        Case{{"--company", "Alpha & Sons", "--company", "Beta", "--company", "Gamma"},
             {"Alpha & Sons", "Beta", "Gamma"}}}) {
    StandinProcess server(kStandin, c.arguments);
    const ScopedEnv env("LIRVO_TALLY_URL", server.url());
    EXPECT_EQ(modTally::GetTallyVersion(), lirvo::standin::kRunningLine);
    Names slots = c.expected;
    slots.emplace_back();
    EXPECT_EQ(modTally::GetCompanyList(), slots);
    EXPECT_EQ(modTally::GetCurrentCompany(), c.expected.front());
  }
}

TEST(StandinClient, BuiltEnvelopeIsImportedIntoItsCompany) {
  TempDir dir;
  StandinProcess server(kStandin, {"--data", dir.File("s.db"), "--company", "A&B Traders"});
  pugi::xml_document request = modTally::CreateImportEnvelope("A&B Traders");
  pugi::xml_node message = modTally::AddElement(
      request, request.select_node("//REQUESTDATA").node(), "TALLYMESSAGE", "");
  pugi::xml_node unit = modTally::AddElement(request, message, "UNIT", "");
  modTally::AddAttribute(request, unit, "NAME", "Doz of 12 Nos");
  modTally::AddAttribute(request, unit, "ACTION", "Create");
  modTally::AddElement(request, unit, "NAME", "Doz of 12 Nos");
  modTally::AddElement(request, unit, "CONVERSION", "12");
  const modTally::Reply reply = modTally::Exchange(server.url(), request);
  EXPECT_EQ(lirvo::test::ReadReply(200, reply.text).Count("CREATED"), 1) << reply.text;
  const auto stored = StandinStore(dir.File("s.db")).Master("A&B Traders", "UNIT", "doz of 12 nos");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->Value("CONVERSION"), "12");
}

TEST(StandinCommandLine, HelpUsageErrorsAndABusyPort) {
  const std::string standin = kStandin;
  auto result = lirvo::test::RunCommand(standin + " --help");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_THAT(result.out, HasSubstr("--company NAME"));
  for (const std::string arguments :
       {"--port abc", "--port 70000", "--bogus", "--data", "--company ''"}) {
    SCOPED_TRACE(arguments);
    result = lirvo::test::RunCommand(standin + " " + arguments);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_THAT(result.err, HasSubstr("tally-standin: "));
  }
  StandinProcess first(kStandin);
  // Bounded, should the second server start after all.
  result =
      lirvo::test::RunCommand("timeout 20 " + standin + " --port " + std::to_string(first.port()));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_THAT(result.err, HasSubstr("cannot listen on 127.0.0.1:" + std::to_string(first.port())));
}

TEST(StandinSignals, InterruptAndTerminateEndItCleanly) {
  for (const int signal : {SIGINT, SIGTERM}) {
    StandinProcess server(kStandin);
    EXPECT_EQ(server.Stop(signal), 0) << "signal " << signal;
  }
}

TEST(StandinDurability, AcknowledgedImportsSurviveAKillAndACutOffRequestLeavesNothing) {
  TempDir dir;
  const std::string data = dir.File("store.db");
  constexpr int kImports = 20;
  {
    StandinProcess server(kStandin, {"--data", data});
    for (int i = 0; i < kImports; ++i) {
      const std::string name = "Godown " + std::to_string(i);
      ASSERT_EQ(
          Import(server, ImportRequest(MasterXml("GODOWN", name, "Create", name))).Count("CREATED"),
          1);
    }
    // A request whose body stops half-way: the server must not apply any of it.
    const std::string whole = ImportRequest(MasterXml("GODOWN", "Half", "Create", "Half"));
    RawExchange(server.port(), PostHead(whole.size()) + whole.substr(0, whole.size() / 2 + 40),
                true);
    EXPECT_EQ(server.Stop(SIGKILL), 128 + SIGKILL);
  }
  EXPECT_EQ(StandinStore(data).CountMasters("Demo Trading Co", "GODOWN"), kImports);

  StandinProcess restarted(kStandin, {"--data", data});
  const auto reply =
      Import(restarted, ImportRequest(MasterXml("GODOWN", "Late", "Create", "Late")));
  EXPECT_EQ(reply.Count("CREATED"), 1);
  const Names names = StandinStore(data).Masters("Demo Trading Co", "GODOWN");
  EXPECT_EQ(names.size(), kImports + 1u);
  EXPECT_EQ(names.front(), "Godown 0");
  EXPECT_EQ(names.back(), "Late");
}

TEST(StandinHttp, OversizeBodyIsRefusedAndASlowClientBlocksNoOne) {
  StandinProcess server(kStandin);
  // Only the head is sent: the refusal comes from the announced length, not from reading it all.
  const std::string refused =
      RawExchange(server.port(), PostHead(lirvo::standin::kMaxRequestBytes + 1), false);
  EXPECT_THAT(refused, HasSubstr("413"));
  EXPECT_THAT(refused, HasSubstr("<RESPONSE>Request too large"));

  // A client that sends half a request and waits holds one connection only.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_TRUE(lirvo::test::RawServer::SendAll(fd, PostHead(1000) + "<ENVELOPE>"));
  const ScopedEnv env("LIRVO_TALLY_URL", server.url());
  EXPECT_EQ(modTally::GetCurrentCompany(), "Demo Trading Co");
  close(fd);
}

TEST(StandinLoad, ConcurrentImportsAreAllKeptExactlyOnce) {
  TempDir dir;
  const std::string data = dir.File("load.db");
  StandinProcess server(kStandin, {"--data", data});
  constexpr int kImports = 2000;
  const auto result =
      lirvo::test::RunCommand(std::string(kLoad) + " --url " + server.url() + " --imports " +
                              std::to_string(kImports) + " --clients 8 --prefix L");
  std::cout << result.out;
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("acknowledged 2000 of 2000 imports from 8 clients"));

  const StandinStore store(data);
  const auto vouchers = store.Vouchers("Demo Trading Co");
  ASSERT_EQ(vouchers.size(), static_cast<std::size_t>(kImports));
  std::vector<bool> seen(kImports, false);
  for (const auto& voucher : vouchers) {
    const int n = std::stoi(voucher.remote_id.substr(2));
    ASSERT_FALSE(seen.at(static_cast<std::size_t>(n))) << voucher.remote_id;
    seen[static_cast<std::size_t>(n)] = true;
    EXPECT_EQ(voucher.party, "Load Customer " + voucher.remote_id);
    ASSERT_EQ(voucher.entries.size(), 4u);
  }
  // The two ledgers of the setup and one customer per import.
  EXPECT_EQ(store.CountMasters("Demo Trading Co", "LEDGER"), kImports + 2);
}

}  // namespace
