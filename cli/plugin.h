// brevun-check as a monitoring plugin: its options, the parameter string they compose, the
// state a check maps to and the one output line with its performance data.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check.h"

namespace brevun::cli {

enum class State { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };
const char* StateName(State state);

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
  std::optional<double> warning;              // seconds
  std::optional<double> critical;             // seconds; the check's own limit
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

// The thresholds that apply when none are given with --host (seconds).
inline constexpr double kDefaultWarning = 60;
inline constexpr double kDefaultCritical = 120;

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
