// Several servers with the network a table: how the answers become the line and the state,
// and what the key establishments of NTS add.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "check/text.h"
#include "cli/arguments.h"
#include "cli/consensus.h"

namespace brevun::cli {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;  // Unix seconds
constexpr std::int64_t kDay = 86400;

// A server that answered in step with us, its certificate good for `days` more days.
ConsensusAnswer InStep(const char16_t* server, std::int64_t days) {
  ConsensusAnswer a;
  QueryOutcome o;
  o.server = server;
  o.stratum = 2;
  o.delayMicros = 100;
  a.server.outcome = o;
  a.nts = brevun::cli::NtsFacts{3000, kNow + days * kDay + 60};
  return a;
}

ConsensusAnswer Refused() {
  ConsensusAnswer a;
  a.server.failure = QueryFailure(QueryFailure::Kind::kAuthentication, u"not authentic");
  return a;
}

ConsensusRequest Request(std::optional<int> certWarningDays, bool quiet = false) {
  ConsensusRequest r;
  r.hosts = {TimeHost{u"a.test", 4460}, TimeHost{u"b.test", 4460}, TimeHost{u"c.test", 4461}};
  r.nts = true;
  r.certWarningDays = certWarningDays;
  r.quiet = quiet;
  r.warning = *brevun::cli::ThresholdRange::Parse("0.5", nullptr);
  r.critical = *brevun::cli::ThresholdRange::Parse("1", nullptr);
  r.utcMicros = [] { return kNow * 1'000'000; };
  return r;
}

ConsensusNetwork Network(std::vector<ConsensusAnswer> answers,
                         std::vector<ConsensusServer>* asked = nullptr) {
  ConsensusNetwork n;
  n.query = [=](const std::vector<ConsensusServer>& servers, const QueryOptions&) {
    if (asked) *asked = servers;
    std::vector<ConsensusAnswer> out = answers;
    for (std::size_t i = 0; i < out.size(); ++i) out[i].server.host = servers.at(i).host;
    return out;
  };
  return n;
}

TEST(ConsensusNts, CertificatesExpiringWithinTheWarningDaysWarnAndEachServerKeepsItsName) {
  std::vector<ConsensusServer> asked;
  const auto network =
      Network({InStep(u"192.0.2.1:123", 40), InStep(u"192.0.2.2:123", 5), Refused()}, &asked);
  const auto warned = brevun::cli::CheckConsensus(Request(7), network);
  EXPECT_EQ(warned.state, State::kWarning);
  EXPECT_EQ(warned.line.substr(0, warned.line.find('|')),
            "Offset 0.000000 seconds, 2 of 3 servers agree (certificate expires: b.test in 5 days; "
            "unreachable: c.test:4461 (not authentic))");
  EXPECT_NE(warned.line.find(" 'ke_time_a.test'=0.003000s"), std::string::npos) << warned.line;
  // The certificate of each server is checked against the name it was given as.
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[2].name, u"c.test");
  EXPECT_EQ(brevun::cli::CheckConsensus(Request(5), network).state, State::kOk);
}

TEST(ConsensusNts, QuietHidesSilenceButNotARefusalToAuthenticate) {
  ConsensusAnswer silent;
  silent.server.failure = QueryFailure(QueryFailure::Kind::kTimeout, u"no answer");
  EXPECT_EQ(brevun::cli::CheckConsensus(Request({}, true), Network({silent, silent, silent})).state,
            State::kUnknown);
  EXPECT_EQ(
      brevun::cli::CheckConsensus(Request({}, true), Network({silent, Refused(), silent})).state,
      State::kCritical);
}

// A plain SNTP answer from `address`: offset and root dispersion in milliseconds.
ConsensusAnswer Sntp(const char16_t* address, std::int64_t offsetMs,
                     std::int64_t dispersionMs = 0) {
  ConsensusAnswer a;
  QueryOutcome o;
  o.server = address;
  o.offsetMicros = offsetMs * 1000;
  o.rootDispersionMicros = dispersionMs * 1000;
  o.stratum = 2;
  o.referenceId = u"192.0.2.99";
  o.precision = -20;
  o.delayMicros = 200;
  a.server.outcome = o;
  return a;
}

