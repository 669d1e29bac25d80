#include "component/frmmain.h"

#include <utility>


namespace brevun {

FrmMain::FrmMain(const DateTimeText& text, dialog::DialogWindow::ParameterSink onOk)
    : text_(text), dialog_(std::move(onOk)) {}

TimeFetcher* FrmMain::Fetcher() {
  // The clock is sited on the form: using it loads the form, which then stays loaded, with no
  // window, until zt_showGUI shows it or the object goes.
  dialog_.Load();
  if (!clock_) clock_ = std::make_unique<ClockForm>(text_);
  return clock_.get();
}

}  // namespace brevun
