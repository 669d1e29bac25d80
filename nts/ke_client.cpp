#include "nts/ke_client.h"

#include <arpa/inet.h>
#include <string.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <limits>
#include <memory>
#include <type_traits>

#include "check/datetime.h"
#include "check/text.h"
#include "nts/tls_library.h"
#include "timesource/attempt.h"
#include "timesource/trace.h"

namespace brevun::nts {

Key::~Key() { explicit_bzero(bytes.data(), bytes.size()); }

namespace {

// A server that never ends its response must not hold the client until the deadline with
// ever more memory; a real response is a few hundred bytes, and other clients give up at the
// same bound.
constexpr std::size_t kMaxResponse = 16384;

// A GnuTLS object, released through the table's function for it.
template <typename Handle, auto Release>
struct Releaser {
  void operator()(Handle h) const { (Tls().*Release)(h); }
};
template <typename Handle, auto Release>
using Owned = std::unique_ptr<std::remove_pointer_t<Handle>, Releaser<Handle, Release>>;

using Session = Owned<gnutls_session_t, &TlsLibrary::gnutls_deinit>;
using Credentials =
    Owned<gnutls_certificate_credentials_t, &TlsLibrary::gnutls_certificate_free_credentials>;
using X509 = Owned<gnutls_x509_crt_t, &TlsLibrary::gnutls_x509_crt_deinit>;

// Memory that GnuTLS allocated for us.
struct GnutlsFree {
  void operator()(void* memory) const { Tls().Free(memory); }
};

// A text that GnuTLS allocated for us.
struct GnutlsText {
  gnutls_datum_t datum{};
  GnutlsText() = default;
  GnutlsText(const GnutlsText&) = delete;
  GnutlsText& operator=(const GnutlsText&) = delete;
  ~GnutlsText() { Tls().Free(datum.data); }
  // The text as a line may carry it: a certificate is the server's to write, and a control
  // character in it must not break the line.
  std::u16string Printable() const {
    std::u16string text =
        FromUtf8(std::string(reinterpret_cast<const char*>(datum.data), datum.size));
    for (char16_t& c : text) {
      if (c < 0x20 || c == 0x7f) c = u'?';
    }
    return text;
  }
};

// GnuTLS's own words for an error, without their full stop: they end up inside a sentence.
std::u16string ErrorText(int code) {
  std::u16string text = FromUtf8(Tls().gnutls_strerror(code));
  if (!text.empty() && text.back() == u'.') text.pop_back();
  return text;
}

// A certificate's dates are whole seconds.
std::u16string UtcText(std::int64_t unixSeconds) {
  // The calendar arithmetic of the local scale is the same on the UTC scale.
  return IsoDateTimeText().Render(unixSeconds) + u" UTC";
}

// The TCP stream under TLS. GnuTLS reads and writes through these callbacks, and every wait
// in them ends at the deadline. What the socket layer throws cannot cross GnuTLS's C frames:
// it is kept and thrown again once GnuTLS has returned.
//
// Writes are held until a read would have to wait, or Flush: the handshake's messages and the
// request then leave in one segment. Sent apart, a small segment waits for the acknowledgement
// of the one before (Nagle), which the server delays, and the key establishment took 40 ms
// longer on loopback.
class Transport {
 public:
  Transport(gnutls_session_t session, net::Socket& socket, const net::Deadline& deadline)
      : session_(session), socket_(socket), deadline_(deadline) {
    // GnuTLS holds on to this object for the session's life.
    Tls().gnutls_transport_set_ptr(session, this);
    Tls().gnutls_transport_set_push_function(session, &Push);
    Tls().gnutls_transport_set_pull_function(session, &Pull);
    Tls().gnutls_transport_set_pull_timeout_function(session, &PullTimeout);
  }

  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Sends what GnuTLS wrote so far; false when the socket failed (ThrowCause says how).
  bool Flush() {
    if (held_.empty()) return true;
    try {
      socket_.Send(held_.data(), held_.size(), deadline_);
      held_.clear();
      return true;
    } catch (...) {
      Fail(std::current_exception());
      return false;
    }
  }

  // After a GnuTLS call failed: the socket layer's failure, or the deadline as the cause.
  void ThrowCause(const char16_t* unfinished) const {
    if (failure_) std::rethrow_exception(failure_);
    if (timedOut_) throw QueryFailure(QueryFailure::Kind::kTimeout, unfinished);
  }

