// What one run of brevun-check found out, before anything is judged or written: the servers it
// asked, what each of them answered, and what the answers add up to (one server's offset, the
// difference of two, or the selection among several). The measurement knows nothing of
// thresholds or of output: the judgement (judgement.h) reads it once for the state and its
// reasons, and each writer (output/) turns the two into a plugin line, JSON or OpenMetrics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "daemon/daemon.h"
#include "timesource/query_failure.h"
#include "timesource/timehost.h"
#include "timesource/timequery.h"

namespace brevun::measure {

// The port of NTS Key Establishment (RFC 8915 section 4).
inline constexpr std::uint16_t kNtsKePort = 4460;

// What an NTS key establishment showed, beside the time of the exchange that followed it.
struct NtsFacts {
  std::int64_t keMicros = 0;             // the key establishment's time
  std::int64_t certificateNotAfter = 0;  // Unix seconds
  // The certificate was out of date by our clock but not at the server's authenticated time:
  // our clock is far off (or the server's key is an old one's). Never OK.
  bool certificateOutOfDateHere = false;
};

// What a server contributed to the measurement.
enum class Role {
  kUsed,         // one server, or one of two: its time gave the offset
  kTruechimer,   // several: in the majority the clock is judged by
  kFalseticker,  // several: usable, but outside the majority (or there is none)
  kTooFar,       // several: beyond the largest root distance or delay allowed
  kUnreachable,  // no time to use: no answer, a failure, a kiss-o'-death, no synchronised clock
  kCountedOnce,  // several: the same server as one counted already, reached another way
};

// The role as one word for machines: "used", "truechimer", "falseticker", "too-far",
// "unreachable", "counted-once".
const char* RoleName(Role role);

// A server's part in the measurement.
struct ServerResult {
  TimeHost host;                        // as asked: an address of a name, with --all-addresses
  std::string name;                     // how lines and labels name it
  Source protocol = Source::kSntp;      // kSntp or kTime
  std::optional<QueryOutcome> answer;   // a time, or a notification
  std::optional<QueryFailure> failure;  // why there is no answer
  std::optional<NtsFacts> nts;
  Role role = Role::kUnreachable;
  // Several servers: the answer's root distance (RFC 5905 section 11.2.1), and whether a
  // server too far was too far by its delay rather than by its root distance.
  std::int64_t rootDistanceMicros = 0;
  bool tooFarByDelay = false;
  std::string sameAs;  // kCountedOnce: the name of the server it was counted as

  // A time to use: an answer that is no kiss-o'-death or unsynchronised notification.
  bool GaveTime() const { return answer && !answer->notification; }
};

// This machine's own time daemon as --daemon read it: its report, or why there is none.
struct DaemonResult {
  std::optional<daemon::Kind> asked;  // empty: the first that answers (auto)
  std::optional<daemon::Report> report;
  std::optional<QueryFailure> failure;
};

// The selection of several servers (timesource/selection.h), in the measurement's terms.
struct Consensus {
  bool majority = false;
  int truechimers = 0;
  std::int64_t lowMicros = 0;  // the intersection of the truechimers' intervals
  std::int64_t highMicros = 0;
  // When the largest overlap was reached in separate places: each group, as indices into the
  // measurement's servers.
  std::vector<std::vector<std::size_t>> groups;
};

struct Measurement {
  enum class Mode {
    kOneServer,   // one server's clock against the local clock
    kTwoServers,  // one server's clock against another's
    kSeveral,     // the local clock, by the servers that agree
    kDaemon,      // the local time daemon alone, with no server to check it against
  };
  Mode mode = Mode::kOneServer;
  bool nts = false;
  AddressFamily family = AddressFamily::kAny;
  // One or two servers: those asked, in order; a failure ends the run, so the second may be
  // missing. Several: every server, in the order asked (names that did not resolve first).
  std::vector<ServerResult> servers;
  // The offset measured (before an expected offset is taken off): one server's, the first minus
  // the second, or the truechimers' combined offset.
  std::optional<std::int64_t> offsetMicros;
  std::optional<Consensus> consensus;
  // Several servers: the limits beyond which an answer was too far to be used.
  std::int64_t maxDistanceMicros = 0;
  std::optional<std::int64_t> maxDelayMicros;
  // --daemon: what the local time daemon says. With servers asked too (one, or several), their
  // verdict is the daemon's cross-check.
  std::optional<DaemonResult> daemon;
  // A failure that says nothing about any server (the network could not even be used).
  std::optional<std::u16string> error;
  // False for a run cut short by its timeout: what was known when the time ran out.
  bool finished = true;
  // Our clock, in Unix microseconds, when the answers were in: the certificates' days and the
  // leap day are judged by it.
  std::int64_t utcMicros = 0;

  // The servers that count: every one but those counted once already.
  std::size_t Counted() const;
};

}  // namespace brevun::measure
