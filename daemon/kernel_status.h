// The kernel's time status words (Linux's <sys/timex.h>, RFC 1589), written out so that the
// status can be judged, and tested, on any system.
#pragma once

#include <string>

namespace brevun::daemon::kernel {

inline constexpr int kStaIns = 0x0010;     // a leap second is to be inserted today
inline constexpr int kStaDel = 0x0020;     // ... or deleted
inline constexpr int kStaUnsync = 0x0040;  // the clock is not synchronised

inline constexpr int kTimeOk = 0;
inline constexpr int kTimeIns = 1;
inline constexpr int kTimeDel = 2;
inline constexpr int kTimeOop = 3;
inline constexpr int kTimeWait = 4;
inline constexpr int kTimeError = 5;

// "TIME_OK", "TIME_ERROR"...
std::u16string StateText(int state);

}  // namespace brevun::daemon::kernel
