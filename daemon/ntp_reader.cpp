// Reading ntpd (and ntpsec) through the NTP control protocol: the exchange over any datagram
// link, on 127.0.0.1:123 unless told otherwise.
#include "check/text.h"
#include "daemon/exchange.h"
#include "daemon/mode6.h"
#include "daemon/wire_text.h"
#include "timesource/trace.h"

namespace brevun::daemon {

namespace {

struct Pending {
  std::uint16_t sequence;
  mode6::Reassembly reassembly;
};

class NtpSession {
 public:
  NtpSession(DatagramLink& link, const Exchange& x) : link_(link), x_(x) {
    net::RandomBytes(&sequence_, sizeof sequence_);
  }

  // The whole data of the response to one request, or nothing when the daemon answered that
  // it has no such association.
  std::optional<std::string> Ask(mode6::Opcode opcode, std::uint16_t association) {
    const std::u16string what =
        (opcode == mode6::kReadStatus ? std::u16string(u"READSTAT")
                                      : u"READVAR " + trace::Number(association));
    std::vector<Pending> pending;
    Retransmission schedule;
    const auto send = [&] {
      ++sequence_;
      const auto request = mode6::EncodeRequest(opcode, sequence_, association);
      link_.Send(request.data(), request.size());
      pending.push_back({sequence_, {}});
      schedule.Sent(link_.MonotonicMillis());
      trace::Say(x_.trace, [&] {
        return u"Request " + what + u" to " + x_.where + u" (sequence " + trace::Number(sequence_) +
               u")";
      });
    };
    send();
    int ignored = 0;
    for (;;) {
      const std::int64_t now = link_.MonotonicMillis();
      if (now >= x_.deadlineMillis) throw Timeout(what, pending, ignored);
      if (now >= schedule.Next()) {
        send();
        continue;
      }
      std::uint8_t buffer[2048];
      net::Address from;
      const auto got =
          link_.Receive(buffer, sizeof buffer, std::min(schedule.Next(), x_.deadlineMillis), from);
      if (!got) continue;
      if (x_.server != nullptr && !from.SameEndpoint(*x_.server)) {
        ++ignored;
        trace::Say(x_.trace, [&] { return u"Ignored a datagram from " + from.Text(); });
        continue;
      }
      // Fragments of any request still outstanding count, each towards its own response.
      Pending* mine = nullptr;
      mode6::Header header;
      for (auto& p : pending) {
        header = mode6::ReadHeader(buffer, *got, opcode, p.sequence, association);
        if (header.kind != mode6::Header::Kind::kNotOurs) {
          mine = &p;
          break;
        }
      }
      if (mine == nullptr) {
        ++ignored;
        trace::Say(x_.trace, [&] { return u"Ignored a datagram: " + header.detail; });
        continue;
      }
      if (header.kind == mode6::Header::Kind::kMalformed) {
        throw QueryFailure(QueryFailure::Kind::kMalformed,
                           u"malformed response to " + what + u": " + header.detail);
      }
      const mode6::Fragment& f = header.fragment;
      if (f.error) {
        const int code = f.status >> 8;
        trace::Say(x_.trace,
                   [&] { return u"Error response to " + what + u": " + mode6::ErrorText(code); });
        if (code == 4) return std::nullopt;  // unknown association: gone since the list
        throw QueryFailure(
            code == 1 || code == 7 ? QueryFailure::Kind::kRefused : QueryFailure::Kind::kMalformed,
            u"ntpd refused " + what + u": " + mode6::ErrorText(code));
      }
      trace::Say(x_.trace, [&] {
        return u"Fragment of the response to " + what + u": bytes " + trace::Number(f.offset) +
               u" to " + trace::Number(f.offset + f.count) +
               (f.more ? u", more to come" : u", the last");
      });
      switch (mine->reassembly.Add(f)) {
        case mode6::Reassembly::Step::kIncomplete:
          continue;
        case mode6::Reassembly::Step::kMalformed:
          throw QueryFailure(QueryFailure::Kind::kMalformed,
                             u"malformed response to " + what + u": " + mine->reassembly.detail());
        case mode6::Reassembly::Step::kComplete:
          break;
      }
      return mine->reassembly.Data();
    }
  }

