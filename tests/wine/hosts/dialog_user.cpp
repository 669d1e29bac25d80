// Plays the user of the configuration dialog that another process (brevun-check --configure,
// through the component) has opened: waits for the dialog, prints what its boxes show, types
// into the difference box when asked, and presses OK.
//
// Usage: dialog_user.exe SECONDS [DIFFERENCE]
// Exit 0 when OK was pressed, 1 when no dialog appeared within SECONDS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialog/layout.h"
#include "win/wide_text.h"

namespace ids = brevun::dialog;

namespace {

std::string TextOf(HWND dialog, int id) {
  wchar_t buffer[512] = {};
  // Another process's window: GetWindowText would not ask it, WM_GETTEXT does.
  SendMessageW(GetDlgItem(dialog, id), WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
  return brevun::win::Utf8(buffer);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const int seconds = _wtoi(argv[1]);
  const std::wstring wideCaption = brevun::win::Wide(ids::kDialogCaption);
  HWND dialog = nullptr;
  for (int waited = 0; waited < seconds * 10; ++waited) {
    dialog = FindWindowW(nullptr, wideCaption.c_str());
    if (dialog != nullptr && IsWindowVisible(dialog)) break;
    dialog = nullptr;
    Sleep(100);
  }
  if (dialog == nullptr) {
    std::printf("no dialog within %d s\n", seconds);
    return 1;
  }
  std::printf("first time host: %s\n", TextOf(dialog, ids::kTxtFirstTimeServer).c_str());
  std::printf("difference: %s\n", TextOf(dialog, ids::kTxtDifference).c_str());
  std::printf("timeout: %s\n", TextOf(dialog, ids::kTxtTimeout).c_str());
  std::printf("top-most: %s\n",
              (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0 ? "yes" : "no");
  if (argc > 2) {
    SendMessageW(GetDlgItem(dialog, ids::kTxtDifference), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(argv[2]));
  }
  // What a click on OK sends to its dialog.
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ids::kBtOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, ids::kBtOK)));
  std::printf("pressed OK\n");
  return 0;
}
