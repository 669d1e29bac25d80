#include "dialog/dialog_window.h"

#include <utility>

#include "check/failure.h"
#include "dialog/dialog_resources.h"
#include "dialog/help_file.h"
#include "dialog/help_viewer.h"
#include "dialog/layout.h"
#include "dialog/source_table.h"
#include "dialog/version_line.h"
#include "win/handles.h"
#include "win/this_module.h"
#include "win/wide_text.h"

namespace brevun::dialog {

namespace {

using win::FromWide;
using win::ThisModule;
using win::Wide;

constexpr wchar_t kClassName[] = L"brevun.ConfigurationDialog";
// The caption stored with the layout; the load steps replace it before the window is shown.
constexpr wchar_t kLayoutCaption[] = L"Time server check";
constexpr wchar_t kMessageCaption[] = L"Time server check";

// A fixed dialog frame with a title bar, a window menu and the close button, but no resizing
// and no minimise or maximise: nothing in the layout adapts to another size.
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

// The layout is in pixels at 96 dpi and its labels were sized for MS Sans Serif at 8 points
// (11 pixels). "MS Shell Dlg" would give Tahoma on some systems, which is a tenth wider and
// clips "Max difference:" in its 81 pixels.
constexpr int kFontHeight = -11;
constexpr wchar_t kFontFace[] = L"MS Sans Serif";

// Room for the five entries when a source list drops down.
constexpr int kDropDownHeight = 5 * 16 + 4;

// Registers the window class once per module and removes it when the module goes away: a DLL
// that is unloaded and loaded again must not find a class that points at its old code. Objects
// of different apartments open their first dialogs on their own threads, perhaps at the same
// moment: the registration is made under a lock, or the second thread's RegisterClassExW would
// find the class the first one is registering and fail.
class WindowClass {
 public:
  ~WindowClass() {
    if (registered_) UnregisterClassW(kClassName, module_);
  }

  void Ensure(WNDPROC procedure) {
    win::Lock lock(lock_);
    if (registered_) return;
    module_ = ThisModule();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = module_;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kClassName;
    if (RegisterClassExW(&wc) == 0) {
      throw Failure(u"Cannot register the window class of the configuration dialog");
    }
    registered_ = true;
  }

 private:
  win::CriticalSection lock_;
  HMODULE module_ = nullptr;
  bool registered_ = false;
};

WindowClass& DialogClass() {
  static WindowClass windowClass;
  return windowClass;
}

std::u16string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return FromWide(text);
}

void SetText(HWND hwnd, std::u16string_view text) { SetWindowTextW(hwnd, Wide(text).c_str()); }

struct ChildClass {
  const wchar_t* name;
  DWORD style;
  DWORD exStyle;
};

ChildClass ClassFor(const ControlLayout& control) {
  switch (control.kind) {
    case ControlKind::kFrame:
      return {L"BUTTON", BS_GROUPBOX, 0};
    case ControlKind::kLabel:
      return {L"STATIC", SS_LEFT, 0};
    case ControlKind::kTextBox: {
      // The timeout box only shows the timeout that the host set; nothing reads it back. It
      // stays in the tab order and its text can be selected and copied, but not edited, so
      // nobody is led to believe an edit there would count.
      const DWORD readOnly = control.id == kTxtTimeout ? ES_READONLY : 0;
      return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL | readOnly, WS_EX_CLIENTEDGE};
    }
    case ControlKind::kSourceList:
      return {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0};
    case ControlKind::kButton:
      // A plain push button: never the default button, so Enter in a box does not press it.
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
  }
  return {L"STATIC", 0, 0};
}

// A drop-down combination box is created with the height of its open list; the height of its
// closed selection field follows the font. Adjust the field to the height of the layout.
void FitSelectionField(HWND combo, int height) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    RECT r{};
    GetWindowRect(combo, &r);
    const int off = height - static_cast<int>(r.bottom - r.top);
    if (off == 0) return;
    const LRESULT item = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    if (item == CB_ERR || item + off <= 0) return;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item + off);
  }
}

POINT CentredOnWorkArea(int width, int height) {
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return {work.left + (work.right - work.left - width) / 2,
          work.top + (work.bottom - work.top - height) / 2};
}

}  // namespace

DialogWindow::DialogWindow(ParameterSink onOk) : onOk_(std::move(onOk)) {}

DialogWindow::~DialogWindow() { Unload(); }

void DialogWindow::Load() {
  if (loaded_) return;
  // The load steps as far as they concern the dialog's state: empty boxes, both lists at
  // their first entry, the dialog's help topic. The caption, the version line and the list
  // entries are the window's, and every window gets them when it is made.
  state_ = DialogValues{};
  helpContext_ = kDialogHelpContext;
  loaded_ = true;
}

