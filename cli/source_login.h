// The --source option and its login, shared by the commands that read a source database.
#pragma once

#include <string>

#include <lirvo/source.h>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace lirvo::cli {

// Adds --source URI (required; a URI of an unknown form is a usage error naming the three forms)
// and --user NAME to `command`, storing them in `uri` and `user`.
void AddSourceOptions(CLI::App& command, std::string& uri, std::string& user);

// The login for `user`: the password from $LIRVO_SOURCE_PASSWORD when it is set, else read from
// the terminal without echo when `user` is given and standard input is a terminal, else none.
// A password is never taken from the command line.
source::Login SourceLogin(const std::string& user);

}  // namespace lirvo::cli
