// The check's civil fields and the system's SYSTEMTIME, both ways: the local clock and the
// automation dates both meet the system in this form.
#pragma once

#include <windows.h>

#include "check/datetime.h"

namespace brevun::component {

// The caller sees to it that the year is one a SYSTEMTIME holds (1601 to 30827).
inline SYSTEMTIME ToSystemTime(const CivilTime& c) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(c.year);
  st.wMonth = static_cast<WORD>(c.month);
  st.wDay = static_cast<WORD>(c.day);
  st.wHour = static_cast<WORD>(c.hour);
  st.wMinute = static_cast<WORD>(c.minute);
  st.wSecond = static_cast<WORD>(c.second);
  return st;
}

inline LocalSeconds FromSystemTime(const SYSTEMTIME& st) {
  return FromCivil(CivilTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond});
}

}  // namespace brevun::component