void DialogWindow::CreateWindowFromState() {
  DialogClass().Ensure(&DialogWindow::WindowProc);
  const HMODULE module = ThisModule();

  if (!font_) {
    font_.Reset(CreateFontW(kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_SWISS, kFontFace));
  }
  if (!bigIcon_) {
    bigIcon_.Reset(static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(BREVUN_IDI_DIALOG), IMAGE_ICON, 32, 32, 0)));
  }
  if (!smallIcon_) {
    smallIcon_.Reset(static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(BREVUN_IDI_DIALOG), IMAGE_ICON, 16, 16, 0)));
  }

  if (!fontCaches_) fontCaches_ = std::make_unique<FontCaches>(font_.get());

  RECT frame{0, 0, TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const POINT at = CentredOnWorkArea(width, height);

  // The window procedure takes ownership of the handle at WM_NCCREATE, so that a window that
  // fails later in its creation is released rather than leaked.
  CreateWindowExW(kExStyle, kClassName, kLayoutCaption, kStyle, at.x, at.y, width, height, nullptr,
                  nullptr, module, this);
  if (!window_) throw Failure(u"Cannot create the configuration dialog window");
  try {
    CreateControls(window_.get());
    FillControls();
  } catch (...) {
    // Only the window goes: the state it was made from stays loaded.
    DiscardWindow();
    throw;
  }
}

void DialogWindow::CreateControls(HWND hwnd) {
  const HMODULE module = ThisModule();
  HFONT font = font_ ? font_.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (bigIcon_) SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  if (smallIcon_) {
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  }

  // Created in tab order: the dialog manager's tab order and the stacking order follow the
  // order of creation, and frames come before (beneath) their contents.
  for (const ControlLayout& control : Layout()) {
    const ChildClass cls = ClassFor(control);
    const Rect r = ClientPixels(control);
    const int createHeight =
        control.kind == ControlKind::kSourceList ? r.height + kDropDownHeight : r.height;
    HWND child = CreateWindowExW(
        cls.exStyle, cls.name, Wide(control.caption).c_str(), WS_CHILD | WS_VISIBLE | cls.style,
        r.left, r.top, r.width, createHeight, hwnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), module, nullptr);
    if (child == nullptr) throw Failure(u"Cannot create the controls of the configuration dialog");
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (control.kind == ControlKind::kSourceList) FitSelectionField(child, r.height);
    if (control.kind == ControlKind::kTextBox) SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
  }
  focus_ = Control(kBtOK);
}

// The window's part of the load steps, then the state, which the controls hold from now on.
void DialogWindow::FillControls() {
  SetWindowTextW(window_.get(), Wide(kDialogCaption).c_str());
  SetText(Control(kLblVersion), ComponentVersionLine());
  for (int id : {kCmbFirstTimeSource, kCmbSecondTimeSource}) {
    HWND list = Control(id);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (int position = 0; position < kSourceCount; ++position) {
      SendMessageW(list, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(Wide(SourceCaption(position)).c_str()));
    }
  }
  PutIntoControls(state_);
}

void DialogWindow::Unload() noexcept {
  DiscardWindow();
  loaded_ = false;
  state_ = DialogValues{};
}

void DialogWindow::DiscardWindow() noexcept {
  focus_ = nullptr;
  // WM_NCDESTROY unloads the state too; a window that fails while it is being made must not
  // take a state that was loaded before it with it.
  const bool wasLoaded = loaded_;
  DialogValues kept = std::move(state_);
  window_.Reset();
  fontCaches_.reset();
  loaded_ = wasLoaded;
  state_ = std::move(kept);
}

HWND DialogWindow::Hwnd() {
  Load();
  if (!window_) CreateWindowFromState();
  return window_.get();
}

HWND DialogWindow::Control(int id) const noexcept {
  return window_ ? GetDlgItem(window_.get(), id) : nullptr;
}

DialogValues DialogWindow::Values() {
  Load();
  if (!window_) return state_;
  DialogValues v;
  v.timeout = WindowText(Control(kTxtTimeout));
  v.firstTimeServer = WindowText(Control(kTxtFirstTimeServer));
  v.secondTimeServer = WindowText(Control(kTxtSecondTimeServer));
  v.difference = WindowText(Control(kTxtDifference));
  v.firstSource = static_cast<int>(SendMessageW(Control(kCmbFirstTimeSource), CB_GETCURSEL, 0, 0));
  v.secondSource =
      static_cast<int>(SendMessageW(Control(kCmbSecondTimeSource), CB_GETCURSEL, 0, 0));
  return v;
}

