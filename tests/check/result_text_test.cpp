#include "check/result_text.h"

#include <gtest/gtest.h>

#include <string>

#include "check/text.h"

namespace {

using brevun::ReadResultText;
using brevun::ToUtf8;

// The reader is the writer's inverse, whatever the time texts hold: a platform's date format,
// the labels themselves, nothing at all.
TEST(ResultText, WhatIsWrittenReadsBack) {
  const struct {
    bool within;
    long long d;
    const char16_t* first;
    const char16_t* second;
  } cases[] = {
      {true, 0, u"2026-01-01 12:00:00", u"2026-01-01 12:00:00"},
      {false, -3, u"12/8/2026 3:28:51 PM", u"8.12.2026 15:28:51"},
      {false, 2147483647, u"  D= 5  S= x", u"  F="},
      {true, -2147483648LL, u"", u""},
  };
  for (const auto& c : cases) {
    const std::u16string text = brevun::ResultText(c.within, c.d, c.first, c.second);
    SCOPED_TRACE(ToUtf8(text));
    const auto got = ReadResultText(text);
    ASSERT_TRUE(got.has_value());
    EXPECT_FALSE(got->failed);
    EXPECT_EQ(got->within, c.within);
    EXPECT_EQ(got->d, c.d);
  }
  EXPECT_EQ(ToUtf8(brevun::ResultText(false, 8, u"a", u"b")),
            "Time difference is too big  D= 8  F=a  S= b");
}

TEST(ResultText, FailuresReadBackWithTheirStepAndDescription) {
  const struct {
    const char* what;
    const char16_t* description;
    int step;
    const char* text;
  } cases[] = {
      {"plain", u"Overflow", 60, "ERR: Overflow( 60)"},
      {"a quoted fetch failure with a step of its own",
       u"first time text \"ERR: Timeout (60)\" is not a date-time", 290,
       "ERR: first time text \"ERR: Timeout (60)\" is not a date-time( 290)"},
      {"no description", u"", 20, "ERR: ( 20)"},
      {"parentheses that look like a step", u"(x)( 7)", 380, "ERR: (x)( 7)( 380)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::u16string text = brevun::FailureText(c.description, c.step);
    EXPECT_EQ(ToUtf8(text), c.text);
    const auto got = ReadResultText(text);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->failed);
    EXPECT_EQ(got->step, c.step);
    EXPECT_EQ(got->description, c.description);
  }
}

}  // namespace
