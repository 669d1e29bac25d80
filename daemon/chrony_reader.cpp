// Reading chronyd through its command protocol: the exchange over any datagram link, and the
// endpoints chronyc itself would try.
#include <sys/stat.h>

#include "check/text.h"
#include "daemon/chrony_wire.h"
#include "daemon/exchange.h"
#include "daemon/unix_link.h"
#include "timesource/timehost.h"
#include "timesource/trace.h"

namespace brevun::daemon {

namespace {

const char16_t* CommandName(chrony::Command command) {
  switch (command) {
    case chrony::kNSources:
      return u"n_sources";
    case chrony::kSourceData:
      return u"source_data";
    case chrony::kTracking:
      break;
  }
  return u"tracking";
}

struct Answer {
  int status = 0;  // chronyd's status; 0: body holds the reply's fields
  std::vector<std::uint8_t> body;
};

// One request and its reply. Only a datagram that echoes our command and random sequence
// number is a reply; anything else is ignored and the wait goes on.
Answer Ask(DatagramLink& link, const Exchange& x, chrony::Command command, std::uint32_t index) {
  std::uint32_t sequence = 0;
  net::RandomBytes(&sequence, sizeof sequence);
  std::uint16_t attempt = 0;
  Retransmission schedule;
  const std::u16string what = std::u16string(CommandName(command)) +
                              (command == chrony::kSourceData ? u" " + trace::Number(index) : u"");
  const auto send = [&] {
    const auto request = chrony::EncodeRequest(command, sequence, attempt, index);
    link.Send(request.data(), request.size());
    schedule.Sent(link.MonotonicMillis());
    trace::Say(x.trace, [&] {
      return u"Request " + what + u" to " + x.where + u" (attempt " + trace::Number(attempt + 1) +
             u", " + trace::Number(static_cast<long long>(request.size())) + u" bytes)";
    });
  };
  send();
  int ignored = 0;
  for (;;) {
    const std::int64_t now = link.MonotonicMillis();
    if (now >= x.deadlineMillis) {
      throw QueryFailure(QueryFailure::Kind::kTimeout,
                         u"no reply to the " + what + u" request" +
                             (ignored > 0 ? u" (" + trace::Number(ignored) +
                                                u" datagrams ignored that were not replies to it)"
                                          : u""));
    }
    if (now >= schedule.Next()) {
      ++attempt;
      send();
      continue;
    }
    std::uint8_t buffer[1024];
    net::Address from;
    const auto got =
        link.Receive(buffer, sizeof buffer, std::min(schedule.Next(), x.deadlineMillis), from);
    if (!got) continue;
    if (x.server != nullptr && !from.SameEndpoint(*x.server)) {
      ++ignored;
      trace::Say(x.trace, [&] { return u"Ignored a datagram from " + from.Text(); });
      continue;
    }
    const auto reply = chrony::CheckReply(buffer, *got, command, sequence);
    switch (reply.kind) {
      case chrony::Reply::Kind::kNotOurs:
        ++ignored;
        trace::Say(x.trace, [&] { return u"Ignored a datagram: " + reply.detail; });
        continue;
      case chrony::Reply::Kind::kMalformed:
        throw QueryFailure(QueryFailure::Kind::kMalformed,
                           u"malformed reply to the " + what + u" request: " + reply.detail);
      case chrony::Reply::Kind::kRefused:
        trace::Say(x.trace, [&] { return u"Reply to " + what + u": " + reply.detail; });
        return {reply.status, {}};
      case chrony::Reply::Kind::kOk:
        break;
    }
    trace::Say(x.trace, [&] {
      return u"Reply to " + what + u" (" + trace::Number(static_cast<long long>(*got)) + u" bytes)";
    });
    return {0,
            std::vector<std::uint8_t>(reply.body, static_cast<const std::uint8_t*>(buffer) + *got)};
  }
}

constexpr int kNoSuchSource = 4;

[[noreturn]] void Refused(chrony::Command command, int status) {
  throw QueryFailure(QueryFailure::Kind::kRefused, u"chronyd refused the " +
                                                       std::u16string(CommandName(command)) +
                                                       u" request: " + chrony::StatusText(status));
}

}  // namespace

Report ExchangeChrony(DatagramLink& link, const Exchange& x) {
  const Answer tracking = Ask(link, x, chrony::kTracking, 0);
  if (tracking.status != 0) Refused(chrony::kTracking, tracking.status);
  const Answer count = Ask(link, x, chrony::kNSources, 0);
  if (count.status != 0) Refused(chrony::kNSources, count.status);
  const std::uint32_t n = chrony::DecodeNSources(count.body.data());
  // chronyd keeps a few hundred sources at most; a larger count is no daemon's.
  constexpr std::uint32_t kMaxSources = 256;
  if (n > kMaxSources) {
    throw QueryFailure(QueryFailure::Kind::kMalformed,
                       u"chronyd claims " + trace::Number(n) + u" sources");
  }
  std::vector<chrony::SourceData> sources;
  for (std::uint32_t i = 0; i < n; ++i) {
    const Answer data = Ask(link, x, chrony::kSourceData, i);
    // A source removed since the count was taken.
    if (data.status == kNoSuchSource) continue;
    if (data.status != 0) Refused(chrony::kSourceData, data.status);
    sources.push_back(chrony::DecodeSourceData(data.body.data()));
  }
  Report report =
      chrony::MakeReport(chrony::DecodeTracking(tracking.body.data()), sources, link.UtcMicros());
  report.notes.push_back(u"chronyd's command protocol: tracking, and " + trace::Number(n) +
                         u" sources");
  return report;
}

Report ReadChrony(const Options& options) {
  const net::NetworkSession session;
  std::vector<Endpoint> endpoints;
  const auto unixEndpoint = [&](const std::string& path) {
    endpoints.push_back(
        {FromUtf8(path), [&options, path](std::int64_t until) {
           UnixLink link(path);
           return ExchangeChrony(link, {nullptr, FromUtf8(path), until, options.trace});
         }});
  };
  const auto udpEndpoint = [&](const TimeHost& host) {
    endpoints.push_back(
        {host.Text(), [&options, host](std::int64_t until) {
           const net::Deadline deadline(until);
           const auto addresses = net::Resolve(host.host, host.port, net::Transport::kDatagram,
                                               AddressFamily::kAny, deadline);
           const net::Address& server = addresses.front();
           SocketLink link(server, deadline);
           return ExchangeChrony(link, {&server, server.Text(), until, options.trace});
         }});
  };
  const std::u16string endpoint = TrimBlanks(options.endpoint);
  if (endpoint.empty()) {
    // As chronyc: the Unix socket where there is one (it needs root or chrony's group), then
    // the command port on both loopback addresses.
    struct stat info {};
    if (stat(chrony::kDefaultSocket, &info) == 0) unixEndpoint(chrony::kDefaultSocket);
    udpEndpoint({u"127.0.0.1", chrony::kDefaultPort});
    udpEndpoint({u"::1", chrony::kDefaultPort});
  } else if (endpoint.front() == u'/') {
    unixEndpoint(ToUtf8(endpoint));
  } else {
    udpEndpoint(ParseEndpoint(endpoint, chrony::kDefaultPort));
  }
  return ReadFirstOf(u"chronyd", endpoints, options.milliseconds, options.trace);
}

}  // namespace brevun::daemon
