#include "timesource/netclock.h"

#include <string>

#include "check/failure.h"
#include "check/text.h"
#include "timesource/timehost.h"
#include "timesource/timequery.h"

namespace brevun {

void NetClock::PutTimeout(std::int16_t seconds) {
  if (seconds < 0) {
    throw Failure(u"Invalid timeout: " + FromUtf8(std::to_string(seconds)) +
                  u" s (0 or more seconds; 0 means 10 s)");
  }
  timeout_ = seconds;
}

void NetClock::PutProtocol(std::int32_t selector) {
  if (selector != ProtocolSelector(Source::kTime) && selector != ProtocolSelector(Source::kSntp)) {
    throw Failure(u"Invalid protocol selector: " + FromUtf8(std::to_string(selector)) +
                  u" (0 is the Time Protocol, 1 is SNTP)");
  }
  protocol_ = selector == ProtocolSelector(Source::kTime) ? Source::kTime : Source::kSntp;
}

void NetClock::PutTimeHost(const std::u16string& host) { host_ = host; }

void NetClock::Query() {
  // A failed query must not leave the previous one's time to be read.
  time_.reset();
  offsetMicros_.reset();
  const TimeHost host = ParseTimeHost(host_, DefaultPort(protocol_));
  QueryOptions options;
  options.milliseconds = QueryMilliseconds(timeout_);
  const QueryOutcome outcome = QueryTime(protocol_, host, options);
  if (outcome.notification) {
    if (handler_) handler_(outcome.code, outcome.description);
    return;
  }
  time_ = toLocal_(outcome.unixSeconds);
  offsetMicros_ = outcome.offsetMicros;
}

}  // namespace brevun
