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

// Resolves host (only addresses of options.family) and runs exchange against each of its
// addresses in turn until one gives an outcome, whose server it then names. Each address gets
// an equal share of what is left of options.milliseconds, the last one all of it, so an address
// that stays silent cannot starve the others; an exchange retransmits only inside its share.
// An address the resolver names twice is asked once. Throws QueryFailure with the kind of the
// most telling failure and its description: a malformed answer, then a timeout, then a refusal.
using Exchange = std::function<QueryOutcome(const net::Address&, const net::Deadline&)>;
QueryOutcome AskEachAddress(const TimeHost& host, net::Transport transport,
                            const QueryOptions& options, const Exchange& exchange);

}  // namespace brevun
