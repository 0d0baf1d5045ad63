#include <lirvo/verify.h>

namespace lirvo::verify {

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kMissing:
      return "missing";
    case Outcome::kDifferent:
      return "different";
    case Outcome::kNotInSource:
      return "not in source";
    case Outcome::kNotExpected:
      return "not expected";
    case Outcome::kMasterMissing:
      return "master missing";
    case Outcome::kMasterDifferent:
      return "master different";
  }
  return "";
}

}  // namespace lirvo::verify
