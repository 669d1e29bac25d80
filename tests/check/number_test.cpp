#include "check/number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "check/failure.h"
#include "check/text.h"

namespace {

using brevun::FormatNumber;
using brevun::FromUtf8;
using brevun::ReadLeadingNumber;

TEST(ReadLeadingNumber, LongestLeadingNumber) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"", 0},         {"abc", 0},       {"60", 60},       {"60 s", 60},
      {"10s", 10},     {"1 000", 1000},  {"1 5", 15},      {"1,5", 1},
      {"2.9", 2.9},    {"-0.5", -0.5},   {"2.50", 2.5},    {".5", 0.5},
      {"5.", 5},       {"1.2.3", 1.2},   {" \t\n42", 42},  {"4\t2", 42},
      {"- 3", -3},     {"+7", 7},        {"1E3", 1000},    {"1e3", 1000},
      {"2D2", 200},    {"1E", 1},        {"1E+", 1},       {"1E-2", 0.01},
      {"1 E 2", 100},  {"&H10", 16},     {"&hff", 255},    {"&O17", 15},
      {"&H", 0},       {"&X1", 0},       {"&O9", 0},       {"&H1G", 1},
      {"1E-400", 0},   {"-", 0},         {".", 0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(ReadLeadingNumber(FromUtf8(c.text)), c.value) << "text " << c.text;
  }
}

TEST(ReadLeadingNumber, OverflowFails) {
  for (const char* text : {"1E400", "-1E309", "1E99999999999", "1.8E308"}) {
    try {
      ReadLeadingNumber(FromUtf8(text));
      ADD_FAILURE() << "no failure for " << text;
    } catch (const brevun::Failure& f) {
      EXPECT_EQ(f.description(), u"Overflow") << text;
    }
  }
  EXPECT_THROW(ReadLeadingNumber(std::u16string(400, u'9')), brevun::Failure);
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(u"1.7976931348623157E308"),
                   std::numeric_limits<double>::max());
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(u"0." + std::u16string(400, u'0') + u"1E400"), 0.1);
}

// Leading zeros of an exponent are worth nothing: neither as digits that push a small exponent
// past the cap nor as work (a host can hand over megabytes of them in one parameter).
TEST(ReadLeadingNumber, ExponentLeadingZeros) {
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(u"1E00000012"), 1e12);
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(u"25E-000000001"), 2.5);
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(u"3E0000000000"), 3);
  const std::u16string zeros(4000000, u'0');
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(u"1E" + zeros + u"2 s"), 100);
  EXPECT_THROW(ReadLeadingNumber(u"1E" + zeros + u"400"), brevun::Failure);
}

TEST(FormatNumber, Rendering) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},          {60, "60"},         {1000, "1000"},    {2.5, "2.5"},
      {0.5, ".5"},       {-3, "-3"},         {-0.25, "-.25"},   {16, "16"},
      {0.001, ".001"},   {123456789012345, "123456789012345"},  {1e15, "1E+15"},
      {1.5e20, "1.5E+20"}, {1e-20, "1E-20"}, {1.0 / 3, ".333333333333333"},
      {-0.0, "0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatNumber(c.value), FromUtf8(c.text)) << c.text;
  }
}

TEST(FormatNumber, ReadsBackWithinFifteenDigits) {
  for (double v : {1.0 / 7, 2.5e-7, 98765.4321, -1e100, 0.1}) {
    const double back = ReadLeadingNumber(FormatNumber(v));
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << v;
  }
}

TEST(TextToInt16, ConversionsAndFailures) {
  EXPECT_EQ(brevun::TextToInt16(u"10"), 10);
  EXPECT_EQ(brevun::TextToInt16(u" 15 "), 15);
  EXPECT_EQ(brevun::TextToInt16(u"-32768"), -32768);
  EXPECT_EQ(brevun::TextToInt16(u"2.5"), 2);  // half to even
  EXPECT_EQ(brevun::TextToInt16(u"3.5"), 4);
  EXPECT_EQ(brevun::TextToInt16(u"1e2"), 100);
  for (const char16_t* bad : {u"", u"abc", u"10s", u"1 0", u"--1"}) {
    try {
      brevun::TextToInt16(bad);
      ADD_FAILURE() << brevun::ToUtf8(bad);
    } catch (const brevun::Failure& f) {
      EXPECT_EQ(f.description(), u"Type mismatch");
    }
  }
  for (const char16_t* big : {u"32768", u"-32769", u"1e300", u"1e999"}) {
    try {
      brevun::TextToInt16(big);
      ADD_FAILURE() << brevun::ToUtf8(big);
    } catch (const brevun::Failure& f) {
      EXPECT_EQ(f.description(), u"Overflow");
    }
  }
}

}  // namespace
