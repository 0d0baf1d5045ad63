// send FILE: posts a request file the way the transfer posts its requests, and prints the reply.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include <lirvo/transfer.h>

#include "commands.h"

namespace lirvo::cli {

int Send(const Args& args) {
  if (args.size() != 1) {
    return UsageError("send takes one request file");
  }
  const std::string& file = args.front();
  std::error_code error;
  std::ifstream in(file, std::ios::binary);
  if (!in || std::filesystem::is_directory(file, error)) {
    std::cerr << "lirvo: cannot read the request file " << file << '\n';
    return kExitFailure;
  }
  const std::string request((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::cerr << "lirvo: cannot read the request file " << file << '\n';
    return kExitFailure;
  }
  modTally::TallyUrl = modTally::DefaultAddress();
  try {
    const std::string reply = transfer::SendToTally(request);
    std::cout << reply;
    if (!reply.empty() && reply.back() != '\n') {
      std::cout << '\n';
    }
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: cannot send " << file << ": " << failure.description() << '\n';
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace lirvo::cli
