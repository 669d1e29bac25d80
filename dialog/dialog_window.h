// The configuration dialog. Each component object owns one DialogWindow. "Load" runs the load
// steps (caption, version line, both source lists refilled and at position 0, help context 10)
// on the dialog's state, and creates no window: a loaded dialog that is never shown, as the
// one a time fetch loads, costs no window, no controls and no desktop. The window, with every
// control as laid out and showing that state, is made when it is first needed (showing, the
// handle); from then on the controls hold the state. "Unload" drops the state and destroys the
// window, and a later use loads afresh. OK composes the parameter string from the controls
// (dialog_model.h), hands it to the sink and unloads; the close command unloads without
// writing anything.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dialog/dialog_model.h"
#include "dialog/font_caches.h"
#include "win/gui.h"

namespace brevun::dialog {

class DialogWindow {
 public:
  // Receives the parameter string that OK composed, just before the window is unloaded. The
  // component passes a sink that stores it as the module's current parameter. A sink that
  // throws keeps the dialog open, as if OK had not been pressed.
  using ParameterSink = std::function<void(const std::u16string&)>;

  explicit DialogWindow(ParameterSink onOk = {});
  ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // Runs the load steps on the state; does nothing when it is loaded. Needs no window.
  void Load();
  // Drops the state and destroys the window and its controls, if any; does nothing when it is
  // not loaded.
  void Unload() noexcept;
  bool IsLoaded() const noexcept { return loaded_; }
  bool HasWindow() const noexcept { return static_cast<bool>(window_); }

  // The window handle: loads, then creates the window hidden, showing the state, if there is
  // none yet. Throws brevun::Failure when the window cannot be created; the dialog then stays
  // loaded with its state, as a later attempt (with a desktop) will show it.
  HWND Hwnd();

  // The values of the controls, and setting them; both load first, neither makes a window.
  // Setting a list position outside 0..4 leaves the list with nothing selected, and a text
  // ends at its first NUL, as in the controls.
  DialogValues Values();
  void SetValues(const DialogValues& values);

  // Shows the window with no owner and handles the messages of the whole thread until the
  // window has been unloaded, so that the host's other windows and timers keep working while
  // the user edits. Returns the parameter string when OK closed the dialog, std::nullopt for
  // any other close. Makes the window first (see Hwnd). Throws brevun::Failure when this
  // dialog is already being shown (a second modal show from inside the first one).
  // The caller must keep this object alive until the call returns, even if the messages it
  // handles release the caller's own references.
  std::optional<std::u16string> ShowModal();
  bool IsShowing() const noexcept { return showing_; }

  // The help context that F1 opens; set by every load.
  unsigned HelpContext() const noexcept { return helpContext_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void CreateWindowFromState();
  void DiscardWindow() noexcept;
  void CreateControls(HWND hwnd);
  void FillControls();
  void PutIntoControls(const DialogValues& values);
  void PressOk();
  void OpenHelp() noexcept;
  bool IsHelpKey(const MSG& msg) const noexcept;
  HWND Control(int id) const noexcept;

  ParameterSink onOk_;
  bool loaded_ = false;
  // What the controls show while there is no window; the controls themselves once there is.
  DialogValues state_;
  win::Font font_;
  win::Icon bigIcon_;
  win::Icon smallIcon_;
  // The text layout caches of the window's fonts (font_caches.h), from before the window is
  // made until after it is gone.
  std::unique_ptr<FontCaches> fontCaches_;
  // Declared after the font, the icons and the caches so that the window, which uses them,
  // goes first.
  win::Window window_;
  HWND focus_ = nullptr;  // the control that gets the focus whenever the window is activated
  unsigned helpContext_ = 0;
  bool showing_ = false;
  std::optional<std::u16string> outcome_;
};

}  // namespace brevun::dialog
