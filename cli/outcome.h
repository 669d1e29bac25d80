// What a check's result text tells a caller who has nothing else: brevun-check --com gets only
// the verdict and zt_result back from the component, yet judges the run by the same states as
// the check it runs itself.
#pragma once

#include <optional>
#include <string>

#include "check/check.h"

namespace brevun::cli {

// Reads the result or failure text of one check back into the outcome the check would have
// reported alongside it:
// - "Time is correct  D= 5  F=...  S= ..." and "Time difference is too big  D=-3  F=..." give
//   a completed outcome with D; the limit is the parameter's "DIS" tag as the check reads it
//   (leading number, floored) and the acquisition is the caller's, since the text does not
//   carry it.
// - "ERR: <description>( N)" gives failed step N; a failure at step 290 whose description
//   names the first or second time text counts as a time server's failure when the parameter
//   gives that source the code "time" or "sntp".
// Any other text (empty, cut short, from some other program) gives nothing.
std::optional<CheckOutcome> OutcomeFromResult(const std::u16string& resultText,
                                              const std::u16string& parameter,
                                              long long acquisition);

}  // namespace brevun::cli
