// Thresholds as monitoring plugins take them: a range "[@]start:end" of the plugin
// development guidelines, where a value outside the range (inside it, with "@") raises the
// alert. "10" is 0 to 10, "10:" is 10 and up, "~:10" is anything up to 10.
#pragma once

#include <optional>
#include <string>

namespace brevun::cli {

class ThresholdRange {
 public:
  // Reads a range; nullopt, with why in *problem, for a text that is not one (no number, a
  // start beyond the end, anything left over).
  static std::optional<ThresholdRange> Parse(const std::string& text, std::string* problem);

  // Whether the value raises this threshold's alert.
  bool Alerts(double value) const;

  // The text as the user gave it: performance data carries the thresholds as given.
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::optional<double> start_;  // nullopt: no lower bound ("~")
  std::optional<double> end_;    // nullopt: no upper bound ("10:")
  bool inside_ = false;          // "@": alert inside the range rather than outside
};

// A plain decimal number: an optional sign, digits with at most one ".", nothing else (no
// exponent, no blanks, no "inf"). Thresholds and offsets are typed by people; anything looser
// hides a typing error.
std::optional<double> ParseDecimal(const std::string& text);

}  // namespace brevun::cli
