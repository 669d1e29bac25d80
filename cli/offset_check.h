// brevun-check -H: the offset a time protocol measures between a server's clock and ours (or
// between two servers), judged by threshold ranges, as one line for a monitoring system.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "cli/state.h"
#include "cli/threshold.h"
#include "timesource/timehost.h"
#include "timesource/timequery.h"

namespace brevun::cli {

// What an NTS key establishment showed, beside the time of the exchange that followed it.
struct NtsFacts {
  std::int64_t keMicros = 0;             // the key establishment's time
  std::int64_t certificateNotAfter = 0;  // Unix seconds
  // The certificate was out of date by our clock but not at the server's authenticated time:
  // our clock is far off (or the server's key is an old one's). Never OK.
  bool certificateOutOfDateHere = false;
};

// A server's answer as the check reads it: the time (or a notification), and with --nts what
// the key establishment showed.
struct OffsetAnswer {
  // SNTP's and the Time Protocol's answers, as QueryTime gives them.
  OffsetAnswer(QueryOutcome t = {}) : time(std::move(t)) {}  // NOLINT(google-explicit-constructor)
  QueryOutcome time;
  std::optional<NtsFacts> nts;
};

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
  // -q: no usable answer is UNKNOWN rather than CRITICAL (never a refusal to authenticate).
  bool quiet = false;
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

// How the check asks a server: QueryTime in the real run, an NTS query with --nts.
using OffsetQuery = std::function<OffsetAnswer(Source, const TimeHost&, const QueryOptions&)>;

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

// Whole days from nowUnixMicros until notAfter (Unix seconds), rounded down: what perfdata
// reports and --nts-cert-warning judges.
std::int64_t DaysLeft(std::int64_t notAfter, std::int64_t nowUnixMicros);

}  // namespace brevun::cli
