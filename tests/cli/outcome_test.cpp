// The result-text reader of brevun-check --com. Its answers must be what the check itself
// reports next to the same text, so most cases run the real check and read its text back.
#include "cli/outcome.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/datetime.h"
#include "check/failure.h"
#include "check/text.h"

namespace {

using brevun::CheckOutcome;
using brevun::FromUtf8;
using brevun::LocalSeconds;
using brevun::cli::OutcomeFromResult;

const LocalSeconds kNoon = brevun::FromCivil({2026, 1, 1, 12, 0, 0});

class Clock final : public brevun::LocalClock {
 public:
  explicit Clock(std::deque<LocalSeconds> readings) : readings_(std::move(readings)) {}
  LocalSeconds Now() override {
    if (readings_.empty()) return last_;
    last_ = readings_.front();
    readings_.pop_front();
    return last_;
  }

 private:
  std::deque<LocalSeconds> readings_;
  LocalSeconds last_ = kNoon;
};

// Each fetch hands out the next scripted response.
class Host final : public brevun::CheckHost, public brevun::TimeFetcher {
 public:
  Host(std::u16string parameter, std::vector<std::u16string> responses)
      : parameter_(std::move(parameter)), responses_(std::move(responses)) {}
  void SaveCurrentParameter() override {}
  void CopyTimeout() override {}
  std::u16string ParameterText() override { return parameter_; }
  std::int16_t TimeoutForFetch() override { return 0; }
  brevun::TimeFetcher* Fetcher() override { return this; }
  void WriteResult(const std::u16string& text) override { result = text; }
  bool DoRFCProtocol(const std::u16string&, const std::u16string&, std::int16_t,
                     std::u16string& response) override {
    if (next_ >= responses_.size())
      throw brevun::Failure(u"Object doesn't support this property or method");
    response = responses_[next_++];
    return true;
  }
  std::u16string result;

