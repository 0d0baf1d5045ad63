// The lirvo command in the tests that run it: the path of a test database, and lirvo run against a
// server with its output captured. Header only: the including test target defines
// LIRVO_TEST_DATA_DIR and LIRVO_CLI_PATH.
#pragma once
#include <string>

#include "raw_server.h"

namespace lirvo::test {

inline std::string Data(const std::string& name) {
  return std::string(LIRVO_TEST_DATA_DIR) + "/" + name;
}

// `lirvo ARGUMENTS` (a shell command line) with LIRVO_TALLY_URL set to `url`.
inline CommandResult Lirvo(const std::string& url, const std::string& arguments) {
  return RunCommand("LIRVO_TALLY_URL=" + url + " " LIRVO_CLI_PATH " " + arguments);
}

}  // namespace lirvo::test
