#include "nts/nts_query.h"

#include <algorithm>
#include <chrono>

#include "check/datetime.h"
#include "check/text.h"
#include "nts/aead.h"
#include "nts/ke_client.h"
#include "nts/nts_exchange.h"
#include "nts/tls_library.h"
#include "timesource/attempt.h"
#include "timesource/sntp.h"
#include "timesource/trace.h"

namespace brevun::nts {

namespace {

// As the time client names a budget: seconds, rounded, which is what -t gave.
std::u16string BudgetText(std::int64_t milliseconds) {
  if (milliseconds < 1000) return trace::Number(milliseconds) + u" ms";
  return trace::Number((milliseconds + 500) / 1000) + u" s";
}

}  // namespace

Result Query(const Request& request) {
  const std::int64_t budget = std::max<std::int64_t>(0, request.milliseconds);
  const std::int64_t end = net::MonotonicMilliseconds() + budget;
  // Loading the libraries (once a process) is part of the budget but not of the key
  // establishment's time.
  Tls();
  const auto start = std::chrono::steady_clock::now();
  const std::u16string keText = request.keServer.Text();
  const KeOptions keOptions{keText,
                            request.serverName.empty() ? request.keServer.host : request.serverName,
                            request.caFile, request.trace};

  std::optional<KeSession> ke;
  std::u16string keHost;
  AskEachAddress(request.keServer, net::Transport::kStream, u"NTS key establishment",
                 {std::max<std::int64_t>(0, end - net::MonotonicMilliseconds()), request.family,
                  request.trace},
                 [&](const net::Address& address, const net::Deadline& deadline) {
                   KeSession session = EstablishKeys(address, keOptions, deadline);
                   // An error record or no cookie is this address's answer, as a TLS failure
                   // is: another address of the name may serve.
                   const std::u16string refusal = Refusal(session.response, keText);
                   if (!refusal.empty()) {
                     throw QueryFailure(QueryFailure::Kind::kAuthentication, refusal);
                   }
                   ke = std::move(session);
                   keHost = ParseTimeHost(address.Text(), kKePort).host;
                   return QueryOutcome{};
                 });
  Result result;
  result.keMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  result.certificateNotAfter = ke->certificate.notAfter;
  result.certificateSubject = ke->certificate.subject;
  result.aead = kAeadAesSivCmac256;
  result.cookies = static_cast<int>(ke->response.cookies.size());

  // Without a server record the NTP server is the key establishment server's own address,
  // not a new lookup of its name (RFC 8915 section 4.1.7); without a port record, port 123.
  const TimeHost ntpHost{ke->response.server ? FromUtf8(*ke->response.server) : keHost,
                         ke->response.port.value_or(kSntpPort)};
  result.ntpServer = ntpHost.Text();
  trace::Say(request.trace, [&] {
    return u"NTP server " + result.ntpServer + u" (" +
           (ke->response.server ? u"named by the key establishment"
                                : u"the key establishment server's address") +
           u", " + (ke->response.port ? u"port named by it" : u"port 123 by default") +
           u"); the key establishment took " + trace::Seconds(result.keMicros);
  });
  const std::int64_t left = end - net::MonotonicMilliseconds();
  if (left <= 0) {
    throw QueryFailure(
        QueryFailure::Kind::kTimeout,
        u"Timeout: the key establishment with " + keText + u" took all of " + BudgetText(budget));
  }

  const AesSivCmac256 c2s(ke->c2s.bytes.data());
  const AesSivCmac256 s2c(ke->s2c.bytes.data());
  // One jar for all the addresses of the NTP server: each address asks with the cookies that
  // have not gone out yet.
  CookieJar jar{ke->response.cookies};
  // A name in a server record is fully qualified (RFC 8915 section 4.1.7): the search domains
  // of this host have nothing to add to it.
  const bool named = ke->response.server.has_value();
  const std::optional<OutOfDate>& outOfDate = ke->outOfDate;
  try {
    result.time = AskEachAddress(
        ntpHost, net::Transport::kDatagram, u"NTS", {left, request.family, request.trace, named},
        [&](const net::Address& address, const net::Deadline& deadline) {
          SocketLink link(address, deadline);
          return ExchangeNts(
              link, {address, ntpHost.Text(), deadline.at(), c2s, s2c, jar, request.trace});
        });
  } catch (const QueryFailure& f) {
    // Without an authenticated time the certificate's dates stand as our clock reads them.
    if (outOfDate) throw QueryFailure(QueryFailure::Kind::kAuthentication, outOfDate->failure);
    if (!named || f.kind() != QueryFailure::Kind::kUnknownHost) throw;
    // Not the user's name but the key establishment's: the server named what cannot be found,
    // which is its fault, as an error record would be.
    const std::u16string unknown = u"Unknown host: " + ntpHost.host;
    const std::u16string& text = f.description();
    throw QueryFailure(
        QueryFailure::Kind::kAuthentication,
        u"The key establishment with " + keText + u" named the NTP server " + ntpHost.host +
            u", which cannot be resolved" +
            (text.compare(0, unknown.size(), unknown) == 0 ? text.substr(unknown.size()) : u""));
  }
  if (outOfDate) {
    // Whoever holds the key of a certificate out of date can claim only a time within its
    // dates; one that the server's authenticated time falls in was out of date by our clock
    // alone.
    const bool inside = !result.time.notification &&
                        result.time.unixSeconds >= outOfDate->notBefore &&
                        result.time.unixSeconds <= outOfDate->notAfter;
    trace::Say(request.trace, [&] {
      if (result.time.notification) {
        return u"No authenticated time to judge the certificate's dates by: " +
               result.time.description;
      }
      return u"The server's authenticated time " +
             IsoDateTimeText().Render(result.time.unixSeconds) + u" UTC is " +
             (inside ? u"within" : u"outside") + u" the certificate's dates";
    });
    if (!inside) throw QueryFailure(QueryFailure::Kind::kAuthentication, outOfDate->failure);
    result.certificateOutOfDateHere = true;
  }
  return result;
}

}  // namespace brevun::nts
