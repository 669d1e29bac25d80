#include "component/frmmain.h"

#include <utility>

#include "component/local_clock.h"
#include "timesource/netclock.h"

namespace brevun {

FrmMain::FrmMain(const DateTimeText& text, dialog::DialogWindow::ParameterSink onOk)
    : text_(text), dialog_(std::move(onOk)) {}

TimeFetcher* FrmMain::Fetcher() {
  // The clock is sited on the form: using it loads the form, which then stays loaded, with no
  // window, until zt_showGUI shows it or the object goes.
  dialog_.Load();
  if (!clock_) {
    // Not the C runtime's zone: it reads TZ its own way (Wine hands a process the TZ of
    // Linux, a host may set one), and a server's time converted by other rules than the local
    // clock's reading would differ from it by hours.
    clock_ = std::make_unique<ClockForm>(text_,
                                         std::make_unique<NetClock>(&component::UtcToWindowsLocal));
  }
  return clock_.get();
}

}  // namespace brevun
