// brevun-check with several servers: is this machine's clock right, when any one server may be
// wrong, silent or free-running while it still claims to be synchronised? Every server is asked
// at once; the replies are judged as a time daemon selects its servers (timesource/selection.h),
// and the local clock by the offset of those that agree.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/offset_check.h"
#include "cli/state.h"
#include "cli/threshold.h"
#include "timesource/selection.h"
#include "timesource/timequery.h"

namespace brevun::cli {

struct ConsensusRequest {
  std::vector<TimeHost> hosts;  // as given, with their default ports
  // Every address a name resolves to is a server of its own, at most maxServers in all.
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

// One server to ask, and the name it was given as: each address of a name is a server of its
// own, yet an NTS certificate names the name.
struct ConsensusServer {
  TimeHost host;
  std::u16string name;
};

// One server's answer (a time, a notification or why there is none), and with NTS what its key
// establishment showed.
struct ConsensusAnswer {
  ServerAnswer server;
  std::optional<NtsFacts> nts;
};

// What the judgement needs of the network, so that tables can stand in for it.
struct ConsensusNetwork {
  // AddressesOf: the addresses of one name as servers of their own. Throws QueryFailure.
  std::function<std::vector<TimeHost>(const TimeHost&, const QueryOptions&, std::size_t limit)>
      expand;
  // Every server at once (QueryEach, or NTS queries side by side), the answers in the order of
  // the servers.
  std::function<std::vector<ConsensusAnswer>(const std::vector<ConsensusServer>&,
                                             const QueryOptions&)>
      query;
};

// The network as SNTP asks it.
ConsensusNetwork RealNetwork();

// Asks the servers and judges the clock by the ones that agree. Never throws for what a
// server or the network does.
Verdict CheckConsensus(const ConsensusRequest& request, const ConsensusNetwork& network);

}  // namespace brevun::cli
