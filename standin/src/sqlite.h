// The store's SQLite wrappers are the shared ones; StoreError is their failure.
#pragma once

#include <lirvo/sqlite.h>

namespace lirvo::standin {

using StoreError = sqlite::Error;
using sqlite::Database;
using sqlite::Statement;

}  // namespace lirvo::standin
