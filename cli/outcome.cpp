#include "cli/outcome.h"

#include <cmath>

#include "check/generic.h"
#include "check/number.h"
#include "check/parameter.h"
#include "check/result_text.h"

namespace brevun::cli {

namespace {

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

double LimitOf(const std::u16string& parameter) {
  // Only a limit too large for a double fails to read, and the check stops at its step then.
  const auto limit = ReadLeadingNumber(Generic::GetParameter(parameter, tag::kDifference));
  return limit ? std::floor(*limit) : 0;
}

}  // namespace

std::optional<CheckOutcome> OutcomeFromResult(const std::u16string& resultText,
                                              const std::u16string& parameter,
                                              long long acquisition) {
  const auto reading = ReadResultText(resultText);
  if (!reading) return std::nullopt;
  CheckOutcome out;
  if (reading->failed) {
    out.failedStep = reading->step;
    if (out.failedStep == step::kDifference) {
      if (StartsWith(reading->description, kFirstTimeText)) {
        out.serverFailed = IsTimeServerCode(Generic::GetParameter(parameter, tag::kFirstSource));
      } else if (StartsWith(reading->description, kSecondTimeText)) {
        out.serverFailed = IsTimeServerCode(Generic::GetParameter(parameter, tag::kSecondSource));
      }
    }
    return out;
  }
  out.completed = true;
  out.d = reading->d;
  out.acquisition = acquisition;
  out.limit = LimitOf(parameter);
  return out;
}

}  // namespace brevun::cli
