#include "check/parameter.h"

#include "check/number.h"
#include "check/text.h"

namespace brevun {

namespace {

constexpr std::u16string_view kCodes[kSourceCount] = {u"local", u"time", u"sntp", u"wmi", u"ssh"};

void AppendTag(std::u16string& out, std::u16string_view key, std::u16string_view value) {
  out += u'#';
  out += key;
  out += u'=';
  out += value;
}

}  // namespace

std::u16string_view CodeOf(Source source) {
  const auto i = static_cast<int>(source);
  return i >= 0 && i < kSourceCount ? kCodes[i] : kCodes[0];
}

std::optional<Source> SourceOf(std::u16string_view code) {
  for (int i = 0; i < kSourceCount; ++i) {
    if (kCodes[i] == code) return static_cast<Source>(i);
  }
  return std::nullopt;
}

bool IsTimeServer(Source source) { return source == Source::kTime || source == Source::kSntp; }

bool IsTimeServerCode(std::u16string_view code) {
  const auto source = SourceOf(code);
  return source && IsTimeServer(*source);
}

std::u16string ComposeParameter(const ParameterChoice& choice) {
  // The difference first: it is the one part that can fail, and then nothing is composed.
  const std::u16string difference = FormatNumber(choice.difference);
  std::u16string out;
  AppendTag(out, tag::kFirstTimeServer, TrimBlanks(choice.firstTimeServer));
  AppendTag(out, tag::kFirstSource, CodeOf(choice.firstSource));
  AppendTag(out, tag::kSecondTimeServer, TrimBlanks(choice.secondTimeServer));
  AppendTag(out, tag::kSecondSource, CodeOf(choice.secondSource));
  AppendTag(out, tag::kDifference, difference);
  out += u'#';
  return out;
}

}  // namespace brevun
