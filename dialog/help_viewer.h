// Opens a topic of the help file that stands beside the module containing the dialog.
#pragma once

#include <windows.h>

namespace brevun::dialog {

// Shows the topic mapped to the help context id, in a help window owned by caller (so it
// closes with the dialog). The help viewer (hhctrl.ocx) is loaded on the first call only, so
// that a host that never asks for help never loads it and the DLL does not import it. When
// the help file or the viewer is missing, the user is told so in a message box.
void ShowHelp(HWND caller, unsigned context) noexcept;

}  // namespace brevun::dialog
