// brevun-check as a monitoring plugin: its options, the parameter string they compose, the
// state a check maps to and the one output line with its performance data.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check.h"
#include "cli/offset_check.h"

namespace brevun::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::optional<std::string> parameter;  // -P: a parameter string as a host stores it
  std::optional<std::string> host;       // -H: the first source's time host
  std::string protocol = "sntp";         // its protocol, sntp or time
  std::optional<std::string> secondHost;
  std::optional<std::string> secondProtocol;  // sntp, time or local
  // -w and -c as typed. -H judges the measured offset by them as threshold ranges; the
  // component's check (-P, --com, --raw, --print-parameter) reads plain seconds into
  // `warning` and `critical` instead, as it always has.
  std::optional<std::string> warningText;
  std::optional<std::string> criticalText;
  std::optional<double> warning;              // seconds
  std::optional<double> critical;             // seconds; the check's own limit
  std::optional<ThresholdRange> warningRange;
  std::optional<ThresholdRange> criticalRange;
  std::optional<std::uint16_t> port;          // -p: the port of a host that names none
  AddressFamily family = AddressFamily::kAny;  // -4, -6
  bool quiet = false;                          // -q: no offset is UNKNOWN, not CRITICAL
  bool verbose = false;                        // -v: the queries step by step, to stderr
  std::optional<std::string> timeOffset;       // -o: the expected offset, seconds
  int timeout = 10;                           // seconds the whole run may take
  bool timeoutGiven = false;
  bool printParameter = false;
  bool version = false;
  bool help = false;
  bool raw = false;        // print the check's result text alone, as a host reads it
  bool com = false;        // Windows: run the check through the registered component
  bool configure = false;  // Windows: open the component's dialog
};

// Reads the arguments (without the program name). Throws UsageError with a message for the
// administrator.
Options ParseArguments(const std::vector<std::string>& args);

// Whether the options ask for the measured offset (-H on its own) rather than the component's
// check.
bool MeasuresOffset(const Options& options);

// What -H asks for: the hosts read with their default ports, the thresholds, the budget.
// Throws UsageError for a host that cannot be read (empty, a port out of range).
OffsetRequest OffsetRequestFor(const Options& options);

// The thresholds that apply when none are given with --host (seconds).
inline constexpr double kDefaultWarning = 60;
inline constexpr double kDefaultCritical = 120;

// -t bounds the whole run; the queries get all of it but this margin, which covers writing the
// line and ending the process.
inline constexpr std::int64_t kRunMarginMillis = 50;
std::int64_t NetworkMilliseconds(int runSeconds);

// The parameter string the check runs with: --parameter as given, or the canonical string that
// the configuration dialog writes for the same choices.
std::u16string ParameterFor(const Options& options);

// How many of the two sources of a parameter string ask a time server.
int NetworkSources(const std::u16string& parameter);

// The timeout of each time-server query so that all of them together fit into the run's
// timeout, with a second left for the rest (never 0, which would mean the default).
std::int16_t PerQueryTimeout(int runSeconds, int networkSources);

// The plugin state of one check: OK, WARNING (past the warning threshold by the same
// two-sided rule as the check's own verdict), CRITICAL (past the limit, or a time server that
// could not be asked), UNKNOWN (a parameter or argument that names no usable source).
State Judge(bool verdict, const CheckOutcome& outcome, std::optional<double> warning);

// "TIME OK - <result text>|offset=<D>s;<W>;<C>", the performance data only for a check that
// computed D. The result text is kept to one line and never carries the "|" that starts the
// performance data.
std::string OutputLine(State state, const std::u16string& resultText, const CheckOutcome& outcome,
                       std::optional<double> warning, std::optional<double> critical);

std::string HelpText();

}  // namespace brevun::cli
