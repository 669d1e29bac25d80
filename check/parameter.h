// The words of the parameter string that every part of the system speaks: the tag keys, the
// five source codes, which of them ask a time server, and the canonical string the dialog and
// the command line compose. The check, the dialog, the clock form and the command line read
// and write the string through these, so a code or a key is spelt in this one place.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brevun {

// The tag keys, in the canonical order.
namespace tag {
inline constexpr char16_t kFirstTimeServer[] = u"FTS";
inline constexpr char16_t kFirstSource[] = u"FPR";
inline constexpr char16_t kSecondTimeServer[] = u"STS";
inline constexpr char16_t kSecondSource[] = u"SPR";
inline constexpr char16_t kDifference[] = u"DIS";
}  // namespace tag

// The kinds of time source. Their order is the order of the dialog's source lists, which hosts
// have stored positions of.
enum class Source { kLocal, kTime, kSntp, kWmi, kSsh };
inline constexpr int kSourceCount = 5;

// The code that stands for a source in a parameter string: "local", "time", "sntp", "wmi" or
// "ssh".
std::u16string_view CodeOf(Source source);

// The source a code stands for. The comparison is exact, letter case included: "SNTP" or a
// misspelling names no source, and the check acquires no time for it.
std::optional<Source> SourceOf(std::u16string_view code);

// The sources that ask a time server (the Time Protocol or SNTP), by code or by source.
bool IsTimeServer(Source source);
bool IsTimeServerCode(std::u16string_view code);

// What a canonical parameter string says.
struct ParameterChoice {
  std::u16string_view firstTimeServer;
  Source firstSource = Source::kLocal;
  std::u16string_view secondTimeServer;
  Source secondSource = Source::kLocal;
  double difference = 0;  // seconds; finite
};

// "#FTS=..#FPR=..#STS=..#SPR=..#DIS=..#": the hosts with blanks (spaces only) removed at both
// ends, the codes, the difference as FormatNumber writes it. Nothing is escaped: a "#" in a
// host is stored as given. A difference that is not finite throws Failure of kind overflow.
std::u16string ComposeParameter(const ParameterChoice& choice);

}  // namespace brevun
