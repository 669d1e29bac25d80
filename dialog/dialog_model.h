// What the configuration dialog holds and does, apart from the window: the values of its
// controls, how they are filled from a parameter string when the dialog opens, and how OK
// composes a new parameter string from them. The window and the component only move these
// values in and out of the controls, so every rule here is tested without a display.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brevun::dialog {

struct DialogValues {
  std::u16string timeout;  // shown for reference; nothing ever reads it back
  std::u16string firstTimeServer;
  std::u16string secondTimeServer;
  std::u16string difference;
  int firstSource = 0;  // selected list position; -1 when nothing is selected
  int secondSource = 0;

  friend bool operator==(const DialogValues& a, const DialogValues& b) {
    return a.timeout == b.timeout && a.firstTimeServer == b.firstTimeServer &&
           a.secondTimeServer == b.secondTimeServer && a.difference == b.difference &&
           a.firstSource == b.firstSource && a.secondSource == b.secondSource;
  }
  friend bool operator!=(const DialogValues& a, const DialogValues& b) { return !(a == b); }
};

// Puts a stored parameter string into the controls: the five tags in plain mode, the hosts and
// the difference exactly as stored (not normalised, so the user sees what the host saved), the
// source codes as list positions. An empty text leaves every value as it is; any other text,
// a single blank included, replaces all six, tags that are missing reading as "".
void FillFromParameter(DialogValues& values, std::u16string_view parameter);

// Everything the component does to the controls before it shows the dialog: the timeout text
// with blanks removed at both ends into the timeout box, then FillFromParameter.
void FillForEditing(DialogValues& values, std::u16string_view timeout,
                    std::u16string_view parameter);

// The difference text as the parameter string stores it: the leading number of the text
// (ReadLeadingNumber) written back by FormatNumber, so "60 s" becomes "60", "0.5" becomes ".5"
// and a text without a number becomes "0". std::nullopt when the number lies beyond the range
// of a double ("1E400"): there is no number to store.
std::optional<std::u16string> NormalizeDifference(std::u16string_view text);

// The box whose text keeps OK from composing a parameter string; the dialog puts the focus there.
enum class ProblemBox { kNone, kFirstTimeServer, kSecondTimeServer, kDifference };

// The outcome of OK. A host with a tag mark in it or a difference beyond a double keeps a
// parameter string from being composed.
struct Composed {
  std::u16string parameter;  // the canonical parameter string when problem is empty
  std::u16string problem;    // otherwise what to tell the user, the dialog staying open
  ProblemBox box = ProblemBox::kNone;

  bool ok() const { return problem.empty(); }
};

// Composes the canonical parameter string "#FTS=..#FPR=..#STS=..#SPR=..#DIS=..#": hosts with
// blanks (spaces only) removed at both ends, codes of the selected positions, the normalised
// difference. A "#" in a host is refused rather than stored: the tag reader would end the host
// there and read what follows as tags of its own (a host typed as "x#DIS=99999" would widen
// the limit of every later check), and no host name or address contains one.
Composed ComposeParameter(const DialogValues& values);

}  // namespace brevun::dialog
