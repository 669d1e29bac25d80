// A host program for the configuration dialog, run under Wine with a virtual display. It does
// to the dialog what the component's zt_showGUI does (fill it, make it top-most, show it
// modally) and, from a timer on the same thread, plays the user: it finds the dialog among the
// thread's windows, reads its controls, edits them with window messages and presses OK or
// closes the window. Every scenario checks the string that comes back.
//
// Usage: dialog_host.exe [artifact folder]
// With a folder, the host asks for screenshots: it writes NAME.ready there (the window's
// screen rectangle as "x y width height") and waits for NAME.done, which the script that runs
// it writes after taking the picture.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "check/failure.h"
#include "check/text.h"
#include "dialog/dialog_window.h"
#include "dialog/layout.h"
#include "dialog/parameter_editing.h"
#include "tests/project_version.h"
#include "win/wide_text.h"

using brevun::dialog::DialogWindow;
namespace ids = brevun::dialog;

namespace {

int passed = 0;
int failed = 0;
std::string scenarioName;

std::string Narrow(std::wstring_view w) { return brevun::win::Utf8(w); }

bool Check(bool ok, const std::string& what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAIL [%s] %s\n", scenarioName.c_str(), what.c_str());
    std::fflush(stdout);
  }
  return ok;
}

bool CheckText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
  return Check(actual == expected,
               what + ": \"" + Narrow(actual) + "\", expected \"" + Narrow(expected) + "\"");
}

std::wstring Text(HWND hwnd) {
  wchar_t buf[1024] = {};
  GetWindowTextW(hwnd, buf, 1024);
  return buf;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256] = {};
  GetClassNameW(hwnd, buf, 256);
  return buf;
}

