// Measuring the local clock by several servers at once, when any one of them may be wrong,
// silent or free-running while it still claims to be synchronised: every server is asked at
// once, and the replies are selected as a time daemon selects its servers
// (timesource/selection.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "measure/measurement.h"
#include "timesource/selection.h"
#include "timesource/timequery.h"

namespace brevun::measure {

// How many servers one run asks at most, whatever names expand to.
inline constexpr std::size_t kMaxServers = 64;

struct SeveralRequest {
  std::vector<TimeHost> hosts;  // as given, with their default ports
  // Every address a name resolves to is a server of its own, at most maxServers of each name
  // and kMaxServers in all.
  bool allAddresses = false;
  std::size_t maxServers = 4;
  AddressFamily family = AddressFamily::kAny;
  std::int64_t budgetMillis = 9950;  // what resolving and asking may take together
  selection::Limits limits;
  // --nts: every server is asked through Network Time Security.
  bool nts = false;
  std::function<void(const std::string&)> verbose;
  // Our clock in Unix microseconds: certificates' days and the leap day.
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

// What the measurement needs of the network, so that tables can stand in for it.
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

// Asks the servers and selects among their answers. Never throws for what a server or the
// network does.
Measurement MeasureSeveral(const SeveralRequest& request, const ConsensusNetwork& network);

// How lines and labels name a server: its host text, without the port when it is the usual one
// (SNTP's, or NTS Key Establishment's), with nothing that could end a line or start the
// performance data.
std::string ServerName(const TimeHost& host, std::uint16_t usualPort);

}  // namespace brevun::measure
