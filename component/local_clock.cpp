#include "component/local_clock.h"

#include <windows.h>

#include "check/failure.h"
#include "component/system_time.h"

namespace brevun::component {

LocalSeconds WindowsLocalClock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemTime(st);
}

LocalSeconds UtcToWindowsLocal(std::int64_t unixSeconds) {
  // The local-seconds scale is a plain count of civil seconds, so the UTC instant's civil
  // fields come from the same arithmetic as any local reading's.
  const CivilTime u = ToCivil(unixSeconds);
  const bool inRange = u.year >= 1601 && u.year <= 30827;
  const SYSTEMTIME utc = inRange ? ToSystemTime(u) : SYSTEMTIME{};
  SYSTEMTIME local{};
  // A null zone is the current one, with its daylight-saving rules for the instant's year.
  if (!inRange || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    throw Failure(u"Cannot convert the server's time to local time");
  }
  return FromSystemTime(local);
}

}  // namespace brevun::component
