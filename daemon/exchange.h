// Internal to the daemon readers, and what their tests drive: the exchanges with a daemon over
// a datagram link (a UDP socket, chronyd's Unix socket, or a script), and the endpoints they are
// tried on in turn within one budget.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "daemon/daemon.h"
#include "timesource/net.h"
#include "timesource/sntp.h"
#include "timesource/timehost.h"

namespace brevun::daemon {

struct Exchange {
  // The address that must have sent a reply; nullptr where the link itself guarantees it (a
  // connected Unix socket).
  const net::Address* server = nullptr;
  // How descriptions name where the daemon was asked ("127.0.0.1:323", a socket path).
  std::u16string where;
  std::int64_t deadlineMillis = 0;  // on the link's monotonic clock
  QueryTrace trace;
};

// One read of chronyd: a tracking request, then n_sources and one source_data request a source,
// each sent again (same sequence, the attempt counted) after 1 s, 2 s... while unanswered.
// Throws QueryFailure with a short detail: kTimeout, kRefused (chronyd refused a request),
// kMalformed, or what the link throws.
Report ExchangeChrony(DatagramLink& link, const Exchange& exchange);

// One read of ntpd: READVAR of the system variables, READSTAT of the associations, READVAR of
// each. A request whose response is still incomplete is sent again with a new sequence number
// after 1 s, 2 s...; fragments of every request sent so far count, each towards its own
// response. Throws as ExchangeChrony does.
Report ExchangeNtp(DatagramLink& link, const Exchange& exchange);

// "host", "host:port", "[v6]:port" with the daemon's port as the default. Throws QueryFailure
// (kUnknownHost) for one that is none of them.
TimeHost ParseEndpoint(const std::u16string& endpoint, std::uint16_t defaultPort);

// At most this many of ntpd's associations are read; a note says how many more there were.
inline constexpr std::size_t kMaxPeers = 64;

// "within 2 s", "within 500 ms": a budget as a person reads it.
std::u16string Within(std::int64_t milliseconds);

// The most telling of several failures' kinds: a daemon that answered badly says more than one
// that did not answer, which says more than one that refused.
QueryFailure::Kind MostTelling(QueryFailure::Kind a, QueryFailure::Kind b);

// Tries read on each endpoint in turn, each with an equal share of what is left of
// milliseconds (the last one all of it), until one gives a report; then notes which answered.
// When all fail, throws QueryFailure of the most telling kind: "<daemon> could not be read: "
// and each endpoint with its failure.
struct Endpoint {
  std::u16string where;
  std::function<Report(std::int64_t deadlineMillis)> read;
};
Report ReadFirstOf(const std::u16string& daemon, const std::vector<Endpoint>& endpoints,
                   std::int64_t milliseconds, const QueryTrace& trace);

}  // namespace brevun::daemon
