// send FILE: posts a request file the way the transfer posts its requests, and prints the reply.
// Exit status: 0 the server accepted it, 3 it rejected it (the reason on stderr), 1 failure.
#include <iostream>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>

#include <lirvo/books/judge.h>
#include <lirvo/books/send.h>

#include "commands.h"

namespace lirvo::cli {

namespace {

int Send(const std::string& file) {
  std::string request;
  try {
    request = modTally::LoadRequestFile(file);
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  try {
    const modTally::Reply reply = books::SendRequest(modTally::Server::FromEnvironment(), request);
    std::cout << reply.text;
    if (!reply.text.empty() && reply.text.back() != '\n') {
      std::cout << '\n';
    }
    // A request of objects is judged by whether the reply accounts for every one of them; any
    // other request (no TALLYMESSAGE) by whether the reply counts something done.
    const books::SentObjects sent = books::CountSentObjects(request);
    const books::ImportVerdict verdict =
        books::JudgeImport(reply, sent.objects > 0 ? std::optional(sent) : std::nullopt);
    if (verdict.outcome != books::ImportOutcome::kAccepted) {
      std::cout.flush();
      std::cerr << "lirvo: the server rejected " << file << ": " << verdict.reason << '\n';
      return kExitRejected;
    }
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: cannot send " << file << ": " << failure.description() << '\n';
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

void AddSendCommand(CLI::App& app, int& status) {
  CLI::App* command = app.add_subcommand(
      "send",
      "Post a request file laid out as the transfer does and print the reply (exit 3 when the "
      "server rejected it)");
  auto file = std::make_shared<std::string>();
  command->add_option("FILE", *file, "The XML request to post")->required();
  command->callback([file, &status] { status = Send(*file); });
}

}  // namespace lirvo::cli
