// One time query against one time server, over SNTP or the Time Protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "check/parameter.h"
#include "timesource/net.h"
#include "timesource/query_failure.h"
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
  // The server's clock minus ours at that moment, in microseconds. The Time Protocol
  // measures it to the second only: its server's second against our clock at the middle of
  // the exchange.
  std::int64_t offsetMicros = 0;
  // The address that answered, as "127.0.0.1:123" or "[::1]:123".
  std::u16string server;
  // SNTP only (zero for the Time Protocol): the round-trip delay of RFC 5905 section 8, and
  // what the reply said of the server: how far it is from its reference clock (root delay and
  // root dispersion, RFC 5905 section 7.3) and how finely its clock reads (precision, log2 s).
  std::int64_t delayMicros = 0;
  int stratum = 0;
  int leap = 0;
  std::u16string referenceId;
  // The reference timestamp as sent (seconds in the high 32 bits), 0 when the server sent
  // none: when its clock was last set. With stratum, reference id and root delay it tells
  // one server apart from another (two addresses of one host give equal ones).
  std::uint64_t referenceTimestamp = 0;
  std::int64_t rootDelayMicros = 0;
  std::int64_t rootDispersionMicros = 0;
  int precision = 0;
  // T4 - T1 of the request answered, by our clock: what the dispersion grew over.
  std::int64_t exchangeMicros = 0;
};

// What a query reports as it goes, for a person reading along: one English line at a time,
// without a line break (each address tried, each request sent, each reply and its fields).
using QueryTrace = std::function<void(const std::u16string& line)>;

struct QueryOptions {
  // The query's whole time, name lookup included. A timeout's description names it in whole
  // seconds ("within 2 s"; 2500 ms rounds to "3 s"), below one second in milliseconds.
  std::int64_t milliseconds = 10000;
  AddressFamily family = AddressFamily::kAny;
  // Empty: nobody reads along.
  QueryTrace trace;
  // The host's name is complete as it stands: the resolver's search domains never extend it
  // (on POSIX systems; Windows treats names as it always does).
  bool fullyQualified = false;
};

// One server's part in a query of several: its answer (a time or a notification), or why
// there is none.
struct ServerAnswer {
  TimeHost host;
  std::optional<QueryOutcome> outcome;
  std::optional<QueryFailure> failure;
};

// Runs ask(i, own) for every i below count at once, each on a thread of its own, and returns
// when all have ended. One deadline for all: each gets what is left of options.milliseconds
// when it starts (shared with the asks still to run after it where the system had no thread
// for them, or more than `threads` would be started), and a trace of its own that
// options.trace hears whole once all have ended, so the lines of one query stay together and
// no two threads call the caller's trace at once. ask must not throw.
void AskTogether(std::size_t count, const QueryOptions& options,
                 const std::function<void(std::size_t i, const QueryOptions& own)>& ask,
                 std::size_t threads = std::numeric_limits<std::size_t>::max());

// Asks every host at once, each as QueryTime does (its addresses in turn, SNTP's
// retransmission), all within options.milliseconds; the answers come in the order of hosts.
// The trace, when given, hears from one query at a time.
std::vector<ServerAnswer> QueryEach(Source protocol, const std::vector<TimeHost>& hosts,
                                    const QueryOptions& options);

// Every address host resolves to (of options.family), each once, as a time host of its own
// ("192.0.2.7:123", "[2001:db8::7]:123"), in the resolver's order and at most limit of them.
// Throws QueryFailure as a query would (unknown host, no lookup in time).
std::vector<TimeHost> AddressesOf(const TimeHost& host, Source protocol,
                                  const QueryOptions& options, std::size_t limit);

// The query's whole time, name lookup included, in milliseconds: whole seconds, 0 meaning
// the default of 10 s. Negative values never get this far (the clock refuses them).
std::int64_t QueryMilliseconds(int timeoutSeconds);

// The time stack speaks the check's word for a protocol: the time-server sources
// Source::kSntp (SNTP over UDP) and Source::kTime (the Time Protocol of RFC 868 over TCP).
// Any other source asks no server; where one is given, SNTP is meant.
std::uint16_t DefaultPort(Source protocol);
net::Transport TransportOf(Source protocol);
// "SNTP" or "Time Protocol", as lines for a person name it.
const char16_t* ProtocolName(Source protocol);

// Asks host for its time. Throws QueryFailure when the query itself fails: no answer in time,
// refused, unknown host, a malformed answer; the description names the server and the cause.
// SNTP asks again, with a fresh request, after 1 s, 2 s, 4 s... within the budget, so a lost
// datagram costs a second rather than the query; the Time Protocol leaves that to TCP.
QueryOutcome QueryTime(Source protocol, const TimeHost& host, const QueryOptions& options);
QueryOutcome QuerySntp(const TimeHost& host, const QueryOptions& options);
QueryOutcome QueryTimeProtocol(const TimeHost& host, const QueryOptions& options);

// The local clock as the protocols need it: Unix microseconds.
std::int64_t UtcMicrosNow();

}  // namespace brevun
