// The hidden side of the form that each component object owns: it hosts one network clock and
// offers the time fetch of a check.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "check/check.h"
#include "check/datetime.h"
#include "timesource/netclock.h"

namespace brevun {

class ClockForm final : public TimeFetcher {
 public:
  // The form hosts a NetClock. text renders the time read (the platform's date-time text);
  // it must outlive the form.
  explicit ClockForm(const DateTimeText& text);
  // The form with another clock in its place.
  ClockForm(const DateTimeText& text, std::unique_ptr<ClockControl> clock);
  ClockForm(const ClockForm&) = delete;
  ClockForm& operator=(const ClockForm&) = delete;

  // Asks strServer for its time over the protocol that strProtocol names ("time": the Time
  // Protocol; anything else: SNTP). strResponse receives the time as a date-time text and the
  // result is true; or the clock's error notification, unchanged, and true; or, when a step
  // fails, "ERR: " + description + " (" + step + ")" and false. Never throws.
  bool DoRFCProtocol(const std::u16string& strServer, const std::u16string& strProtocol,
                     std::int16_t intTimeout, std::u16string& strResponse) override;

  // The handler of the clock's error notification.
  void NetClock_Error(int code, const std::u16string& description);

  ClockControl& clock() { return *netClock_; }

  // Set by the notification, cleared at the start of every fetch.
  bool blnClockError = false;
  // The description of the latest notification; kept for the life of the form.
  std::u16string strClockError;

 private:
  const DateTimeText& text_;
  std::unique_ptr<ClockControl> netClock_;
};

}  // namespace brevun
