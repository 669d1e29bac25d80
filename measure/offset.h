// Measuring the offset of one server's clock against the local clock, or of one server's
// against another's: the protocol's own offset (sub-second for SNTP and NTS, whole seconds
// for the Time Protocol), each server asked in turn within one budget.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "measure/measurement.h"
#include "timesource/timehost.h"
#include "timesource/timequery.h"

namespace brevun::measure {

struct OffsetServer {
  TimeHost host;
  Source protocol = Source::kSntp;  // kSntp or kTime
};

// A server's answer: the time (or a notification), and with NTS what the key establishment
// showed.
struct OffsetAnswer {
  // SNTP's and the Time Protocol's answers, as QueryTime gives them.
  OffsetAnswer(QueryOutcome t = {}) : time(std::move(t)) {}  // NOLINT(google-explicit-constructor)
  QueryOutcome time;
  std::optional<NtsFacts> nts;
};

// How a server is asked: QueryTime in the real run, an NTS query with --nts.
using OffsetQuery = std::function<OffsetAnswer(Source, const TimeHost&, const QueryOptions&)>;

struct OffsetRequest {
  OffsetServer first;
  // A second server instead of the local clock: the offset is then first minus second.
  std::optional<OffsetServer> second;
  AddressFamily family = AddressFamily::kAny;
  std::int64_t budgetMillis = 9950;  // what the queries may take together
  bool nts = false;                  // the first server is asked through NTS
  // Our clock in Unix microseconds, for the days a certificate has left; empty: the system's.
  std::function<std::int64_t()> utcMicros;
  // -v: lines for a person reading along; empty when nobody reads.
  std::function<void(const std::string&)> verbose;
  // Told before each query which server it asks: the run may end while it waits.
  std::function<void(const OffsetServer&)> beforeQuery;
};

// Asks the server(s) through `query`. Never throws for what a server or the network does: a
// failure ends the measurement with the server that failed as its last.
Measurement MeasureOffset(const OffsetRequest& request, const OffsetQuery& query);

}  // namespace brevun::measure
