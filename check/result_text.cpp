#include "check/result_text.h"

#include <string>

#include "check/text.h"

namespace brevun {

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

// The reverse of NumberWithLeadingBlank: a blank for zero or positive, a minus otherwise.
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

std::optional<ResultReading> ReadFailure(std::u16string_view text) {
  const auto open = text.rfind(u'(');
  if (open == std::u16string_view::npos || open < kFailurePrefix.size() || text.back() != u')') {
    return std::nullopt;
  }
  const auto step = NumberWithSign(text.substr(open + 1, text.size() - open - 2));
  if (!step || *step <= 0) return std::nullopt;
  ResultReading out;
  out.failed = true;
  out.step = static_cast<int>(*step);
  out.description = text.substr(kFailurePrefix.size(), open - kFailurePrefix.size());
  return out;
}

}  // namespace

std::u16string ResultText(bool within, long long d, std::u16string_view firstTime,
                          std::u16string_view secondTime) {
  std::u16string out(within ? kTimeIsCorrect : kTimeDifferenceTooBig);
  out += kDifferenceLabel;
  out += NumberWithLeadingBlank(d);
  out += kFirstTimeLabel;
  out += firstTime;
  out += kSecondTimeLabel;
  out += secondTime;
  return out;
}

std::u16string FailureText(std::u16string_view description, int step) {
  std::u16string out(kFailurePrefix);
  out += description;
  out += u'(';
  out += NumberWithLeadingBlank(step);
  out += u')';
  return out;
}

std::u16string FetchFailureText(std::u16string_view description, int step) {
  std::u16string out(kFailurePrefix);
  out += description;
  out += u" (";
  out += FromUtf8(std::to_string(step));
  out += u')';
  return out;
}

std::optional<ResultReading> ReadResultText(std::u16string_view text) {
  if (StartsWith(text, kFailurePrefix)) return ReadFailure(text);

  ResultReading out;
  std::u16string_view rest;
  if (StartsWith(text, kTimeIsCorrect)) {
    out.within = true;
    rest = text.substr(kTimeIsCorrect.size());
  } else if (StartsWith(text, kTimeDifferenceTooBig)) {
    rest = text.substr(kTimeDifferenceTooBig.size());
  }
  if (!StartsWith(rest, kDifferenceLabel)) return std::nullopt;
  rest.remove_prefix(kDifferenceLabel.size());
  const auto f = rest.find(kFirstTimeLabel);
  if (f == std::u16string_view::npos) return std::nullopt;
  if (rest.find(kSecondTimeLabel, f + kFirstTimeLabel.size()) == std::u16string_view::npos) {
    return std::nullopt;
  }
  const auto d = NumberWithSign(rest.substr(0, f));
  if (!d) return std::nullopt;
  out.d = *d;
  return out;
}

}  // namespace brevun
