// brevun-check -H: the offset a time protocol measures between a server's clock and ours (or
// between two servers), judged by threshold ranges, as one line for a monitoring system.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli/state.h"
#include "cli/threshold.h"
#include "timesource/timehost.h"
#include "timesource/timequery.h"

namespace brevun::cli {

struct OffsetServer {
  TimeHost host;
  Source protocol = Source::kSntp;  // kSntp or kTime
};

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
  // -q: no usable answer is UNKNOWN rather than CRITICAL.
  bool quiet = false;
  // -v: lines for a person reading along (standard error); empty when nobody reads.
  std::function<void(const std::string&)> verbose;
  // Told before each query what the line would be if that query used up the run: the
  // watchdog prints it when the process itself runs out of time.
  std::function<void(State, const std::string&)> beforeQuery;
};

// How the check asks a server; QueryTime in the real run.
using OffsetQuery = std::function<QueryOutcome(Source, const TimeHost&, const QueryOptions&)>;

struct Verdict {
  State state = State::kUnknown;
  std::string line;  // one line, without its line break
};

// Asks the server(s) through `query` and judges the offset. Never throws for what a server
// or the network does; each failure is a verdict with one plain sentence.
Verdict CheckOffset(const OffsetRequest& request, const OffsetQuery& query);

// The line and state the run ends with when a query to `host` gets no answer in time.
Verdict NoAnswer(const OffsetRequest& request, const TimeHost& host);

// Microseconds as seconds with six decimals: "-0.000012", "1.900000".
std::string SecondsText(std::int64_t micros);

}  // namespace brevun::cli