 private:
  static QueryFailure Timeout(const std::u16string& what, const std::vector<Pending>& pending,
                              int ignored) {
    // Say how far the best of the responses came: a lost fragment reads differently from
    // silence.
    const mode6::Reassembly* best = nullptr;
    for (const auto& p : pending) {
      if (best == nullptr || p.reassembly.ReceivedBytes() > best->ReceivedBytes()) {
        best = &p.reassembly;
      }
    }
    std::u16string detail;
    if (best != nullptr && best->Fragments() > 0) {
      detail = u"incomplete response to " + what + u": " +
               trace::Number(static_cast<long long>(best->ReceivedBytes())) + u" bytes of " +
               (best->Total() ? trace::Number(static_cast<long long>(*best->Total()))
                              : std::u16string(u"an unknown number"));
    } else {
      detail = u"no response to " + what;
    }
    if (ignored > 0) {
      detail += u" (" + trace::Number(ignored) + u" datagrams ignored that were not ours)";
    }
    return QueryFailure(QueryFailure::Kind::kTimeout, detail);
  }

  DatagramLink& link_;
  const Exchange& x_;
  std::uint16_t sequence_ = 0;
};

}  // namespace

Report ExchangeNtp(DatagramLink& link, const Exchange& x) {
  NtpSession session(link, x);
  const auto system = session.Ask(mode6::kReadVariables, 0);
  if (!system) {
    throw QueryFailure(QueryFailure::Kind::kMalformed, u"ntpd knows no system variables");
  }
  const auto list = session.Ask(mode6::kReadStatus, 0);
  const auto associations = mode6::ParseAssociations(list.value_or(std::string()));
  const std::int64_t now = detail::FloorSeconds(link.UtcMicros());
  Report report = mode6::MakeReport(mode6::ParseVariables(*system), now);
  std::size_t read = 0;
  for (const auto& a : associations) {
    if (read == kMaxPeers) break;
    ++read;
    const auto peer = session.Ask(mode6::kReadVariables, a.id);
    if (!peer) continue;
    report.sources.push_back(mode6::MakeSource(a.status, mode6::ParseVariables(*peer),
                                               detail::FloorSeconds(link.UtcMicros())));
  }
  report.notes.push_back(u"NTP mode 6: system variables, and " +
                         trace::Number(static_cast<long long>(associations.size())) +
                         u" associations");
  if (associations.size() > read) {
    report.notes.push_back(trace::Number(static_cast<long long>(associations.size() - read)) +
                           u" associations not read");
  }
  return report;
}

Report ReadNtp(const Options& options) {
  const net::NetworkSession session;
  const std::u16string endpoint = TrimBlanks(options.endpoint);
  if (!endpoint.empty() && endpoint.front() == u'/') {
    throw QueryFailure(QueryFailure::Kind::kUnknownHost,
                       u"ntpd has no Unix socket to read: \"" + endpoint + u"\"");
  }
  const TimeHost host = endpoint.empty() ? TimeHost{u"127.0.0.1", mode6::kDefaultPort}
                                         : ParseEndpoint(endpoint, mode6::kDefaultPort);
  const Endpoint one{host.Text(), [&options, host](std::int64_t until) {
                       const net::Deadline deadline(until);
                       const auto addresses =
                           net::Resolve(host.host, host.port, net::Transport::kDatagram,
                                        AddressFamily::kAny, deadline);
                       const net::Address& server = addresses.front();
                       SocketLink link(server, deadline);
                       return ExchangeNtp(link, {&server, server.Text(), until, options.trace});
                     }};
  return ReadFirstOf(u"ntpd", {one}, options.milliseconds, options.trace);
}

}  // namespace brevun::daemon
