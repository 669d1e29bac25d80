// NTS Key Establishment as a client (RFC 8915 section 4): TLS 1.3 over TCP with ALPN ntske/1,
// the server's certificate checked as any TLS client checks it, the request records sent, the
// response read, and the two keys exported from the TLS session. GnuTLS does the TLS; every
// wait stops at one deadline, the handshake's included.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "nts/aead.h"
#include "nts/ke_records.h"
#include "timesource/net.h"
#include "timesource/timequery.h"

namespace brevun::nts {

// A key for AEAD_AES_SIV_CMAC_256, wiped when it goes.
struct Key {
  std::array<std::uint8_t, AesSivCmac256::kKeySize> bytes{};
  Key() = default;
  Key(const Key&) = default;
  Key& operator=(const Key&) = default;
  ~Key();
};

struct Certificate {
  std::u16string subject;  // its distinguished name, "CN=ntp.example"
  std::u16string issuer;
  std::int64_t notAfter = 0;  // Unix seconds
};

// A chain whose one fault is its dates by this machine's clock: it leads to a trusted authority
// and names the server, but the time it is valid for excludes ours. A machine whose clock is far
// off sees every certificate so; the dates are judged again at the server's authenticated time.
struct OutOfDate {
  std::int64_t notBefore = 0;  // Unix seconds: when every certificate of the chain is valid
  std::int64_t notAfter = 0;
  // The failure to tell should the dates exclude the server's time as well: "TLS handshake
  // with ntp.example:4460 failed: the certificate has expired (on ...)".
  std::u16string failure;
};

struct KeSession {
  Bytes request;        // the records sent, inside TLS
  Bytes responseBytes;  // the records received, inside TLS
  KeResponse response;  // complete; Refusal() not yet asked
  Key c2s;              // client to server
  Key s2c;              // server to client
  Certificate certificate;
  std::optional<OutOfDate> outOfDate;  // set when the chain is out of date by our clock alone
};

struct KeOptions {
  std::u16string serverText;          // how descriptions name the server: "ntp.example:4460"
  std::u16string serverName;          // what the certificate must name (and SNI, unless an address)
  std::optional<std::string> caFile;  // PEM; std::nullopt: the system's trust store
  QueryTrace trace;
};

// Runs the key establishment with server. Throws QueryFailure(kAuthentication) for a TLS or
// certificate failure ("TLS handshake with ntp.example:4460 failed: the certificate does not
// name ntp.example"), but for a chain whose one fault is its dates (KeSession::outOfDate);
// QueryFailure(kMalformed) for a response that does not parse, QueryFailure(kTimeout) when the
// deadline passes first, and whatever the socket layer throws (a refused connection, for one).
KeSession EstablishKeys(const net::Address& server, const KeOptions& options,
                        const net::Deadline& deadline);

}  // namespace brevun::nts
