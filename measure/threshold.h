// Thresholds as monitoring plugins take them: a range "[@]start:end" of the plugin
// development guidelines, where a value outside the range (inside it, with "@") raises the
// alert. "10" is 0 to 10, "10:" is 10 and up, "~:10" is anything up to 10.
#pragma once

#include <optional>
#include <string>

#include "measure/state.h"

namespace brevun::measure {

class ThresholdRange {
 public:
  // Reads a range; nullopt, with why in *problem, for a text that is not one (no number, a
  // start beyond the end, anything left over).
  static std::optional<ThresholdRange> Parse(const std::string& text, std::string* problem);

  // Whether the value raises this threshold's alert.
  bool Alerts(double value) const;

  // The text as the user gave it.
  const std::string& text() const { return text_; }

  // The range as performance data carries it beside a signed value. The check judges the
  // absolute offset, so a lone number N (0 to N) means -N to N there; written as it was
  // typed, a grapher that reads the guidelines' range syntax would find every negative offset
  // out of range. Any other range is written as given: it is the administrator's own.
  std::string PerformanceText() const;

 private:
  std::string text_;
  std::optional<double> start_;  // nullopt: no lower bound ("~")
  std::optional<double> end_;    // nullopt: no upper bound ("10:")
  bool inside_ = false;          // "@": alert inside the range rather than outside
  bool lone_ = false;            // a lone number: the end, with the start 0
};

// The state of a value by two ranges: CRITICAL where the critical range alerts, else WARNING
// where the warning range does, else OK.
State StateOf(double value, const ThresholdRange& warning, const ThresholdRange& critical);

// A plain decimal number: an optional sign, digits with at most one ".", nothing else (no
// exponent, no blanks, no "inf"). Thresholds, timeouts and offsets are typed by people;
// anything looser hides a typing error.
bool IsPlainDecimal(const std::string& text);
// Its value; nothing when the text is no plain decimal number or too large for a double.
std::optional<double> ParseDecimal(const std::string& text);

}  // namespace brevun::measure