// The first visible top-level window of this thread that matches.
HWND FindThreadWindow(const std::function<bool(HWND)>& matches) {
  struct Search {
    const std::function<bool(HWND)>* matches;
    HWND found = nullptr;
    static BOOL CALLBACK Visit(HWND hwnd, LPARAM lp) {
      auto* s = reinterpret_cast<Search*>(lp);
      if (IsWindowVisible(hwnd) && (*s->matches)(hwnd)) {
        s->found = hwnd;
        return FALSE;
      }
      return TRUE;
    }
  } search{&matches};
  EnumThreadWindows(GetCurrentThreadId(), &Search::Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The dialog as a host would find it: a top-level window of this thread with its caption.
HWND FindDialog() {
  return FindThreadWindow(
      [](HWND hwnd) { return Text(hwnd) == L"Time server check: External COM check "; });
}

// A window of this thread that the dialog owns and that has the given class.
HWND FindOwned(HWND owner, const wchar_t* className) {
  return FindThreadWindow([owner, className](HWND hwnd) {
    return GetWindow(hwnd, GW_OWNER) == owner && ClassOf(hwnd) == className;
  });
}

// --- The scenario runner: steps run one per timer tick; a step that returns false runs again
// on the next tick (it is waiting for something). ---

using Step = std::function<bool()>;

struct Script {
  std::vector<Step> steps;
  std::size_t next = 0;
  bool busy = false;
  std::chrono::steady_clock::time_point deadline;
  bool timedOut = false;
};

Script* running = nullptr;

void CloseEverything() {
  if (HWND dialog = FindDialog()) {
    if (HWND box = FindOwned(dialog, L"#32770")) PostMessageW(box, WM_COMMAND, IDOK, 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  }
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  Script* s = running;
  if (s == nullptr || s->busy) return;
  s->busy = true;
  if (std::chrono::steady_clock::now() > s->deadline) {
    if (!s->timedOut) {
      s->timedOut = true;
      Check(false, "timed out at step " + std::to_string(s->next + 1));
    }
    CloseEverything();
  } else if (s->next < s->steps.size()) {
    try {
      if (s->steps[s->next]()) ++s->next;
    } catch (...) {
      Check(false, "step " + std::to_string(s->next + 1) + " threw");
      ++s->next;
    }
  }
  s->busy = false;
}

struct Outcome {
  std::optional<std::u16string> returned;
  std::vector<std::u16string> sink;
};

// What zt_showGUI does, with the steps played from the timer.
Outcome Run(const char* name, DialogWindow& dialog, std::vector<std::u16string>& sink,
            const std::u16string& timeout, const std::u16string& parameter,
            std::vector<Step> steps) {
  scenarioName = name;
  sink.clear();
  Script script;
  script.steps = std::move(steps);
  script.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  running = &script;
  const UINT_PTR timer = SetTimer(nullptr, 0, 40, Tick);
  Outcome outcome;
  try {
    brevun::dialog::PrepareForEditing(dialog, timeout, parameter);
    outcome.returned = brevun::dialog::ShowTopMostModal(dialog);
  } catch (const brevun::Failure& f) {
    Check(false, "failure: " + brevun::ToUtf8(f.description()));
  }
  KillTimer(nullptr, timer);
  running = nullptr;
  Check(script.next == script.steps.size(), "the dialog closed after step " +
                                                std::to_string(script.next) + " of " +
                                                std::to_string(script.steps.size()));
  Check(!dialog.IsLoaded() && FindDialog() == nullptr, "the dialog is unloaded after the show");
  outcome.sink = sink;
  return outcome;
}

std::string U8(const std::u16string& s) { return brevun::ToUtf8(s); }

void ExpectOk(const Outcome& outcome, const std::u16string& expected) {
  Check(outcome.returned.has_value() && *outcome.returned == expected,
        "OK returns \"" + (outcome.returned ? U8(*outcome.returned) : std::string("(nothing)")) +
            "\", expected \"" + U8(expected) + "\"");
  Check(outcome.sink.size() == 1 && outcome.sink[0] == expected,
        "the sink received the composed string once");
}

void ExpectClosed(const Outcome& outcome) {
  Check(!outcome.returned.has_value(), "a close returns nothing");
  Check(outcome.sink.empty(), "a close writes nothing");
}

// --- Steps ---

HWND dialogHwnd = nullptr;

HWND Item(int id) { return GetDlgItem(dialogHwnd, id); }

Step WaitForDialog() {
  return [] {
    dialogHwnd = FindDialog();
    return dialogHwnd != nullptr && GetForegroundWindow() == dialogHwnd;
  };
}

Step Do(std::function<void()> action) {
  return [action] {
    action();
    return true;
  };
}

const wchar_t* const kEntries[] = {L"Local system", L"Time server (time protocol)",
                                   L"Time server (SNTP protocol)", L"Windows server (WMI protocol)",
                                   L"SSH based"};

void CheckLists(int first, int second) {
  const struct {
    int id;
    int selected;
    const char* name;
  } lists[] = {{ids::kCmbFirstTimeSource, first, "first list"},
               {ids::kCmbSecondTimeSource, second, "second list"}};
  for (const auto& l : lists) {
    HWND list = Item(l.id);
    const auto count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    Check(count == 5, std::string(l.name) + " holds " + std::to_string(count) + " entries");
    for (int i = 0; i < 5 && i < count; ++i) {
      wchar_t entry[128] = {};
      SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
      CheckText(entry, kEntries[i], std::string(l.name) + " entry " + std::to_string(i));
    }
    const auto selected = SendMessageW(list, CB_GETCURSEL, 0, 0);
    Check(selected == l.selected, std::string(l.name) + " selects " + std::to_string(selected) +
                                      ", expected " + std::to_string(l.selected));
    if (l.selected >= 0)
      CheckText(Text(list), kEntries[l.selected], std::string(l.name) + " shows");
  }
}

void CheckBoxes(const wchar_t* timeout, const wchar_t* first, const wchar_t* second,
                const wchar_t* difference) {
  CheckText(Text(Item(ids::kTxtTimeout)), timeout, "timeout box");
  CheckText(Text(Item(ids::kTxtFirstTimeServer)), first, "first host box");
  CheckText(Text(Item(ids::kTxtSecondTimeServer)), second, "second host box");
  CheckText(Text(Item(ids::kTxtDifference)), difference, "difference box");
}

void CheckLoadState() {
  CheckText(Text(dialogHwnd), L"Time server check: External COM check ", "caption");
  CheckText(Text(Item(ids::kLblVersion)), brevun::win::WidenAscii(BREVUN_EXPECTED_VERSION_LINE),
            "version line");
  Check((GetWindowLongW(dialogHwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "the dialog is top-most");
  Check(GetWindow(dialogHwnd, GW_OWNER) == nullptr, "the dialog has no owner window");
}

void SetBox(int id, const wchar_t* text) {
  SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void Select(int id, int position) {
  SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}
void PressOk() { PostMessageW(Item(ids::kBtOK), BM_CLICK, 0, 0); }
void CloseCommand() { PostMessageW(dialogHwnd, WM_SYSCOMMAND, SC_CLOSE, 0); }
void PostKey(HWND target, UINT key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

// Where every control must stand, in client pixels: the layout's twips divided by 15, with
// the frames' offsets added to the controls inside them.
void CheckGeometry() {
  RECT client{};
  GetClientRect(dialogHwnd, &client);
  Check(client.right == 447 && client.bottom == 313, "client area " + std::to_string(client.right) +
                                                         "x" + std::to_string(client.bottom) +
                                                         ", expected 447x313");
  const struct {
    int id;
    const wchar_t* className;
    int left, top, width, height;
  } controls[] = {
      {ids::kFrameTime, L"Button", 8, 8, 425, 153},
      {ids::kCmbFirstTimeSource, L"ComboBox", 112, 24, 297, 21},
      {ids::kTxtFirstTimeServer, L"Edit", 112, 56, 300, 19},
      {ids::kTxtDifference, L"Edit", 112, 128, 300, 19},
      {ids::kLabel4, L"Static", 24, 28, 81, 17},
      {ids::kLabel2, L"Static", 24, 56, 81, 17},
      {ids::kLabel3, L"Static", 24, 132, 81, 17},
      {ids::kFrame1, L"Button", 8, 168, 425, 81},
      {ids::kCmbSecondTimeSource, L"ComboBox", 112, 184, 297, 21},
      {ids::kTxtSecondTimeServer, L"Edit", 112, 216, 300, 19},
      {ids::kLabel1, L"Static", 24, 188, 81, 17},
      {ids::kLabel5, L"Static", 24, 216, 81, 17},
      {ids::kLblVersion, L"Static", 16, 280, 161, 17},
      {ids::kTxtTimeout, L"Edit", 240, 280, 73, 19},
      {ids::kBtOK, L"Button", 360, 280, 49, 25},
  };
  for (const auto& c : controls) {
    HWND item = Item(c.id);
    if (!Check(item != nullptr, "control " + std::to_string(c.id) + " exists")) continue;
    RECT r{};
    GetWindowRect(item, &r);
    MapWindowPoints(nullptr, dialogHwnd, reinterpret_cast<POINT*>(&r), 2);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    Check(r.left == c.left && r.top == c.top && w == c.width && h == c.height,
          Narrow(Text(item)) + " (" + std::to_string(c.id) + ") stands at " +
              std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(w) + "x" +
              std::to_string(h) + ", expected " + std::to_string(c.left) + "," +
              std::to_string(c.top) + " " + std::to_string(c.width) + "x" +
              std::to_string(c.height));
    Check(_wcsicmp(ClassOf(item).c_str(), c.className) == 0,
          std::to_string(c.id) + " is a " + Narrow(ClassOf(item)));
  }
  const struct {
    int id;
    const wchar_t* caption;
  } captions[] = {{ids::kBtOK, L"&OK"},
                  {ids::kFrameTime, L"First Time Source"},
                  {ids::kFrame1, L"Second Time Source"},
                  {ids::kLabel4, L"Source"},
                  {ids::kLabel1, L"Source"},
                  {ids::kLabel2, L"Time Host:"},
                  {ids::kLabel5, L"Time Host:"},
                  {ids::kLabel3, L"Max difference:"}};
  for (const auto& c : captions) CheckText(Text(Item(c.id)), c.caption, "caption");

  const LONG_PTR comboStyle = GetWindowLongPtrW(Item(ids::kCmbFirstTimeSource), GWL_STYLE);
  Check((comboStyle & 3) == CBS_DROPDOWN, "the source lists are drop-down combination boxes");
  const LONG_PTR okStyle = GetWindowLongPtrW(Item(ids::kBtOK), GWL_STYLE);
  Check((okStyle & BS_TYPEMASK) == BS_PUSHBUTTON, "OK is not a default button");
  const LONG_PTR timeoutStyle = GetWindowLongPtrW(Item(ids::kTxtTimeout), GWL_STYLE);
  Check((timeoutStyle & ES_READONLY) != 0, "the timeout box is read-only");
}

// No caption may be clipped: each text must fit its control in the font the control uses.
void CheckCaptionsFit() {
  const int labels[] = {ids::kLabel1,     ids::kLabel2,    ids::kLabel3, ids::kLabel4, ids::kLabel5,
                        ids::kLblVersion, ids::kFrameTime, ids::kFrame1, ids::kBtOK};
  HDC dc = GetDC(dialogHwnd);
  for (int id : labels) {
    HWND item = Item(id);
    auto font = reinterpret_cast<HFONT>(SendMessageW(item, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
    if (id == ids::kBtOK) {
      wchar_t face[LF_FACESIZE] = {};
      GetTextFaceW(dc, LF_FACESIZE, face);
      std::printf("dialog font: %s\n", Narrow(face).c_str());
    }
    std::wstring text = Text(item);
    const auto amp = text.find(L'&');
    if (amp != std::wstring::npos) text.erase(amp, 1);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    RECT r{};
    GetClientRect(item, &r);
    // Frames draw their caption after a small indent; buttons need room for their border.
    const int room =
        r.right - (id == ids::kFrameTime || id == ids::kFrame1 || id == ids::kBtOK ? 16 : 0);
    Check(extent.cx <= room && extent.cy <= r.bottom,
          "\"" + Narrow(text) + "\" (" + std::to_string(extent.cx) + "x" +
              std::to_string(extent.cy) + ") fits its control (" + std::to_string(r.right) + "x" +
              std::to_string(r.bottom) + ")");
    SelectObject(dc, old);
  }
  ReleaseDC(dialogHwnd, dc);
}

void CheckIcon(WPARAM which, int size) {
  auto icon = reinterpret_cast<HICON>(SendMessageW(dialogHwnd, WM_GETICON, which, 0));
  if (!Check(icon != nullptr, "the window has an icon of size " + std::to_string(size))) return;
  ICONINFO info{};
  if (!Check(GetIconInfo(icon, &info) != 0, "the icon can be read")) return;
  BITMAP bm{};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  Check(bm.bmWidth == size,
        "icon width " + std::to_string(bm.bmWidth) + ", expected " + std::to_string(size));
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
}

// OK holds the focus when the dialog opens, and Tab runs through the timeout box, the
// difference, the first host, the first list, the second list and the second host.
void CheckFocusAndTabOrder() {
  Check(GetFocus() == Item(ids::kBtOK), "OK has the focus when the dialog opens");
  const int order[] = {ids::kTxtTimeout,
                       ids::kTxtDifference,
                       ids::kTxtFirstTimeServer,
                       ids::kCmbFirstTimeSource,
                       ids::kCmbSecondTimeSource,
                       ids::kTxtSecondTimeServer,
                       ids::kBtOK};
  HWND at = Item(ids::kBtOK);
  for (int id : order) {
    at = GetNextDlgTabItem(dialogHwnd, at, FALSE);
    Check(at == Item(id), "Tab reaches control " + std::to_string(id) + " (got " +
                              std::to_string(GetDlgCtrlID(at)) + ")");
  }
}

std::wstring screenshotFolder;

// Asks the script that runs us for a picture of the dialog and waits until it has taken it.
Step Screenshot(const std::wstring& name) {
  auto asked = std::make_shared<bool>(false);
  return [name, asked] {
    if (screenshotFolder.empty()) return true;
    const std::wstring base = screenshotFolder + L"\\" + name;
    if (!*asked) {
      // Let the window paint completely before it is photographed.
      RedrawWindow(dialogHwnd, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
      RECT r{};
      GetWindowRect(dialogHwnd, &r);
      FILE* f = _wfopen((base + L".ready.tmp").c_str(), L"w");
      if (f == nullptr) return Check(false, "cannot write the screenshot request");
      std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      std::fclose(f);
      MoveFileW((base + L".ready.tmp").c_str(), (base + L".ready").c_str());
      *asked = true;
      return false;
    }
    return GetFileAttributesW((base + L".done").c_str()) != INVALID_FILE_ATTRIBUTES;
  };
}

// The empty parameter as the host first shows it; Enter and Escape must press nothing.
void EmptyParameter(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  bool reentryRefused = false;
  const Outcome o =
      Run("empty parameter, OK", dialog, sink, u"  15 ", u"",
          {WaitForDialog(), Do([] {
             CheckLoadState();
             CheckGeometry();
             CheckCaptionsFit();
             CheckIcon(ICON_BIG, 32);
             CheckIcon(ICON_SMALL, 16);
             CheckFocusAndTabOrder();
             CheckLists(0, 0);
             CheckBoxes(L"15", L"", L"", L"");
           }),
           Screenshot(L"dialog-empty"), Do([] {
             PostKey(Item(ids::kTxtDifference), VK_RETURN);
             PostKey(Item(ids::kTxtFirstTimeServer), VK_ESCAPE);
             PostKey(Item(ids::kBtOK), VK_ESCAPE);
           }),
           // Let the keys go through the dialog's loop before looking.
           [n = 0]() mutable { return ++n > 5; }, Do([&sink] {
             Check(FindDialog() == dialogHwnd, "Enter and Escape leave the dialog open");
             Check(sink.empty(), "Enter and Escape compose nothing");
           }),
           Do([&dialog, &reentryRefused] {
             try {
               dialog.ShowModal();
             } catch (const brevun::Failure&) {
               reentryRefused = true;
             }
           }),
           Do(PressOk)});
  ExpectOk(o, u"#FTS=#FPR=local#STS=#SPR=local#DIS=0#");
  Check(reentryRefused, "a second modal show of a shown dialog is refused");
}

// A canonical parameter string fills the controls and comes back unchanged.
void CanonicalRoundTrip(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  const std::u16string stored = u"#FTS=alpha#FPR=sntp#STS=beta#SPR=time#DIS=30#";
  const Outcome o = Run("canonical string round trip", dialog, sink, u"10", stored,
                        {WaitForDialog(), Do([] {
                           CheckLoadState();
                           CheckLists(2, 1);
                           CheckBoxes(L"10", L"alpha", L"beta", L"30");
                         }),
                         Screenshot(L"dialog-filled"), Do(PressOk)});
  ExpectOk(o, stored);
}

// What a parameter fills in, untouched by the user, and what OK then composes. Codes in
// capitals are no codes, extra tags and their order do not matter, blanks around the hosts
// go, the difference is shown as stored but written as a number, and one blank is a parameter
// that fills nothing.
void FilledAsStored(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  const struct {
    const char* name;
    std::u16string parameter;
    int first, second;
    const wchar_t* hosts[2];
    const wchar_t* difference;
    std::u16string composed;
  } cases[] = {
      {"capitals, extra tags, blanks",
       u"#XTR=1#DIS=5 seconds#FPR=SNTP#SPR=ssh#FTS=  alpha  #STS= beta",
       0,
       4,
       {L"  alpha  ", L" beta"},
       L"5 seconds",
       u"#FTS=alpha#FPR=local#STS=beta#SPR=ssh#DIS=5#"},
      {"one blank is a parameter",
       u" ",
       0,
       0,
       {L"", L""},
       L"",
       u"#FTS=#FPR=local#STS=#SPR=local#DIS=0#"},
  };
  for (const auto& c : cases) {
    const Outcome o = Run(c.name, dialog, sink, u"", c.parameter,
                          {WaitForDialog(), Do([&c] {
                             CheckLists(c.first, c.second);
                             CheckBoxes(L"", c.hosts[0], c.hosts[1], c.difference);
                           }),
                           Do(PressOk)});
    ExpectOk(o, c.composed);
  }
}

// Controls edited with window messages compose into the string OK returns.
void EditedWithMessages(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  const Outcome o = Run("edited with window messages", dialog, sink, u"", u"",
                        {WaitForDialog(), Do([] {
                           SetBox(ids::kTxtFirstTimeServer, L" gamma host ");
                           SetBox(ids::kTxtSecondTimeServer, L"delta:124");
                           SetBox(ids::kTxtDifference, L"1 000");
                           SetBox(ids::kTxtTimeout, L"99");
                           Select(ids::kCmbFirstTimeSource, 3);
                           Select(ids::kCmbSecondTimeSource, -1);
                         }),
                         Do(PressOk)});
  ExpectOk(o, u"#FTS=gamma host#FPR=wmi#STS=delta:124#SPR=local#DIS=1000#");
}

// A close without OK returns and writes nothing.
void CloseWithoutOk(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  const Outcome o =
      Run("close without OK", dialog, sink, u"", u"#FTS=x#FPR=time#STS=#SPR=local#DIS=9#",
          {WaitForDialog(), Do([] {
             CheckLists(1, 0);
             SetBox(ids::kTxtFirstTimeServer, L"changed");
           }),
           Do(CloseCommand)});
  ExpectClosed(o);
}

// A text OK cannot store: OK explains, keeps the dialog open with nothing written and the
// focus on the box at fault; after the message the user corrects it and OK goes through.
struct Refused {
  const char* name;
  const wchar_t* screenshot;
  int box;
  const wchar_t* typed;
  const wchar_t* messageSays;
  const wchar_t* corrected;
  const char16_t* composed;
};

void RefusedThenCorrected(DialogWindow& dialog, std::vector<std::u16string>& sink,
                          const Refused& r) {
  auto box = std::make_shared<HWND>(nullptr);
  const std::string what = r.name;
  const Outcome o = Run(
      r.name, dialog, sink, u"", u"#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=60#",
      {WaitForDialog(), Do([&r] {
         SetBox(r.box, r.typed);
         PressOk();
       }),
       [box] {
         *box = FindOwned(dialogHwnd, L"#32770");
         return *box != nullptr;
       },
       Do([box, &sink, &r, what] {
         const std::wstring message = Text(GetDlgItem(*box, 0xFFFF));
         Check(message.find(r.messageSays) != std::wstring::npos,
               what + ": the message says why: " + Narrow(message));
         Check(IsWindow(dialogHwnd) && sink.empty(),
               what + ": the dialog stays open, nothing written");
       }),
       Screenshot(r.screenshot),
       Do([box] { PostMessageW(*box, WM_COMMAND, IDOK, 0); }), [box] { return !IsWindow(*box); },
       Do([&r, what] {
         Check(FindDialog() == dialogHwnd, what + ": the dialog is still open after the message");
         Check(GetFocus() == Item(r.box), what + ": the box at fault has the focus");
         SetBox(r.box, r.corrected);
         PressOk();
       })});
  ExpectOk(o, r.composed);
}

// A difference beyond a double.
void OverflowingDifference(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  RefusedThenCorrected(dialog, sink,
                       {"overflowing difference", L"dialog-overflow-message", ids::kTxtDifference,
                        L"1E400", L"difference", L"2.50",
                        u"#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=2.5#"});
}

// A tag mark in either host would smuggle tags of its own into the stored string.
void TagMarkInAHost(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  RefusedThenCorrected(dialog, sink,
                       {"tag mark in the first host", L"dialog-first-host-mark-message",
                        ids::kTxtFirstTimeServer, L"ntp.example#DIS=99999",
                        L"first time host contains \"#\"", L"ntp.example",
                        u"#FTS=ntp.example#FPR=sntp#STS=#SPR=local#DIS=60#"});
  RefusedThenCorrected(dialog, sink,
                       {"tag mark in the second host", L"dialog-second-host-mark-message",
                        ids::kTxtSecondTimeServer, L" b#", L"second time host contains \"#\"",
                        L"b:123", u"#FTS=alpha#FPR=sntp#STS=b:123#SPR=local#DIS=60#"});
}

// A host that quits while the dialog is open: the dialog closes without OK and the quit
// reaches the host's own message loop.
void QuitWhileShown(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  const Outcome o =
      Run("quit while shown", dialog, sink, u"", u"#FTS=a#FPR=sntp#STS=#SPR=local#DIS=1#",
          {WaitForDialog(), Do([] { PostQuitMessage(7); })});
  ExpectClosed(o);
  MSG msg{};
  const bool quit = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
  Check(quit && msg.wParam == 7, "the quit message is handed on to the host");
}

// The folder of a module, as the loader reports it.
std::wstring FolderOf(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring folder = path;
  folder.resize(folder.find_last_of(L'\\') == std::wstring::npos ? 0 : folder.find_last_of(L'\\'));
  return folder;
}

// The viewer that F1 loaded is the system's, not the one dialog.sh planted beside this program.
void CheckViewerIsTheSystems() {
  const HMODULE viewer = GetModuleHandleW(L"hhctrl.ocx");
  if (!Check(viewer != nullptr, "F1 loaded hhctrl.ocx")) return;
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  wchar_t wow64[MAX_PATH] = {};
  GetSystemWow64DirectoryW(wow64, MAX_PATH);
  const std::wstring folder = FolderOf(viewer);
  Check(_wcsicmp(folder.c_str(), system) == 0 || _wcsicmp(folder.c_str(), wow64) == 0,
        "hhctrl.ocx was loaded from " + Narrow(folder) + ", not from the system folder " +
            Narrow(system) + " (the program's folder is " + Narrow(FolderOf(nullptr)) + ")");
}

// F1 opens the help viewer of the system on the help file beside the program, owned by the
// dialog.
void HelpKey(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  auto viewer = std::make_shared<HWND>(nullptr);
  const Outcome o = Run(
      "help key", dialog, sink, u"", u"",
      {WaitForDialog(), Do([] { PostKey(Item(ids::kTxtFirstTimeServer), VK_F1); }),
       [] { return GetModuleHandleW(L"hhctrl.ocx") != nullptr; }, Do(CheckViewerIsTheSystems),
       [viewer] {
         *viewer = FindThreadWindow([](HWND hwnd) { return ClassOf(hwnd) == L"HH Parent"; });
         return *viewer != nullptr;
       },
       Do([viewer] {
         // The caption is the title stored in the help file itself.
         CheckText(Text(*viewer), L"Time server check", "help viewer caption");
         Check(GetWindow(*viewer, GW_OWNER) == dialogHwnd, "the help viewer belongs to the dialog");
       }),
       Screenshot(L"help"), Do(CloseCommand)});
  ExpectClosed(o);
  Check(!IsWindow(*viewer), "the help viewer closed with the dialog");
}

// The form reloaded after all this still has five entries per list at position 0.
void Reloaded(DialogWindow& dialog, std::vector<std::u16string>& sink) {
  const Outcome o = Run("reloaded", dialog, sink, u"", u"",
                        {WaitForDialog(), Do([] { CheckLists(0, 0); }), Do(CloseCommand)});
  ExpectClosed(o);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Unbuffered, so that the log keeps every line even if the program dies.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc > 1) screenshotFolder = argv[1];
  std::vector<std::u16string> sink;
  // One dialog object for all scenarios, as a component object keeps its form: every show
  // after the first is a reload after OK or a close, so their order matters.
  DialogWindow dialog([&sink](const std::u16string& composed) { sink.push_back(composed); });
  for (const auto scenario :
       {EmptyParameter, CanonicalRoundTrip, FilledAsStored, EditedWithMessages, CloseWithoutOk,
        OverflowingDifference, TagMarkInAHost, QuitWhileShown, HelpKey, Reloaded}) {
    scenario(dialog, sink);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
