// probe, current-company, companies: the three queries, with failures on stderr.
#include <iostream>

#include <lirvo/modTally.h>

#include "commands.h"

namespace lirvo::cli {

namespace {

int RequireNoArguments(const char* command, const Args& args) {
  if (!args.empty()) {
    return UsageError(std::string(command) + " takes no arguments, got \"" + args.front() + "\"");
  }
  return kExitOk;
}

template <class T>
bool ReportFailure(const modTally::QueryResult<T>& result) {
  if (result) {
    return false;
  }
  std::cerr << "lirvo: " << result.description << '\n';
  return true;
}

}  // namespace

int Probe(const Args& args) {
  if (const int usage = RequireNoArguments("probe", args); usage != kExitOk) {
    return usage;
  }
  const auto result = modTally::TryGetTallyVersion();
  if (ReportFailure(result)) {
    return kExitFailure;
  }
  std::cout << *result.value << '\n';
  return kExitOk;
}

int CurrentCompany(const Args& args) {
  if (const int usage = RequireNoArguments("current-company", args); usage != kExitOk) {
    return usage;
  }
  const auto result = modTally::TryGetCurrentCompany();
  if (ReportFailure(result)) {
    return kExitFailure;
  }
  std::cout << *result.value << '\n';
  return kExitOk;
}

int Companies(const Args& args) {
  if (const int usage = RequireNoArguments("companies", args); usage != kExitOk) {
    return usage;
  }
  const auto result = modTally::TryGetCompanyList();
  if (ReportFailure(result)) {
    return kExitFailure;
  }
  for (const std::string& name : *result.value) {
    std::cout << name << '\n';
  }
  return kExitOk;
}

}  // namespace lirvo::cli