ConsensusAnswer With(ConsensusAnswer a, const std::function<void(QueryOutcome&)>& change) {
  change(*a.server.outcome);
  return a;
}

ConsensusAnswer Notified(const char16_t* address, int code) {
  ConsensusAnswer a;
  QueryOutcome o;
  o.server = address;
  o.notification = true;
  o.code = code;
  o.leap = code == kNotifyUnsynchronised ? 3 : 0;
  o.referenceId = code == kNotifyKissOfDeath ? u"RATE" : u"";
  a.server.outcome = o;
  return a;
}

ConsensusAnswer Failed(QueryFailure::Kind kind) {
  ConsensusAnswer a;
  a.server.failure = QueryFailure(kind, u"detail");
  return a;
}

ConsensusRequest Sntp(std::size_t servers) {
  ConsensusRequest r;
  for (std::size_t i = 0; i < servers; ++i) {
    r.hosts.push_back(TimeHost{u"192.0.2." + FromUtf8(std::to_string(i + 1)), 123});
  }
  r.warning = *ThresholdRange::Parse("0.5", nullptr);
  r.critical = *ThresholdRange::Parse("1", nullptr);
  r.timeoutSeconds = 2;
  r.utcMicros = [] { return kNow * 1'000'000; };  // 2027-01-15: no leap second that day
  return r;
}

std::string LineOf(const Verdict& v) { return v.line.substr(0, v.line.find('|')); }

