#include "dialog/dialog_model.h"

#include "check/failure.h"
#include "check/generic.h"
#include "check/number.h"
#include "check/text.h"
#include "dialog/source_table.h"

namespace brevun::dialog {

void FillFromParameter(DialogValues& values, std::u16string_view parameter) {
  if (parameter.empty()) return;
  // Read in the order the check reads them, hosts and difference before the codes.
  values.firstTimeServer = Generic::GetParameter(parameter, u"FTS");
  values.secondTimeServer = Generic::GetParameter(parameter, u"STS");
  values.difference = Generic::GetParameter(parameter, u"DIS");
  const std::u16string first = Generic::GetParameter(parameter, u"FPR");
  const std::u16string second = Generic::GetParameter(parameter, u"SPR");
  values.firstSource = SourcePosition(first);
  values.secondSource = SourcePosition(second);
}

void FillForEditing(DialogValues& values, std::u16string_view timeout,
                    std::u16string_view parameter) {
  values.timeout = TrimBlanks(timeout);
  FillFromParameter(values, parameter);
}

std::optional<std::u16string> NormalizeDifference(std::u16string_view text) {
  try {
    return FormatNumber(ReadLeadingNumber(text));
  } catch (const Failure&) {
    // The reader's only failure is a number beyond a double: report it as "no number" and
    // let OK explain it, rather than let it escape into the window procedure.
    return std::nullopt;
  }
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
  const auto difference = NormalizeDifference(values.difference);
  if (!difference) {
    out.problem =
        u"The maximum difference is too large a number. Enter the largest allowed "
        u"difference between the two clocks in seconds.";
    out.box = ProblemBox::kDifference;
    return out;
  }
  out.parameter = u"#FTS=";
  out.parameter += TrimBlanks(values.firstTimeServer);
  out.parameter += u"#FPR=";
  out.parameter += SourceCode(values.firstSource);
  out.parameter += u"#STS=";
  out.parameter += TrimBlanks(values.secondTimeServer);
  out.parameter += u"#SPR=";
  out.parameter += SourceCode(values.secondSource);
  out.parameter += u"#DIS=";
  out.parameter += *difference;
  out.parameter += u"#";
  return out;
}

}  // namespace brevun::dialog
