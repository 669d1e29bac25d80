#include "cli/outcome.h"

#include <cmath>
#include <string_view>

#include "check/failure.h"
#include "check/generic.h"
#include "check/number.h"

namespace brevun::cli {

namespace {

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Decimal digits only, at most ten of them: every step number and every D the check can
// write fits, and nothing longer can overflow here.
std::optional<long long> Digits(std::u16string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  long long v = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    v = v * 10 + (c - u'0');
  }
  return v;
}

// The check writes D and the step number with a blank for zero or positive, a minus otherwise.
std::optional<long long> NumberWithSign(std::u16string_view text) {
  if (text.empty()) return std::nullopt;
  if (text[0] == u' ') return Digits(text.substr(1));
  if (text[0] == u'-') {
    const auto v = Digits(text.substr(1));
    if (!v || *v == 0) return std::nullopt;
    return -*v;
  }
  return std::nullopt;
}

double LimitOf(const std::u16string& parameter) {
  try {
    return std::floor(ReadLeadingNumber(Generic::GetParameter(parameter, u"DIS")));
  } catch (const Failure&) {
    // Only a limit too large for a double fails to read, and the check stops at step 60 then.
    return 0;
  }
}

bool IsServerCode(const std::u16string& code) { return code == u"time" || code == u"sntp"; }

}  // namespace

std::optional<CheckOutcome> OutcomeFromResult(const std::u16string& resultText,
                                              const std::u16string& parameter,
                                              long long acquisition) {
  const std::u16string_view text = resultText;
  CheckOutcome out;

  constexpr std::u16string_view kFailure = u"ERR: ";
  if (StartsWith(text, kFailure)) {
    // The step number sits in the last parentheses: a description may hold parentheses of its
    // own (a quoted server response does).
    const auto open = text.rfind(u'(');
    if (open == std::u16string_view::npos || text.back() != u')') return std::nullopt;
    const auto step = NumberWithSign(text.substr(open + 1, text.size() - open - 2));
    if (!step || *step <= 0) return std::nullopt;
    out.failedStep = static_cast<int>(*step);
    const std::u16string_view description =
        text.substr(kFailure.size(), open - kFailure.size());
    if (out.failedStep == 290) {
      if (StartsWith(description, u"first time text")) {
        out.serverFailed = IsServerCode(Generic::GetParameter(parameter, u"FPR"));
      } else if (StartsWith(description, u"second time text")) {
        out.serverFailed = IsServerCode(Generic::GetParameter(parameter, u"SPR"));
      }
    }
    return out;
  }

  std::u16string_view rest;
  for (const std::u16string_view verdict : {std::u16string_view(u"Time is correct"),
                                            std::u16string_view(u"Time difference is too big")}) {
    if (StartsWith(text, verdict)) rest = text.substr(verdict.size());
  }
  constexpr std::u16string_view kD = u"  D=";
  constexpr std::u16string_view kF = u"  F=";
  if (!StartsWith(rest, kD)) return std::nullopt;
  rest.remove_prefix(kD.size());
  const auto f = rest.find(kF);
  if (f == std::u16string_view::npos) return std::nullopt;
  // The second time text follows "  S= "; the first may hold anything, so only its frame is
  // asked for.
  if (rest.find(u"  S= ", f + kF.size()) == std::u16string_view::npos) return std::nullopt;
  const auto d = NumberWithSign(rest.substr(0, f));
  if (!d) return std::nullopt;
  out.completed = true;
  out.d = *d;
  out.acquisition = acquisition;
  out.limit = LimitOf(parameter);
  return out;
}

}  // namespace brevun::cli
