#include "measure/threshold.h"

#include <cmath>
#include <cstdlib>

namespace brevun::measure {

bool IsPlainDecimal(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  std::size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits > 0;
}

std::optional<double> ParseDecimal(const std::string& text) {
  if (!IsPlainDecimal(text)) return std::nullopt;
  // The program never sets a locale, so strtod reads "." as the decimal point.
  const double v = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<ThresholdRange> ThresholdRange::Parse(const std::string& text, std::string* problem) {
  ThresholdRange r;
  r.text_ = text;
  std::string rest = text;
  if (!rest.empty() && rest[0] == '@') {
    r.inside_ = true;
    rest.erase(0, 1);
  }
  const auto fail = [&](const std::string& why) -> std::optional<ThresholdRange> {
    if (problem) *problem = "'" + text + "' is not a threshold range: " + why;
    return std::nullopt;
  };
  if (rest.empty()) return fail("it is empty");
  const auto colon = rest.find(':');
  if (colon == std::string::npos) {
    // A lone number is the end; the start is 0.
    r.lone_ = true;
    r.start_ = 0;
    r.end_ = ParseDecimal(rest);
    if (!r.end_) return fail("'" + rest + "' is not a number");
  } else {
    const std::string start = rest.substr(0, colon);
    const std::string end = rest.substr(colon + 1);
    if (start == "~") {
      r.start_.reset();
    } else {
      // "START:" and ":END" leave a side open; ":END" reads as a start of 0.
      r.start_ = start.empty() ? std::optional<double>(0) : ParseDecimal(start);
      if (!r.start_) return fail("'" + start + "' is not a number or ~");
    }
    if (!end.empty()) {
      r.end_ = ParseDecimal(end);
      if (!r.end_) return fail("'" + end + "' is not a number");
    }
    // Without both, nothing could ever raise the alert (or, with "@", everything would).
    if ((start.empty() || start == "~") && end.empty()) {
      return fail("it has neither a start nor an end");
    }
  }
  if (r.start_ && r.end_ && *r.start_ > *r.end_) {
    return fail("the start is greater than the end");
  }
  return r;
}

std::string ThresholdRange::PerformanceText() const {
  if (!lone_) return text_;
  // "@N" alerts inside 0 to N: inside -N to N for the signed value.
  std::string end = text_.substr(inside_ ? 1 : 0);
  if (!end.empty() && end[0] == '+') end.erase(0, 1);
  return std::string(inside_ ? "@" : "") + "-" + end + ":" + end;
}

State StateOf(double value, const ThresholdRange& warning, const ThresholdRange& critical) {
  if (critical.Alerts(value)) return State::kCritical;
  return warning.Alerts(value) ? State::kWarning : State::kOk;
}

bool ThresholdRange::Alerts(double value) const {
  const bool within = (!start_ || value >= *start_) && (!end_ || value <= *end_);
  return inside_ ? within : !within;
}

}  // namespace brevun::measure
