#include "timesource/selection.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace brevun::selection {
namespace {

constexpr std::int64_t kSecond = 1000000;

TEST(SelectionRootDistance, TakesTheTermsOfOneSample) {
  struct Case {
    const char* name;
    Sample sample;  // offset, delay, root delay, root dispersion, precision, exchange
    std::int64_t expected;
  };
  const Case cases[] = {
      // MINDISP / 2 + the server's 2^-20 s and our 1 us, each rounded up to a microsecond.
      {"a LAN reply sits on MINDISP's floor", {0, 300, 0, 0, -20, 0}, 2500 + 1 + 1},
      {"root delay plus delay, halved, rounded up", {0, 10001, 30000, 0, -20, 0}, 20001 + 2},
      {"root dispersion adds", {0, 0, 0, 7000, -20, 0}, 9502},
      {"a server precision of 2^-10 s", {0, 0, 0, 0, -10, 0}, 2500 + 977 + 1},
      {"PHI over a 2 s exchange", {0, 0, 0, 0, -20, 2 * kSecond}, 2502 + 30},
      {"PHI over 1 us still costs a microsecond", {0, 0, 0, 0, -20, 1}, 2503},
      {"negative terms cannot narrow the interval", {0, -kSecond, -5, -7, -20, -3}, 2502},
  };
  for (const Case& c : cases) EXPECT_EQ(RootDistanceMicros(c.sample), c.expected) << c.name;

  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_GT(RootDistanceMicros({0, kMax, kMax, kMax, 127, kMax}), 1'000'000 * kSecond);
}

}  // namespace
}  // namespace brevun::selection