TEST(Consensus, NoServerAloneDecides) {
  const auto rateLimited = Notified(u"192.0.2.1:123", kNotifyKissOfDeath);
  const auto unsynchronised = Notified(u"192.0.2.2:123", kNotifyUnsynchronised);
  const auto silent = Failed(QueryFailure::Kind::kTimeout);
  const auto oneDay = With(Sntp(u"192.0.2.2:123", 2300),
                           [](QueryOutcome& o) { o.referenceTimestamp = 0xe8000000'00000001u; });
  struct Case {
    const char* name;
    std::vector<ConsensusAnswer> answers;
    std::function<void(ConsensusRequest&)> options;
    State state;
    std::string line;
  };
  const Case cases[] = {
      // A wide interval reaching into two groups that disagree makes no majority of the three.
      {"two groups bridged by a wide interval",
       {Sntp(u"192.0.2.1:123", 1300, 10), Sntp(u"192.0.2.2:123", 1300, 1400),
        Sntp(u"192.0.2.3:123", 0)},
       {},
       State::kCritical,
       "No majority: the 3 servers that answered form 2 groups of 2 that cannot all be right, "
       "the clock cannot be judged (group 1: 192.0.2.2 +1.300 s, 192.0.2.3 +0.000 s; group 2: "
       "192.0.2.1 +1.300 s, 192.0.2.2 +1.300 s)"},
      {"its mirror, even where a falseticker would be critical",
       {Sntp(u"192.0.2.1:123", 0, 10), Sntp(u"192.0.2.2:123", 0, 1400),
        Sntp(u"192.0.2.3:123", 1300)},
       [](ConsensusRequest& r) { r.falseticker = State::kCritical; },
       State::kCritical,
       "No majority: the 3 servers that answered form 2 groups of 2 that cannot all be right, "
       "the clock cannot be judged (group 1: 192.0.2.1 +0.000 s, 192.0.2.2 +0.000 s; group 2: "
       "192.0.2.2 +0.000 s, 192.0.2.3 +1.300 s)"},
      // One server reached at two addresses (a dual-stack host) is one voter, however it lies.
      {"one server at two addresses votes once",
       {Sntp(u"192.0.2.1:123", 0), oneDay,
        With(oneDay, [](QueryOutcome& o) { o.server = u"[2001:db8::2]:123"; })},
       {},
       State::kCritical,
       "No majority: no more than half of the 2 servers that answered agree, the clock cannot be "
       "judged (192.0.2.1 +0.000 s, 192.0.2.2 +2.300 s)"},
      {"a zero reference timestamp tells nothing apart",
       {Sntp(u"192.0.2.1:123", 0), Sntp(u"192.0.2.2:123", 0), Sntp(u"192.0.2.3:123", 0)},
       {},
       State::kOk,
       "Offset 0.000000 seconds, 3 of 3 servers agree"},
      // Silent, unsynchronised and rate-limiting servers leave one reply: a majority of the
      // replies, not of the servers asked.
      {"one reply of three",
       {silent, unsynchronised, Sntp(u"192.0.2.3:123", 400)},
       {},
       State::kWarning,
       "Offset 0.400000 seconds, 1 of 3 servers agree (no majority of the servers asked; "
       "unreachable: 192.0.2.1 (no answer), 192.0.2.2 (not synchronised))"},
      {"unless the administrator says how many must agree",
       {silent, unsynchronised, Sntp(u"192.0.2.3:123", 400)},
       [](ConsensusRequest& r) { r.truechimersWarning = ThresholdRange::Parse("1:", nullptr); },
       State::kOk,
       "Offset 0.400000 seconds, 1 of 3 servers agree (unreachable: 192.0.2.1 (no answer), "
       "192.0.2.2 (not synchronised))"},
      // Servers that answer without a time say something about themselves: -q does not hide
      // them, and nothing timed out.
      {"every server answered without a time, under -q",
       {rateLimited, unsynchronised},
       [](ConsensusRequest& r) { r.quiet = true; },
       State::kCritical,
       "No usable answer from 2 servers (unreachable: 192.0.2.1 (kiss-o'-death RATE), "
       "192.0.2.2 (not synchronised))"},
      {"silence under -q",
       {silent, silent},
       [](ConsensusRequest& r) { r.quiet = true; },
       State::kUnknown,
       "No usable answer from 2 servers within 2 s (unreachable: 192.0.2.1 (no answer), "
       "192.0.2.2 (no answer))"},
      // A falseticker's leap bits are as wrong as its time may be.
      {"a falseticker announcing a leap second",
       {Sntp(u"192.0.2.1:123", 0), Sntp(u"192.0.2.2:123", 0),
        With(Sntp(u"192.0.2.3:123", 2300), [](QueryOutcome& o) { o.leap = 1; })},
       [](ConsensusRequest& r) {
         r.leapWarning = true;
         r.falseticker = State::kOk;
       },
       State::kOk,
       "Offset 0.000000 seconds, 2 of 3 servers agree (falseticker: 192.0.2.3 offset +2.300 s)"},
      {"a truechimer announcing a leap second",
       {Sntp(u"192.0.2.1:123", 0), Sntp(u"192.0.2.2:123", 0),
        With(Sntp(u"192.0.2.3:123", 0), [](QueryOutcome& o) { o.leap = 2; })},
       [](ConsensusRequest& r) { r.leapWarning = true; },
       State::kWarning,
       "Offset 0.000000 seconds, 3 of 3 servers agree (leap second announced by 192.0.2.3 "
       "(delete) on a day that has none)"},
  };
  for (const Case& c : cases) {
    ConsensusRequest r = Sntp(c.answers.size());
    if (c.options) c.options(r);
    const Verdict v = CheckConsensus(r, Network(c.answers));
    EXPECT_EQ(LineOf(v), c.line) << c.name;
    EXPECT_EQ(v.state, c.state) << c.name << ": " << v.line;
  }
}

// The reason of a split names each server concerned once, for machines that read the reasons.
TEST(Consensus, AReasonNamesEachServerItConcernsOnce) {
  const auto reasonServers = [](const std::vector<ConsensusAnswer>& answers) {
    const ConsensusRequest r = Sntp(answers.size());
    const measure::Measurement m = measure::MeasureSeveral(MeasurementOf(r), Network(answers));
    return measure::Judge(m, CriteriaOf(r)).Headline()->servers;
  };
  const std::vector<std::string> bridged = {"192.0.2.2", "192.0.2.3", "192.0.2.1"};
  EXPECT_EQ(reasonServers({Sntp(u"192.0.2.1:123", 1300, 10), Sntp(u"192.0.2.2:123", 1300, 1400),
                           Sntp(u"192.0.2.3:123", 0)}),
            bridged);
  const std::vector<std::string> two = {"192.0.2.1", "192.0.2.2"};
  EXPECT_EQ(reasonServers({Sntp(u"192.0.2.1:123", 0), Sntp(u"192.0.2.2:123", 2300)}), two);
}

// A line names a few servers and counts the rest; the performance data names every one.
TEST(Consensus, ALineNamesAFewServersOfMany) {
  std::vector<ConsensusAnswer> answers;
  for (int i = 0; i < 64; ++i) {
    answers.push_back(i < 40 ? Sntp(u"", 0) : Failed(QueryFailure::Kind::kTimeout));
    if (i < 40) answers.back().server.outcome->server.clear();
  }
  const Verdict v = CheckConsensus(Sntp(64), Network(answers));
  EXPECT_EQ(LineOf(v),
            "Offset 0.000000 seconds, 40 of 64 servers agree (unreachable: 192.0.2.41 (no "
            "answer), 192.0.2.42 (no answer), 192.0.2.43 (no answer) and 21 more)");
  EXPECT_NE(v.line.find("'offset_192.0.2.40'="), std::string::npos);
}

// Every -H is asked, whatever --max-servers says: it bounds the addresses of each name. The
// names are looked up at once, each with the whole budget.
TEST(Consensus, EveryHostIsAskedAndNamesAreLookedUpTogether) {
  ConsensusRequest r = Sntp(0);
  r.hosts = {TimeHost{u"pool.test", 123}, TimeHost{u"127.0.0.9", 123}};
  r.allAddresses = true;
  r.maxServers = 2;
  r.budgetMillis = 1000;
  std::vector<std::int64_t> budgets;
  std::mutex lock;
  ConsensusNetwork n = Network({Sntp(u"", 0), Sntp(u"", 0), Sntp(u"", 0)});
  std::vector<ConsensusServer> asked;
  n.query = [&, query = n.query](const std::vector<ConsensusServer>& servers,
                                 const QueryOptions& o) {
    asked = servers;
    return query(servers, o);
  };
  n.expand = [&](const TimeHost& host, const QueryOptions& o, std::size_t limit) {
    {
      const std::lock_guard<std::mutex> hold(lock);
      budgets.push_back(o.milliseconds);
    }
    usleep(300'000);  // a slow resolver
    std::vector<TimeHost> all = {host};
    if (host.host == u"pool.test") {
      all = {TimeHost{u"127.0.0.1", 123}, TimeHost{u"127.0.0.2", 123}, TimeHost{u"::1", 123}};
    }
    all.resize(std::min(all.size(), limit));
    return all;
  };
  CheckConsensus(r, n);
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(ToUtf8(asked[0].host.Text()), "127.0.0.1:123");
  EXPECT_EQ(ToUtf8(asked[1].host.Text()), "127.0.0.2:123");
  EXPECT_EQ(ToUtf8(asked[2].host.Text()), "127.0.0.9:123");
  ASSERT_EQ(budgets.size(), 2u);
  for (const std::int64_t b : budgets) EXPECT_GT(b, 900);
}

// A server whose certificate was out of date by our clock but not at its own authenticated time
// is far from us, or holds an old key: the line says so and is never OK.
TEST(ConsensusNts, ACertificateOutOfDateOnlyByOurClockIsNeverOk) {
  const auto outOfDate = [](ConsensusAnswer a) {
    a.nts->certificateOutOfDateHere = true;
    return a;
  };
  const struct {
    std::vector<ConsensusAnswer> answers;
    std::string line;
  } cases[] = {
      {{InStep(u"192.0.2.1:123", 40), InStep(u"192.0.2.2:123", 5),
        outOfDate(InStep(u"192.0.2.3:123", 40))},
       "Offset 0.000000 seconds, 3 of 3 servers agree (certificate only looked out of date by "
       "this machine's clock: c.test:4461)"},
      {{outOfDate(InStep(u"192.0.2.1:123", 40)), outOfDate(InStep(u"192.0.2.2:123", 5)), Refused()},
       "Offset 0.000000 seconds, 2 of 3 servers agree (certificates only looked out of date by "
       "this machine's clock: a.test, b.test; unreachable: c.test:4461 (not authentic))"},
  };
  for (const auto& c : cases) {
    const auto v = brevun::cli::CheckConsensus(Request({}), Network(c.answers));
    EXPECT_EQ(v.state, State::kCritical) << c.line;
    EXPECT_EQ(v.line.substr(0, v.line.find('|')), c.line);
  }
}

}  // namespace
}  // namespace brevun::cli
