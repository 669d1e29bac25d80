// brevun-check's command line: the options as an administrator types them, read and checked
// once, and the help that describes them.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/parameter.h"
#include "cli/state.h"
#include "cli/threshold.h"
#include "daemon/daemon.h"
#include "measure/judgement.h"
#include "measure/measurement.h"
#include "output/writer.h"
#include "timesource/net.h"

namespace brevun::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using measure::kNtsKePort;

struct Options {
  std::optional<std::string> parameter;  // -P: a parameter string as a host stores it
  // -H, once or more: the time servers (the first source's time host for the component).
  std::vector<std::string> hosts;
  Source protocol = Source::kSntp;  // its protocol: kSntp or kTime
  std::optional<std::string> secondHost;
  std::optional<Source> secondProtocol;  // kSntp, kTime or kLocal
  // -w and -c as typed. -H judges the measured offset by them as threshold ranges; the
  // component's check (-P, --com, --raw, --print-parameter) reads plain seconds into
  // `warning` and `critical` instead, as it always has.
  std::optional<std::string> warningText;
  std::optional<std::string> criticalText;
  std::optional<double> warning;   // seconds
  std::optional<double> critical;  // seconds; the check's own limit
  std::optional<ThresholdRange> warningRange;
  std::optional<ThresholdRange> criticalRange;
  std::optional<std::uint16_t> port;           // -p: the port of a host that names none
  AddressFamily family = AddressFamily::kAny;  // -4, -6
  bool quiet = false;                          // -q: no offset is UNKNOWN, not CRITICAL
  bool verbose = false;                        // -v: the queries step by step, to stderr
  std::optional<std::string> timeOffsetText;   // -o as typed
  std::int64_t timeOffsetMicros = 0;           // -o: the expected offset
  int timeout = 10;                            // seconds the whole run may take
  bool timeoutGiven = false;
  bool printParameter = false;
  bool version = false;
  bool help = false;
  bool raw = false;        // print the check's result text alone, as a host reads it
  bool com = false;        // Windows: run the check through the registered component
  bool configure = false;  // Windows: open the component's dialog

  // Several servers, one verdict: -H more than once, or --all-addresses.
  bool allAddresses = false;  // every address of a name is a server of its own
  int maxServers = 4;         // with --all-addresses: how many servers in all
  std::optional<ThresholdRange> truechimersWarning;  // on how many servers agree
  std::optional<ThresholdRange> truechimersCritical;
  State falseticker = State::kWarning;  // the state when any server disagrees
  std::int64_t maxDistanceMicros = 1'500'000;
  std::optional<std::int64_t> maxDelayMicros;
  // A server announcing a leap second on a day that has none is misconfigured: WARNING.
  bool leapWarning = false;

  // --daemon: this machine's own time daemon, read through its own protocol (empty kind: the
  // first that answers), at its usual place or at daemonAddress; with -H, cross-checked.
  bool daemon = false;
  std::optional<daemon::Kind> daemonKind;
  std::optional<std::string> daemonAddress;
  // Its figures' thresholds; with --daemon, some have a default (kDaemon... below).
  measure::DaemonThresholds daemonThresholds;

  // How -H's result is written (--output), and where (--output-file; else standard output).
  output::Format output = output::Format::kPlugin;
  std::optional<std::string> outputFile;

  // --nts: Network Time Security (RFC 8915). Each -H names a key establishment server, on
  // ntsPort unless its text has a port; the NTP server is the one that server names.
  bool nts = false;
  std::uint16_t ntsPort = kNtsKePort;
  std::optional<std::string> ntsCa;          // PEM file of the CAs to trust instead of the system's
  std::optional<std::string> ntsServerName;  // what the certificates must name instead of -H's
  std::optional<int> ntsCertWarningDays;     // WARNING when a certificate expires within these
};

// The largest expected offset -o takes: a clock further off than some thirty years is no
// clock to judge, and the sum with a measured offset stays far inside what microseconds hold.
inline constexpr double kMaxTimeOffsetSeconds = 1e9;
// --max-distance stays below MAXDISP (RFC 5905 section 7.2).
inline constexpr double kMaxDistanceSeconds = 16;
// How many --host one run judges together; each address of a name adds a server of its own
// (at most --max-servers of each name), and the run asks at most kMaxServers in all.
inline constexpr std::size_t kMaxHosts = 64;
inline constexpr std::size_t kMaxServers = 64;

// Reads the arguments (without the program name). Throws UsageError with a message for the
// administrator.
Options ParseArguments(const std::vector<std::string>& args);

// Whether the options ask for the measured offset (-H on its own) rather than the component's
// check.
bool MeasuresOffset(const Options& options);

// Whether the options ask for the local time daemon's state (with -H: cross-checked).
bool ReadsDaemon(const Options& options);

// Whether the measurement asks several servers for one verdict.
bool JudgesConsensus(const Options& options);

// The thresholds that apply when none are given with --host (seconds).
inline constexpr double kDefaultWarning = 60;
inline constexpr double kDefaultCritical = 120;
// With --daemon: a synchronised daemon keeps the clock within milliseconds, so its offset is
// held to tighter defaults, and each of its figures has one. An estimated error of a quarter
// of a second is far beyond what a daemon on a working network reaches; above stratum 10 a
// daemon has lost its sources and runs on a local clock; no source heard, or none it may
// select, leaves it free-running; daemons poll at most every 1024 s by default, so four polls
// without an update warn and eight hours of none are critical.
inline constexpr const char* kDaemonWarning = "0.1";
inline constexpr const char* kDaemonCritical = "1";
inline constexpr const char* kDaemonErrorWarning = "0.25";
inline constexpr const char* kDaemonErrorCritical = "1";
inline constexpr const char* kDaemonStratumWarning = "10";
inline constexpr const char* kDaemonReachableCritical = "1:";
inline constexpr const char* kDaemonSelectableCritical = "1:";
inline constexpr const char* kDaemonUpdateWarning = "4096";
inline constexpr const char* kDaemonUpdateCritical = "28800";

std::string HelpText();

}  // namespace brevun::cli
