#include "timesource/clockform.h"

#include <new>
#include <string>

#include "check/failure.h"
#include "check/parameter.h"
#include "check/result_text.h"
#include "check/text.h"

namespace brevun {

ClockForm::ClockForm(const DateTimeText& text) : ClockForm(text, std::make_unique<NetClock>()) {}

ClockForm::ClockForm(const DateTimeText& text, std::unique_ptr<ClockControl> clock)
    : text_(text), netClock_(std::move(clock)) {
  netClock_->SetErrorHandler(
      [this](int code, const std::u16string& description) { NetClock_Error(code, description); });
}

void ClockForm::NetClock_Error(int /*code*/, const std::u16string& description) {
  blnClockError = true;
  strClockError = description;
}

bool ClockForm::DoRFCProtocol(const std::u16string& strServer, const std::u16string& strProtocol,
                              std::int16_t intTimeout, std::u16string& strResponse) {
  int step = 10;
  std::u16string description;
  try {
    step = 20;
    // A notification left over from an earlier call must not count for this one.
    blnClockError = false;
    step = 30;
    netClock_->PutTimeout(intTimeout);
    step = 40;
    // Exactly "time" selects the Time Protocol; every other code, "TIME" included, SNTP.
    netClock_->PutProtocol(
        ProtocolSelector(SourceOf(strProtocol) == Source::kTime ? Source::kTime : Source::kSntp));
    step = 50;
    netClock_->PutTimeHost(strServer);
    step = 60;
    netClock_->Query();
    step = 70;
    if (!blnClockError) {
      step = 80;
      const auto time = netClock_->Time();
      strResponse = time ? text_.Render(*time) : std::u16string();
      step = 90;
      return true;
    }
    step = 110;
    strResponse = strClockError;
    step = 120;
    return true;
  } catch (const Failure& f) {
    description = f.description();
  } catch (const std::bad_alloc&) {
    description = u"Out of memory";
  } catch (const std::exception&) {
    description = u"Internal error";
  }
  // Steps 160 to 180: the failure text names the step that failed.
  try {
    strResponse = FetchFailureText(description, step);
  } catch (const std::bad_alloc&) {
    strResponse.clear();
  }
  return false;
}

}  // namespace brevun
