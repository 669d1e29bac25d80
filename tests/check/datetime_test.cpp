#include "check/datetime.h"

#include <gtest/gtest.h>

#include "check/text.h"

namespace {

using brevun::CivilTime;
using brevun::IsoDateTimeText;

TEST(DateTime, CivilRoundTripAcrossCenturiesAndLeapDays) {
  for (const CivilTime c : {CivilTime{1970, 1, 1, 0, 0, 0}, CivilTime{2000, 2, 29, 23, 59, 59},
                            CivilTime{1900, 3, 1, 12, 0, 0}, CivilTime{2036, 2, 7, 6, 28, 16},
                            CivilTime{100, 1, 1, 0, 0, 0}, CivilTime{9999, 12, 31, 23, 59, 59}}) {
    const CivilTime back = brevun::ToCivil(brevun::FromCivil(c));
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
    EXPECT_EQ(back.hour, c.hour);
    EXPECT_EQ(back.minute, c.minute);
    EXPECT_EQ(back.second, c.second);
  }
  EXPECT_EQ(brevun::FromCivil({1970, 1, 2, 0, 0, 1}), 86401);
  EXPECT_EQ(brevun::FromCivil({1969, 12, 31, 23, 59, 59}), -1);
}

TEST(DateTime, IsoTextRendersAndReadsBackToTheSameSecond) {
  const IsoDateTimeText text;
  for (brevun::LocalSeconds t : {0LL, 951868799LL, 2085978496LL, -2208988800LL, 253402300799LL}) {
    const auto back = text.Parse(text.Render(t));
    ASSERT_TRUE(back.has_value()) << t;
    EXPECT_EQ(*back, t);
  }
  EXPECT_EQ(text.Render(brevun::FromCivil({2026, 3, 4, 5, 6, 7})), u"2026-03-04 05:06:07");
  EXPECT_EQ(text.Parse(u"  2026-03-04 05:06:07 "), brevun::FromCivil({2026, 3, 4, 5, 6, 7}));
}

TEST(DateTime, IsoTextRejectsWhatIsNotADateTime) {
  const IsoDateTimeText text;
  for (const char16_t* bad :
       {u"", u"ERR: Timeout (60)", u"2026-02-30 00:00:00", u"2026-13-01 00:00:00",
        u"2026-01-01 24:00:00", u"2026-01-01 00:60:00", u"2026-01-01T00:00:00",
        u"2026-1-01 00:00:00", u"0099-01-01 00:00:00", u"2026-01-01 00:00:00x"}) {
    EXPECT_FALSE(text.Parse(bad).has_value()) << brevun::ToUtf8(bad);
  }
}

TEST(DateTime, SystemClockReadsTheWallClock) {
  brevun::SystemLocalClock clock;
  const auto a = clock.Now();
  const auto b = clock.Now();
  EXPECT_GE(b, a);
  EXPECT_GT(a, brevun::FromCivil({2020, 1, 1, 0, 0, 0}));
}

}  // namespace
