// One authenticated time query (RFC 8915): the key establishment with its server, then one
// NTPv4 exchange with NTS extension fields with the server it names, all within one budget.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "timesource/timehost.h"
#include "timesource/timequery.h"

namespace brevun::nts {

struct Request {
  TimeHost keServer;                  // the key establishment server (port 4460 unless told)
  std::u16string serverName;          // what its certificate must name; empty: keServer.host
  std::optional<std::string> caFile;  // PEM; std::nullopt: the system's trust store
  AddressFamily family = AddressFamily::kAny;
  std::int64_t milliseconds = 10000;  // the whole query's, name lookups included
  QueryTrace trace;                   // may be empty
};

struct Result {
  QueryOutcome time;          // offset, delay, stratum, leap, reference id, address asked
  std::int64_t keMicros = 0;  // the key establishment's time, name lookup included
  std::int64_t certificateNotAfter = 0;  // Unix seconds
  std::u16string certificateSubject;
  std::u16string ntpServer;  // the NTP server as the key establishment named it: "host:port"
  int aead = 0;              // the algorithm agreed on
  int cookies = 0;           // how many the key establishment gave
  // The certificate's dates exclude this machine's time but include the server's: this clock
  // is far off, or the server's key is an old one's, and either way the offset is far out.
  bool certificateOutOfDateHere = false;
};

// The NTP server and port are those the key establishment names (RFC 8915 sections 4.1.7 and
// 4.1.8), by default the key establishment server's own address and port 123. Each address of
// the key establishment server is tried in turn until one gives keys and cookies; the cookies
// then serve the NTP server's addresses in turn, each cookie sent once. Throws QueryFailure
// with one plain sentence: kAuthentication for anything NTS refuses (TLS and the certificate,
// an error record, no cookie, an NTP server named that cannot be resolved, an NTS NAK, replies
// that are not authentic), kTimeout, kRefused, kUnknownHost (the key establishment server's own
// name), kMalformed and kNetwork as QuerySntp does; and LibraryMissing (tls_library.h) when
// this system cannot load GnuTLS and Nettle.
//
// A certificate whose one fault is its dates by this machine's clock lets the exchange go on:
// when the server's authenticated time falls within the chain's dates, the time is returned
// with certificateOutOfDateHere; otherwise, or without such a time, the certificate's failure
// is thrown (kAuthentication), as it reads by our clock.
Result Query(const Request& request);

}  // namespace brevun::nts