 private:
  static Transport& Of(gnutls_transport_ptr_t p) { return *static_cast<Transport*>(p); }

  ssize_t Fail(std::exception_ptr failure) {
    failure_ = std::move(failure);
    Tls().gnutls_transport_set_errno(session_, EIO);
    return -1;
  }

  ssize_t TimeUp() {
    timedOut_ = true;
    Tls().gnutls_transport_set_errno(session_, ETIMEDOUT);
    return -1;
  }

  static ssize_t Push(gnutls_transport_ptr_t p, const void* data, size_t size) {
    Transport& t = Of(p);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    t.held_.insert(t.held_.end(), bytes, bytes + size);
    return static_cast<ssize_t>(size);
  }

  // Reads what has arrived; only when nothing has does it send what is held and wait, until
  // `until` at the latest.
  std::optional<std::size_t> Read(void* buffer, std::size_t size, const net::Deadline& until) {
    // A deadline that has passed still takes what is there without waiting.
    const auto ready = socket_.Receive(buffer, size, net::Deadline(0), nullptr);
    if (ready) return ready;
    if (!Flush()) std::rethrow_exception(failure_);
    return socket_.Receive(buffer, size, until, nullptr);
  }

  static ssize_t Pull(gnutls_transport_ptr_t p, void* data, size_t size) {
    Transport& t = Of(p);
    // Every read, not only one that would wait: a server that keeps sending must not keep us
    // past the deadline.
    if (t.deadline_.Expired()) return t.TimeUp();
    if (!t.ahead_.empty()) {
      const std::size_t n = std::min(size, t.ahead_.size());
      std::copy(t.ahead_.begin(), t.ahead_.begin() + static_cast<std::ptrdiff_t>(n),
                static_cast<std::uint8_t*>(data));
      t.ahead_.erase(t.ahead_.begin(), t.ahead_.begin() + static_cast<std::ptrdiff_t>(n));
      return static_cast<ssize_t>(n);
    }
    if (t.closed_) return 0;
    try {
      const auto got = t.Read(data, size, t.deadline_);
      if (!got) return t.TimeUp();
      return static_cast<ssize_t>(*got);
    } catch (...) {
      return t.Fail(std::current_exception());
    }
  }

  // Whether data can be read within ms: read ahead into a buffer that Pull hands out first.
  static int PullTimeout(gnutls_transport_ptr_t p, unsigned int ms) {
    Transport& t = Of(p);
    if (t.deadline_.Expired()) {
      t.timedOut_ = true;
      return 0;
    }
    if (!t.ahead_.empty() || t.closed_) return 1;
    const std::int64_t until =
        ms == GNUTLS_INDEFINITE_TIMEOUT
            ? t.deadline_.at()
            : std::min(t.deadline_.at(), net::MonotonicMilliseconds() + std::int64_t{ms});
    try {
      std::uint8_t buffer[4096];
      const auto got = t.Read(buffer, sizeof buffer, net::Deadline(until));
      if (!got) {
        if (t.deadline_.Expired()) t.timedOut_ = true;
        return 0;
      }
      if (*got == 0) t.closed_ = true;
      t.ahead_.assign(buffer, buffer + *got);
      return 1;
    } catch (...) {
      t.Fail(std::current_exception());
      return -1;
    }
  }

