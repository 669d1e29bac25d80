// What this machine's own time daemon says of the clock, read through the daemon's own protocol:
// chrony's command protocol, NTP mode 6 (ntpd, ntpsec) and the kernel's time status. A pure
// value and the readers that fill it; judging it (states, thresholds) and writing it (lines,
// JSON) belong to whoever asks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "timesource/query_failure.h"
#include "timesource/timequery.h"

namespace brevun::daemon {

enum class Kind { kChrony, kNtp, kKernel };

// One source as the daemon sees it.
struct Source {
  // The daemon's own verdicts, mapped onto one set: chrony's source states and the selection
  // field of a mode-6 peer status word (RFC 9327 appendix B.2.2).
  enum class State {
    kSelected,     // the daemon's reference (chrony '*', ntpd sys.peer or pps.peer)
    kCombined,     // combined with the reference (chrony '+', ntpd candidate)
    kCandidate,    // selectable but not combined (chrony '-', ntpd backup or excess)
    kFalseticker,  // outside the majority's interval (chrony 'x', ntpd falsetick)
    kUnreachable,  // its reachability register is 0: never or no longer heard
    kJittery,      // too variable (chrony '~')
    kOutlier,      // dropped by the clustering (ntpd outlier)
    kOther,        // anything else the daemon refused (chrony '?', ntpd reject)
  };
  // The address (or the name where the daemon gives one), printable, no control characters.
  std::u16string name;
  State state = State::kOther;
  // The daemon's own word for the state ("selected", "sys.peer", "falsetick"...).
  std::u16string stateText;
  int reach = 0;  // the 8-bit reachability register
  int stratum = 0;
  // The last sample: the source's clock minus ours, the sign of an SNTP offset.
  std::optional<std::int64_t> offsetMicros;
  // How far that sample may be off as the daemon says (chrony: its error estimate; ntpd: the
  // peer's jitter).
  std::optional<std::int64_t> errorMicros;
  std::optional<std::int64_t> lastSampleAgeSeconds;
};

struct Report {
  Kind kind = Kind::kKernel;
  std::u16string daemon;  // "chronyd", "ntpd", "kernel"
  bool synchronised = false;
  int leap = 3;  // 0..3 as in NTP (3: unsynchronised)
  int stratum = 0;
  // The reference: an address, a reference id's characters, or its hex digits.
  std::u16string reference;
  // True time minus the local clock as the daemon estimates it, in microseconds: the sign of an
  // SNTP offset (server minus local). chrony's tracking "current correction" and ntpd's system
  // "offset" both mean this.
  std::optional<std::int64_t> offsetMicros;
  std::int64_t rootDelayMicros = 0;
  std::int64_t rootDispersionMicros = 0;
  std::optional<double> frequencyPpm;
  std::optional<double> skewPpm;
  // Since the reference time (the daemon's last clock update), by our clock.
  std::optional<std::int64_t> lastUpdateAgeSeconds;
  // The kernel's own estimates.
  std::optional<std::int64_t> estimatedErrorMicros;
  std::optional<std::int64_t> maxErrorMicros;
  std::vector<Source> sources;
  // For a person reading along: which protocol and endpoint answered, and why others did not.
  std::vector<std::u16string> notes;
};

struct Options {
  // Empty: the daemon's usual place. "host", "host:port", "[v6]:port", or for chrony an
  // absolute path to its Unix command socket.
  std::u16string endpoint;
  // The whole read.
  std::int64_t milliseconds = 10000;
  // Empty: nobody reads along.
  QueryTrace trace;
};

// What the kernel's time status read gives (adjtimex with no modes set: it changes nothing).
struct KernelClock {
  int state = 0;   // the call's result: TIME_OK, TIME_INS... TIME_ERROR
  int status = 0;  // STA_* bits
  std::int64_t maxErrorMicros = 0;
  std::int64_t estimatedErrorMicros = 0;
  std::int64_t frequency = 0;  // ppm with 16 fractional bits
};

// Where the kernel reader gets its facts, so that tests never touch the real clock's status.
struct KernelSeam {
  // Throws QueryFailure where the system has no such call.
  std::function<KernelClock()> readClock;
  // Whether systemd-timesyncd's flag file (/run/systemd/timesync/synchronized) exists.
  std::function<bool()> timesyncdSynchronised;
};
// The real ones (Linux).
KernelSeam SystemKernel();

// Each throws QueryFailure with a plain English sentence when the daemon cannot be read.
Report ReadChrony(const Options& options);
Report ReadNtp(const Options& options);
Report ReadKernel(const KernelSeam& seam);
// The first of chrony, ntp and the kernel that answers; the notes say which, and why the
// others before it did not.
Report ReadAuto(const Options& options, const KernelSeam& kernel);

const char16_t* KindName(Kind kind);             // "chrony", "ntp", "kernel"
const char16_t* StateName(Source::State state);  // "selected", "combined"...

}  // namespace brevun::daemon
