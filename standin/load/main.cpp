// tally-standin-load: a bounded load on a running stand-in. Sets up one sales ledger, one tax
// ledger, a unit and a stock item, then posts a fixed number of imports from a fixed number of
// concurrent clients. Each import creates one customer ledger and `--batch` sales vouchers for it
// (remote id PREFIX-N with one voucher per import, PREFIX-N-K with more). Prints how many imports
// were acknowledged and how fast. The requests are built as Lirvo builds its own: the client's
// import envelope, the master builders, and the client's element operations.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include <lirvo/books/judge.h>
#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

namespace {

struct Settings {
  std::string url;
  int imports = 2000;
  int clients = 8;
  int batch = 1;
  std::string prefix = "LOAD";
  std::string company;
};

// The envelope's TALLYMESSAGE, made when it has none yet.
pugi::xml_node Message(pugi::xml_document& envelope) {
  pugi::xml_node data = envelope.select_node("//REQUESTDATA").node();
  pugi::xml_node message = data.child("TALLYMESSAGE");
  return message ? message : modTally::AddElement(envelope, data, "TALLYMESSAGE", "");
}

// Appends the master of a request the builders made to `envelope`'s TALLYMESSAGE.
void AddMaster(pugi::xml_document& envelope, const std::string& built) {
  pugi::xml_document request;
  modTally::LoadXml(request, built);
  pugi::xml_node message = Message(envelope);
  for (const pugi::xml_node master : request.select_node("//TALLYMESSAGE").node().children()) {
    message.append_copy(master);
  }
}

modTallyIm::LedgerMaster Ledger(const std::string& name, const std::string& parent) {
  modTallyIm::LedgerMaster ledger;
  ledger.Name = name;
  ledger.Parent = parent;
  return ledger;
}

void AddLedgerLine(pugi::xml_document& envelope, pugi::xml_node parent, const char* list,
                   const std::string& ledger, const std::string& amount) {
  const pugi::xml_node line = modTally::AddElement(envelope, parent, list, "");
  modTally::AddElement(envelope, line, "LEDGERNAME", ledger);
  modTally::AddElement(envelope, line, "AMOUNT", amount);
}

// A sales voucher of ten "Load Item" at 100 with 4 % tax, sold to `party`.
void AddVoucher(pugi::xml_document& envelope, const std::string& id, const std::string& party) {
  const pugi::xml_node voucher = modTally::AddElement(envelope, Message(envelope), "VOUCHER", "");
  modTally::AddAttribute(envelope, voucher, "REMOTEID", id);
  modTally::AddAttribute(envelope, voucher, "VCHTYPE", "Sales");
  modTally::AddAttribute(envelope, voucher, "ACTION", "Create");
  modTally::AddElement(envelope, voucher, "DATE", "20160401");
  modTally::AddElement(envelope, voucher, "GUID", id);
  modTally::AddElement(envelope, voucher, "PARTYLEDGERNAME", party);
  AddLedgerLine(envelope, voucher, "LEDGERENTRIES.LIST", party, "-1040");
  AddLedgerLine(envelope, voucher, "LEDGERENTRIES.LIST", "Load Tax", "40");
  const pugi::xml_node line =
      modTally::AddElement(envelope, voucher, "ALLINVENTORYENTRIES.LIST", "");
  modTally::AddElement(envelope, line, "STOCKITEMNAME", "Load Item");
  modTally::AddElement(envelope, line, "AMOUNT", "1000");
  modTally::AddElement(envelope, line, "ACTUALQTY", " 10 Nos");
  modTally::AddElement(envelope, line, "BILLEDQTY", " 10 Nos");
  modTally::AddElement(envelope, line, "RATE", " 100/Nos");
  AddLedgerLine(envelope, line, "ACCOUNTINGALLOCATIONS.LIST", "Load Sales", "1000");
}

}  // namespace