  gnutls_session_t session_;
  net::Socket& socket_;
  net::Deadline deadline_;
  Bytes held_;
  Bytes ahead_;
  bool closed_ = false;
  bool timedOut_ = false;
  std::exception_ptr failure_;
};

Credentials Trust(const KeOptions& o) {
  gnutls_certificate_credentials_t raw = nullptr;
  if (Tls().gnutls_certificate_allocate_credentials(&raw) < 0) {
    throw QueryFailure(QueryFailure::Kind::kNetwork, u"Cannot start TLS: out of memory");
  }
  Credentials credentials(raw);
  if (o.caFile) {
    const int n =
        Tls().gnutls_certificate_set_x509_trust_file(raw, o.caFile->c_str(), GNUTLS_X509_FMT_PEM);
    if (n <= 0) {
      throw QueryFailure(QueryFailure::Kind::kAuthentication,
                         u"Cannot use the CA file " + FromUtf8(*o.caFile) + u": " +
                             (n == 0 ? u"it holds no certificate" : ErrorText(n)));
    }
    trace::Say(o.trace, [&] {
      return u"Trusting " + trace::Number(n) + u" certificate" + (n == 1 ? u"" : u"s") + u" of " +
             FromUtf8(*o.caFile);
    });
  } else {
    const int n = Tls().gnutls_certificate_set_x509_system_trust(raw);
    if (n < 0) {
      throw QueryFailure(QueryFailure::Kind::kAuthentication,
                         u"Cannot load the system's trusted certificates: " + ErrorText(n));
    }
    trace::Say(o.trace, [&] {
      return u"Trusting the system's " + trace::Number(n) + u" certificate authorities";
    });
  }
  return credentials;
}

// GnuTLS writes each session's secrets to the file SSLKEYLOGFILE names, for debugging, and both
// NTS keys follow from the exporter secret among them: whoever reads that file could forge the
// server's replies. Our sessions write nothing, whatever the environment says.
int KeepSecrets(gnutls_session_t, const char*, const gnutls_datum_t*) { return 0; }

// An address is checked against the certificate's IP addresses and never sent as SNI
// (RFC 6066 section 3 allows host names only).
bool IsAddress(const std::string& name) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, name.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

std::optional<Certificate> PeerCertificate(gnutls_session_t session) {
  unsigned int count = 0;
  const gnutls_datum_t* chain = Tls().gnutls_certificate_get_peers(session, &count);
  gnutls_x509_crt_t raw = nullptr;
  if (chain == nullptr || count == 0 || Tls().gnutls_x509_crt_init(&raw) < 0) return std::nullopt;
  const X509 certificate(raw);
  if (Tls().gnutls_x509_crt_import(raw, &chain[0], GNUTLS_X509_FMT_DER) < 0) return std::nullopt;
  Certificate c;
  c.notAfter = Tls().gnutls_x509_crt_get_expiration_time(raw);
  GnutlsText subject;
  if (Tls().gnutls_x509_crt_get_dn3(raw, &subject.datum, 0) >= 0) c.subject = subject.Printable();
  GnutlsText issuer;
  if (Tls().gnutls_x509_crt_get_issuer_dn3(raw, &issuer.datum, 0) >= 0)
    c.issuer = issuer.Printable();
  return c;
}

// Why the certificate was refused, in the words an administrator looks for.
std::u16string CertificateProblems(unsigned int status, const KeOptions& o,
                                   const std::optional<Certificate>& c) {
  std::u16string why;
  const auto add = [&](const std::u16string& s) { why += (why.empty() ? u"" : u"; ") + s; };
  if (status & GNUTLS_CERT_EXPIRED) {
    add(u"the certificate has expired" + (c ? u" (on " + UtcText(c->notAfter) + u")" : u""));
  }
  if (status & GNUTLS_CERT_NOT_ACTIVATED) add(u"the certificate is not valid yet");
  if (status & GNUTLS_CERT_UNEXPECTED_OWNER) {
    add(u"the certificate does not name " + o.serverName +
        (c ? u" (its subject is " + c->subject + u")" : u""));
  }
  if (status & GNUTLS_CERT_SIGNER_NOT_FOUND) {
    add(u"the certificate is not trusted: its issuer " + (c ? c->issuer + u" " : u"") +
        u"is not a trusted authority");
  }
  if (status & GNUTLS_CERT_SIGNER_NOT_CA)
    add(u"the certificate is not trusted: its signer is not a CA");
  if (status & GNUTLS_CERT_REVOKED) add(u"the certificate has been revoked");
  if (status & GNUTLS_CERT_INSECURE_ALGORITHM) add(u"the certificate uses an insecure algorithm");
  if (status & GNUTLS_CERT_SIGNATURE_FAILURE) add(u"the certificate's signature does not verify");
  if (status & GNUTLS_CERT_PURPOSE_MISMATCH) add(u"the certificate is not meant for a TLS server");
  if (why.empty()) {
    GnutlsText text;
    Tls().gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text.datum, 0);
    why = text.Printable();
  }
  return why;
}

QueryFailure TlsFailure(const KeOptions& o, const std::u16string& why) {
  return QueryFailure(QueryFailure::Kind::kAuthentication,
                      u"TLS handshake with " + o.serverText + u" failed: " + why);
}

// The chain's verification status (gnutls_certificate_status_t bits) against the trusted
// authorities and the server's name, with the dates checked by our clock or not at all.
unsigned int Verify(gnutls_session_t session, gnutls_certificate_credentials_t credentials,
                    const std::string& name, bool dates, const KeOptions& o) {
  Tls().gnutls_certificate_set_verify_flags(
      credentials,
      dates ? 0 : GNUTLS_VERIFY_DISABLE_TIME_CHECKS | GNUTLS_VERIFY_DISABLE_TRUSTED_TIME_CHECKS);
  unsigned int status = 0;
  const int rc = Tls().gnutls_certificate_verify_peers3(session, name.c_str(), &status);
  if (rc < 0) throw TlsFailure(o, u"the certificate cannot be verified: " + ErrorText(rc));
  return status;
}

// When every certificate of the chain is valid, the trusted authority it leads to included:
// the latest activation and the earliest expiry; std::nullopt when the chain cannot be read.
std::optional<std::pair<std::int64_t, std::int64_t>> ChainDates(
    gnutls_session_t session, gnutls_certificate_credentials_t credentials) {
  std::int64_t from = std::numeric_limits<std::int64_t>::min();
  std::int64_t until = std::numeric_limits<std::int64_t>::max();
  const auto take = [&](gnutls_x509_crt_t c) {
    from = std::max<std::int64_t>(from, Tls().gnutls_x509_crt_get_activation_time(c));
    until = std::min<std::int64_t>(until, Tls().gnutls_x509_crt_get_expiration_time(c));
  };
  unsigned int count = 0;
  const gnutls_datum_t* chain = Tls().gnutls_certificate_get_peers(session, &count);
  std::optional<X509> last;
  for (unsigned int i = 0; chain != nullptr && i < count; ++i) {
    gnutls_x509_crt_t raw = nullptr;
    if (Tls().gnutls_x509_crt_init(&raw) < 0) return std::nullopt;
    X509 certificate(raw);
    if (Tls().gnutls_x509_crt_import(raw, &chain[i], GNUTLS_X509_FMT_DER) < 0) return std::nullopt;
    take(raw);
    last = std::move(certificate);
  }
  if (!last) return std::nullopt;
  gnutls_x509_trust_list_t trusted = nullptr;
  Tls().gnutls_certificate_get_trust_list(credentials, &trusted);
  gnutls_x509_crt_t anchor = nullptr;  // the list's own: not ours to free
  if (trusted != nullptr &&
      Tls().gnutls_x509_trust_list_get_issuer(trusted, last->get(), &anchor, 0) >= 0 &&
      anchor != nullptr) {
    take(anchor);
  }
  return std::pair{from, until};
}

void Handshake(gnutls_session_t session, const Transport& transport, const KeOptions& o) {
  int rc;
  do {
    rc = Tls().gnutls_handshake(session);
  } while (rc < 0 && Tls().gnutls_error_is_fatal(rc) == 0);
  if (rc < 0) {
    transport.ThrowCause(u"the TLS handshake did not finish");
    throw TlsFailure(o, ErrorText(rc));
  }
  // RFC 8915 section 3: TLS 1.3 or later, and the server must have agreed on ntske/1.
  gnutls_datum_t protocol{};
  if (Tls().gnutls_alpn_get_selected_protocol(session, &protocol) < 0 ||
      std::string(reinterpret_cast<const char*>(protocol.data), protocol.size) != kAlpn) {
    throw TlsFailure(o, u"the server did not agree on the protocol ntske/1 (ALPN)");
  }
  if (Tls().gnutls_protocol_get_version(session) != GNUTLS_TLS1_3) {
    throw TlsFailure(o, u"the server did not agree on TLS 1.3");
  }
}

void SendAll(gnutls_session_t session, Transport& transport, const Bytes& data,
             const KeOptions& o) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t rc = Tls().gnutls_record_send(session, data.data() + sent, data.size() - sent);
    if (rc == GNUTLS_E_AGAIN || rc == GNUTLS_E_INTERRUPTED) continue;
    if (rc < 0) {
      transport.ThrowCause(u"the key establishment request was not sent");
      throw QueryFailure(
          QueryFailure::Kind::kNetwork,
          u"TLS session with " + o.serverText + u" failed: " + ErrorText(static_cast<int>(rc)));
    }
    sent += static_cast<std::size_t>(rc);
  }
  if (!transport.Flush()) transport.ThrowCause(u"the key establishment request was not sent");
}

