// send FILE: posts a request file the way the transfer posts its requests, and prints the reply.
#include <iostream>

#include <lirvo/transfer.h>

#include "commands.h"

namespace lirvo::cli {

int Send(const Args& args) {
  if (args.size() != 1) {
    return UsageError("send takes one request file");
  }
  const std::string& file = args.front();
  std::string request;
  try {
    request = modTally::LoadRequestFile(file);
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
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
