#include "dialog/dialog_model.h"

#include "check/generic.h"
#include "check/number.h"
#include "check/parameter.h"
#include "check/text.h"
#include "dialog/source_table.h"

namespace brevun::dialog {

void FillFromParameter(DialogValues& values, std::u16string_view parameter) {
  if (parameter.empty()) return;
  // Read in the order the check reads them, hosts and difference before the codes.
  values.firstTimeServer = Generic::GetParameter(parameter, tag::kFirstTimeServer);
  values.secondTimeServer = Generic::GetParameter(parameter, tag::kSecondTimeServer);
  values.difference = Generic::GetParameter(parameter, tag::kDifference);
  const std::u16string first = Generic::GetParameter(parameter, tag::kFirstSource);
  const std::u16string second = Generic::GetParameter(parameter, tag::kSecondSource);
  values.firstSource = SourcePosition(first);
  values.secondSource = SourcePosition(second);
}

void FillForEditing(DialogValues& values, std::u16string_view timeout,
                    std::u16string_view parameter) {
  values.timeout = TrimBlanks(timeout);
  FillFromParameter(values, parameter);
}

std::optional<std::u16string> NormalizeDifference(std::u16string_view text) {
  const auto number = ReadLeadingNumber(text);
  if (!number) return std::nullopt;
  return FormatNumber(*number);
}

Composed ComposeParameter(const DialogValues& values) {
  Composed out;
  const struct {
    const std::u16string& host;
    ProblemBox box;
    const char16_t* which;
  } hosts[] = {{values.firstTimeServer, ProblemBox::kFirstTimeServer, u"first"},
               {values.secondTimeServer, ProblemBox::kSecondTimeServer, u"second"}};
  for (const auto& h : hosts) {
    if (h.host.find(u'#') == std::u16string::npos) continue;
    out.problem = u"The " + std::u16string(h.which) +
                  u" time host contains \"#\", which marks the start of a setting in the "
                  u"stored parameter. Enter a host name or address, optionally with \":port\".";
    out.box = h.box;
    return out;
  }
  const auto difference = ReadLeadingNumber(values.difference);
  if (!difference) {
    out.problem =
        u"The maximum difference is too large a number. Enter the largest allowed "
        u"difference between the two clocks in seconds.";
    out.box = ProblemBox::kDifference;
    return out;
  }
  ParameterChoice choice;
  choice.firstTimeServer = values.firstTimeServer;
  choice.firstSource = SourceAt(values.firstSource);
  choice.secondTimeServer = values.secondTimeServer;
  choice.secondSource = SourceAt(values.secondSource);
  choice.difference = *difference;
  out.parameter = brevun::ComposeParameter(choice);
  return out;
}

}  // namespace brevun::dialog