KeResponse Receive(gnutls_session_t session, const Transport& transport, Bytes& bytes,
                   const KeOptions& o) {
  const std::u16string ke = u"The key establishment with " + o.serverText;
  ResponseReader reader;
  for (;;) {
    std::uint8_t buffer[4096];
    ssize_t rc = Tls().gnutls_record_recv(session, buffer, sizeof buffer);
    if (rc == GNUTLS_E_AGAIN || rc == GNUTLS_E_INTERRUPTED) continue;
    // A server that closes without TLS's close_notify has still said all it will say.
    if (rc == GNUTLS_E_PREMATURE_TERMINATION) rc = 0;
    if (rc < 0) {
      transport.ThrowCause(u"no complete key establishment response");
      throw QueryFailure(
          QueryFailure::Kind::kNetwork,
          u"TLS session with " + o.serverText + u" failed: " + ErrorText(static_cast<int>(rc)));
    }
    if (rc == 0) {
      // An error record says why, whether or not the server ended the message before it left.
      const KeResponse& partial = reader.parse().response;
      if (partial.error || partial.warning) {
        throw QueryFailure(QueryFailure::Kind::kAuthentication, Refusal(partial, o.serverText));
      }
      throw QueryFailure(QueryFailure::Kind::kMalformed,
                         ke + u" ended before its end of message record");
    }
    if (reader.bytes().size() + static_cast<std::size_t>(rc) > kMaxResponse) {
      throw QueryFailure(QueryFailure::Kind::kMalformed,
                         ke + u" sent more than " + trace::Number(kMaxResponse) + u" bytes");
    }
    const KeParse& parse = reader.Add(buffer, static_cast<std::size_t>(rc));
    if (parse.state == KeParse::State::kComplete) {
      bytes = reader.bytes();
      return parse.response;
    }
    if (parse.state == KeParse::State::kMalformed) {
      throw QueryFailure(QueryFailure::Kind::kMalformed,
                         ke + u" sent a malformed response: " + parse.problem);
    }
  }
}

