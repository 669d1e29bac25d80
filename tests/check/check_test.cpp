#include "check/check.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "check/failure.h"
#include "check/text.h"

namespace {

using brevun::FromCivil;
using brevun::FromUtf8;
using brevun::LocalSeconds;

const LocalSeconds kNoon = FromCivil({2026, 1, 1, 12, 0, 0});

// Hands out the readings it was given, in order; the check must not read more often than that.
class ScriptedClock final : public brevun::LocalClock {
 public:
  explicit ScriptedClock(std::deque<LocalSeconds> readings) : readings_(std::move(readings)) {}
  LocalSeconds Now() override {
    if (readings_.empty()) throw std::logic_error("clock read more often than expected");
    const auto t = readings_.front();
    readings_.pop_front();
    return t;
  }
  bool exhausted() const { return readings_.empty(); }

 private:
  std::deque<LocalSeconds> readings_;
};

struct FetchCall {
  std::u16string server;
  std::u16string protocol;
  std::int16_t timeout;
};

class FakeFetcher final : public brevun::TimeFetcher {
 public:
  std::vector<std::u16string> responses;
  std::vector<FetchCall> calls;
  bool DoRFCProtocol(const std::u16string& server, const std::u16string& protocol,
                     std::int16_t timeout, std::u16string& response) override {
    calls.push_back({server, protocol, timeout});
    response = responses.at(calls.size() - 1);
    return response.rfind(u"ERR: ", 0) != 0;
  }
};

class FakeHost final : public brevun::CheckHost {
 public:
  explicit FakeHost(std::u16string text) : parameter(std::move(text)) {}

  std::u16string parameter;
  bool parameterIsNull = false;
  std::function<std::int16_t()> timeout = [] { return std::int16_t{0}; };
  bool hasForm = true;
  int failWrites = 0;  // how many result writes fail before one succeeds

  FakeFetcher fetcher;
  std::u16string currentParameter = u"untouched";
  int parameterReads = 0;
  std::vector<std::u16string> writes;

