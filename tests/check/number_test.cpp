#include "check/number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "check/failure.h"
#include "check/text.h"

namespace {

using brevun::FormatNumber;
using brevun::FromUtf8;
using brevun::ReadLeadingNumber;
using brevun::ToUtf8;

// The value of a text that must read; NaN (which no expectation accepts) when it did not.
double Read(std::u16string_view text) {
  const auto v = ReadLeadingNumber(text);
  if (!v) ADD_FAILURE() << "no number in " << ToUtf8(text);
  return v.value_or(std::numeric_limits<double>::quiet_NaN());
}

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
    EXPECT_DOUBLE_EQ(Read(FromUtf8(c.text)), c.value) << "text " << c.text;
  }
}

TEST(ReadLeadingNumber, OverflowGivesNoValue) {
  for (const char* text : {"1E400", "-1E309", "1E99999999999", "1.8E308"}) {
    EXPECT_FALSE(ReadLeadingNumber(FromUtf8(text)).has_value()) << text;
  }
  EXPECT_FALSE(ReadLeadingNumber(std::u16string(400, u'9')).has_value());
  EXPECT_FALSE(ReadLeadingNumber(u"&H" + std::u16string(300, u'F')).has_value());
  EXPECT_DOUBLE_EQ(Read(u"1.7976931348623157E308"), std::numeric_limits<double>::max());
  EXPECT_DOUBLE_EQ(Read(u"0." + std::u16string(400, u'0') + u"1E400"), 0.1);
}

// Leading zeros of an exponent are worth nothing: neither as digits that push a small exponent
// past the cap nor as work (a host can hand over megabytes of them in one parameter).
TEST(ReadLeadingNumber, ExponentLeadingZeros) {
  EXPECT_DOUBLE_EQ(Read(u"1E00000012"), 1e12);
  EXPECT_DOUBLE_EQ(Read(u"25E-000000001"), 2.5);
  EXPECT_DOUBLE_EQ(Read(u"3E0000000000"), 3);
  const std::u16string zeros(4000000, u'0');
  EXPECT_DOUBLE_EQ(Read(u"1E" + zeros + u"2 s"), 100);
  EXPECT_FALSE(ReadLeadingNumber(u"1E" + zeros + u"400").has_value());
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
    const double back = Read(FormatNumber(v));
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << v;
  }
}

TEST(FormatNumber, NotFiniteIsAnOverflow) {
  for (double v : {std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    try {
      FormatNumber(v);
      ADD_FAILURE() << v;
    } catch (const brevun::Failure& f) {
      EXPECT_EQ(f.kind(), brevun::FailureKind::kOverflow);
      EXPECT_EQ(f.description(), u"Overflow");
    }
  }
}

// What the dialog stores the check must be able to read: every finite double, written and read
// back, lands within the fifteen digits written, and writing it again gives the same text (so
// a parameter string that is opened and saved again does not drift).
void ExpectRoundTrip(double v) {
  const std::u16string text = FormatNumber(v);
  const auto back = ReadLeadingNumber(text);
  ASSERT_TRUE(back.has_value()) << v << " written as " << ToUtf8(text);
  // Half a unit of the fifteenth digit, and for subnormals the spacing of the doubles there.
  const double tolerance = std::fabs(v) * 5.1e-15 + std::numeric_limits<double>::denorm_min();
  EXPECT_LE(std::fabs(*back - v), tolerance) << v << " as " << ToUtf8(text);
  EXPECT_EQ(ToUtf8(FormatNumber(*back)), ToUtf8(text)) << v;
}

TEST(FormatNumber, RandomDoublesReadBack) {
  std::mt19937_64 random(20261208);
  // Any bit pattern: every exponent, subnormals included, as likely as any other.
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    ExpectRoundTrip(v);
  }
  // Magnitudes people type: seconds with a few decimals.
  std::uniform_real_distribution<double> seconds(-1e6, 1e6);
  for (int i = 0; i < 20000; ++i) ExpectRoundTrip(std::round(seconds(random) * 1000) / 1000);
}

TEST(FormatNumber, EdgesOfTheDoubleRangeReadBack) {
  const double max = std::numeric_limits<double>::max();
  for (double v : {max, -max, std::nextafter(max, 0.0), 1.797693134862315e308,
                   1.79769313486231e308, std::numeric_limits<double>::min(),
                   std::numeric_limits<double>::denorm_min(), 1e15, 1e15 - 1, 1e-15,
                   9.99999999999999e14, 0.1 + 0.2}) {
    ExpectRoundTrip(v);
  }
  // The largest doubles round up past the range at fifteen digits; they are written as the
  // largest fifteen-digit number that still reads.
  EXPECT_EQ(ToUtf8(FormatNumber(max)), "1.79769313486231E+308");
}

}  // namespace
