// The local time daemon judged from a report, and its cross-check against servers: the state
// and the line each case gives, with the daemon and the network as tables.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "check/text.h"
#include "cli/arguments.h"
#include "cli/plugin.h"
#include "measure/judgement.h"
#include "output/plugin_line.h"

namespace brevun::measure {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;  // 2027-01-15, no leap second that day

// A chronyd synchronised to 192.0.2.1 at stratum 3, 12 us fast, root delay 4 ms and root
// dispersion 1 ms, hearing three sources and selecting two of them.
daemon::Report Chronyd() {
  daemon::Report r;
  r.kind = daemon::Kind::kChrony;
  r.daemon = u"chronyd";
  r.synchronised = true;
  r.leap = 0;
  r.stratum = 3;
  r.reference = u"192.0.2.1";
  r.offsetMicros = -12;
  r.rootDelayMicros = 4000;
  r.rootDispersionMicros = 1000;
  r.frequencyPpm = -12.5;
  r.lastUpdateAgeSeconds = 33;
  const auto source = [](const char16_t* name, daemon::Source::State state, int reach) {
    daemon::Source s;
    s.name = name;
    s.state = state;
    s.reach = reach;
    s.stratum = 2;
    s.offsetMicros = 100;
    return s;
  };
  r.sources = {source(u"192.0.2.1", daemon::Source::State::kSelected, 0377),
               source(u"192.0.2.2", daemon::Source::State::kCombined, 0377),
               source(u"192.0.2.3", daemon::Source::State::kUnreachable, 0)};
  return r;
}

// What the options give, as brevun-check --daemon ARGS reads them.
Criteria CriteriaOf(std::vector<std::string> args) {
  args.insert(args.begin(), "--daemon");
  return cli::DaemonCriteriaFor(cli::ParseArguments(args));
}

Measurement DaemonAlone(daemon::Report report) {
  Measurement m;
  m.mode = Measurement::Mode::kDaemon;
  m.utcMicros = kNow * 1'000'000;
  m.daemon.emplace();
  m.daemon->asked = daemon::Kind::kChrony;
  m.daemon->report = std::move(report);
  return m;
}

std::string Line(const Measurement& m, const Criteria& c) {
  const std::string text = output::PluginText(m, Judge(m, c), c);
  return text.substr(0, text.find('|'));
}

TEST(DaemonJudgement, EachFigureByItsThresholds) {
  const auto changed = [](const std::function<void(daemon::Report&)>& change) {
    daemon::Report r = Chronyd();
    change(r);
    return r;
  };
  const std::string good =
      "chronyd synchronised to 192.0.2.1 (stratum 3): offset -0.000012 seconds, error 0.003012 "
      "s, 2 of 3 sources reachable, 2 selectable, last update 33 s ago";
  struct Case {
    const char* name;
    daemon::Report report;
    std::vector<std::string> args;
    State state;
    std::string line;
  };
  const Case cases[] = {
      {"in step", Chronyd(), {}, State::kOk, good},
      {"offset by -w",
       changed([](daemon::Report& r) { r.offsetMicros = 150'000; }),
       {},
       State::kWarning,
       "chronyd synchronised to 192.0.2.1 (stratum 3): offset 0.150000 seconds, error 0.153000 "
       "s, 2 of 3 sources reachable, 2 selectable, last update 33 s ago"},
      {"error beyond a quarter second",
       changed([](daemon::Report& r) { r.rootDispersionMicros = 400'000; }),
       {},
       State::kWarning,
       ""},
      {"error beyond its critical",
       Chronyd(),
       {"--error-critical", "0.003"},
       State::kCritical,
       good},
      {"stratum above 10",
       changed([](daemon::Report& r) { r.stratum = 11; }),
       {},
       State::kWarning,
       ""},
      {"no source reachable: it runs free",
       changed([](daemon::Report& r) {
         for (auto& s : r.sources) {
           s.reach = 0;
           s.state = daemon::Source::State::kUnreachable;
         }
       }),
       {},
       State::kCritical,
       ""},
      {"fewer selectable than asked for",
       Chronyd(),
       {"--selectable-warning", "3:"},
       State::kWarning,
       good},
      {"no update for over an hour",
       changed([](daemon::Report& r) { r.lastUpdateAgeSeconds = 5000; }),
       {},
       State::kWarning,
       ""},
      {"no update for a day",
       changed([](daemon::Report& r) { r.lastUpdateAgeSeconds = 86400; }),
       {},
       State::kCritical,
       ""},
      {"its own falseticker is named, not alerted on",
       changed([](daemon::Report& r) { r.sources[1].state = daemon::Source::State::kFalseticker; }),
       {},
       State::kOk,
       "chronyd synchronised to 192.0.2.1 (stratum 3): offset -0.000012 seconds, error 0.003012 "
       "s, 2 of 3 sources reachable, 1 selectable, last update 33 s ago; its falseticker: "
       "192.0.2.2"},
      {"a leap second on a day that has none",
       changed([](daemon::Report& r) { r.leap = 1; }),
       {"--leap-warning"},
       State::kWarning,
       good + "; leap second announced (insert) on a day that has none"},
      {"not synchronised",
       changed([](daemon::Report& r) {
         r.synchronised = false;
         r.leap = 3;
         r.stratum = 0;
         r.offsetMicros.reset();
       }),
       {},
       State::kCritical,
       "chronyd is not synchronised (leap indicator 3, 2 of 3 sources reachable)"},
  };
  for (const Case& c : cases) {
    const Measurement m = DaemonAlone(c.report);
    const Criteria criteria = CriteriaOf(c.args);
    EXPECT_EQ(Judge(m, criteria).state, c.state) << c.name;
    if (!c.line.empty()) {
      EXPECT_EQ(Line(m, criteria), c.line) << c.name;
    }
  }
}

TEST(DaemonJudgement, TheKernelAndADaemonThatDoesNotAnswer) {
  daemon::Report kernel;
  kernel.kind = daemon::Kind::kKernel;
  kernel.daemon = u"kernel";
  kernel.synchronised = true;
  kernel.leap = 0;
  kernel.reference = u"systemd-timesyncd";
  kernel.estimatedErrorMicros = 500;
  kernel.maxErrorMicros = 16'000;
  EXPECT_EQ(Line(DaemonAlone(kernel), CriteriaOf({})),
            "The kernel's clock is synchronised by systemd-timesyncd: estimated error 0.000500 s, "
            "maximum error 0.016000 s");
  EXPECT_EQ(Judge(DaemonAlone(kernel), CriteriaOf({})).state, State::kOk);

  Measurement silent = DaemonAlone(Chronyd());
  silent.daemon->report.reset();
  silent.daemon->failure =
      QueryFailure(QueryFailure::Kind::kTimeout, u"no answer from 127.0.0.1:323 within 3 s");
  EXPECT_EQ(Line(silent, CriteriaOf({})),
            "chronyd does not answer (no answer from 127.0.0.1:323 within 3 s)");
  EXPECT_EQ(Judge(silent, CriteriaOf({})).state, State::kCritical);
  EXPECT_EQ(Judge(silent, CriteriaOf({"-q"})).state, State::kUnknown);
}

// Several servers asked beside the daemon: three in step at `serversMs`, each with an interval of
// +-2.5 ms.
Measurement WithServers(daemon::Report report, std::int64_t serversMs) {
  Measurement m = DaemonAlone(std::move(report));
  m.mode = Measurement::Mode::kSeveral;
  for (int i = 1; i <= 3; ++i) {
    ServerResult& s = m.servers.emplace_back();
    s.host = TimeHost{u"192.0.2.1" + FromUtf8(std::to_string(i)), 123};
    s.name = ToUtf8(s.host.host);
    QueryOutcome o;
    o.offsetMicros = serversMs * 1000;
    o.stratum = 1;
    s.answer = o;
    s.role = Role::kTruechimer;
    s.rootDistanceMicros = 2500;
  }
  Consensus& k = m.consensus.emplace();
  k.majority = true;
  k.truechimers = 3;
  k.lowMicros = serversMs * 1000 - 2500;
  k.highMicros = serversMs * 1000 + 2500;
  m.offsetMicros = serversMs * 1000;
  return m;
}

TEST(DaemonJudgement, TheServersCrossCheckWhatTheDaemonClaims) {
  daemon::Report fooled = Chronyd();  // every source lies, and the daemon believes them
  fooled.offsetMicros = 0;
  daemon::Report knows = Chronyd();  // under -x it knows the clock is 2.3 s behind
  knows.offsetMicros = 2'300'000;
  const struct {
    const char* name;
    Measurement m;
    State state;
    std::string line;
  } cases[] = {
      {"the servers confirm it", WithServers(Chronyd(), 1), State::kOk,
       "chronyd synchronised to 192.0.2.1 (stratum 3): offset -0.000012 seconds, error 0.003012 "
       "s, 2 of 3 sources reachable, 2 selectable, last update 33 s ago; confirmed by 3 of 3 "
       "independent servers (offset +0.001000 s)"},
      {"the servers put the clock ahead", WithServers(fooled, -2300), State::kCritical,
       "chronyd says synchronised within 0.003 s, but 3 of 3 independent servers put this clock "
       "2.300 s ahead"},
      {"and behind", WithServers(fooled, 2300), State::kCritical,
       "chronyd says synchronised within 0.003 s, but 3 of 3 independent servers put this clock "
       "2.300 s behind"},
      {"the daemon says behind, the servers ahead", WithServers(knows, -2300), State::kCritical,
       "chronyd puts this clock 2.300 s behind within 0.003 s, but 3 of 3 independent servers put "
       "this clock 2.300 s ahead"},
  };
  for (const auto& c : cases) {
    const Criteria criteria = CriteriaOf({"-H", "a", "-H", "b", "-H", "c"});
    const Judgement j = Judge(c.m, criteria);
    EXPECT_EQ(j.state, c.state) << c.name;
    if (!c.line.empty()) {
      EXPECT_EQ(Line(c.m, criteria), c.line) << c.name;
    }
  }
  // Signed offsets: a daemon that knows the clock is behind agrees with servers that say so (and
  // its offset alone is CRITICAL by -c).
  const Judgement behind = Judge(WithServers(knows, 2300), CriteriaOf({"-H", "a", "-H", "b"}));
  EXPECT_TRUE(behind.crossCheck->agrees);
  EXPECT_EQ(behind.state, State::kCritical);
  // Within the tolerance of both claims: 3.012 ms of the daemon, 2.5 ms of the servers.
  EXPECT_TRUE(
      Judge(WithServers(Chronyd(), 5), CriteriaOf({"-H", "a", "-H", "b"})).crossCheck->agrees);
  EXPECT_FALSE(
      Judge(WithServers(Chronyd(), 6), CriteriaOf({"-H", "a", "-H", "b"})).crossCheck->agrees);
  // Servers that cannot agree among themselves cross-check nothing: WARNING, and why.
  Measurement split = WithServers(Chronyd(), 1);
  split.consensus->majority = false;
  split.offsetMicros.reset();
  const Judgement j = Judge(split, CriteriaOf({"-H", "a", "-H", "b"}));
  EXPECT_EQ(j.state, State::kWarning);
  EXPECT_NE(
      Line(split, CriteriaOf({"-H", "a", "-H", "b"})).find("; not cross-checked: No majority"),
      std::string::npos);
}

}  // namespace
}  // namespace brevun::measure
