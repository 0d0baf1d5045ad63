// The --source option and its login, shared by the commands that read a source database.
#pragma once

#include <string>

#include <memory>

#include <optional>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/books/masters.h>
#include <lirvo/source.h>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace lirvo::cli {

// Adds --source URI (required unless `required` is false; a URI of an unknown form is a usage
// error naming the three forms) and --user NAME to `command`, storing them in `uri` and `user`.
// Returns the --source option.
CLI::Option* AddSourceOptions(CLI::App& command, std::string& uri, std::string& user,
                              bool required = true);

// What --kinds asks to move from a source: master kinds, document types, and whether SalesMst
// (read as sales) is taken in.
struct KindsToMove {
  std::vector<books::MasterKind> masters;
  std::vector<books::DocumentType> documents;
  bool sales_table = true;
};
// The kinds `names` lists by their --kinds names (units, godowns, ledger-groups, ledgers,
// stock-groups, stock-items, sales-orders, delivery-notes, sales, receipts, purchase-orders,
// receipt-notes, purchases, payments; "sales" takes SalesMst in too); every kind when `names` is
// empty; nothing when a name is no kind.
std::optional<KindsToMove> KindsOf(const std::vector<std::string>& names);

// Adds --kinds LIST (KindsOf's names, comma-separated; any other is a usage error) to `command`,
// whose help says what it does with them (`verb`: "move", "verify").
void AddKindsOption(CLI::App& command, std::vector<std::string>& kinds, const std::string& verb);

// Adds where the rows of SalesMst come from: --db FILE (an Access database) or --source URI with
// --user NAME, one or the other. RequireRows, called first thing in the command's callback, makes
// giving neither a usage error.
void AddRowsOptions(CLI::App& command, std::string& db, std::string& uri, std::string& user);
void RequireRows(const std::string& db, const std::string& uri);
// What --db FILE reads: the Access file's SalesMst alone, whatever other tables it holds, as the
// demo's transfer reads it. Throws source::Error when the file cannot be opened or has no
// SalesMst.
std::unique_ptr<source::Source> AccessSalesMst(const std::string& file);

// The login for `user`: the password from $LIRVO_SOURCE_PASSWORD when it is set, else read from
// the terminal without echo when `user` is given and standard input is a terminal, else none.
// A password is never taken from the command line.
source::Login SourceLogin(const std::string& user);

}  // namespace lirvo::cli
