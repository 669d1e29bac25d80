#include "cli/offset_check.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "cli/plugin.h"
#include "cli/threshold.h"

namespace {

using brevun::AddressFamily;
using brevun::QueryFailure;
using brevun::QueryOptions;
using brevun::QueryOutcome;
using brevun::Source;
using brevun::TimeHost;
using brevun::cli::CheckOffset;
using brevun::cli::OffsetRequest;
using brevun::cli::State;
using brevun::cli::ThresholdRange;

ThresholdRange Range(const std::string& text) {
  std::string problem;
  const auto r = ThresholdRange::Parse(text, &problem);
  EXPECT_TRUE(r) << text << ": " << problem;
  return r.value_or(ThresholdRange());
}

TEST(ThresholdRange, EachFormOfTheGuidelines) {
  const struct {
    const char* range;
    double value;
    bool alerts;
  } cases[] = {
      {"10", 0, false},       {"10", 10, false},       {"10", 10.001, true},
      {"10", -1, true},       {"10:", 9.99, true},     {"10:", 10, false},
      {"10:", 1e9, false},    {"~:10", -1e9, false},   {"~:10", 10, false},
      {"~:10", 10.5, true},   {"10:20", 9, true},      {"10:20", 15, false},
      {"10:20", 20, false},   {"10:20", 21, true},     {"@10:20", 10, true},
      {"@10:20", 20, true},   {"@10:20", 9.9, false},  {"@10:20", 21, false},
      {"0.5", 0.5, false},    {"0.5", 0.500001, true}, {":3", 3, false},
      {":3", -0.1, true},     {"-5:-1", -3, false},    {"+2", 1, false},
      {"@~:0.1", 0.05, true}, {"@0", 0, true},         {"@0", 0.000001, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Range(c.range).Alerts(c.value), c.alerts) << c.range << " at " << c.value;
    EXPECT_EQ(Range(c.range).text(), c.range);
  }
}

TEST(ThresholdRange, TextsThatAreNoRangeSayWhy) {
  const struct {
    const char* range;
    const char* why;
  } cases[] = {
      {"", "empty"},
      {"@", "empty"},
      {"-5", "start is greater"},
      {"20:10", "start is greater"},
      {"ten", "not a number"},
      {"1e3", "not a number"},
      {"1:2:3", "not a number"},
      {":", "neither"},
      {"~", "not a number"},
      {"10s", "not a number"},
      {" 10", "not a number"},
      {"1..2", "not a number"},
      {"inf", "not a number"},
      {"nan:", "not a number"},
      {"0x10", "not a number"},
      {"~:", "neither"},
  };
  for (const auto& c : cases) {
    std::string problem;
    EXPECT_FALSE(ThresholdRange::Parse(c.range, &problem)) << c.range;
    EXPECT_NE(problem.find(c.why), std::string::npos) << c.range << ": " << problem;
    EXPECT_NE(problem.find(std::string("'") + c.range + "'"), std::string::npos) << problem;
  }
}

TEST(OffsetCheck, SecondsWithMicroseconds) {
  using brevun::cli::SecondsText;
  EXPECT_EQ(SecondsText(0), "0.000000");
  EXPECT_EQ(SecondsText(-12), "-0.000012");
  EXPECT_EQ(SecondsText(1900000), "1.900000");
  EXPECT_EQ(SecondsText(-1900001), "-1.900001");
  EXPECT_EQ(SecondsText(std::numeric_limits<std::int64_t>::min()), "-9223372036854.775808");
}

// A scripted server: what each query returns or throws, and what each was given.
struct Script {
  std::vector<QueryOutcome> answers;
  std::vector<std::optional<QueryFailure>> failures;
  std::vector<QueryOptions> seen;
  std::vector<std::u16string> hosts;

