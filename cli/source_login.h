// The --source option and its login, shared by the commands that read a source database.
#pragma once

#include <string>

#include <memory>

#include <lirvo/source.h>
#include <lirvo/sync.h>

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

// The SalesMst rows of the source `uri` names, opened with `user`'s login, for the sync or the
// verification.
transfer::SalesRows OpenSalesSource(const std::string& uri, const std::string& user);

// Adds where the rows of SalesMst come from: --db FILE (an Access database) or --source URI with
// --user NAME, one or the other. RequireRows, called first thing in the command's callback, makes
// giving neither a usage error.
void AddRowsOptions(CLI::App& command, std::string& db, std::string& uri, std::string& user);
void RequireRows(const std::string& db, const std::string& uri);

// The login for `user`: the password from $LIRVO_SOURCE_PASSWORD when it is set, else read from
// the terminal without echo when `user` is given and standard input is a terminal, else none.
// A password is never taken from the command line.
source::Login SourceLogin(const std::string& user);

}  // namespace lirvo::cli
