// Internal to the time client: asking each address of a time host in turn.
#pragma once

#include <functional>
#include <string_view>

#include "timesource/net.h"
#include "timesource/timequery.h"

namespace brevun {

// Resolves host (only addresses of options.family) and runs exchange against each of its
// addresses in turn until one gives an outcome, whose server it then names. Each address gets
// an equal share of what is left of options.milliseconds, the last one all of it, so an address
// that stays silent cannot starve the others; an exchange retransmits only inside its share.
// An address the resolver names twice is asked once. An exchange that fails throws
// QueryFailure with a short detail; when every address has failed, the query throws the most
// telling of those failures again, of the same kind, with the whole description.
// protocolName says in the trace what each attempt speaks ("SNTP", "the Time Protocol").
using Exchange = std::function<QueryOutcome(const net::Address&, const net::Deadline&)>;
QueryOutcome AskEachAddress(const TimeHost& host, net::Transport transport,
                            std::u16string_view protocolName, const QueryOptions& options,
                            const Exchange& exchange);

}  // namespace brevun
