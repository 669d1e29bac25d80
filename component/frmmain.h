// The private form of a component object. One form plays two parts: hidden, it hosts the
// network clock and the time fetch of the object's checks; shown by zt_showGUI, it is the
// configuration dialog. Windows only.
//
// Loading is separate from the form object: the object makes its form unloaded, and the first
// use of the dialog's controls, of the window handle or of the time fetch loads it (runs the
// load steps). Loading makes no window: only showing the form, or asking for its handle, does.
// A monitoring host that runs as a service has no desktop to spare for a window it never
// shows, or none at all, and its checks must still ask time servers. A form loaded by a
// fetch stays loaded, so the next zt_showGUI finds it as that load left it. OK and the close
// command unload it; a later use loads it afresh.
#pragma once

#include <windows.h>

#include <memory>

#include "check/check.h"
#include "check/datetime.h"
#include "dialog/dialog_window.h"
#include "timesource/clockform.h"

namespace brevun {

class FrmMain {
 public:
  // text renders the times the clock reads (the platform's date-time text) and must outlive
  // the form. onOk receives the parameter string that OK composed, before the dialog unloads.
  FrmMain(const DateTimeText& text, dialog::DialogWindow::ParameterSink onOk);
  FrmMain(const FrmMain&) = delete;
  FrmMain& operator=(const FrmMain&) = delete;
  // A form that is still loaded is unloaded with its object: its window must not outlive the
  // object that owns it.
  ~FrmMain() = default;

  // Runs the load steps, if it is not loaded. Makes no window.
  void Load() { dialog_.Load(); }
  void Unload() noexcept { dialog_.Unload(); }
  bool IsLoaded() const noexcept { return dialog_.IsLoaded(); }
  bool HasWindow() const noexcept { return dialog_.HasWindow(); }
  // The native window handle; loads the form first and makes its window, hidden, if it has
  // none. Throws Failure when the window cannot be made.
  HWND Hwnd() { return dialog_.Hwnd(); }

  // The dialog's controls, for the parameter editing. Each of its uses loads the form.
  dialog::DialogWindow& Dialog() noexcept { return dialog_; }

  // The time fetch of the object's checks: the form's clock. Loads the form, as every use of
  // the clock does, and leaves it loaded; makes no window. The clock turns a server's time
  // into local time by the zone rules that GetLocalTime follows, the same as the check's
  // local clock.
  TimeFetcher* Fetcher();

 private:
  const DateTimeText& text_;
  dialog::DialogWindow dialog_;
  // Made by the first fetch and kept for the life of the form, across unloads: every fetch
  // puts timeout, protocol and host before it queries, so nothing a query reads survives from
  // an earlier load; what does survive is what belongs to the form rather than to its
  // window, the last error notification's description. The clock holds no socket or window
  // between queries (each query opens and closes its own, with its own Winsock session), so
  // keeping it costs nothing while the form is unloaded.
  std::unique_ptr<ClockForm> clock_;
};

}  // namespace brevun
