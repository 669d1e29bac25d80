// The measurement's quantities as every writer and trace shows them: microseconds as seconds,
// whole days left of a certificate, the days that may carry a leap second.
#pragma once

#include <cstdint>
#include <string>

namespace brevun::measure {

// Microseconds as seconds with six decimals: "-0.000012", "1.900000".
std::string SecondsText(std::int64_t micros);

// "+2.310 s": an offset as a line shows it beside others, signed, to the millisecond.
std::string SignedMillis(std::int64_t micros);

// Whole days from nowUnixMicros until notAfter (Unix seconds), rounded down: what perfdata
// reports and --nts-cert-warning judges.
std::int64_t DaysLeft(std::int64_t notAfter, std::int64_t nowUnixMicros);

// Whether a leap second may be announced on the UTC day of unixSeconds: the last days of
// June and December, where RFC 5905 section 7.3 and the IERS put them.
bool IsLeapDay(std::int64_t unixSeconds);

}  // namespace brevun::measure
