#include "check/parameter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "check/failure.h"
#include "check/generic.h"
#include "check/number.h"
#include "check/text.h"

namespace {

using brevun::CodeOf;
using brevun::IsTimeServer;
using brevun::IsTimeServerCode;
using brevun::Source;
using brevun::SourceOf;
using brevun::ToUtf8;

TEST(SourceCodes, EachSourceHasOneCodeThatReadsBack) {
  const struct {
    Source source;
    const char16_t* code;
    bool timeServer;
  } cases[] = {
      {Source::kLocal, u"local", false}, {Source::kTime, u"time", true},
      {Source::kSntp, u"sntp", true},    {Source::kWmi, u"wmi", false},
      {Source::kSsh, u"ssh", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CodeOf(c.source), c.code);
    EXPECT_EQ(SourceOf(c.code), c.source) << ToUtf8(c.code);
    EXPECT_EQ(IsTimeServer(c.source), c.timeServer) << ToUtf8(c.code);
    EXPECT_EQ(IsTimeServerCode(c.code), c.timeServer) << ToUtf8(c.code);
  }
}

// The check and the dialog agree with the hosts' stored strings only if nothing near a code
// passes for it.
TEST(SourceCodes, OnlyTheExactCodesNameASource) {
  for (const char16_t* code : {u"", u"SNTP", u"Time", u"LOCAL", u" sntp", u"sntp ", u"ntp",
                               u"sntpx", u"tim"}) {
    EXPECT_FALSE(SourceOf(code).has_value()) << ToUtf8(code);
    EXPECT_FALSE(IsTimeServerCode(code)) << ToUtf8(code);
  }
  EXPECT_FALSE(SourceOf(std::u16string(u"time\0", 5)).has_value());
}

TEST(ComposeParameter, CanonicalOrderTrimmedHostsAndTheDifferenceAsWritten) {
  brevun::ParameterChoice c;
  c.firstTimeServer = u"  time.example.org ";
  c.firstSource = Source::kSntp;
  c.secondTimeServer = u"\t[::1]:123";  // only spaces are trimmed
  c.secondSource = Source::kTime;
  c.difference = 0.5;
  EXPECT_EQ(ToUtf8(brevun::ComposeParameter(c)),
            "#FTS=time.example.org#FPR=sntp#STS=\t[::1]:123#SPR=time#DIS=.5#");

  EXPECT_EQ(ToUtf8(brevun::ComposeParameter({})), "#FTS=#FPR=local#STS=#SPR=local#DIS=0#");
}

// What is composed is what the check reads: each tag gives back its part, whatever the
// difference, and a "#" typed into a host (stored as typed) cuts that host short.
TEST(ComposeParameter, TheTagReaderReadsBackEveryPart) {
  using brevun::Generic::GetParameter;
  for (const double difference : {0.0, 60.0, -3.25, 1e20, 1.0 / 3}) {
    brevun::ParameterChoice c{u"alpha", Source::kWmi, u"beta:37", Source::kSsh, difference};
    const std::u16string p = brevun::ComposeParameter(c);
    EXPECT_EQ(GetParameter(p, brevun::tag::kFirstTimeServer), u"alpha");
    EXPECT_EQ(GetParameter(p, brevun::tag::kFirstSource), u"wmi");
    EXPECT_EQ(GetParameter(p, brevun::tag::kSecondTimeServer), u"beta:37");
    EXPECT_EQ(GetParameter(p, brevun::tag::kSecondSource), u"ssh");
    EXPECT_EQ(GetParameter(p, brevun::tag::kDifference), brevun::FormatNumber(difference));
  }
  const brevun::ParameterChoice hash{u"a#b", Source::kSntp, u"", Source::kLocal, 1};
  EXPECT_EQ(GetParameter(brevun::ComposeParameter(hash), brevun::tag::kFirstTimeServer), u"a");
}

TEST(ComposeParameter, ADifferenceThatIsNoNumberComposesNothing) {
  for (const double bad : {std::numeric_limits<double>::infinity(), std::nan("")}) {
    brevun::ParameterChoice c;
    c.difference = bad;
    try {
      brevun::ComposeParameter(c);
      ADD_FAILURE() << bad;
    } catch (const brevun::Failure& f) {
      EXPECT_EQ(f.kind(), brevun::FailureKind::kOverflow);
    }
  }
}

}  // namespace
