// One time query against one time server, over SNTP or the Time Protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "check/failure.h"
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
  // what the reply said of the server.
  std::int64_t delayMicros = 0;
  int stratum = 0;
  int leap = 0;
  std::u16string referenceId;
};

enum class AddressFamily { kAny, kIPv4, kIPv6 };

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
};

// A query that failed, with why in a form a program can act on. The description is the
// same text as ever (it ends up in the check's result text).
class QueryFailure : public Failure {
 public:
  enum class Kind {
    kUnknownHost,  // the name has no address (of the family asked for)
    kTimeout,      // no usable answer in time
    kRefused,      // refused or reset by every address
    kMalformed,    // an answer that no time can be read from
    kNetwork,      // anything else of the network
    // Refused by Network Time Security: TLS, the certificate, the key establishment, or a reply
    // that is not authentic.
    kAuthentication,
  };
  QueryFailure(Kind kind, std::u16string description)
      : Failure(std::move(description)), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// The query's whole time, name lookup included, in milliseconds: whole seconds, 0 meaning
// the default of 10 s. Negative values never get this far (the clock refuses them).
std::int64_t QueryMilliseconds(int timeoutSeconds);

// Both throw QueryFailure when the query itself fails: no answer in time, refused, unknown
// host, a malformed answer. The description names the server and the cause. SNTP asks again,
// with a fresh request, after 1 s, 2 s, 4 s... within the budget, so a lost datagram costs a
// second rather than the query; the Time Protocol leaves that to TCP.
QueryOutcome QuerySntp(const TimeHost& host, const QueryOptions& options);
QueryOutcome QueryTimeProtocol(const TimeHost& host, const QueryOptions& options);
// The same with the network clock's timeout: whole seconds, 0 meaning 10 s. They throw
// QueryFailure too.
QueryOutcome QuerySntp(const TimeHost& host, int timeoutSeconds);
QueryOutcome QueryTimeProtocol(const TimeHost& host, int timeoutSeconds);

// The local clock as the protocols need it: Unix microseconds.
std::int64_t UtcMicrosNow();

}  // namespace brevun
