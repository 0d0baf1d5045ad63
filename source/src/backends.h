// The three kinds of source, each opened by its own function.
#pragma once

#include <memory>
#include <string>

#include "lirvo/source.h"

namespace lirvo::source {

// An SQLite file, read-only through lirvo::sqlite.
std::unique_ptr<Source> OpenSqlite(const std::string& path);
// An ODBC data source through unixODBC, with `login` as its UID and PWD.
std::unique_ptr<Source> OpenOdbc(const std::string& connection_string, const Login& login);
// An Access file, read by the guarded reader process.
std::unique_ptr<Source> OpenAccess(const std::string& path);

}  // namespace lirvo::source
