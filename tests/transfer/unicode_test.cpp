// Names in Indian scripts from end to end: `lirvo transfer` of unicode.mdb into the stand-in's
// service behind a server that keeps the bytes on the wire, then the stand-in's store read
// back. UTF-16 (the default) keeps every name; LIRVO_TALLY_ENCODING=utf-8 loses what Windows-1252
// lacks, as the accounting server does.

#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lirvo/standin/service.h>

#include "lirvo_command.h"
#include "standin_process.h"
#include "standin_store.h"

namespace {

using lirvo::test::BodyOf;
using lirvo::test::RawServer;
using lirvo::test::StandinStore;
using lirvo::test::TempDir;
using ::testing::Contains;
using ::testing::HasSubstr;

// "श्री" in UTF-16LE and UTF-8, written out so that no encoder under test makes them.
const std::string kShriUtf16Le("\x36\x09\x4D\x09\x30\x09\x40\x09", 8);
const std::string kShriUtf8 = "\xE0\xA4\xB6\xE0\xA5\x8D\xE0\xA4\xB0\xE0\xA5\x80";

struct Name {
  const char* kind;  // a master kind, or "REFERENCE" / "PARTY" of a voucher
  const char* sent;
  const char* utf8_stored;  // what the server keeps of it from a UTF-8 request
};

// A name of every script and mark in unicode.mdb, per column it feeds.
const Name kNames[] = {
    {"LEDGER", "श्री गणेश ट्रेडर्स", "???? ???? ????????"},
    {"LEDGER", "શ્રી અંબિકા સ્ટોર્સ", "???? ?????? ???????"},
    {"LEDGER", "ஸ்ரீ முருகன் ஸ்டோர்ஸ்", "???? ??????? ????????"},
    {"LEDGER", "Café Müller & Søn", "Café Müller & Søn"},
    {"LEDGER", "Zoë \"Quotes\" <Angle> Ltd", "Zoë \"Quotes\" <Angle> Ltd"},
    {"LEDGER", "बिक्री @ 12.5%", "?????? @ 12.5%"},
    {"LEDGER", "વેટ @ 4%", "??? @ 4%"},
    {"STOCKITEM", "पीतल का लोटा", "???? ?? ????"},
    {"STOCKITEM", "કાંસાની થાળી", "??????? ????"},
    {"STOCKITEM", "வெள்ளி விளக்கு", "?????? ???????"},
    {"STOCKITEM", "Crème brûlée set", "Crème brûlée set"},
    {"STOCKITEM", "Tea – Darjeeling 1kg", "Tea – Darjeeling 1kg"},
    {"UNIT", "नग", "??"},
    {"UNIT", "નંગ", "???"},
    {"REFERENCE", "₹-3", "?-3"},
    {"REFERENCE", "பில்-4", "???\?-4"},  // "\?" keeps "??-" from reading as a trigraph
    {"PARTY", "श्री गणेश ट्रेडर्स", "???? ???? ????????"},
};

// UTF-16 (the default) keeps every name; UTF-8 keeps what Windows-1252 holds.
TEST(UnicodeTransfer, NamesArriveAsTheServerKeepsThem) {
  const struct {
    const char* encoding;      // LIRVO_TALLY_ENCODING
    const char* company;       // the stand-in's only company
    const char* content_type;  // the request header on the wire
    bool utf16;                // the request bodies are UTF-16LE without a mark
    std::string name_on_wire;  // bytes some request must hold
  } cases[] = {{"utf-16", "श्री गणेश ट्रेडर्स", "text/xml;charset=utf-16", true, kShriUtf16Le},
               {"utf-8", "Lirvo Traders", "text/xml", false, kShriUtf8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoding);
    const TempDir folder("lirvo-unicode");
    const std::string store_file = folder.File("store.db").string();
    // The stand-in's service behind a server that keeps the requests as they came.
    lirvo::standin::Service service({store_file, {c.company}, false});
    RawServer proxy([&service](int socket, const std::string& request) {
      const std::string head = request.substr(0, request.find("\r\n\r\n")) + "\r\n";
      const std::size_t type = head.find("Content-Type: ") + 14;
      const auto reply =
          service.Post(BodyOf(request), head.substr(type, head.find('\r', type) - type));
      RawServer::SendAll(socket,
                         RawServer::HttpReply(reply.status, reply.body, reply.content_type));
    });
    const lirvo::test::ScopedEnv encoding("LIRVO_TALLY_ENCODING", c.encoding);
    const auto lirvo = [&](const std::string& arguments) {
      return lirvo::test::Lirvo(proxy.url(), arguments);
    };
    const auto transfer = lirvo("transfer --db " + lirvo::test::Data("unicode.mdb") +
                                " --company '" + c.company + "'");
    EXPECT_EQ(transfer.exit_code, 0) << transfer.out << transfer.err;
    EXPECT_EQ(lirvo("companies").out, c.company + std::string("\n"));
    EXPECT_EQ(lirvo("current-company").out, c.company + std::string("\n"));

    // Every request that carries a body carries it in the case's encoding, and the names in it.
    std::string wire;
    for (const std::string& request : proxy.requests()) {
      const std::string body = BodyOf(request);
      if (body.empty()) {
        continue;  // the probe
      }
      const std::string head = request.substr(0, request.find("\r\n\r\n"));
      EXPECT_THAT(head, HasSubstr(std::string("\r\nContent-Type: ") + c.content_type + "\r\n"));
      // UTF-16LE without a mark starts "<\0"; UTF-8 holds no zero byte at all.
      EXPECT_EQ(body.substr(0, 2), c.utf16 ? std::string("<\0", 2) : std::string("<E")) << head;
      EXPECT_EQ(body.find('\0') != std::string::npos, c.utf16) << head;
      wire += body;
    }
    EXPECT_THAT(wire, HasSubstr(c.name_on_wire));

    const StandinStore store(store_file);
    std::vector<std::string> references;
    std::vector<std::string> parties;
    for (const auto& voucher : store.Vouchers(c.company)) {
      references.push_back(voucher.reference);
      parties.push_back(voucher.party);
    }
    EXPECT_EQ(references.size(), 5u);
    for (const Name& name : kNames) {
      const std::string kind = name.kind;
      const std::string expected = c.utf16 ? name.sent : name.utf8_stored;
      const std::vector<std::string> held = kind == "REFERENCE" ? references
                                            : kind == "PARTY"   ? parties
                                                                : store.Masters(c.company, kind);
      EXPECT_THAT(held, Contains(expected)) << kind;
    }
  }
}

// Under UTF-8 the sync sends only rows the server keeps whole: the others are refused before
// anything is sent, naming the text, and nothing is stored as question marks; the masters the rows
// name are refused as well. The voucher sent carries no GUID: that is the server's to give.
TEST(UnicodeSync, UnderUtf8RowsTheServerWouldDamageAreRefusedBeforeSending) {
  const std::vector<std::string> says{
      "(VoucherID \"UV-001\"): voucher UV-001, Reference: \"बिल-1\" holds \"ब\"",
      "(VoucherID \"UV-003\"): voucher UV-003, Reference: \"₹-3\" holds \"₹\"",
      "Rejected: SalesMst row 1 (\"श्री गणेश ट्रेडर्स\"): it holds \"श\""};
  {
    const TempDir folder("lirvo-unicode");
    const std::string store_file = folder.File("store.db").string();
    const char* company = lirvo::test::kStandinCompany;
    lirvo::test::StandinProcess standin(LIRVO_STANDIN_PATH,
                                        {"--data", store_file, "--company", company});
    const lirvo::test::ScopedEnv encoding("LIRVO_TALLY_ENCODING", "utf-8");
    const auto sync =
        lirvo::test::Lirvo(standin.url(), "sync --db " + lirvo::test::Data("unicode.mdb") +
                                              " --journal " + folder.File("journal").string());
    EXPECT_EQ(sync.exit_code, 3) << sync.out << sync.err;
    for (const std::string& part : says) {
      EXPECT_THAT(sync.out, HasSubstr(part));
    }
    const StandinStore store(store_file);
    std::vector<std::string> held;
    for (const auto& voucher : store.Vouchers(company)) {
      held.insert(held.end(), {voucher.remote_id, voucher.guid, voucher.party, voucher.reference});
    }
    EXPECT_EQ(held, (std::vector<std::string>{"UV-005", "", "Zoë \"Quotes\" <Angle> Ltd", "R-5"}));
    for (const char* kind : {"LEDGER", "STOCKITEM", "UNIT"}) {
      for (const std::string& name : store.Masters(company, kind)) {
        EXPECT_EQ(name.find('?'), std::string::npos) << name;
      }
    }
  }
}

}  // namespace
