// A help viewer planted beside a host program under the system's file name, hhctrl.ocx, as
// someone who can write to the host's folder would plant it: a library that searched the
// program's folder for the viewer would load this one. It offers the viewer's entry point and
// opens nothing; the dialog's test looks at which module answered F1.
#include <windows.h>

extern "C" __declspec(dllexport) HWND WINAPI HtmlHelpW(HWND, LPCWSTR, UINT, DWORD_PTR) {
  return nullptr;
}
