// tally-standin-load: a bounded load on a running stand-in. Sets up one sales ledger, one tax
// ledger, a unit and a stock item, then posts a fixed number of imports from a fixed number of
// concurrent clients. Each import creates one customer ledger and one sales voucher for it
// (remote id PREFIX-N). Prints how many imports were acknowledged and how fast.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <lirvo/modTally.h>

namespace {

struct Settings {
  std::string url;
  int imports = 2000;
  int clients = 8;
  std::string prefix = "LOAD";
  std::string company;
};

std::string Envelope(const std::string& company, const std::string& items) {
  std::string text =
      "<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
      "<REQUESTDESC><REPORTNAME>All Masters</REPORTNAME>";
  if (!company.empty()) {
    text += "<STATICVARIABLES><SVCURRENTCOMPANY>" + modTally::EscapeXml(company) +
            "</SVCURRENTCOMPANY></STATICVARIABLES>";
  }
  return text + "</REQUESTDESC><REQUESTDATA><TALLYMESSAGE>" + items +
         "</TALLYMESSAGE></REQUESTDATA></IMPORTDATA></BODY></ENVELOPE>";
}

std::string Ledger(const std::string& name, const std::string& parent) {
  return "<LEDGER NAME=\"" + name + "\" ACTION=\"Create\"><PARENT>" + parent +
         "</PARENT><NAME.LIST><NAME>" + name + "</NAME></NAME.LIST></LEDGER>";
}

std::string Voucher(const std::string& id, const std::string& party) {
  return "<VOUCHER REMOTEID=\"" + id +
         "\" VCHTYPE=\"Sales\" ACTION=\"Create\"><DATE>20160401</DATE><GUID>" + id +
         "</GUID><PARTYLEDGERNAME>" + party + "</PARTYLEDGERNAME><LEDGERENTRIES.LIST><LEDGERNAME>" +
         party +
         "</LEDGERNAME><AMOUNT>-1040</AMOUNT></LEDGERENTRIES.LIST><LEDGERENTRIES.LIST>"
         "<LEDGERNAME>Load Tax</LEDGERNAME><AMOUNT>40</AMOUNT></LEDGERENTRIES.LIST>"
         "<ALLINVENTORYENTRIES.LIST><STOCKITEMNAME>Load Item</STOCKITEMNAME><AMOUNT>1000</AMOUNT>"
         "<ACTUALQTY> 10 Nos</ACTUALQTY><BILLEDQTY> 10 Nos</BILLEDQTY><RATE> 100/Nos</RATE>"
         "<ACCOUNTINGALLOCATIONS.LIST><LEDGERNAME>Load Sales</LEDGERNAME><AMOUNT>1000</AMOUNT>"
         "</ACCOUNTINGALLOCATIONS.LIST></ALLINVENTORYENTRIES.LIST></VOUCHER>";
}

// Acknowledged: HTTP 200, no errors, and the expected number of created items.
bool Acknowledged(const modTally::Reply& reply, int created) {
  pugi::xml_document document;
  if (reply.status != 200 || !modTally::LoadXml(document, reply.text)) {
    return false;
  }
  const pugi::xml_node response = document.child("RESPONSE");
  return response.child("CREATED").text().as_int(-1) == created &&
         response.child("ERRORS").text().as_int(-1) == 0 && !response.child("LINEERROR");
}

int Usage(const char* problem) {
  std::cerr << "tally-standin-load: " << problem
            << "\nusage: tally-standin-load --url URL [--imports N] [--clients N] [--prefix P]"
               " [--company NAME]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (i + 1 >= argc) {
      return Usage(("missing value after " + argument).c_str());
    }
    const std::string value = argv[++i];
    try {
      if (argument == "--url") {
        settings.url = value;
      } else if (argument == "--imports") {
        settings.imports = std::stoi(value);
      } else if (argument == "--clients") {
        settings.clients = std::stoi(value);
      } else if (argument == "--prefix") {
        settings.prefix = value;
      } else if (argument == "--company") {
        settings.company = value;
      } else {
        return Usage(("unknown argument " + argument).c_str());
      }
    } catch (const std::exception&) {
      return Usage(("not a number: " + value).c_str());
    }
  }
  if (settings.url.empty() || settings.imports < 1 || settings.imports > 1'000'000 ||
      settings.clients < 1 || settings.clients > 64) {
    return Usage("--url is required; --imports 1..1000000, --clients 1..64");
  }

  try {
    const modTally::Reply setup = modTally::Exchange(
        settings.url,
        Envelope(settings.company,
                 Ledger("Load Sales", "Sales Accounts") + Ledger("Load Tax", "Duties & Taxes") +
                     "<UNIT NAME=\"Nos\" ACTION=\"Create\"><NAME>Nos</NAME></UNIT>"
                     "<STOCKITEM NAME=\"Load Item\" ACTION=\"Create\"><BASEUNITS>Nos</BASEUNITS>"
                     "<NAME.LIST><NAME>Load Item</NAME></NAME.LIST></STOCKITEM>"));
    pugi::xml_document reply;
    modTally::LoadXml(reply, setup.text);
    if (setup.status != 200 || reply.child("RESPONSE").child("ERRORS").text().as_int(1) != 0) {
      std::cerr << "tally-standin-load: the setup import was refused: " << setup.text << '\n';
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
          const modTally::Reply reply = modTally::Exchange(
              settings.url, Envelope(settings.company,
                                     Ledger(customer, "Sundry Debtors") + Voucher(id, customer)));
          if (Acknowledged(reply, 2)) {
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
  std::printf("acknowledged %d of %d imports from %d clients in %.2f s (%.0f imports/s)\n",
              acknowledged.load(), settings.imports, settings.clients, seconds,
              acknowledged.load() / seconds);
  for (std::size_t i = 0; i < problems.size() && i < 5; ++i) {
    std::fprintf(stderr, "not acknowledged: %s\n", problems[i].c_str());
  }
  return acknowledged == settings.imports ? 0 : 1;
}
