// zt_showGUI as a host calls it. The dialog opens modally on this thread; a timer of the host,
// which keeps running in the dialog's message loop, plays the user: it finds the dialog among
// the thread's windows, reads its controls, edits them with window messages and presses OK or
// closes the window. Each scenario then checks zt_parameter.
//
// Two flavours of the same scenarios: through the registered brevun.dll, as any host sees it,
// and on objects of the component's code linked into this program. CurrentParameter has no
// reader a host can reach, so the second flavour is where it is checked.
#include <process.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "check/text.h"
#include "common.h"
#include "component/velkor.h"
#include "dialog/dialog_model.h"
#include "dialog/dialog_window.h"
#include "dialog/layout.h"
#include "harness.h"
#include "tests/project_version.h"
#include "win/handles.h"
#include "win/wide_text.h"

namespace host {
namespace {

namespace ids = brevun::dialog;
namespace component = brevun::component;

constexpr wchar_t kCaption[] = L"Time server check: External COM check ";
constexpr HRESULT kInvalidUseOfNull = static_cast<HRESULT>(0x800A005E);
constexpr HRESULT kFormAlreadyDisplayed = static_cast<HRESULT>(0x800A0190);

struct Flavour {
  ComPtr<_velkor> (*make)();
  // The CurrentParameter the objects of this flavour share, or nullptr where no host can see it.
  const VARIANT* (*current)(_velkor* any);
};

ComPtr<_velkor> MakeLinked() {
  ComPtr<_velkor> object;
  HOST_CHECK_HR(S_OK, component::Velkor::Create(object));
  return object;
}

const VARIANT* LinkedCurrent(_velkor* any) {
  return &static_cast<component::Velkor*>(any)->CurrentParameter().ref();
}

std::wstring WindowText(HWND hwnd) {
  wchar_t text[1024] = {};
  GetWindowTextW(hwnd, text, 1024);
  return text;
}

// The dialog as a host finds it: a top-level window of this thread with the dialog's caption,
// shown or hidden.
HWND FindDialog(bool visibleOnly) {
  struct Search {
    bool visibleOnly;
    HWND found = nullptr;
    static BOOL CALLBACK Visit(HWND hwnd, LPARAM lp) {
      auto* s = reinterpret_cast<Search*>(lp);
      if ((!s->visibleOnly || IsWindowVisible(hwnd)) && WindowText(hwnd) == kCaption) {
        s->found = hwnd;
        return FALSE;
      }
      return TRUE;
    }
  } search{visibleOnly};
  EnumThreadWindows(GetCurrentThreadId(), &Search::Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND g_dialog = nullptr;
HWND Item(int id) { return GetDlgItem(g_dialog, id); }

const wchar_t* const kEntries[] = {L"Local system", L"Time server (time protocol)",
                                   L"Time server (SNTP protocol)", L"Windows server (WMI protocol)",
                                   L"SSH based"};

void CheckText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
  HOST_CHECK_MSG(actual == expected,
                 what + ": \"" + Narrow(actual) + "\", expected \"" + Narrow(expected) + "\"");
}

void CheckLists(int first, int second) {
  const int lists[] = {ids::kCmbFirstTimeSource, ids::kCmbSecondTimeSource};
  const int selected[] = {first, second};
  for (int i = 0; i < 2; ++i) {
    HWND list = Item(lists[i]);
    const std::string name = i == 0 ? "first list" : "second list";
    const auto count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    HOST_CHECK_MSG(count == 5, name + " holds " + std::to_string(count) + " entries");
    for (int e = 0; e < 5 && e < count; ++e) {
      wchar_t entry[128] = {};
      SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(e), reinterpret_cast<LPARAM>(entry));
      CheckText(entry, kEntries[e], name + " entry " + std::to_string(e));
    }
    const auto at = SendMessageW(list, CB_GETCURSEL, 0, 0);
    HOST_CHECK_MSG(at == selected[i], name + " at " + std::to_string(at) + ", expected " +
                                          std::to_string(selected[i]));
  }
}

void CheckBoxes(const wchar_t* timeout, const wchar_t* first, const wchar_t* second,
                const wchar_t* difference) {
  CheckText(WindowText(Item(ids::kTxtTimeout)), timeout, "timeout box");
  CheckText(WindowText(Item(ids::kTxtFirstTimeServer)), first, "first host box");
  CheckText(WindowText(Item(ids::kTxtSecondTimeServer)), second, "second host box");
  CheckText(WindowText(Item(ids::kTxtDifference)), difference, "difference box");
}

// What every shown dialog must be: the load steps' caption and version line, top-most, with
// no owner window.
void CheckShown() {
  CheckText(WindowText(g_dialog), kCaption, "caption");
  CheckText(WindowText(Item(ids::kLblVersion)),
            brevun::win::WidenAscii(BREVUN_EXPECTED_VERSION_LINE), "version line");
  HOST_CHECK((GetWindowLongW(g_dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
  HOST_CHECK(GetWindow(g_dialog, GW_OWNER) == nullptr);
}

void SetBox(int id, const wchar_t* text) {
  SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void Select(int id, int position) {
  SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}

// --- Steps, run one per timer tick; a step that returns false runs again on the next tick.

using Step = std::function<bool()>;

Step WaitForDialog() {
  return [] {
    g_dialog = FindDialog(true);
    return g_dialog != nullptr;
  };
}
Step Do(std::function<void()> action) {
  return [action] {
    action();
    return true;
  };
}
Step PressOk() {
  return Do([] { PostMessageW(Item(ids::kBtOK), BM_CLICK, 0, 0); });
}
Step CloseCommand() {
  return Do([] { PostMessageW(g_dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

// Asks the script that runs this program for a picture of the dialog: NAME.ready in the
// folder BREVUN_SCREENSHOTS names holds the window's screen rectangle; the script answers
// with NAME.done once it has the picture. Without the folder there is no picture to take.
Step Screenshot(const std::wstring& name) {
  auto asked = std::make_shared<bool>(false);
  return [name, asked] {
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"BREVUN_SCREENSHOTS", folder, MAX_PATH) == 0) return true;
    const std::wstring base = std::wstring(folder) + L"\\" + name;
    if (!*asked) {
      RedrawWindow(g_dialog, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
      RECT r{};
      GetWindowRect(g_dialog, &r);
      FILE* f = _wfopen((base + L".ready.tmp").c_str(), L"w");
      HOST_CHECK_MSG(f != nullptr, "screenshot request written");
      if (f == nullptr) return true;
      std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      std::fclose(f);
      MoveFileW((base + L".ready.tmp").c_str(), (base + L".ready").c_str());
      *asked = true;
      return false;
    }
    return GetFileAttributesW((base + L".done").c_str()) != INVALID_FILE_ATTRIBUTES;
  };
}

struct Script {
  std::vector<Step> steps;
  std::size_t next = 0;
  bool busy = false;
  std::chrono::steady_clock::time_point deadline;
};
Script* g_script = nullptr;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  Script* s = g_script;
  // A step that runs a check or a nested call runs messages of its own: no second tick inside.
  if (s == nullptr || s->busy) return;
  s->busy = true;
  if (std::chrono::steady_clock::now() > s->deadline) {
    HOST_CHECK_MSG(false, "timed out at step " + std::to_string(s->next + 1));
    if (HWND d = FindDialog(true)) PostMessageW(d, WM_CLOSE, 0, 0);
    s->deadline = std::chrono::steady_clock::time_point::max();
  } else if (s->next < s->steps.size() && s->steps[s->next]()) {
    ++s->next;
  }
  s->busy = false;
}

// Calls zt_showGUI on object with the user played by steps; checks that every step ran and
// that the dialog is gone afterwards (OK and a close both unload it). Returns the call's status.
HRESULT ShowAndPlay(_velkor* object, std::vector<Step> steps) {
  Script script;
  script.steps = std::move(steps);
  script.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  g_script = &script;
  g_dialog = nullptr;
  const UINT_PTR timer = SetTimer(nullptr, 0, 40, Tick);
  const HRESULT hr = object->zt_showGUI();
  KillTimer(nullptr, timer);
  g_script = nullptr;
  HOST_CHECK_MSG(script.next == script.steps.size(), "the dialog closed after step " +
                                                         std::to_string(script.next) + " of " +
                                                         std::to_string(script.steps.size()));
  HOST_CHECK_MSG(FindDialog(false) == nullptr, "the dialog is unloaded after the show");
  return hr;
}

void Show(_velkor* object, std::vector<Step> steps) {
  const HRESULT hr = ShowAndPlay(object, std::move(steps));
  HOST_CHECK_HR(S_OK, hr);
}

Variant Get(_velkor* object) {
  Variant v;
  object->get_zt_parameter(v.Put());
  return v;
}
void Put(_velkor* object, const Variant& value) { object->put_zt_parameter(value.ref()); }
void PutTimeout(_velkor* object, const Variant& value) { object->put_zt_timeout(value.ref()); }

void ExpectParameter(_velkor* object, const wchar_t* expected, const char* what) {
  const Variant v = Get(object);
  HOST_CHECK_MSG(TextOf(v.ref()) == expected, std::string(what) + ": zt_parameter " +
                                                  Narrow(TextOf(v.ref())) + ", expected " +
                                                  Narrow(std::wstring(expected)));
}
void ExpectCurrent(const Flavour& f, _velkor* object, const wchar_t* expected, const char* what) {
  if (f.current == nullptr) return;
  const std::wstring actual = TextOf(*f.current(object));
  HOST_CHECK_MSG(actual == expected, std::string(what) + ": CurrentParameter " + Narrow(actual) +
                                         ", expected " + Narrow(std::wstring(expected)));
}

Variant I2(short value) {
  Variant v;
  V_VT(v.get()) = VT_I2;
  V_I2(v.get()) = value;
  return v;
}

constexpr wchar_t kRoundTrip[] = L"#FTS=alpha#FPR=sntp#STS=beta#SPR=time#DIS=30#";

// The empty parameter, the canonical one round-tripping, codes in capitals, blanks around the
// hosts, extra tags, one blank, edits made with window messages; then the form reloaded after
// OK and a close that leaves an empty parameter empty.
void EditingScenarios(const Flavour& f) {
  ComPtr<_velkor> o = f.make();
  if (!o) return;

  PutTimeout(o.get(), Text(L"  15 "));
  Show(o.get(), {WaitForDialog(), Do([] {
                   CheckShown();
                   CheckLists(0, 0);
                   CheckBoxes(L"15", L"", L"", L"");
                 }),
                 PressOk()});
  ExpectParameter(o.get(), kLocalLocal, "empty, OK");
  ExpectCurrent(f, o.get(), kLocalLocal, "empty, OK");

  // A number as the timeout is shown as its text.
  PutTimeout(o.get(), I2(10));
  Put(o.get(), Text(kRoundTrip));
  const std::wstring shot = L"showgui-" + std::to_wstring(sizeof(void*) * 8);
  Show(o.get(), {WaitForDialog(), Do([] {
                   CheckShown();
                   CheckLists(2, 1);
                   CheckBoxes(L"10", L"alpha", L"beta", L"30");
                 }),
                 f.current == nullptr ? Screenshot(shot) : Do([] {}), PressOk()});
  ExpectParameter(o.get(), kRoundTrip, "round trip");

  // The form was unloaded by OK: an empty parameter now finds the load's state, not the
  // last show's, and a close leaves the parameter Empty.
  Put(o.get(), Variant());
  Show(o.get(), {WaitForDialog(), Do([] {
                   CheckLists(0, 0);
                   CheckBoxes(L"10", L"", L"", L"");
                 }),
                 CloseCommand()});
  HOST_CHECK(Get(o.get()).vt() == VT_EMPTY);
  HOST_CHECK(f.current == nullptr || V_VT(f.current(o.get())) == VT_EMPTY);

  struct Case {
    const char* name;
    const wchar_t* stored;
    int first, second;
    const wchar_t *firstHost, *secondHost, *difference;
    const wchar_t* afterOk;
  };
  const Case cases[] = {
      {"capitals and blanks", L"#FTS=  alpha  #FPR=SNTP#STS= be ta #SPR=time#DIS=5 seconds#", 0, 1,
       L"  alpha  ", L" be ta ", L"5 seconds", L"#FTS=alpha#FPR=local#STS=be ta#SPR=time#DIS=5#"},
      {"extra tags, any order", L"#XTR=1#DIS=7#SPR=ssh#FTS=a#FPR=wmi#STS=b", 3, 4, L"a", L"b", L"7",
       L"#FTS=a#FPR=wmi#STS=b#SPR=ssh#DIS=7#"},
      {"one blank", L" ", 0, 0, L"", L"", L"", kLocalLocal},
  };
  for (const Case& c : cases) {
    Put(o.get(), Text(c.stored));
    Show(o.get(), {WaitForDialog(), Do([&c] {
                     CheckLists(c.first, c.second);
                     CheckBoxes(L"10", c.firstHost, c.secondHost, c.difference);
                   }),
                   PressOk()});
    ExpectParameter(o.get(), c.afterOk, c.name);
    ExpectCurrent(f, o.get(), c.afterOk, c.name);
  }

  // Edited the way a user's keys and clicks arrive: window messages to the controls. The
  // timeout box is for reading only; what is typed there goes nowhere.
  Put(o.get(), Text(L"#FTS=x#FPR=time#STS=#SPR=local#DIS=9#"));
  Show(o.get(), {WaitForDialog(), Do([] {
                   SetBox(ids::kTxtFirstTimeServer, L"  gamma  ");
                   SetBox(ids::kTxtSecondTimeServer, L"delta:123");
                   SetBox(ids::kTxtDifference, L"1 000");
                   SetBox(ids::kTxtTimeout, L"99");
                   Select(ids::kCmbFirstTimeSource, 2);
                   Select(ids::kCmbSecondTimeSource, 4);
                 }),
                 PressOk()});
  ExpectParameter(o.get(), L"#FTS=gamma#FPR=sntp#STS=delta:123#SPR=ssh#DIS=1000#", "edited");
  Variant timeout;
  o->get_zt_timeout(timeout.Put());
  HOST_CHECK(timeout.vt() == VT_I2 && V_I2(&timeout.ref()) == 10);
}

// A close keeps zt_parameter as it was, with its type, even when a check on another object,
// run by a host timer while the dialog is open, has overwritten CurrentParameter meanwhile.
// After OK the parameter is the string this dialog composed.
void ReentrantScenarios(const Flavour& f) {
  ComPtr<_velkor> o = f.make();
  ComPtr<_velkor> other = f.make();
  if (!o || !other) return;
  constexpr wchar_t kOther[] = L"#FTS=#FPR=local#STS=#SPR=local#DIS=5#";
  Put(other.get(), Text(kOther));
  _velkor* second = other.get();
  const auto checkOnOther = [second] {
    VARIANT_BOOL verdict = VARIANT_FALSE;
    HOST_CHECK_HR(S_OK, second->zt_docheck(&verdict));
    HOST_CHECK(verdict == VARIANT_TRUE);
  };

  Put(o.get(), Variant::I4(12345));
  Show(o.get(), {WaitForDialog(), Do([] {
                   // A number is a non-empty text without tags.
                   CheckLists(0, 0);
                   CheckBoxes(L"", L"", L"", L"");
                   SetBox(ids::kTxtFirstTimeServer, L"edited");
                 }),
                 Do(checkOnOther), CloseCommand()});
  const Variant kept = Get(o.get());
  HOST_CHECK(kept.vt() == VT_I4 && V_I4(&kept.ref()) == 12345);
  ExpectCurrent(f, o.get(), kOther, "close after another object's check");

  Put(o.get(), Text(kRoundTrip));
  HOST_CHECK_HR(S_OK, ShowAndPlay(o.get(), {WaitForDialog(), Do(checkOnOther),
                                            Do([] { CheckBoxes(L"", L"alpha", L"beta", L"30"); }),
                                            PressOk()}));
  ExpectParameter(o.get(), kRoundTrip, "OK after another object's check");
  ExpectCurrent(f, o.get(), kRoundTrip, "OK after another object's check");

  // zt_showGUI again from a host timer while this object's dialog is open: refused before it
  // touches the open dialog or the parameter.
  Put(o.get(), Text(kRoundTrip));
  _velkor* self = o.get();
  Show(o.get(), {WaitForDialog(), Do([self] {
                   Put(self, Text(L"#FTS=nested#"));
                   HOST_CHECK_HR(kFormAlreadyDisplayed, self->zt_showGUI());
                   CheckBoxes(L"", L"alpha", L"beta", L"30");
                 }),
                 PressOk()});
  ExpectParameter(o.get(), kRoundTrip, "after the refused nested show");
}

// Failures and lifetimes: a Null timeout fails the call with nothing shown or changed; a host
// that drops its last reference while the dialog is open does not pull the object from under
// the show.
void FailureScenarios(const Flavour& f) {
  ComPtr<_velkor> o = f.make();
  if (!o) return;
  Variant null;
  V_VT(null.get()) = VT_NULL;
  PutTimeout(o.get(), null);
  Put(o.get(), Text(kRoundTrip));
  Variant before;
  if (f.current != nullptr) before.CopyFrom(*f.current(o.get()));
  SetErrorInfo(0, nullptr);
  HOST_CHECK_HR(kInvalidUseOfNull, o->zt_showGUI());
  ComPtr<IErrorInfo> info;
  HOST_CHECK(GetErrorInfo(0, info.Put()) == S_OK && info);
  if (info) {
    Bstr description;
    info->GetDescription(description.Put());
    HOST_CHECK(description.Text() == u"Invalid use of Null");
  }
  HOST_CHECK_MSG(FindDialog(false) == nullptr, "nothing loaded, nothing shown");
  ExpectParameter(o.get(), kRoundTrip, "Null timeout");
  if (f.current != nullptr) {
    HOST_CHECK(TextOf(*f.current(o.get())) == TextOf(before.ref()));
  }

  PutTimeout(o.get(), Variant());
  ComPtr<_velkor> held = std::move(o);
  _velkor* raw = held.get();
  Show(raw,
       {WaitForDialog(), Do([&held] { held.Reset(); }), [] { return FindDialog(true) == g_dialog; },
        Do([] { SetBox(ids::kTxtDifference, L"4"); }), PressOk()});
}

// A check that asks a time server loads the form and makes no window: a host without a
// desktop must be able to run it. The next zt_showGUI makes the window and shows the form as
// that load left it; an empty parameter then changes nothing in it, a parameter of one blank
// replaces every value. On the linked objects the form is left edited by another hand than the
// dialog's own while it has no window, and the window shows those edits.
void FetchLoadedScenarios(const Flavour& f) {
  ComPtr<_velkor> o = f.make();
  if (!o) return;
  const unsigned short closed = ClosedLoopbackPort();
  HOST_CHECK(closed != 0);
  const std::wstring server = L"127.0.0.1:" + std::to_wstring(closed);
  const std::wstring parameter = L"#FTS=#FPR=local#STS=" + server + L"#SPR=time#DIS=2#";
  PutTimeout(o.get(), I2(2));
  component::Velkor* linked =
      f.current != nullptr ? static_cast<component::Velkor*>(o.get()) : nullptr;

  for (const wchar_t* shown : {L"", L" "}) {
    HOST_CHECK(FindDialog(false) == nullptr);
    Put(o.get(), Text(parameter.c_str()));
    VARIANT_BOOL verdict = VARIANT_TRUE;
    HOST_CHECK_HR(S_OK, o->zt_docheck(&verdict));
    HOST_CHECK(verdict == VARIANT_FALSE);
    Variant result;
    o->get_zt_result(result.Put());
    CheckText(TextOf(result.ref()),
              L"ERR: second time text \"ERR: Connection refused by " + server +
                  L" (60)\" is not a date-time( 290)",
              "refused fetch");
    HOST_CHECK_MSG(FindDialog(false) == nullptr, "the fetch made no window");

    bool edited = false;
    if (linked != nullptr) {
      brevun::dialog::DialogWindow& dialog = linked->Form().Dialog();
      HOST_CHECK_MSG(linked->Form().IsLoaded() && !linked->Form().HasWindow(),
                     "the fetch loaded the form without a window");
      brevun::dialog::DialogValues values = dialog.Values();
      HOST_CHECK(values == brevun::dialog::DialogValues{});
      values.firstSource = 3;
      values.secondTimeServer = u"left here";
      dialog.SetValues(values);
      edited = true;
    }

    Put(o.get(), Text(shown));
    const bool kept = edited && shown[0] == L'\0';
    Show(o.get(), {WaitForDialog(), Do([kept] {
                     CheckShown();
                     CheckLists(kept ? 3 : 0, 0);
                     CheckBoxes(L"2", L"", kept ? L"left here" : L"", L"");
                   }),
                   CloseCommand()});
    ExpectParameter(o.get(), shown, "fetch-loaded form");
  }
}

void RunAll(const Flavour& f) {
  EditingScenarios(f);
  ReentrantScenarios(f);
  FailureScenarios(f);
  FetchLoadedScenarios(f);
}

// Two apartments of one host open their first dialogs at the same moment: both must show,
// whichever of them registers the dialog's window class. Each thread shows its own object's
// dialog; this thread plays the user, closing both once both are shown. The class is
// registered once per load of the library, so each round ends with the library unloaded
// where the system unloads it with its last apartment, and the next round races anew.
struct Apartment {
  HANDLE ready = nullptr;
  HANDLE start = nullptr;
  HRESULT created = E_FAIL;
  HRESULT shown = E_FAIL;
};

unsigned __stdcall ShowInApartment(void* argument) {
  auto* a = static_cast<Apartment*>(argument);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    SetEvent(a->ready);
    return 1;
  }
  {
    ComPtr<_velkor> object;
    a->created = CoCreateInstance(CLSID_velkor, nullptr, CLSCTX_INPROC_SERVER, IID__velkor,
                                  object.PutVoid());
    SetEvent(a->ready);
    WaitForSingleObject(a->start, 30000);
    if (SUCCEEDED(a->created)) a->shown = object->zt_showGUI();
  }
  CoUninitialize();
  return 0;
}

BOOL CALLBACK CollectShownDialog(HWND hwnd, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(hwnd) && WindowText(hwnd) == kCaption) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(hwnd);
  }
  return TRUE;
}

// The shown dialogs of every thread of this process.
std::vector<HWND> ShownDialogs() {
  std::vector<HWND> found;
  EnumWindows(&CollectShownDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

HOST_GROUP(showgui_together) {
  for (int round = 1; round <= 5; ++round) {
    const brevun::win::Handle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Apartment apartments[2];
    brevun::win::Handle ready[2];
    brevun::win::Handle threads[2];
    for (int i = 0; i < 2; ++i) {
      ready[i].Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
      apartments[i].ready = ready[i].get();
      apartments[i].start = start.get();
      threads[i].Reset(reinterpret_cast<HANDLE>(
          _beginthreadex(nullptr, 0, &ShowInApartment, &apartments[i], 0, nullptr)));
    }
    HOST_CHECK(threads[0] && threads[1]);
    if (!threads[0] || !threads[1]) return;
    HANDLE readies[] = {ready[0].get(), ready[1].get()};
    WaitForMultipleObjects(2, readies, TRUE, 30000);
    SetEvent(start.get());

    std::size_t most = 0;
    HANDLE running[] = {threads[0].get(), threads[1].get()};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (WaitForMultipleObjects(2, running, TRUE, 50) == WAIT_TIMEOUT) {
      const std::vector<HWND> shown = ShownDialogs();
      most = std::max(most, shown.size());
      if (shown.size() == 2 || std::chrono::steady_clock::now() > deadline) {
        for (HWND d : shown) PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
    }
    const std::string r = "round " + std::to_string(round) + ": ";
    for (const Apartment& a : apartments) {
      HOST_CHECK_HR(S_OK, a.created);
      HOST_CHECK_MSG(a.shown == S_OK, r + "zt_showGUI -> " + Hex(a.shown));
    }
    HOST_CHECK_MSG(most == 2, r + std::to_string(most) + " dialogs were shown at once");
    // Still loaded: the library keeps its class, and another round would race for nothing.
    if (GetModuleHandleW(L"brevun.dll") != nullptr) break;
  }
}

// Many threads make their dialogs' windows at the same moment and draw them, round after round:
// the boxes and lists lay out their texts as they are set, the labels, buttons and caption as
// they are drawn, each thread with the same fonts. Every window is made and drawn in full, and
// the host lives through it.
struct Drawer {
  HANDLE start = nullptr;
  bool made = false;
  bool drawn = false;
};

unsigned __stdcall MakeAndDrawDialog(void* argument) {
  auto* d = static_cast<Drawer*>(argument);
  WaitForSingleObject(d->start, 30000);
  try {
    brevun::dialog::DialogWindow dialog;
    const HWND hwnd = dialog.Hwnd();
    d->made = GetDlgItem(hwnd, ids::kTxtDifference) != nullptr;
    // Drawn into a bitmap of its own, as the window is hidden: frame, caption and every control.
    RECT r{};
    GetWindowRect(hwnd, &r);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right - r.left, r.bottom - r.top);
    const HGDIOBJ original = SelectObject(dc, bitmap);
    SendMessageW(hwnd, WM_PRINT, reinterpret_cast<WPARAM>(dc),
                 PRF_NONCLIENT | PRF_CLIENT | PRF_CHILDREN | PRF_ERASEBKGND);
    d->drawn = GetPixel(dc, (r.right - r.left) / 2, (r.bottom - r.top) / 2) != CLR_INVALID;
    SelectObject(dc, original);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
  } catch (...) {
  }
  return 0;
}

HOST_GROUP(showgui_drawn_together) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 10;
  for (int round = 1; round <= kRounds; ++round) {
    const brevun::win::Handle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Drawer drawers[kThreads];
    brevun::win::Handle threads[kThreads];
    std::vector<HANDLE> running;
    for (int i = 0; i < kThreads; ++i) {
      drawers[i].start = start.get();
      threads[i].Reset(reinterpret_cast<HANDLE>(
          _beginthreadex(nullptr, 0, &MakeAndDrawDialog, &drawers[i], 0, nullptr)));
      if (threads[i]) running.push_back(threads[i].get());
    }
    HOST_CHECK_EQ(running.size(), static_cast<std::size_t>(kThreads));
    SetEvent(start.get());
    const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(running.size()),
                                                running.data(), TRUE, 60000);
    const std::string r = "round " + std::to_string(round) + ": ";
    HOST_CHECK_MSG(waited != WAIT_TIMEOUT, r + "a thread hangs");
    if (waited == WAIT_TIMEOUT) return;
    int made = 0;
    int drawn = 0;
    for (const Drawer& d : drawers) {
      made += d.made ? 1 : 0;
      drawn += d.drawn ? 1 : 0;
    }
    HOST_CHECK_MSG(made == kThreads && drawn == kThreads,
                   r + std::to_string(made) + " made, " + std::to_string(drawn) + " drawn");
  }
}

HOST_GROUP(showgui) { RunAll({&CreateVelkor, nullptr}); }
HOST_GROUP(showgui_linked) { RunAll({&MakeLinked, &LinkedCurrent}); }

}  // namespace
}  // namespace host