void DialogWindow::SetValues(const DialogValues& values) {
  Load();
  if (window_) {
    PutIntoControls(values);
    return;
  }
  // What the controls would make of the values, so that the window made later shows, and
  // Values reads, the same as if the window had been there all along.
  const auto asControlHolds = [](const std::u16string& text) {
    return text.substr(0, text.find(u'\0'));
  };
  const auto asListHolds = [](int position) {
    return position >= 0 && position < kSourceCount ? position : -1;
  };
  state_.timeout = asControlHolds(values.timeout);
  state_.firstTimeServer = asControlHolds(values.firstTimeServer);
  state_.secondTimeServer = asControlHolds(values.secondTimeServer);
  state_.difference = asControlHolds(values.difference);
  state_.firstSource = asListHolds(values.firstSource);
  state_.secondSource = asListHolds(values.secondSource);
}

void DialogWindow::PutIntoControls(const DialogValues& values) {
  SetText(Control(kTxtTimeout), values.timeout);
  SetText(Control(kTxtFirstTimeServer), values.firstTimeServer);
  SetText(Control(kTxtSecondTimeServer), values.secondTimeServer);
  SetText(Control(kTxtDifference), values.difference);
  SendMessageW(Control(kCmbFirstTimeSource), CB_SETCURSEL, static_cast<WPARAM>(values.firstSource),
               0);
  SendMessageW(Control(kCmbSecondTimeSource), CB_SETCURSEL,
               static_cast<WPARAM>(values.secondSource), 0);
}

std::optional<std::u16string> DialogWindow::ShowModal() {
  if (showing_) throw Failure(u"The configuration dialog is already shown");
  Hwnd();
  showing_ = true;
  outcome_.reset();
  struct EndShow {
    bool& showing;
    ~EndShow() { showing = false; }
  } endShow{showing_};

  HWND hwnd = window_.get();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd);
  if (focus_) SetFocus(focus_);

  // The loop runs every message of the thread, not only the dialog's, so that the host's
  // windows and timers keep working; only keyboard navigation is the dialog's own.
  MSG msg{};
  while (window_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The host is quitting: close without OK and hand the quit on to the host's own loop.
      Unload();
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) {
      Unload();
      break;
    }
    if (IsHelpKey(msg)) {
      OpenHelp();
      continue;
    }
    if (!window_ || !IsDialogMessageW(window_.get(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  std::optional<std::u16string> outcome = std::move(outcome_);
  outcome_.reset();
  return outcome;
}

bool DialogWindow::IsHelpKey(const MSG& msg) const noexcept {
  if (msg.message != WM_KEYDOWN || msg.wParam != VK_F1 || !window_) return false;
  return msg.hwnd == window_.get() || IsChild(window_.get(), msg.hwnd);
}

void DialogWindow::OpenHelp() noexcept {
  if (window_ && helpContext_ != 0) ShowHelp(window_.get(), helpContext_);
}

void DialogWindow::PressOk() {
  const Composed composed = ComposeParameter(Values());
  if (!composed.ok()) {
    MessageBoxW(window_.get(), Wide(composed.problem).c_str(), kMessageCaption,
                MB_OK | MB_ICONEXCLAMATION);
    // The message box runs messages of its own; the window may be gone by now.
    const int id = composed.box == ProblemBox::kFirstTimeServer    ? kTxtFirstTimeServer
                   : composed.box == ProblemBox::kSecondTimeServer ? kTxtSecondTimeServer
                                                                   : kTxtDifference;
    if (HWND box = Control(id)) {
      SetFocus(box);
      SendMessageW(box, EM_SETSEL, 0, -1);
    }
    return;
  }
  if (onOk_) onOk_(composed.parameter);
  outcome_ = composed.parameter;
  Unload();
}

LRESULT DialogWindow::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kBtOK && HIWORD(wParam) == BN_CLICKED) {
        PressOk();
        return 0;
      }
      // Enter and Escape reach the window as IDOK and IDCANCEL; the dialog has neither a
      // default nor a cancel button, so they do nothing.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) return 0;
      break;
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_ACTIVATE:
      // Remember the control that had the focus, and give it back on return, as dialogs do.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd, focus)) focus_ = focus;
      } else if (focus_ != nullptr && IsWindow(focus_)) {
        SetFocus(focus_);
      }
      return 0;
    case WM_SETFOCUS:
      if (focus_ != nullptr && IsWindow(focus_)) SetFocus(focus_);
      return 0;
    case WM_HELP:
      OpenHelp();
      return TRUE;
    case WM_NCDESTROY:
      // Destroyed from here or from elsewhere: either way the owner must let go of the handle,
      // and a form whose window is gone is unloaded.
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      window_.Detach();
      focus_ = nullptr;
      loaded_ = false;
      state_ = DialogValues{};
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK DialogWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogWindow* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<DialogWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = win::Window(hwnd);
  } else {
    self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  // No exception may unwind into the window manager's code.
  try {
    return self->HandleMessage(hwnd, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

}  // namespace brevun::dialog
