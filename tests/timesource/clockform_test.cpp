#include "timesource/clockform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/failure.h"
#include "check/text.h"
#include "timesource/timequery.h"

namespace brevun {
namespace {

// A clock that records what the form asks of it and does what the test scripts.
class FakeClock final : public ClockControl {
 public:
  void PutTimeout(std::int16_t seconds) override { Call("timeout " + std::to_string(seconds)); }
  void PutProtocol(std::int32_t selector) override { Call("protocol " + std::to_string(selector)); }
  void PutTimeHost(const std::u16string& host) override { Call("host " + ToUtf8(host)); }
  void Query() override {
    if (notifyDuringQuery) Raise(*notifyDuringQuery);
    Call("query");
  }
  std::optional<LocalSeconds> Time() const override {
    const_cast<FakeClock*>(this)->Call("time");
    return time;
  }
  void SetErrorHandler(ErrorHandler handler) override { handler_ = std::move(handler); }
  void Raise(const std::u16string& description) { handler_(kNotifyKissOfDeath, description); }

  std::vector<std::string> calls;
  std::string failAt;  // the operation that throws: "timeout", "protocol", ...
  std::optional<std::u16string> notifyDuringQuery;
  std::optional<LocalSeconds> time = FromCivil({2031, 5, 6, 7, 8, 9});

 private:
  void Call(const std::string& what) {
    calls.push_back(what);
    if (what.substr(0, what.find(' ')) == failAt) throw Failure(u"boom");
  }
  ErrorHandler handler_;
};

class ClockFormTest : public ::testing::Test {
 protected:
  ClockFormTest() {
    auto clock = std::make_unique<FakeClock>();
    fake = clock.get();
    form = std::make_unique<ClockForm>(text, std::move(clock));
  }
  std::string Fetch(const std::u16string& server = u"ntp.example.org",
                    const std::u16string& protocol = u"sntp", std::int16_t timeout = 5) {
    response = u"left over from before";
    result = form->DoRFCProtocol(server, protocol, timeout, response);
    return ToUtf8(response);
  }
  IsoDateTimeText text;
  FakeClock* fake = nullptr;
  std::unique_ptr<ClockForm> form;
  std::u16string response;
  bool result = false;
};

TEST_F(ClockFormTest, AQueryDrivesTheClockInOrderAndRendersItsTime) {
  EXPECT_EQ(Fetch(u"host:1", u"sntp", 7), "2031-05-06 07:08:09");
  EXPECT_TRUE(result);
  EXPECT_EQ(fake->calls,
            (std::vector<std::string>{"timeout 7", "protocol 1", "host host:1", "query", "time"}));
}

TEST_F(ClockFormTest, OnlyTimeExactlySelectsTheTimeProtocol) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"time", "protocol 0"},  {u"sntp", "protocol 1"}, {u"TIME", "protocol 1"},
      {u"Time", "protocol 1"},  {u"", "protocol 1"},     {u"wmi", "protocol 1"},
      {u"time ", "protocol 1"},
  };
  for (const auto& [code, selector] : cases) {
    fake->calls.clear();
    Fetch(u"h", code);
    EXPECT_EQ(fake->calls.at(1), selector) << ToUtf8(code);
  }
}

TEST_F(ClockFormTest, TheServerIsHandedOnUnchangedEvenWhenEmpty) {
  for (const char16_t* server : {u"", u"  padded  "}) {
    fake->calls.clear();
    Fetch(server);
    EXPECT_EQ(fake->calls.at(2), "host " + ToUtf8(server));
  }
}

TEST_F(ClockFormTest, AnEmptyTimeReadGivesAnEmptyTextAndTrue) {
  fake->time.reset();
  EXPECT_EQ(Fetch(), "");
  EXPECT_TRUE(result);
}

TEST_F(ClockFormTest, ANotificationDuringTheQueryIsTheResponseWithoutPrefix) {
  fake->notifyDuringQuery = u"Kiss-o'-death from h:123: RATE";
  EXPECT_EQ(Fetch(), "Kiss-o'-death from h:123: RATE");
  EXPECT_TRUE(result);
  EXPECT_TRUE(form->blnClockError);
  // The time is not read when the clock complained.
  EXPECT_EQ(fake->calls.back(), "query");
}

TEST_F(ClockFormTest, ANotificationBetweenTwoCallsDoesNotAffectTheNext) {
  Fetch();
  fake->Raise(u"late news");
  EXPECT_TRUE(form->blnClockError);
  EXPECT_EQ(Fetch(), "2031-05-06 07:08:09");
  EXPECT_TRUE(result);
  EXPECT_FALSE(form->blnClockError);
  EXPECT_EQ(ToUtf8(form->strClockError), "late news");  // kept, never cleared
}

TEST_F(ClockFormTest, AFailingStepGivesTheErrTextWithItsNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"timeout", "ERR: boom (30)"}, {"protocol", "ERR: boom (40)"}, {"host", "ERR: boom (50)"},
      {"query", "ERR: boom (60)"},   {"time", "ERR: boom (80)"},
  };
  for (const auto& [operation, expected] : cases) {
    fake->failAt = operation;
    EXPECT_EQ(Fetch(), expected);
    EXPECT_FALSE(result) << operation;
  }
}

TEST_F(ClockFormTest, AFailureWinsOverANotificationRaisedInTheSameQuery) {
  fake->notifyDuringQuery = u"Unsynchronised";
  fake->failAt = "query";
  EXPECT_EQ(Fetch(), "ERR: boom (60)");
  EXPECT_FALSE(result);
  EXPECT_TRUE(form->blnClockError);
}

TEST_F(ClockFormTest, ATimeTheTextCannotRenderFailsStep80) {
  class Unrenderable final : public DateTimeText {
    std::u16string Render(LocalSeconds) const override { throw Failure(u"Overflow"); }
    std::optional<LocalSeconds> Parse(std::u16string_view) const override { return {}; }
  } unrenderable;
  ClockForm f(unrenderable, std::make_unique<FakeClock>());
  std::u16string r;
  EXPECT_FALSE(f.DoRFCProtocol(u"h", u"sntp", 1, r));
  EXPECT_EQ(ToUtf8(r), "ERR: Overflow (80)");
}

// The form with its real clock: the clock itself refuses what it cannot use.
TEST(ClockFormWithNetClock, RefusesANegativeTimeoutAtStep30AndNoHostAtStep60) {
  const IsoDateTimeText text;
  ClockForm form(text);
  std::u16string r = u"old";
  EXPECT_FALSE(form.DoRFCProtocol(u"127.0.0.1", u"sntp", -1, r));
  EXPECT_EQ(ToUtf8(r), "ERR: Invalid timeout: -1 s (0 or more seconds; 0 means 10 s) (30)");
  EXPECT_FALSE(form.DoRFCProtocol(u"", u"time", 1, r));
  EXPECT_EQ(ToUtf8(r), "ERR: No time host given (60)");
  EXPECT_FALSE(form.clock().Time().has_value());
}

TEST(NetClock, RefusesSelectorsOtherThanZeroAndOne) {
  NetClock clock;
  EXPECT_NO_THROW(clock.PutProtocol(0));
  EXPECT_NO_THROW(clock.PutProtocol(1));
  EXPECT_THROW(clock.PutProtocol(2), Failure);
  EXPECT_THROW(clock.PutProtocol(-1), Failure);
  EXPECT_NO_THROW(clock.PutTimeout(0));
  EXPECT_NO_THROW(clock.PutTimeout(32767));
}

}  // namespace
}  // namespace brevun
