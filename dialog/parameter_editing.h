// The window side of editing a parameter string in the dialog: what the component's
// zt_showGUI does around its own bookkeeping of the current parameter.
//
//   PrepareForEditing(dialog, timeoutText, parameterText);  // loads and fills the controls
//   currentParameter = parameter;                           // the component's own step
//   auto composed = ShowTopMostModal(dialog);                // returns when the dialog closed
//   parameter = composed ? *composed : the value it held before
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dialog/dialog_window.h"

namespace brevun::dialog {

// Puts the timeout (blanks trimmed) into the timeout box and, when the parameter text is not
// empty, its tags into the host boxes, the difference box and the source lists. Loads the
// window first if it is not loaded; a window already loaded (by a network fetch, say) keeps
// whatever the parameter does not replace. Throws brevun::Failure when it cannot be loaded.
void PrepareForEditing(DialogWindow& dialog, std::u16string_view timeout,
                       std::u16string_view parameter);

// Makes the window top-most and shows it modally. Returns the parameter string composed by
// OK, or std::nullopt when the dialog was closed in any other way.
std::optional<std::u16string> ShowTopMostModal(DialogWindow& dialog);

}  // namespace brevun::dialog
