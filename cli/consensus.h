// brevun-check with several servers: is this machine's clock right, when any one server may be
// wrong, silent or free-running while it still claims to be synchronised? The options' request,
// split into what the measurement layer asks (measure/several.h) and what the judgement judges
// by, and the plugin line of the two.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/offset_check.h"
#include "cli/state.h"
#include "cli/threshold.h"
#include "measure/judgement.h"
#include "measure/several.h"

namespace brevun::cli {

using measure::ConsensusAnswer;
using measure::ConsensusNetwork;
using measure::ConsensusServer;
using measure::RealNetwork;

struct ConsensusRequest {
  std::vector<TimeHost> hosts;  // as given, with their default ports
  // Every address a name resolves to is a server of its own, at most maxServers of each name.
  bool allAddresses = false;
  std::size_t maxServers = 4;
  AddressFamily family = AddressFamily::kAny;
  std::int64_t budgetMillis = 9950;  // what resolving and asking may take together
  int timeoutSeconds = 10;           // -t as given, for the lines
  ThresholdRange warning;            // on the combined offset's absolute value
  ThresholdRange critical;
  std::optional<ThresholdRange> truechimersWarning;  // on how many servers agree
  std::optional<ThresholdRange> truechimersCritical;
  State falseticker = State::kWarning;
  selection::Limits limits;
  std::int64_t expectedMicros = 0;  // -o
  std::string expectedText;
  bool quiet = false;
  bool leapWarning = false;
  // --nts: every server is asked through Network Time Security; certificates that expire
  // within certWarningDays give WARNING.
  bool nts = false;
  std::optional<int> certWarningDays;
  std::function<void(const std::string&)> verbose;
  // Our clock in Unix microseconds: which day it is, for the leap second rule.
  std::function<std::int64_t()> utcMicros;
};

measure::SeveralRequest MeasurementOf(const ConsensusRequest& request);
measure::Criteria CriteriaOf(const ConsensusRequest& request);

// The measurement of a run that ran out of time before the servers' answers were in.
measure::Measurement Unfinished(const ConsensusRequest& request);

// Asks the servers and judges the clock by the ones that agree. Never throws for what a
// server or the network does.
Verdict CheckConsensus(const ConsensusRequest& request, const ConsensusNetwork& network);

}  // namespace brevun::cli