// RFC 8915 section 5.1: the exporter's context is the protocol (NTPv4), the AEAD algorithm and
// the direction, 0 for client to server and 1 for server to client.
Key Export(gnutls_session_t session, std::uint8_t direction, const KeOptions& o) {
  const char context[5] = {0, kProtocolNtpV4, 0, kAeadAesSivCmac256, static_cast<char>(direction)};
  Key key;
  const int rc = Tls().gnutls_prf_rfc5705(session, sizeof kExporterLabel - 1, kExporterLabel,
                                          sizeof context, context, key.bytes.size(),
                                          reinterpret_cast<char*>(key.bytes.data()));
  if (rc < 0) {
    throw QueryFailure(
        QueryFailure::Kind::kAuthentication,
        u"Cannot export keys from the TLS session with " + o.serverText + u": " + ErrorText(rc));
  }
  return key;
}

std::u16string RecordsText(const std::vector<Record>& records) {
  std::u16string text;
  for (std::size_t i = 0; i < records.size();) {
    // Eight cookies of one size read best as one item.
    std::size_t same = 1;
    while (i + same < records.size() &&
           records[i + same].type == static_cast<std::uint16_t>(RecordType::kNewCookie) &&
           records[i].type == records[i + same].type &&
           records[i].body.size() == records[i + same].body.size() &&
           records[i].critical == records[i + same].critical) {
      ++same;
    }
    text += (text.empty() ? u"" : u"; ") + Describe(records[i]);
    if (same > 1) text += u" x" + trace::Number(static_cast<long long>(same));
    i += same;
  }
  return text;
}

}  // namespace

