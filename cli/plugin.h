// brevun-check as a monitoring plugin: what its options compose (the measurement -H asks for,
// the parameter string of the component's check), the state a check maps to and the one
// output line with its performance data.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check.h"
#include "cli/arguments.h"
#include "cli/consensus.h"
#include "cli/offset_check.h"

namespace brevun::cli {

// What -H asks for: the hosts read with their default ports, the thresholds, the budget.
// Throws UsageError for a host that cannot be read (empty, a port out of range).
OffsetRequest OffsetRequestFor(const Options& options);

// What -H asks for when it judges several servers together. Throws UsageError for a host that
// cannot be read.
ConsensusRequest ConsensusRequestFor(const Options& options);

// What --daemon judges by: the thresholds of the daemon's figures added to those of the servers
// asked beside it (or, with none, to -w, -c and the rest alone).
measure::Criteria DaemonCriteriaFor(const Options& options);

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

}  // namespace brevun::cli