  brevun::cli::OffsetQuery Query() {
    return [this](Source, const TimeHost& host, const QueryOptions& options) {
      const std::size_t i = seen.size();
      seen.push_back(options);
      hosts.push_back(host.Text());
      if (i < failures.size() && failures[i]) throw *failures[i];
      return answers.at(i);
    };
  }
};

QueryOutcome Answer(std::int64_t offsetMicros, int stratum = 0, std::int64_t delayMicros = 0) {
  QueryOutcome a;
  a.offsetMicros = offsetMicros;
  a.stratum = stratum;
  a.delayMicros = delayMicros;
  return a;
}

OffsetRequest Request() {
  OffsetRequest r;
  r.first.host = TimeHost{u"127.0.0.1", 4123};
  r.warning = Range("0.5");
  r.critical = Range("1");
  r.timeoutSeconds = 3;
  r.budgetMillis = 2950;
  return r;
}

TEST(OffsetCheck, StatesOnTheAbsoluteOffsetWithoutSlack) {
  const struct {
    std::int64_t micros;
    State state;
  } cases[] = {{-1900000, State::kCritical},
               {-1000001, State::kCritical},
               {-1000000, State::kWarning},
               {-700000, State::kWarning},
               {-500001, State::kWarning},
               {-500000, State::kOk},
               {0, State::kOk},
               {200000, State::kOk},
               {500001, State::kWarning},
               {1000001, State::kCritical},
               {1900000, State::kCritical}};
  for (const auto& c : cases) {
    Script s;
    s.answers = {Answer(c.micros)};
    EXPECT_EQ(CheckOffset(Request(), s.Query()).state, c.state) << c.micros;
  }
}

TEST(OffsetCheck, LineAndPerformanceData) {
  Script s;
  QueryOutcome a = Answer(-12, 8, 91);
  a.server = u"127.0.0.1:123";
  s.answers = {a};
  OffsetRequest r = Request();
  r.warning = Range("60");
  r.critical = Range("120");
  EXPECT_EQ(
      CheckOffset(r, s.Query()).line,
      "Offset -0.000012 seconds (127.0.0.1:123, SNTP, stratum 8)|offset=-0.000012s;-60:60;-120:120 "
      "delay=0.000091s stratum=8");
  // No stratum, no delay invented; the Time Protocol measures neither.
  Script t;
  t.answers = {Answer(-400000)};
  r.first.protocol = Source::kTime;
  EXPECT_EQ(CheckOffset(r, t.Query()).line,
            "Offset -0.400000 seconds (127.0.0.1:4123, Time Protocol)|offset=-0.400000s;-60:60;"
            "-120:120");
  EXPECT_EQ(t.seen.at(0).milliseconds, 2950);
}

// One server announcing a leap second: named always, WARNING with --leap-warning on a day
// that has none, as with several servers.
TEST(OffsetCheck, ALeapSecondAnnouncedOnADayThatHasNone) {
  constexpr std::int64_t kJanuary = 1'800'000'000;  // 2027-01-15
  constexpr std::int64_t kJune30 = 1'814'350'000;   // 2027-06-30
  const struct {
    int leap;
    std::int64_t day;
    bool leapWarning;
    State state;
    const char* note;
  } cases[] = {
      {0, kJanuary, true, State::kOk, ""},
      {1, kJanuary, false, State::kOk,
       "; leap second announced by 127.0.0.1:4123 (insert) on a day that has none"},
      {2, kJanuary, true, State::kWarning,
       "; leap second announced by 127.0.0.1:4123 (delete) on a day that has none"},
      {1, kJune30, true, State::kOk, "; leap second announced by 127.0.0.1:4123 (insert)"},
  };
  for (const auto& c : cases) {
    Script s;
    QueryOutcome a = Answer(0, 2);
    a.leap = c.leap;
    s.answers = {a};
    OffsetRequest r = Request();
    r.leapWarning = c.leapWarning;
    r.utcMicros = [&c] { return c.day * 1'000'000; };
    const auto v = CheckOffset(r, s.Query());
    EXPECT_EQ(v.state, c.state) << v.line;
    EXPECT_EQ(v.line.substr(0, v.line.find('|')),
              std::string("Offset 0.000000 seconds (127.0.0.1:4123, SNTP, stratum 2)") + c.note);
  }
}

TEST(OffsetCheck, AGrapherReadsThePerformanceDataToTheSameStateAsTheLine) {
  // A grapher evaluates the thresholds of performance data on the signed value by the
  // guidelines' range rules; the check judges the absolute offset. A threshold typed as a lone
  // number must therefore travel as the symmetric range it stands for; a range of the
  // administrator's own travels as given.
  const struct {
    const char* warning;
    const char* critical;
    std::int64_t micros;
    const char* performance;  // the thresholds as written
  } cases[] = {
      {"0.5", "1", -21, "-0.5:0.5;-1:1"},
      {"0.5", "1", -700000, "-0.5:0.5;-1:1"},
      {"0.5", "1", -1900000, "-0.5:0.5;-1:1"},
      {"0.5", "1", 700000, "-0.5:0.5;-1:1"},
      {"+2", "@0.000001", -21, "-2:2;@-0.000001:0.000001"},
      {"0.5", "~:1", -21, "-0.5:0.5;~:1"},
  };
  for (const auto& c : cases) {
    Script s;
    s.answers = {Answer(c.micros)};
    OffsetRequest r = Request();
    r.warning = Range(c.warning);
    r.critical = Range(c.critical);
    const auto v = CheckOffset(r, s.Query());
    const std::string data = v.line.substr(v.line.find("|offset=") + 8);
    const std::size_t unit = data.find("s;");
    const double value = std::stod(data.substr(0, unit));
    const std::string thresholds = data.substr(unit + 2);
    EXPECT_EQ(thresholds, c.performance) << v.line;
    const std::size_t semicolon = thresholds.find(';');
    const ThresholdRange warning = Range(thresholds.substr(0, semicolon));
    const ThresholdRange critical = Range(thresholds.substr(semicolon + 1));
    const State read = critical.Alerts(value)  ? State::kCritical
                       : warning.Alerts(value) ? State::kWarning
                                               : State::kOk;
    EXPECT_EQ(read, v.state) << v.line;
  }
}

TEST(OffsetCheck, TwoServersJudgeTheirDifferenceAndShareTheBudget) {
  Script s;
  s.answers = {Answer(1900000, 2, 10), Answer(1200000, 3, 10)};
  OffsetRequest r = Request();
  r.second = brevun::cli::OffsetServer{TimeHost{u"::1", 123}, Source::kSntp};
  std::vector<std::string> announced;
  r.beforeQuery = [&](State, const std::string& line) { announced.push_back(line); };
  const auto v = CheckOffset(r, s.Query());
  EXPECT_EQ(v.state, State::kWarning);
  EXPECT_EQ(v.line,
            "Offset 0.700000 seconds between 127.0.0.1:4123 (SNTP, stratum 2) and [::1]:123 (SNTP, "
            "stratum 3)|offset=0.700000s;-0.5:0.5;-1:1");
  // A silent first server leaves the second half of the time; the second gets what is left.
  ASSERT_EQ(s.seen.size(), 2u);
  EXPECT_EQ(s.seen[0].milliseconds, 1475);
  EXPECT_GE(s.seen[1].milliseconds, 2900);
  // The watchdog names the server being asked at the moment.
  ASSERT_EQ(announced.size(), 2u);
  EXPECT_EQ(announced[0], "No answer from 127.0.0.1:4123 within 3 s");
  EXPECT_EQ(announced[1], "No answer from [::1]:123 within 3 s");
}

TEST(OffsetCheck, ExpectedOffsetIsSubtractedBeforeJudging) {
  Script s;
  s.answers = {Answer(5000012)};
  OffsetRequest r = Request();
  r.expectedMicros = 5000000;
  r.expectedText = "5";
  const auto v = CheckOffset(r, s.Query());
  EXPECT_EQ(v.state, State::kOk);
  EXPECT_EQ(v.line.substr(0, v.line.find('|')),
            "Offset 0.000012 seconds from the expected 5 (127.0.0.1:4123, SNTP)");
}

TEST(OffsetCheck, FailuresAreOnePlainSentenceWithTheirState) {
  const struct {
    QueryFailure::Kind kind;
    bool quiet;
    AddressFamily family;
    State state;
    const char* line;
  } cases[] = {
      {QueryFailure::Kind::kTimeout, false, AddressFamily::kAny, State::kCritical,
       "No answer from 127.0.0.1:4123 within 3 s"},
      {QueryFailure::Kind::kTimeout, true, AddressFamily::kAny, State::kUnknown,
       "No answer from 127.0.0.1:4123 within 3 s"},
      {QueryFailure::Kind::kRefused, false, AddressFamily::kAny, State::kCritical,
       "Connection refused by 127.0.0.1:4123"},
      {QueryFailure::Kind::kRefused, true, AddressFamily::kAny, State::kUnknown,
       "Connection refused by 127.0.0.1:4123"},
      {QueryFailure::Kind::kMalformed, false, AddressFamily::kAny, State::kCritical, "described"},
      {QueryFailure::Kind::kNetwork, true, AddressFamily::kAny, State::kUnknown, "described"},
      // Not a verdict about any clock: UNKNOWN with or without -q.
      {QueryFailure::Kind::kUnknownHost, false, AddressFamily::kAny, State::kUnknown,
       "Cannot resolve 127.0.0.1"},
      {QueryFailure::Kind::kUnknownHost, false, AddressFamily::kIPv6, State::kUnknown,
       "Cannot resolve 127.0.0.1 to an IPv6 address"},
  };
  for (const auto& c : cases) {
    Script s;
    s.failures = {QueryFailure(c.kind, u"described")};
    OffsetRequest r = Request();
    r.quiet = c.quiet;
    r.family = c.family;
    const auto v = CheckOffset(r, s.Query());
    EXPECT_EQ(v.state, c.state) << c.line;
    EXPECT_EQ(v.line, c.line);
    EXPECT_EQ(s.seen.at(0).family, c.family);
  }
}

TEST(OffsetCheck, ServersWithoutUsableTimeAreCriticalEvenWhenQuiet) {
  QueryOutcome kiss;
  kiss.notification = true;
  kiss.code = brevun::kNotifyKissOfDeath;
  kiss.description = u"Kiss-o'-death from 127.0.0.1:4123: DENY";
  QueryOutcome leap = kiss;
  leap.code = brevun::kNotifyUnsynchronised;
  leap.leap = 3;
  leap.description = u"Unsynchronised: 127.0.0.1:4123 has no synchronised time (leap indicator 3)";
  QueryOutcome stratum16 = leap;
  stratum16.leap = 0;
  stratum16.description = u"Unsynchronised: 127.0.0.1:4123 has no synchronised time (stratum 16)";
  QueryOutcome kissWithId = kiss;
  kissWithId.referenceId = u"RATE";
  const struct {
    QueryOutcome answer;
    const char* line;
  } cases[] = {
      {kiss, "Server 127.0.0.1:4123 sent a kiss-o'-death (DENY)"},
      {kissWithId, "Server 127.0.0.1:4123 sent a kiss-o'-death (RATE)"},
      {leap, "Server 127.0.0.1:4123 is not synchronised (leap indicator 3)"},
      {stratum16, "Server 127.0.0.1:4123 is not synchronised (stratum 16)"},
  };
  for (const auto& c : cases) {
    Script s;
    s.answers = {c.answer};
    OffsetRequest r = Request();
    r.quiet = true;
    const auto v = CheckOffset(r, s.Query());
    EXPECT_EQ(v.state, State::kCritical);
    EXPECT_EQ(v.line, c.line);
  }
}

// --nts: the same judgement of the offset, the certificate's days left, and NTS's own sentences.
TEST(OffsetCheck, NtsLinesStatesAndCertificateDays) {
  constexpr std::int64_t kNow = 1'800'000'000;  // Unix seconds
  constexpr std::int64_t kDay = 86400;
  QueryOutcome time = Answer(-12, 8, 91);
  time.server = u"127.0.0.1:123";
  const auto answer = [&](std::int64_t notAfter, bool outOfDateHere) {
    brevun::cli::OffsetAnswer a(time);
    a.nts = brevun::cli::NtsFacts{3600, notAfter, outOfDateHere};
    return a;
  };
  const std::string ok = "Offset -0.000012 seconds (127.0.0.1:123, NTS, stratum 8)";
  const std::string data =
      "|offset=-0.000012s;-0.5:0.5;-1:1 delay=0.000091s stratum=8 "
      "ke_time=0.003600s cert_days=";
  const struct {
    std::int64_t notAfter;
    std::optional<int> warningDays;
    State state;
    std::string line;
    bool outOfDateHere = false;
  } answered[] = {
      {kNow + 41 * kDay, std::nullopt, State::kOk, ok + data + "41"},
      {kNow + 41 * kDay, 41, State::kOk, ok + data + "41;41:"},
      {kNow + 41 * kDay - 1, 41, State::kWarning,
       ok + "; the certificate of ntp.test expires in 40 days" + data + "40;41:"},
      {kNow + kDay, 7, State::kWarning,
       ok + "; the certificate of ntp.test expires in 1 day" + data + "1;7:"},
      {kNow + 5, 7, State::kWarning,
       ok + "; the certificate of ntp.test expires within a day" + data + "0;7:"},
      // Out of date by our clock, not at the server's time: never OK, whatever the offset.
      {kNow - kDay, 7, State::kCritical,
       ok + "; the certificate of ntp.test only looked out of date by this machine's clock" + data +
           "-1;7:",
       true},
  };
  for (const auto& c : answered) {
    OffsetRequest r = Request();
    r.first.host = TimeHost{u"ntp.test", 4460};
    r.nts = true;
    r.certWarningDays = c.warningDays;
    r.utcMicros = [] { return kNow * 1'000'000 + 999'999; };
    const auto v = CheckOffset(r, [&](Source, const TimeHost&, const QueryOptions&) {
      return answer(c.notAfter, c.outOfDateHere);
    });
    EXPECT_EQ(v.state, c.state) << c.line;
    EXPECT_EQ(v.line, c.line);
  }

  // -q keeps UNKNOWN for an offset that could not be had, never for a refusal to authenticate.
  const struct {
    QueryFailure::Kind kind;
    const char16_t* description;
    bool quiet;
    State state;
    const char* line;
  } failed[] = {
      {QueryFailure::Kind::kAuthentication,
       u"TLS handshake with ntp.test:4460 failed: the certificate has expired", true,
       State::kCritical, "TLS handshake with ntp.test:4460 failed: the certificate has expired"},
      {QueryFailure::Kind::kAuthentication,
       u"Server 127.0.0.1:123 sent an NTS NAK: it cannot use our cookie", false, State::kCritical,
       "Server 127.0.0.1:123 sent an NTS NAK: it cannot use our cookie"},
      {QueryFailure::Kind::kTimeout,
       u"Timeout: no answer from ntp.test:4460 within 3 s (the TLS handshake did not finish)", true,
       State::kUnknown,
       "No answer from ntp.test:4460 within 3 s (the TLS handshake did not finish)"},
      {QueryFailure::Kind::kTimeout, u"Timeout: no answer from 127.0.0.1:123 within 3 s", false,
       State::kCritical, "No answer from 127.0.0.1:123 within 3 s"},
      {QueryFailure::Kind::kRefused, u"Connection refused by ntp.test:4460", true, State::kUnknown,
       "Connection refused by ntp.test:4460"},
      {QueryFailure::Kind::kUnknownHost, u"Unknown host: ntp.test (no such name)", false,
       State::kUnknown, "Cannot resolve ntp.test"},
  };
  for (const auto& c : failed) {
    Script s;
    s.failures = {QueryFailure(c.kind, c.description)};
    OffsetRequest r = Request();
    r.nts = true;
    r.quiet = c.quiet;
    const auto v = CheckOffset(r, s.Query());
    EXPECT_EQ(v.state, c.state) << c.line;
    EXPECT_EQ(v.line, c.line);
  }
}

TEST(OffsetCheck, VerboseTellsTheQueryAndTheAnswer) {
  Script s;
  QueryOutcome a = Answer(250, 1, 40);
  a.leap = 0;
  a.referenceId = u"GPS";
  s.answers = {a};
  OffsetRequest r = Request();
  std::vector<std::string> lines;
  r.verbose = [&](const std::string& line) { lines.push_back(line); };
  CheckOffset(r, s.Query());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SNTP query to 127.0.0.1:4123 within 2950 ms");
  EXPECT_EQ(lines[1],
            "127.0.0.1:4123: offset 0.000250 s, delay 0.000040 s, stratum 1, leap indicator 0, "
            "reference id GPS");
  // The trace of the query itself reaches the same reader.
  ASSERT_TRUE(s.seen.at(0).trace);
  s.seen.at(0).trace(u"sent");
  EXPECT_EQ(lines.back(), "sent");
}

TEST(OffsetCheck, OptionsBuildTheRequest) {
  using brevun::cli::OffsetRequestFor;
  using brevun::cli::ParseArguments;
  const auto r = OffsetRequestFor(
      ParseArguments({"-H", "a", "-p", "1123", "--second-host", "[::1]:9", "--second-protocol",
                      "time", "-t", "3", "-o", "-0.25", "-6"}));
  EXPECT_EQ(r.first.host.Text(), u"a:1123");
  ASSERT_TRUE(r.second);
  EXPECT_EQ(r.second->host.Text(), u"[::1]:9");
  EXPECT_EQ(r.second->protocol, Source::kTime);
  EXPECT_EQ(r.family, AddressFamily::kIPv6);
  EXPECT_EQ(r.budgetMillis, 3000 - brevun::cli::kRunMarginMillis);
  EXPECT_EQ(r.expectedMicros, -250000);
  EXPECT_EQ(r.warning.text(), "60");
  EXPECT_EQ(r.critical.text(), "120");
  EXPECT_EQ(OffsetRequestFor(ParseArguments({"-H", "b", "--protocol", "time"})).first.host.port,
            37);
  EXPECT_THROW(OffsetRequestFor(ParseArguments({"-H", " "})), brevun::cli::UsageError);
  EXPECT_THROW(OffsetRequestFor(ParseArguments({"-H", "a:0"})), brevun::cli::UsageError);
}

TEST(OffsetCheck, NtsOptions) {
  using brevun::cli::ParseArguments;
  using brevun::cli::UsageError;
  // -H names the key establishment server, on --nts-port unless its text has a port.
  const auto r = brevun::cli::OffsetRequestFor(
      ParseArguments({"--nts", "-H", "ntp.test", "--nts-cert-warning", "14"}));
  EXPECT_TRUE(r.nts);
  EXPECT_EQ(r.first.host.Text(), u"ntp.test:4460");
  EXPECT_EQ(r.certWarningDays, 14);
  EXPECT_EQ(brevun::cli::OffsetRequestFor(
                ParseArguments({"--nts", "-H", "ntp.test", "--nts-port", "4461"}))
                .first.host.Text(),
            u"ntp.test:4461");
  const auto several = brevun::cli::ConsensusRequestFor(
      ParseArguments({"--nts", "-H", "a", "-H", "b:99", "--nts-port", "4461"}));
  EXPECT_TRUE(several.nts);
  EXPECT_EQ(several.hosts.at(0).Text(), u"a:4461");
  EXPECT_EQ(several.hosts.at(1).Text(), u"b:99");

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-H", "a", "--nts-ca", "/dev/null"},  // NTS's options need --nts
           {"-H", "a", "--nts-server-name", "b"},
           {"--nts", "-H", "a", "--protocol", "time"},
           {"--nts", "-H", "a", "--second-host", "b"},
           {"--nts", "-H", "a", "-p", "123"},
           {"--nts", "-P", "#FPR=local#SPR=local#"},
           {"--nts", "-H", "a", "--raw"},
           {"--nts", "-H", "a", "--print-parameter"},
           {"--nts", "-H", "a", "--nts-ca", "/nonexistent/ca.pem"},
           {"--nts", "-H", "a", "--nts-ca", "/"},            // a folder opens, but cannot be read
           {"--nts", "-H", "a", "--nts-ca", "/etc/passwd"},  // no certificate in it
           {"--nts", "-H", "a", "--nts-cert-warning", "0"},
           {"--nts", "-H", "a", "--nts-port", "0"},
           {"--nts", "-H", "a", "--nts-server-name", ""}}) {
    EXPECT_THROW(ParseArguments(args), UsageError)
        << args.at(args.size() - 2) << " " << args.back();
  }
}

TEST(OffsetCheck, MeasurementOptionsDoNotReachTheComponentsCheck) {
  using brevun::cli::ParseArguments;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-P", "#FPR=local#SPR=local#", "-p", "123"},
                                             {"-P", "#FPR=local#SPR=local#", "-q"},
                                             {"-H", "a", "--raw", "-o", "1"},
                                             {"-H", "a", "--print-parameter", "-4"},
                                             {"-H", "a", "-4=x"}}) {
    EXPECT_THROW(ParseArguments(args), brevun::cli::UsageError) << args.back();
  }
  // The component's check reads -w as plain seconds, as it always has.
  EXPECT_EQ(ParseArguments({"-P", "#FPR=local#", "-w", "-3"}).warning, -3.0);
  EXPECT_TRUE(brevun::cli::MeasuresOffset(ParseArguments({"-H", "a"})));
  EXPECT_FALSE(brevun::cli::MeasuresOffset(ParseArguments({"-H", "a", "--raw"})));
}

}  // namespace
