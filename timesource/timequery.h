// One time query against one time server, over SNTP or the Time Protocol.
#pragma once

#include <cstdint>
#include <string>

#include "timesource/timehost.h"

namespace brevun {

// The codes of the clock's error notification.
inline constexpr int kNotifyKissOfDeath = 1;
inline constexpr int kNotifyUnsynchronised = 2;

struct QueryOutcome {
  // The server answered but gave no time to use: its description goes to the clock's error
  // notification, not to a failure.
  bool notification = false;
  int code = 0;
  std::u16string description;
  // The server's time at the moment its answer arrived, in Unix seconds (floored).
  std::int64_t unixSeconds = 0;
  // The server's clock minus ours at that moment, in microseconds.
  std::int64_t offsetMicros = 0;
};

// The query's whole time, name lookup included, in milliseconds: whole seconds, 0 meaning
// the default of 10 s. Negative values never get this far (the clock refuses them).
std::int64_t QueryMilliseconds(int timeoutSeconds);

// Both throw Failure when the query itself fails: no answer in time, refused, unknown host,
// a malformed answer. The description names the server and the cause.
QueryOutcome QuerySntp(const TimeHost& host, int timeoutSeconds);
QueryOutcome QueryTimeProtocol(const TimeHost& host, int timeoutSeconds);

// The local clock as the protocols need it: Unix microseconds.
std::int64_t UtcMicrosNow();

}  // namespace brevun
