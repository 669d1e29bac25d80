// The configuration dialog's window. Each component object owns one DialogWindow. "Load"
// creates the window hidden, with every control as laid out, and runs the load steps (caption,
// version line, both source lists refilled and at position 0, help context 10); "Unload"
// destroys it, and a later use loads it afresh. OK composes the parameter string from the
// controls (dialog_model.h), hands it to the sink and unloads; the close command unloads
// without writing anything.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "dialog/dialog_model.h"
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

  // Creates the window hidden and runs the load steps; does nothing when it is loaded.
  // Throws brevun::Failure when the window cannot be created (then nothing stays loaded).
  void Load();
  // Destroys the window and its controls; does nothing when it is not loaded.
  void Unload() noexcept;
  bool IsLoaded() const noexcept { return static_cast<bool>(window_); }

  // The window handle. Like every use of a control, it loads the window first.
  HWND Hwnd();

  // The values of the controls, and setting them; both load the window first. Setting a list
  // position outside 0..4 leaves the list with nothing selected.
  DialogValues Values();
  void SetValues(const DialogValues& values);

  // Shows the window with no owner and handles the messages of the whole thread until the
  // window has been unloaded, so that the host's other windows and timers keep working while
  // the user edits. Returns the parameter string when OK closed the dialog, std::nullopt for
  // any other close. Loads the window first. Throws brevun::Failure when this dialog is
  // already being shown (a second modal show from inside the first one).
  // The caller must keep this object alive until the call returns, even if the messages it
  // handles release the caller's own references.
  std::optional<std::u16string> ShowModal();
  bool IsShowing() const noexcept { return showing_; }

  // The help context that F1 opens; set by every load.
  unsigned HelpContext() const noexcept { return helpContext_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(HWND hwnd);
  void RunFormLoad();
  void PressOk();
  void OpenHelp() noexcept;
  bool IsHelpKey(const MSG& msg) const noexcept;
  HWND Control(int id) const noexcept;

  ParameterSink onOk_;
  win::Font font_;
  win::Icon bigIcon_;
  win::Icon smallIcon_;
  // Declared after the font and the icons so that the window, which uses them, goes first.
  win::Window window_;
  HWND focus_ = nullptr;  // the control that gets the focus whenever the window is activated
  unsigned helpContext_ = 0;
  bool showing_ = false;
  std::optional<std::u16string> outcome_;
};

}  // namespace brevun::dialog
