// The NTPv4 exchange with NTS extension fields (RFC 8915 section 5) with one server address,
// over the same DatagramLink seam as plain SNTP, so that a script can drive it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nts/extension_fields.h"
#include "timesource/sntp.h"

namespace brevun::nts {

// The cookies of one key establishment. Each goes out once, in one request, whichever of the
// NTP server's addresses that request went to: a cookie sent twice would let an observer link
// the two requests to one client (RFC 8915 section 5.7).
struct CookieJar {
  std::vector<Bytes> cookies;
  std::size_t sent = 0;  // cookies[0, sent) have gone out
  bool Empty() const { return sent == cookies.size(); }
};

struct NtsExchange {
  net::Address server;          // the address asked; a reply counts only from there
  std::u16string hostText;      // how descriptions name the server
  std::int64_t deadlineMillis;  // on the link's monotonic clock
  const Aead& c2s;
  const Aead& s2c;
  CookieJar& cookies;  // one per request, taken as the requests go out
  QueryTrace trace;    // may be empty
};

// Sends a request at once and, while no authentic reply came and cookies last, another with a
// fresh unique identifier, transmit timestamp and cookie 1 s, 2 s, 4 s... later. With no
// cookie left at the start, throws QueryFailure(kTimeout) at once. A reply counts
// only when it comes from the server, echoes the unique identifier and the transmit timestamp of
// a request of ours, and its authenticator verifies under the server-to-client key; anything
// else is ignored and the wait goes on. Returns the server's time, or a notification for an
// authentic kiss-o'-death or unsynchronised reply (outcome.server left to the caller). Throws
// QueryFailure(kAuthentication) at the deadline when replies to our requests came but none was
// authentic (an NTS NAK that answers one of our requests among them, which ends nothing by
// itself); QueryFailure kTimeout when nothing of ours came, kMalformed for an authentic reply
// that carries no time; and whatever the link throws.
QueryOutcome ExchangeNts(DatagramLink& link, const NtsExchange& exchange);

}  // namespace brevun::nts
