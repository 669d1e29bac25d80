// Internal to the time client: asking each address of a time host in turn.
#pragma once

#include <functional>
#include <string>

#include "timesource/net.h"
#include "timesource/timequery.h"

namespace brevun {

// Why one address gave no time. Failures of the socket layer (net::NetError) count too.
struct AttemptFailure {
  enum class Kind { kTimeout, kRefused, kMalformed, kOther };
  Kind kind;
  std::u16string detail;  // may be empty
};

// Resolves host and runs exchange against each of its addresses in turn until one gives an
// outcome. Each address gets an equal share of what is left of the deadline, the last one all
// of it, so an address that stays silent cannot starve the others. Throws Failure with the
// description of the most telling failure: a malformed answer, then a timeout, then a refusal.
using Exchange = std::function<QueryOutcome(const net::Address&, const net::Deadline&)>;
QueryOutcome AskEachAddress(const TimeHost& host, net::Transport transport, int timeoutSeconds,
                            const Exchange& exchange);

}  // namespace brevun
