// sources: what a source database offers, as the export dialog will list it: each kind with its
// rows and the table they come from, then the financial years its documents span.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include <lirvo/source_layout.h>

#include "commands.h"
#include "source_login.h"

namespace lirvo::cli {

namespace {

// Turns the terminal's echo off for the life of the object.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) == 0) {
      termios quiet = saved_;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
  }
  ~EchoOff() {
    if (active_) {
      tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

struct SourcesValues {
  std::string uri;
  std::string user;
};

int RunSources(const SourcesValues& values) {
  try {
    const std::unique_ptr<source::Source> db =
        source::Open(source::ParseUri(values.uri), SourceLogin(values.user));
    const source::Offer offer = source::Survey(*db);
    if (offer.kinds.empty()) {
      std::cerr << "lirvo: " << db->name()
                << " holds none of the layout's tables (Godowns, Units, StockGroups, StockItems, "
                   "LedgerGroups, Ledgers, Vouchers, SalesMst): it offers nothing\n";
    }
    for (const source::KindRows& kind : offer.kinds) {
      std::printf("%-16s %10lld  from %s\n", std::string(kind.kind->name).c_str(),
                  static_cast<long long>(kind.rows), kind.table.c_str());
    }
    std::string years;
    for (const std::string& year : offer.years) {
      years += " " + year;
    }
    std::printf("years%s\n", years.empty() ? " none" : years.c_str());
    if (offer.unknown_types > 0) {
      std::cerr << "lirvo: " << offer.unknown_types << " row(s) of Vouchers in " << db->name()
                << " name a VoucherType that is no document kind (the first: \""
                << offer.first_unknown_type << "\"); they are not counted\n";
    }
    if (offer.undated > 0) {
      std::cerr << "lirvo: " << offer.undated << " document(s) in " << db->name()
                << " have a date that does not read as one (YYYY-MM-DD or YYYYMMDD); their "
                   "years are not listed\n";
    }
    return kExitOk;
  } catch (const source::Error& error) {
    std::cerr << "lirvo: " << error.what() << '\n';
    return kExitFailure;
  }
}

}  // namespace

void AddRowsOptions(CLI::App& command, std::string& db, std::string& uri, std::string& user) {
  CLI::Option* const access =
      command.add_option("--db", db, "the Access database (its table SalesMst)");
  AddSourceOptions(command, uri, user, false)->excludes(access);
}

void RequireRows(const std::string& db, const std::string& uri) {
  if (db.empty() && uri.empty()) {
    throw CLI::RequiredError("--db FILE or --source URI (where the rows of SalesMst come from)");
  }
}

std::unique_ptr<source::Source> AccessSalesMst(const std::string& file) {
  std::unique_ptr<source::Source> access = source::Open({source::Scheme::kAccess, file});
  std::optional<std::string> table = access->FindTable(source::kSalesTable);
  if (!table) {
    throw source::Error(access->name() + " has no table " + std::string(source::kSalesTable) +
                        ": --db reads the sales from it");
  }
  return source::OnlyTable(std::move(access), std::move(*table));
}

CLI::Option* AddSourceOptions(CLI::App& command, std::string& uri, std::string& user,
                              bool required) {
  CLI::Option* const option =
      command.add_option("--source", uri,
                         "the source database: sqlite:PATH, odbc:CONNECTION-STRING "
                         "(odbc:DSN=NAME) or access:PATH");
  option->required(required)->type_name("URI")->check(CLI::Validator(
      [](const std::string& text) -> std::string {
        try {
          source::ParseUri(text);
          return {};
        } catch (const source::Error& error) {
          return error.what();
        }
      },
      "URI"));
  command
      .add_option("--user", user,
                  "the login's user name (ODBC); its password comes from $LIRVO_SOURCE_PASSWORD "
                  "or is asked for on the terminal")
      ->type_name("NAME");
  return option;
}

source::Login SourceLogin(const std::string& user) {
  source::Login login{user, {}};
  if (const char* password = std::getenv("LIRVO_SOURCE_PASSWORD"); password != nullptr) {
    login.password = password;
  } else if (!user.empty() && isatty(STDIN_FILENO) == 1) {
    std::cerr << "Password for " << user << ": " << std::flush;
    {
      const EchoOff quiet(STDIN_FILENO);
      std::getline(std::cin, login.password);
    }
    std::cerr << '\n';
  }
  return login;
}

void AddSourcesCommand(CLI::App& app, int& status) {
  CLI::App* command = app.add_subcommand(
      "sources", "List what a source database offers: each kind with its rows, then the years");
  auto values = std::make_shared<SourcesValues>();
  AddSourceOptions(*command, values->uri, values->user);
  command->footer(
      "One line per kind the source holds (its name as --kinds takes it, its rows, the table), "
      "then the\nfinancial years (1 April to 31 March) its documents span.");
  command->callback([values, &status] { status = RunSources(*values); });
}

}  // namespace lirvo::cli
