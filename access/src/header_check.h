// The check made on a sales database before any reader is started: that it is there, is a
// regular file this process may read, and starts with an Access header over whole pages.
#pragma once

#include <filesystem>

namespace lirvo::access {

// Throws modTally::Failure (kDatabase), naming `file` and the system's reason, when it is
// missing, not a regular file, unreadable, empty, not an Access database (Jet or ACE header), or
// not a whole number of pages long (libmdb loops for ever on some files cut inside a page).
void CheckDatabaseFile(const std::filesystem::path& file);

}  // namespace lirvo::access