KeSession EstablishKeys(const net::Address& server, const KeOptions& options,
                        const net::Deadline& deadline) {
  // "ntp.example." names the same host as "ntp.example", but neither SNI (RFC 6066 section 3)
  // nor a certificate carries the final dot.
  KeOptions o = options;
  if (o.serverName.size() > 1 && o.serverName.back() == u'.') o.serverName.pop_back();
  // A CA file that cannot be used is the first thing to tell, whether the server answers or not.
  const Credentials credentials = Trust(o);
  net::Socket socket(server, net::Transport::kStream);
  socket.Connect(server, deadline);

  gnutls_session_t raw = nullptr;
  if (Tls().gnutls_init(&raw, GNUTLS_CLIENT) < 0) {
    throw QueryFailure(QueryFailure::Kind::kNetwork, u"Cannot start TLS: out of memory");
  }
  const Session session(raw);
  Tls().gnutls_session_set_keylog_function(raw, &KeepSecrets);
  const std::string name = ToUtf8(o.serverName);
  int rc = Tls().gnutls_set_default_priority_append(raw, "-VERS-ALL:+VERS-TLS1.3", nullptr, 0);
  if (rc >= 0) rc = Tls().gnutls_credentials_set(raw, GNUTLS_CRD_CERTIFICATE, credentials.get());
  if (rc >= 0 && !IsAddress(name)) {
    rc = Tls().gnutls_server_name_set(raw, GNUTLS_NAME_DNS, name.data(), name.size());
  }
  gnutls_datum_t alpn{reinterpret_cast<unsigned char*>(const_cast<char*>(kAlpn)), sizeof kAlpn - 1};
  if (rc >= 0) rc = Tls().gnutls_alpn_set_protocols(raw, &alpn, 1, 0);
  if (rc < 0) throw TlsFailure(o, ErrorText(rc));
  // The deadline bounds the handshake through the transport, not a timer of GnuTLS's own.
  Tls().gnutls_handshake_set_timeout(raw, 0);
  Transport transport(raw, socket, deadline);

  Handshake(raw, transport, o);
  KeSession ke;
  const std::optional<Certificate> peer = PeerCertificate(raw);
  if (peer) ke.certificate = *peer;
  // The chain, that it leads to a trusted authority and that it names the server, before a
  // byte of ours goes out. Its dates are checked apart: by a clock far off every certificate
  // looks out of date, and that clock is what the check is about.
  const unsigned int byOurClock = Verify(raw, credentials.get(), name, true, o);
  if (byOurClock != 0) {
    const unsigned int datesAside = Verify(raw, credentials.get(), name, false, o);
    constexpr unsigned int kDates =
        GNUTLS_CERT_INVALID | GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED;
    const auto dates = ChainDates(raw, credentials.get());
    if (datesAside != 0 || (byOurClock & ~kDates) != 0 || (byOurClock & kDates) == 0 || !dates) {
      throw TlsFailure(o, CertificateProblems(byOurClock | datesAside, o, peer));
    }
    ke.outOfDate = OutOfDate{dates->first, dates->second,
                             TlsFailure(o, CertificateProblems(byOurClock, o, peer)).description()};
  }
  trace::Say(o.trace, [&] {
    const std::unique_ptr<char, GnutlsFree> description(Tls().gnutls_session_get_desc(raw));
    const std::u16string text = description ? FromUtf8(description.get()) : u"";
    const std::u16string subject = u": subject " + ke.certificate.subject + u", issuer " +
                                   ke.certificate.issuer + u", expires " +
                                   UtcText(ke.certificate.notAfter);
    if (ke.outOfDate) {
      return u"TLS with " + server.Text() + u": " + text + u", ALPN ntske/1, certificate of " +
             o.serverName + u" trusted but out of date by this machine's clock (" +
             CertificateProblems(byOurClock, o, peer) + u")" + subject +
             u"; the chain is valid from " + UtcText(ke.outOfDate->notBefore) + u" to " +
             UtcText(ke.outOfDate->notAfter) +
             u", which the server's authenticated time must fall in";
    }
    return u"TLS with " + server.Text() + u": " + text + u", ALPN ntske/1, certificate of " +
           o.serverName + u" verified" + subject;
  });

  ke.request = EncodeRequest();
  SendAll(raw, transport, ke.request, o);
  trace::Say(o.trace, [&] {
    return u"Key establishment request: " +
           RecordsText(ParseResponse(ke.request.data(), ke.request.size()).response.records);
  });
  ke.response = Receive(raw, transport, ke.responseBytes, o);
  trace::Say(o.trace,
             [&] { return u"Key establishment response: " + RecordsText(ke.response.records); });
  ke.c2s = Export(raw, 0, o);
  ke.s2c = Export(raw, 1, o);
  trace::Say(o.trace, [&] {
    return u"Keys exported from the TLS session: label " + FromUtf8(kExporterLabel) +
           u", AEAD algorithm 15, " + trace::Number(static_cast<long long>(ke.c2s.bytes.size())) +
           u" bytes each way";
  });
  // The server closes the connection after its response; our close_notify is a courtesy.
  Tls().gnutls_bye(raw, GNUTLS_SHUT_WR);
  transport.Flush();
  return ke;
}

}  // namespace brevun::nts
