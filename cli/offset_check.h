// brevun-check -H: the offset a time protocol measures between a server's clock and ours (or
// between two servers), judged by threshold ranges. The options' request, split into what the
// measurement layer asks and what the judgement judges by, and the plugin line of the two.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli/state.h"
#include "cli/threshold.h"
#include "measure/judgement.h"
#include "measure/offset.h"
#include "measure/units.h"

namespace brevun::cli {

using measure::DaysLeft;
using measure::IsLeapDay;
using measure::NtsFacts;
using measure::OffsetAnswer;
using measure::OffsetQuery;
using measure::OffsetServer;
using measure::SecondsText;

struct OffsetRequest {
  OffsetServer first;
  // A second server instead of the local clock: the offset is then first minus second.
  std::optional<OffsetServer> second;
  AddressFamily family = AddressFamily::kAny;
  // What the queries may take together, and the whole run's -t as the user gave it (which
  // the failure text names: that is the number the user knows).
  std::int64_t budgetMillis = 9950;
  int timeoutSeconds = 10;
  ThresholdRange warning;
  ThresholdRange critical;
  // -o: the offset the first server is expected to have; the deviation from it is judged.
  std::int64_t expectedMicros = 0;
  std::string expectedText;  // as given, for the line; empty without -o
  // -q: no usable answer is UNKNOWN rather than CRITICAL (never a refusal to authenticate).
  bool quiet = false;
  // A server announcing a leap second on a day that has none is misconfigured: WARNING.
  bool leapWarning = false;
  // --nts: the first server is asked through Network Time Security; its certificate's days
  // left are reported, and judged by certWarningDays when given.
  bool nts = false;
  std::optional<int> certWarningDays;
  // Our clock in Unix microseconds, for the days a certificate has left; empty: the system's.
  std::function<std::int64_t()> utcMicros;
  // -v: lines for a person reading along (standard error); empty when nobody reads.
  std::function<void(const std::string&)> verbose;
  // Told before each query what the line would be if that query used up the run: the
  // watchdog prints it when the process itself runs out of time.
  std::function<void(State, const std::string&)> beforeQuery;
};

struct Verdict {
  State state = State::kUnknown;
  std::string line;  // one line, without its line break
};

// What the one-server and the several-server requests judge by alike.
template <typename Request>
measure::Criteria SharedCriteria(const Request& request) {
  measure::Criteria c;
  c.warning = request.warning;
  c.critical = request.critical;
  c.expectedMicros = request.expectedMicros;
  c.expectedText = request.expectedText;
  c.quiet = request.quiet;
  c.leapWarning = request.leapWarning;
  c.certWarningDays = request.certWarningDays;
  c.timeoutSeconds = request.timeoutSeconds;
  return c;
}

// What the measurement layer is asked, and what the judgement judges by.
measure::OffsetRequest MeasurementOf(const OffsetRequest& request);
measure::Criteria CriteriaOf(const OffsetRequest& request);

// The measurement of a run that ran out of time while it asked `server`.
measure::Measurement Unfinished(const OffsetRequest& request, const OffsetServer& server);

// Asks the server(s) through `query` and judges the offset: the state and the plugin line.
// Never throws for what a server or the network does; each failure is a verdict with one plain
// sentence.
Verdict CheckOffset(const OffsetRequest& request, const OffsetQuery& query);

// The line and state the run ends with when a query to `host` gets no answer in time.
Verdict NoAnswer(const OffsetRequest& request, const TimeHost& host);

}  // namespace brevun::cli
