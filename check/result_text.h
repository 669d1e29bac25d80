// The one-line text a check leaves in zt_result, written by the check and read back by
// brevun-check --com, which gets nothing else from the component. Both sides use the pieces
// below, so the reader can never drift from what the writer writes.
//
//   "Time is correct  D= 5  F=<first time text>  S= <second time text>"
//   "Time difference is too big  D=-3  F=...  S= ..."
//   "ERR: <description>( 290)"
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brevun {

// The verdict sentences that open a completed check's text.
inline constexpr std::u16string_view kTimeIsCorrect = u"Time is correct";
inline constexpr std::u16string_view kTimeDifferenceTooBig = u"Time difference is too big";
// The labels of D and of the two time texts that follow the sentence; the second time text's
// label has always carried a blank more.
inline constexpr std::u16string_view kDifferenceLabel = u"  D=";
inline constexpr std::u16string_view kFirstTimeLabel = u"  F=";
inline constexpr std::u16string_view kSecondTimeLabel = u"  S= ";
// How every failure text begins.
inline constexpr std::u16string_view kFailurePrefix = u"ERR: ";

// How a failure at the step that reads both time texts begins when one of them is not a
// date-time: the reader tells from it which source let the check down.
inline constexpr std::u16string_view kFirstTimeText = u"first time text";
inline constexpr std::u16string_view kSecondTimeText = u"second time text";

// The verdict sentence, D and both time texts as they were acquired.
std::u16string ResultText(bool within, long long d, std::u16string_view firstTime,
                          std::u16string_view secondTime);

// "ERR: " + description + "(" + the step number with its leading blank + ")".
std::u16string FailureText(std::u16string_view description, int step);

// The time fetch's own failure text, which has always been laid out apart from the check's:
// "ERR: " + description + " (" + the step number + ")". The check then quotes it whole.
std::u16string FetchFailureText(std::u16string_view description, int step);

// What a result or failure text says, read back.
struct ResultReading {
  bool failed = false;
  // A completed check (failed is false): its verdict and D.
  bool within = false;
  long long d = 0;
  // A failed check: the step and the description (a view into the text read).
  int step = 0;
  std::u16string_view description;
};

// Reads a text that ResultText or FailureText wrote. The step number sits in the last
// parentheses, since a description may hold parentheses of its own (a quoted server response
// does); the first time text may hold anything, so only the frame around it is asked for.
// Any other text (empty, cut short, from some other program) gives nothing.
std::optional<ResultReading> ReadResultText(std::u16string_view text);

}  // namespace brevun