  void SaveCurrentParameter() override { currentParameter = parameter; }
  void CopyTimeout() override {}
  std::u16string ParameterText() override {
    ++parameterReads;
    if (parameterIsNull) throw brevun::Failure(brevun::FailureKind::kInvalidUseOfNull);
    return parameter;
  }
  std::int16_t TimeoutForFetch() override { return timeout(); }
  brevun::TimeFetcher* Fetcher() override { return hasForm ? &fetcher : nullptr; }
  void WriteResult(const std::u16string& text) override {
    if (failWrites > 0) {
      --failWrites;
      throw brevun::Failure(u"Permission denied");
    }
    writes.push_back(text);
  }
  std::string result() const { return writes.empty() ? "<none>" : brevun::ToUtf8(writes.back()); }
};

struct Outcome {
  bool verdict;
  std::string result;
};

Outcome RunCheck(FakeHost& host, std::deque<LocalSeconds> readings) {
  ScriptedClock clock(std::move(readings));
  brevun::IsoDateTimeText text;
  const bool verdict = brevun::DoCheck(host, brevun::CheckPlatform{clock, text});
  EXPECT_TRUE(clock.exhausted()) << "clock read fewer times than expected";
  EXPECT_EQ(host.writes.size(), 1u) << "zt_result must be written exactly once";
  return {verdict, host.result()};
}

std::string Iso(LocalSeconds t) { return brevun::ToUtf8(brevun::IsoDateTimeText().Render(t)); }

TEST(Check, LocalAgainstLocalAroundSecondBoundaries) {
  // Readings: start, first source, second source, end.
  const struct {
    std::deque<LocalSeconds> readings;
    const char* d;
  } cases[] = {
      {{kNoon, kNoon, kNoon, kNoon}, " 0"},
      {{kNoon, kNoon + 1, kNoon + 1, kNoon + 1}, "-1"},  // boundary before the first reading
      {{kNoon, kNoon, kNoon + 1, kNoon + 1}, "-2"},      // boundary between the readings
      {{kNoon, kNoon, kNoon, kNoon + 1}, "-1"},          // boundary after the second reading
  };
  for (const auto& c : cases) {
    FakeHost host(u"#FTS=#FPR=local#STS=#SPR=local#");
    const auto out = RunCheck(host, c.readings);
    EXPECT_TRUE(out.verdict) << out.result;
    EXPECT_EQ(out.result, std::string("Time is correct  D=") + c.d + "  F=" + Iso(c.readings[1]) +
                              "  S= " + Iso(c.readings[2]));
  }
}

TEST(Check, ServerTimesAgainstTheLimit) {
  // First 12:00:10, second 12:00:00, acquisition 2 s: D = 8.
  const auto t10 = u"2026-01-01 12:00:10";
  const auto t00 = u"2026-01-01 12:00:00";
  const struct {
    const char16_t* first;
    const char16_t* second;
    const char* dis;
    bool verdict;
    const char* d;
  } cases[] = {
      {t10, t00, "7", false, " 8"},  {t10, t00, "8", true, " 8"},
      {t10, t00, "8.9", true, " 8"}, {t10, t00, "7.99", false, " 8"},
      {t10, t00, "", false, " 8"},   {t10, t00, "letters", false, " 8"},
      {t10, t00, "1E3", true, " 8"}, {t10, t00, "&H8", true, " 8"},
      // Swapped: D = -12. Clocks that agree within 0 s can show at most -(2*2+1) here.
      {t00, t10, "0", false, "-12"}, {t00, t10, "7", true, "-12"},
      {t00, t10, "6", false, "-12"}, {t00, t10, "-1", false, "-12"},
  };
  for (const auto& c : cases) {
    FakeHost host(u"#FTS=one#FPR=sntp#STS=two#SPR=time#DIS=" + FromUtf8(c.dis) + u"#");
    host.fetcher.responses = {c.first, c.second};
    const auto out = RunCheck(host, {kNoon, kNoon + 2});
    EXPECT_EQ(out.verdict, c.verdict) << c.dis << " " << out.result;
    EXPECT_EQ(out.result, std::string(c.verdict ? "Time is correct" : "Time difference is too big") +
                              "  D=" + c.d + "  F=" + brevun::ToUtf8(c.first) + "  S= " +
                              brevun::ToUtf8(c.second));
  }
}

TEST(Check, FlooredLimitsFromTheDifferenceTag) {
  // With D = 2 (texts 2 s apart, no acquisition time) the verdict shows where the limit lies.
  const struct {
    const char* dis;
    bool verdict;
  } cases[] = {{"2.9", true}, {"1.9", false}, {"-0.5", false}, {"1 5", true}, {" 2 ", true}};
  for (const auto& c : cases) {
    FakeHost host(u"#FPR=time#SPR=time#DIS=" + FromUtf8(c.dis));
    host.fetcher.responses = {u"2026-01-01 12:00:02", u"2026-01-01 12:00:00"};
    EXPECT_EQ(RunCheck(host, {kNoon, kNoon}).verdict, c.verdict) << c.dis;
  }
}

TEST(Check, FetchGetsServerCodeAndTimeoutUnchanged) {
  FakeHost host(u"#FTS= alpha #FPR=time#STS=#SPR=sntp#");
  host.timeout = [] { return std::int16_t{7}; };
  host.fetcher.responses = {u"2026-01-01 12:00:00", u"2026-01-01 12:00:00"};
  EXPECT_TRUE(RunCheck(host, {kNoon, kNoon}).verdict);
  ASSERT_EQ(host.fetcher.calls.size(), 2u);
  EXPECT_EQ(host.fetcher.calls[0].server, u" alpha ");
  EXPECT_EQ(host.fetcher.calls[0].protocol, u"time");
  EXPECT_EQ(host.fetcher.calls[1].server, u"");
  EXPECT_EQ(host.fetcher.calls[1].protocol, u"sntp");
  EXPECT_EQ(host.fetcher.calls[1].timeout, 7);
  EXPECT_EQ(host.parameterReads, 5);  // the parameter is read anew for every tag
}

TEST(Check, FailingStepsAndTheirTexts) {
  const std::u16string ok = u"2026-01-01 12:00:00";
  const struct {
    const char* name;
    std::function<void(FakeHost&)> setup;
    std::deque<LocalSeconds> readings;
    const char* result;
  } cases[] = {
      {"null parameter", [](FakeHost& h) { h.parameterIsNull = true; }, {},
       "ERR: Invalid use of Null( 40)"},
      {"limit overflows", [](FakeHost& h) { h.parameter = u"#FPR=local#SPR=local#DIS=1E400#"; }, {},
       "ERR: Overflow( 60)"},
      {"no form for the first fetch",
       [](FakeHost& h) {
         h.parameter = u"#FPR=sntp#SPR=local#";
         h.hasForm = false;
       },
       {kNoon}, "ERR: time server sources are not available here( 140)"},
      {"timeout does not convert",
       [](FakeHost& h) {
         h.parameter = u"#FPR=local#SPR=time#";
         h.timeout = []() -> std::int16_t { throw brevun::Failure(brevun::FailureKind::kOverflow); };
       },
       {kNoon, kNoon}, "ERR: Overflow( 230)"},
      {"wmi", [](FakeHost& h) { h.parameter = u"#FPR=wmi#SPR=local#"; }, {kNoon, kNoon, kNoon},
       "ERR: first time text is empty: source \"wmi\" acquires no time( 290)"},
      {"ssh second", [](FakeHost& h) { h.parameter = u"#FPR=local#SPR=ssh#"; },
       {kNoon, kNoon, kNoon}, "ERR: second time text is empty: source \"ssh\" acquires no time( 290)"},
      {"capitals", [](FakeHost& h) { h.parameter = u"#FPR=LOCAL#SPR=local#"; },
       {kNoon, kNoon, kNoon},
       "ERR: first time text is empty: source \"LOCAL\" is not a known source code( 290)"},
      {"empty parameter", [](FakeHost& h) { h.parameter = u""; }, {kNoon, kNoon},
       "ERR: first time text is empty: source \"\" is not a known source code( 290)"},
      {"fetch error text",
       [ok](FakeHost& h) {
         h.parameter = u"#FPR=local#SPR=sntp#STS=10.0.0.1#";
         h.fetcher.responses = {u"ERR: Timeout: no answer from 10.0.0.1:123 within 2 s (60)"};
       },
       {kNoon, kNoon, kNoon},
       "ERR: second time text \"ERR: Timeout: no answer from 10.0.0.1:123 within 2 s (60)\" is not "
       "a date-time( 290)"},
      {"empty time read",
       [](FakeHost& h) {
         h.parameter = u"#FPR=time#SPR=local#";
         h.fetcher.responses = {u""};
       },
       {kNoon, kNoon, kNoon}, "ERR: first time text is empty: source \"time\" returned no time( 290)"},
      {"difference beyond 32 bits",
       [](FakeHost& h) {
         h.parameter = u"#FPR=time#SPR=time#";
         h.fetcher.responses = {u"9999-12-31 23:59:59", u"0100-01-01 00:00:00"};
       },
       {kNoon, kNoon}, "ERR: Overflow( 290)"},
      {"result write fails once",
       [](FakeHost& h) {
         h.parameter = u"#FPR=local#SPR=local#";
         h.failWrites = 1;
       },
       {kNoon, kNoon, kNoon, kNoon}, "ERR: Permission denied( 380)"},
  };
  for (const auto& c : cases) {
    FakeHost host(u"");
    c.setup(host);
    const auto out = RunCheck(host, c.readings);
    EXPECT_FALSE(out.verdict) << c.name;
    EXPECT_EQ(out.result, c.result) << c.name;
    EXPECT_EQ(host.currentParameter, host.parameter) << c.name;
  }
}

TEST(Check, FailurePathWriteThatFailsEscapes) {
  FakeHost host(u"#FPR=wmi#");
  host.failWrites = 2;
  ScriptedClock clock({kNoon, kNoon});
  brevun::IsoDateTimeText text;
  EXPECT_THROW(brevun::DoCheck(host, brevun::CheckPlatform{clock, text}), brevun::Failure);
}

TEST(Check, WithinLimitIsTwoSided) {
  const struct {
    long long d;
    double limit;
    long long acquisition;
    bool within;
  } cases[] = {
      {0, 0, 0, true},      {-1, 0, 0, true},    {-2, 0, 0, false},   {-2, 0, 1, true},
      {-3, 0, 1, true},     {-4, 0, 1, false},   {8, 8, 2, true},     {9, 8, 2, false},
      {-13, 8, 2, true},    {-14, 8, 2, false},  {-1, -1, 0, true},   {0, -1, 0, false},
      {-2, -1, 0, false},   {-100, 1e300, 0, true}, {5, 10, -3, true}, {-2, 0, -3, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(brevun::WithinLimit(c.d, c.limit, c.acquisition), c.within)
        << "D " << c.d << " limit " << c.limit << " A " << c.acquisition;
  }
}

}  // namespace

namespace {

TEST(Check, OutcomeTellsServerFailuresFromUnusableSources) {
  const struct {
    const char16_t* parameter;
    std::vector<std::u16string> responses;
    std::deque<LocalSeconds> readings;
    int failedStep;
    bool serverFailed;
  } cases[] = {
      {u"#FPR=sntp#SPR=local#", {u"ERR: Timeout (60)"}, {kNoon, kNoon, kNoon}, 290, true},
      {u"#FPR=local#SPR=time#", {u"Kiss-o'-death from 127.0.0.1:123: RATE"}, {kNoon, kNoon, kNoon},
       290, true},
      {u"#FPR=wmi#SPR=sntp#", {u"2026-01-01 12:00:00"}, {kNoon, kNoon}, 290, false},
      {u"#FPR=local#SPR=local#DIS=1E999#", {}, {}, 60, false},
  };
  for (const auto& c : cases) {
    FakeHost host(c.parameter);
    host.fetcher.responses = c.responses;
    ScriptedClock clock(c.readings);
    brevun::IsoDateTimeText text;
    brevun::CheckOutcome outcome;
    EXPECT_FALSE(brevun::DoCheck(host, brevun::CheckPlatform{clock, text}, &outcome));
    EXPECT_EQ(outcome.failedStep, c.failedStep) << brevun::ToUtf8(c.parameter);
    EXPECT_EQ(outcome.serverFailed, c.serverFailed) << brevun::ToUtf8(c.parameter);
    EXPECT_FALSE(outcome.completed);
  }

  FakeHost host(u"#FPR=time#SPR=local#DIS=9.5#");
  host.fetcher.responses = {u"2026-01-01 12:00:09"};
  ScriptedClock clock({kNoon, kNoon + 1, kNoon + 3});
  brevun::IsoDateTimeText text;
  brevun::CheckOutcome outcome;
  EXPECT_TRUE(brevun::DoCheck(host, brevun::CheckPlatform{clock, text}, &outcome));
  EXPECT_TRUE(outcome.completed);
  EXPECT_EQ(outcome.failedStep, 0);
  EXPECT_EQ(outcome.d, 9 - 1 - 3);
  EXPECT_EQ(outcome.acquisition, 3);
  EXPECT_EQ(outcome.limit, 9);
}

}  // namespace
