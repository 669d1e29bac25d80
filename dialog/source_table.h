// The five kinds of time source that both source lists of the dialog offer, with the caption of
// each entry; the codes they write are the check's own (check/parameter.h).
#pragma once

#include <string>
#include <string_view>

#include "check/parameter.h"

namespace brevun::dialog {

inline constexpr int kSourceCount = brevun::kSourceCount;

// The caption of the list entry at a position 0..4 (the order in which the lists are filled).
std::u16string_view SourceCaption(int position);

// The source that a selected list position stands for. Positions 1 to 4 give the Time
// Protocol, SNTP, WMI and SSH; position 0 and every other position, -1 (nothing selected)
// included, give the local clock, so whatever the list reports, the parameter string names a
// source the check knows.
Source SourceAt(int position);

// The list position of a code as read from a parameter string. The comparison is exact, letter
// case included, because the check compares codes the same way: a code that the check would
// not recognise ("SNTP", "", a misspelling) is shown as position 0 rather than as a source the
// check would never use.
int SourcePosition(std::u16string_view code);

}  // namespace brevun::dialog
