// The five kinds of time source that both source lists of the dialog offer, with the code each
// one writes into the parameter string.
#pragma once

#include <string>
#include <string_view>

namespace brevun::dialog {

inline constexpr int kSourceCount = 5;

// The caption of the list entry at a position 0..4 (the order in which the lists are filled).
std::u16string_view SourceCaption(int position);

// The code that a selected list position stands for. Positions 1 to 4 give "time", "sntp",
// "wmi" and "ssh"; position 0 and every other position, -1 (nothing selected) included, give
// "local", so whatever the list reports, the parameter string names a source the check knows.
std::u16string_view SourceCode(int position);

// The list position of a code as read from a parameter string. The comparison is exact, letter
// case included, because the check compares codes the same way: a code that the check would
// not recognise ("SNTP", "", a misspelling) is shown as position 0 rather than as a source the
// check would never use.
int SourcePosition(std::u16string_view code);

}  // namespace brevun::dialog
