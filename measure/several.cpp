#include "measure/several.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "check/text.h"
#include "measure/units.h"

namespace brevun::measure {

namespace {

using Clock = std::chrono::steady_clock;

std::string Signed(std::int64_t micros) { return (micros >= 0 ? "+" : "") + SecondsText(micros); }

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The server counted already that gave this answer, if any: the same address, or the same
// server reached at another address (a dual-stack host's IPv6 and IPv4 address, two names).
// Replies tell a server apart as chrony tells them: equal stratum, reference id and root
// delay and an equal reference timestamp, which is set whenever the server's clock is and is
// not sent as zero by a server that has one.
const ServerResult* SameServer(const ServerAnswer& a, const std::vector<ServerResult>& servers) {
  if (!a.outcome) return nullptr;
  const QueryOutcome& o = *a.outcome;
  for (const ServerResult& s : servers) {
    if (!s.answer || s.role == Role::kCountedOnce) continue;
    const QueryOutcome& p = *s.answer;
    if (!o.server.empty() && o.server == p.server) return &s;
    if (o.notification || p.notification || o.referenceTimestamp == 0) continue;
    if (o.stratum == p.stratum && o.referenceId == p.referenceId &&
        o.rootDelayMicros == p.rootDelayMicros && o.referenceTimestamp == p.referenceTimestamp) {
      return &s;
    }
  }
  return nullptr;
}

}  // namespace

std::string ServerName(const TimeHost& host, std::uint16_t usualPort) {
  std::string name = ToUtf8(host.port == usualPort ? host.host : host.Text());
  for (char& c : name) {
    if (c == '|') c = '/';
    if (c == '\n' || c == '\r') c = ' ';
  }
  return name;
}

ConsensusNetwork RealNetwork() {
  return {[](const TimeHost& host, const QueryOptions& options, std::size_t limit) {
            return AddressesOf(host, Source::kSntp, options, limit);
          },
          [](const std::vector<ConsensusServer>& servers, const QueryOptions& options) {
            std::vector<TimeHost> hosts;
            for (const ConsensusServer& s : servers) hosts.push_back(s.host);
            std::vector<ConsensusAnswer> answers;
            for (ServerAnswer& a : QueryEach(Source::kSntp, hosts, options)) {
              answers.push_back({std::move(a), std::nullopt});
            }
            return answers;
          }};
}

Measurement MeasureSeveral(const SeveralRequest& request, const ConsensusNetwork& network) {
  const auto start = Clock::now();
  const std::uint16_t usualPort = request.nts ? kNtsKePort : kSntpPort;
  const auto tell = [&](const std::string& line) {
    if (request.verbose) request.verbose(line);
  };
  const auto options = [&] {
    QueryOptions o;
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    o.milliseconds = std::max<std::int64_t>(1, request.budgetMillis - used);
    o.family = request.family;
    if (request.verbose) {
      o.trace = [verbose = request.verbose](const std::u16string& line) { verbose(ToUtf8(line)); };
    }
    return o;
  };
  Measurement m;
  m.mode = Measurement::Mode::kSeveral;
  m.nts = request.nts;
  m.family = request.family;
  m.maxDistanceMicros = request.limits.maxDistanceMicros;
  m.maxDelayMicros = request.limits.maxDelayMicros;

  // The servers: each -H, or each address of each -H; every one once.
  std::vector<ConsensusServer> asked;
  const auto add = [&](const TimeHost& host, const std::u16string& name) {
    for (const ConsensusServer& s : asked) {
      if (s.host.Text() == host.Text()) return;
    }
    asked.push_back({host, name});
  };
  if (!request.allAddresses) {
    for (const TimeHost& host : request.hosts) add(host, host.host);
  } else {
    // Every -H is asked, whatever --max-servers says: it bounds the addresses of each name, and
    // the run asks no more than kMaxServers in all, each -H its first address before any
    // takes a further one. The names are looked up at once, as the servers are asked.
    std::vector<std::vector<TimeHost>> addresses(request.hosts.size());
    std::vector<std::optional<QueryFailure>> failures(request.hosts.size());
    AskTogether(request.hosts.size(), options(), [&](std::size_t i, const QueryOptions& own) {
      try {
        addresses[i] = network.expand(request.hosts[i], own, request.maxServers);
      } catch (const QueryFailure& f) {
        failures[i] = f;
      } catch (const std::bad_alloc&) {
        failures[i] = QueryFailure(QueryFailure::Kind::kNetwork, u"Out of memory");
      }
    });
    std::size_t room = kMaxServers;
    for (const auto& a : addresses) room -= std::min<std::size_t>(room, a.empty() ? 0 : 1);
    for (std::size_t i = 0; i < request.hosts.size(); ++i) {
      if (failures[i]) {
        // A name without addresses is a server that cannot be asked, like a silent one.
        ServerResult& r = m.servers.emplace_back();
        r.host = request.hosts[i];
        r.failure = failures[i];
        r.name = ServerName(request.hosts[i], usualPort);
        continue;
      }
      const std::size_t more = std::min(room, addresses[i].empty() ? 0 : addresses[i].size() - 1);
      room -= more;
      for (std::size_t k = 0; k < addresses[i].size() && k <= more; ++k) {
        add(addresses[i][k], request.hosts[i].host);
      }
    }
  }
  tell("Asking " + Count(asked.size(), "server", "servers") + " at once within " +
       std::to_string(options().milliseconds) + " ms");
  for (ConsensusAnswer& c : network.query(asked, options())) {
    ServerResult r;
    r.name = ServerName(c.server.host, usualPort);
    r.host = c.server.host;
    // Two names of one server are one server: counted twice, a single server could make a
    // majority of its own. (With NTS, two key establishment servers that name one NTP server.)
    if (const ServerResult* same = SameServer(c.server, m.servers)) {
      const std::string& from = ToUtf8(c.server.outcome->server);
      tell(r.name + ": answered from " + from + ", " +
           (same->answer->server == c.server.outcome->server
                ? "a server already counted"
                : "the same server as " + same->name + " (" + ToUtf8(same->answer->server) +
                      "): equal stratum, reference id, root delay and reference time") +
           ": counted once");
      r.role = Role::kCountedOnce;
      r.sameAs = same->name;
    }
    r.answer = std::move(c.server.outcome);
    r.failure = std::move(c.server.failure);
    r.nts = c.nts;
    m.servers.push_back(std::move(r));
  }

  std::vector<selection::Sample> samples;
  std::vector<std::size_t> sampled;  // the server of each sample
  for (std::size_t i = 0; i < m.servers.size(); ++i) {
    const ServerResult& s = m.servers[i];
    if (s.role == Role::kCountedOnce) continue;
    if (!s.GaveTime()) {
      tell(s.name + ": no time to use: " +
           ToUtf8(s.answer ? s.answer->description : s.failure->description()));
      continue;
    }
    const QueryOutcome& o = *s.answer;
    selection::Sample sample;
    sample.offsetMicros = o.offsetMicros;
    sample.delayMicros = o.delayMicros;
    sample.rootDelayMicros = o.rootDelayMicros;
    sample.rootDispersionMicros = o.rootDispersionMicros;
    sample.precision = o.precision;
    sample.exchangeMicros = o.exchangeMicros;
    samples.push_back(sample);
    sampled.push_back(i);
  }
  const selection::Selection chosen = selection::Select(samples, request.limits);
  m.utcMicros = request.utcMicros ? request.utcMicros() : UtcMicrosNow();

  for (std::size_t k = 0; k < sampled.size(); ++k) {
    ServerResult& s = m.servers[sampled[k]];
    const QueryOutcome& o = *s.answer;
    s.rootDistanceMicros = selection::RootDistanceMicros(samples[k]);
    switch (chosen.roles[k]) {
      case selection::Role::kTruechimer:
        s.role = Role::kTruechimer;
        break;
      case selection::Role::kFalseticker:
        s.role = Role::kFalseticker;
        break;
      case selection::Role::kTooFar:
        s.role = Role::kTooFar;
        s.tooFarByDelay =
            request.limits.maxDelayMicros && o.delayMicros > *request.limits.maxDelayMicros;
        break;
    }
    const std::int64_t lambda = s.rootDistanceMicros;
    tell(s.name + ": offset " + Signed(o.offsetMicros) + " s, delay " + SecondsText(o.delayMicros) +
         " s, root delay " + SecondsText(o.rootDelayMicros) + " s, root dispersion " +
         SecondsText(o.rootDispersionMicros) + " s, root distance " + SecondsText(lambda) +
         " s: interval [" + Signed(o.offsetMicros - lambda) + ", " +
         Signed(o.offsetMicros + lambda) + "] s: " +
         (s.role == Role::kTruechimer    ? "truechimer"
          : s.role == Role::kFalseticker ? "falseticker"
                                         : "too far"));
    if (s.nts) {
      tell(s.name + ": key establishment " + SecondsText(s.nts->keMicros) + " s, certificate " +
           std::to_string(DaysLeft(s.nts->certificateNotAfter, m.utcMicros)) + " days left");
    }
  }

  Consensus& consensus = m.consensus.emplace();
  consensus.majority = chosen.majority;
  consensus.truechimers = chosen.truechimers;
  consensus.lowMicros = chosen.lowMicros;
  consensus.highMicros = chosen.highMicros;
  for (const auto& group : chosen.groups) {
    std::vector<std::size_t>& servers = consensus.groups.emplace_back();
    for (const std::size_t k : group) servers.push_back(sampled[k]);
  }
  if (chosen.majority) {
    m.offsetMicros = chosen.offsetMicros;
    tell("Intersection [" + Signed(chosen.lowMicros) + ", " + Signed(chosen.highMicros) +
         "] s of " +
         Count(static_cast<std::size_t>(chosen.truechimers), "truechimer", "truechimers") +
         "; their offset, weighted by 1 / root distance: " + Signed(*chosen.offsetMicros) + " s");
  } else if (!samples.empty()) {
    const std::size_t usable = static_cast<std::size_t>(
        std::count_if(m.servers.begin(), m.servers.end(), [](const ServerResult& s) {
          return s.role == Role::kTruechimer || s.role == Role::kFalseticker;
        }));
    if (usable == 0) {
      tell("No server within the limits: nothing to select from");
    } else if (!chosen.groups.empty()) {
      tell("The largest overlap, " + Count(chosen.groups.front().size(), "interval", "intervals") +
           ", is reached in " + std::to_string(chosen.groups.size()) + " separate places");
    } else {
      tell("No intersection holds more than half of the " +
           Count(usable, "usable interval", "usable intervals"));
    }
  }
  return m;
}

}  // namespace brevun::measure