 private:
  std::u16string parameter_;
  std::vector<std::u16string> responses_;
  std::size_t next_ = 0;
};

TEST(OutcomeFromResult, AgreesWithTheCheckOnItsOwnTexts) {
  const brevun::IsoDateTimeText text;
  const std::u16string at1210 = text.Render(kNoon + 10);
  const std::u16string at1150 = text.Render(kNoon - 600);
  const struct {
    const char* name;
    const char* parameter;
    std::vector<std::u16string> responses;
    std::deque<LocalSeconds> clock;  // start, [local readings], end
  } cases[] = {
      {"server ahead, within",
       "#FTS=a#FPR=sntp#STS=#SPR=local#DIS=30#",
       {at1210},
       {kNoon, kNoon, kNoon + 2}},
      {"server ahead, too big",
       "#FTS=a#FPR=time#STS=#SPR=local#DIS=7#",
       {at1210},
       {kNoon, kNoon, kNoon + 2}},
      {"server behind, lower bound",
       "#FTS=a#FPR=sntp#STS=#SPR=local#DIS=5#",
       {at1150},
       {kNoon, kNoon, kNoon}},
      {"two servers",
       "#FTS=a#FPR=sntp#STS=b#SPR=time#DIS=2.9#",
       {at1210, at1210},
       {kNoon, kNoon + 1}},
      {"first server failed",
       "#FTS=a#FPR=sntp#STS=#SPR=local#DIS=30#",
       {u"ERR: Timeout: no answer from a:123 within 2 s (60)"},
       {}},
      {"second server failed",
       "#FTS=#FPR=local#STS=b#SPR=time#DIS=30#",
       {u"ERR: Connection refused (60)"},
       {}},
      {"server gave nothing", "#FTS=a#FPR=sntp#STS=#SPR=local#", {u""}, {}},
      {"server's notification text",
       "#FTS=a#FPR=sntp#STS=#SPR=local#",
       {u"Kiss-o'-death (RATE)"},
       {}},
      {"wmi", "#FTS=#FPR=wmi#STS=#SPR=local#", {}, {}},
      {"unknown second code", "#FTS=#FPR=local#STS=#SPR=LOCAL#", {}, {}},
      {"limit overflows", "#FPR=local#SPR=local#DIS=1E999#", {}, {}},
      {"no fetch to be had", "#FTS=a#FPR=sntp#STS=b#SPR=sntp#", {at1210}, {}},
      {"empty parameter", "", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Host host(FromUtf8(c.parameter), c.responses);
    Clock clock(c.clock);
    CheckOutcome expected;
    brevun::DoCheck(host, brevun::CheckPlatform{clock, text}, &expected);
    const auto got = OutcomeFromResult(host.result, FromUtf8(c.parameter), expected.acquisition);
    ASSERT_TRUE(got.has_value()) << brevun::ToUtf8(host.result);
    EXPECT_EQ(got->failedStep, expected.failedStep);
    EXPECT_EQ(got->completed, expected.completed);
    EXPECT_EQ(got->serverFailed, expected.serverFailed);
    if (expected.completed) {
      EXPECT_EQ(got->d, expected.d);
      EXPECT_EQ(got->acquisition, expected.acquisition);
      EXPECT_EQ(got->limit, expected.limit);
    }
  }
}

TEST(OutcomeFromResult, ReadsDAndStepsWhateverTheTimeTextsHold) {
  const std::u16string sntp = u"#FTS=a#FPR=sntp#STS=#SPR=local#DIS=10#";
  const struct {
    const char16_t* text;
    bool completed;
    long long d;
    int step;
    bool serverFailed;
  } cases[] = {
      // Time texts in a Windows user's format, or holding the separators themselves.
      {u"Time is correct  D= 0  F=12/8/2026 3:28:51 PM  S= 12/8/2026 3:28:51 PM", true, 0, 0,
       false},
      {u"Time difference is too big  D= 2147483647  F=x  D= 5  S= y", true, 2147483647, 0, false},
      {u"Time is correct  D=-2147483648  F=  S= ", true, -2147483648LL, 0, false},
      // A quoted response may carry parentheses and step numbers of its own.
      {u"ERR: first time text \"ERR: Timeout (60)\" is not a date-time( 290)", false, 0, 290, true},
      {u"ERR: second time text \"12:00( 30)\" is not a date-time( 290)", false, 0, 290, false},
      {u"ERR: Invalid use of Null( 40)", false, 0, 40, false},
      {u"ERR: Type mismatch( 140)", false, 0, 140, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(brevun::ToUtf8(c.text));
    const auto got = OutcomeFromResult(c.text, sntp, 3);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->completed, c.completed);
    EXPECT_EQ(got->failedStep, c.step);
    EXPECT_EQ(got->serverFailed, c.serverFailed);
    if (c.completed) {
      EXPECT_EQ(got->d, c.d);
      EXPECT_EQ(got->acquisition, 3);
      EXPECT_EQ(got->limit, 10);
    }
  }
}

TEST(OutcomeFromResult, RefusesTextsNoCheckWrites) {
  const char16_t* texts[] = {
      u"",
      u"Time is correct",
      u"Time is correct  D=5  F=a  S= b",    // D without its blank
      u"Time is correct  D= -5  F=a  S= b",  // two signs
      u"Time is correct  D=-0  F=a  S= b",
      u"Time is correct  D= 99999999999  F=a  S= b",
      u"Time is correct  D= 5  F=a",  // cut short
      u"time is correct  D= 5  F=a  S= b",
      u"Time is fine  D= 5  F=a  S= b",
      u"ERR: Overflow",
      u"ERR: Overflow(290)",
      u"ERR: Overflow( 290",
      u"ERR: Overflow( 0)",
      u"ERR: Overflow( x)",
      u"Error: Overflow( 60)",
  };
  for (const char16_t* t : texts) {
    EXPECT_FALSE(OutcomeFromResult(t, u"#FPR=sntp#", 0).has_value()) << brevun::ToUtf8(t);
  }
}

}  // namespace