// Long: the options, the setup and the timed load in order, clearer whole.
int main(int argc, char** argv) {
  Settings settings;
  CLI::App app(
      "Posts a bounded load of imports to a running tally-standin and reports how many "
      "were acknowledged and how fast.",
      "tally-standin-load");
  app.set_version_flag("--version", "tally-standin-load " LIRVO_VERSION);
  app.add_option("--url", settings.url, "the stand-in's address, e.g. http://127.0.0.1:9000")
      ->required();
  app.add_option("--imports", settings.imports, "imports to post (default 2000)")
      ->check(CLI::Range(1, 1'000'000));
  app.add_option("--clients", settings.clients, "concurrent clients (default 8)")
      ->check(CLI::Range(1, 64));
  app.add_option("--batch", settings.batch, "sales vouchers per import (default 1)")
      ->check(CLI::Range(1, 10'000));
  app.add_option("--prefix", settings.prefix, "start of every remote id (default LOAD)");
  app.add_option("--company", settings.company, "the company to import into (default: current)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return app.exit(done);
  } catch (const CLI::ParseError& error) {
    std::cerr << "tally-standin-load: " << error.what() << "\n(see tally-standin-load --help)\n";
    return 2;
  }

  try {
    pugi::xml_document setup = modTally::CreateImportEnvelope(settings.company);
    modTallyIm::UnitMaster unit;
    unit.Name = "Nos";
    unit.IsSimpleUnit = "Yes";
    modTallyIm::StockItemMaster item;
    item.Name = "Load Item";
    item.BaseUnits = "Nos";
    AddMaster(setup, modTallyIm::BuildLedger(settings.company,
                                             Ledger("Load Sales", "Sales Accounts"), "Create"));
    AddMaster(setup, modTallyIm::BuildLedger(settings.company, Ledger("Load Tax", "Duties & Taxes"),
                                             "Create"));
    AddMaster(setup, modTallyIm::BuildUnit(settings.company, unit, "Create"));
    AddMaster(setup, modTallyIm::BuildStockItem(settings.company, item, "Create"));
    const modTally::Reply reply = modTally::Exchange(settings.url, setup);
    pugi::xml_document answer;
    modTally::LoadXml(answer, reply.text);
    if (reply.status != 200 || answer.child("RESPONSE").child("ERRORS").text().as_int(1) != 0) {
      std::cerr << "tally-standin-load: the setup import was refused: " << reply.text << '\n';
      return 1;
    }
  } catch (const modTally::Failure& failure) {
    std::cerr << "tally-standin-load: cannot reach " << settings.url << ": "
              << failure.description() << '\n';
    return 1;
  }

  std::atomic<int> next{0};
  std::atomic<int> acknowledged{0};
  std::mutex report_mutex;
  std::vector<std::string> problems;
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < settings.clients; ++c) {
    clients.emplace_back([&] {
      for (int n = next++; n < settings.imports; n = next++) {
        const std::string id = settings.prefix + "-" + std::to_string(n);
        const std::string customer = "Load Customer " + id;
        try {
          pugi::xml_document request = modTally::CreateImportEnvelope(settings.company);
          AddMaster(request, modTallyIm::BuildLedger(settings.company,
                                                     Ledger(customer, "Sundry Debtors"), "Create"));
          for (int k = 0; k < settings.batch; ++k) {
            AddVoucher(request, settings.batch == 1 ? id : id + "-" + std::to_string(k), customer);
          }
          const modTally::Reply reply = modTally::Exchange(settings.url, request);
          if (lirvo::books::CreatedCount(reply) == 1 + settings.batch) {
            ++acknowledged;
            continue;
          }
          const std::lock_guard lock(report_mutex);
          problems.push_back(id + ": " + reply.text);
        } catch (const modTally::Failure& failure) {
          const std::lock_guard lock(report_mutex);
          problems.push_back(id + ": " + failure.description());
        }
      }
    });
  }
  for (std::thread& client : clients) {
    client.join();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double vouchers = static_cast<double>(acknowledged.load()) * settings.batch;
  std::printf(
      "acknowledged %d of %d imports from %d clients in %.2f s (%.0f imports/s, %.0f "
      "vouchers/s, %.3f ms per voucher)\n",
      acknowledged.load(), settings.imports, settings.clients, seconds,
      acknowledged.load() / seconds, vouchers / seconds,
      vouchers > 0 ? seconds * 1000 / vouchers : 0.0);
  for (std::size_t i = 0; i < problems.size() && i < 5; ++i) {
    std::fprintf(stderr, "not acknowledged: %s\n", problems[i].c_str());
  }
  return acknowledged == settings.imports ? 0 : 1;
}
