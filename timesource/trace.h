// How the time client writes what it does for a person reading along (a plugin's -v): instants,
// durations and timestamps in one fixed form, whatever the platform.
#pragma once

#include <cstdint>
#include <string>

#include "timesource/ntp.h"
#include "timesource/timequery.h"

namespace brevun::trace {

// "2026-12-08 20:30:01.123456 UTC" for Unix microseconds.
std::u16string UtcMicros(std::int64_t unixMicros);
// Signed seconds with six decimals: "-0.000012 s", "1.500000 s".
std::u16string Seconds(std::int64_t micros);
// A timestamp as its two words in hexadecimal, "0x8f3c2a1b.12345678": our transmit timestamps
// are random bits, not a time, and read best as what they are.
std::u16string Hex(ntp::Timestamp t);
// A whole number.
std::u16string Number(long long value);

// Calls trace with line when somebody reads along; builds nothing otherwise.
template <typename MakeLine>
void Say(const QueryTrace& trace, MakeLine&& makeLine) {
  if (trace) trace(makeLine());
}

}  // namespace brevun::trace
