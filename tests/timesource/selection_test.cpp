#include "timesource/selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace brevun::selection {
namespace {

constexpr std::int64_t kMs = 1000;
constexpr std::int64_t kSecond = 1000000;

// A reply whose correctness interval is exactly offset +- distance: its root dispersion makes
// up what the other terms of a bare reply leave.
Sample At(std::int64_t offset, std::int64_t distance) {
  Sample s;
  s.offsetMicros = offset;
  s.rootDispersionMicros = distance - RootDistanceMicros(Sample{});
  return s;
}

// T truechimer, F falseticker, - too far; one letter per sample.
std::string Letters(const std::vector<Role>& roles) {
  std::string text;
  for (const Role r : roles) {
    text += r == Role::kTruechimer ? 'T' : r == Role::kFalseticker ? 'F' : '-';
  }
  return text;
}

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

TEST(Selection, FindsTheTruechimersAndTheirOffset) {
  struct Case {
    const char* name;
    std::vector<Sample> samples;
    std::string roles;
    bool majority;
    std::optional<std::int64_t> offset;
    Limits limits = {};
  };
  constexpr std::int64_t kHuge = 1'000'000'000 * kSecond;  // 10^9 s
  constexpr std::int64_t kFar = 1'000'000 * kSecond;       // 10^6 s
  constexpr std::int64_t kAges = std::int64_t{1} << 54;    // some 570 years
  constexpr Limits kAnyDistance = {std::numeric_limits<std::int64_t>::max(), std::nullopt};
  std::vector<Sample> centuries(256, At(-kAges, 2 * kAges));
  centuries.resize(512, At(kAges, 2 * kAges));
  const Case cases[] = {
      // 2/3 us, rounded to the nearest microsecond.
      {"intervals that all overlap",
       {At(0, 5 * kMs), At(1 * kMs, 5 * kMs), At(-998, 5 * kMs)},
       "TTT",
       true,
       1},
      {"one falseticker of four",
       {At(0, 5 * kMs), At(1 * kMs, 5 * kMs), At(2 * kMs, 5 * kMs), At(500 * kMs, 5 * kMs)},
       "TTTF",
       true,
       1 * kMs},
      {"two groups of two: no majority",
       {At(0, 5 * kMs), At(1 * kMs, 5 * kMs), At(300 * kMs, 5 * kMs), At(301 * kMs, 5 * kMs)},
       "FFFF",
       false,
       std::nullopt},
      // A server cut off from its upstream for a day carries 1.4 s of root dispersion: its
      // interval reaches both others, whose intervals do not meet.
      {"two groups bridged by one wide interval: no majority",
       {At(1300 * kMs, 15 * kMs), At(1300 * kMs, 1405 * kMs), At(0, 5 * kMs)},
       "FFF",
       false,
       std::nullopt},
      {"the mirror of it",
       {At(0, 15 * kMs), At(0, 1405 * kMs), At(1300 * kMs, 5 * kMs)},
       "FFF",
       false,
       std::nullopt},
      {"two that disagree: no majority",
       {At(0, 5 * kMs), At(100 * kMs, 5 * kMs)},
       "FF",
       false,
       std::nullopt},
      {"a huge root distance is too far and leaves two of two",
       {At(0, 5 * kMs), At(2 * kMs, 5 * kMs), At(900 * kMs, 2 * kSecond)},
       "TT-",
       true,
       1 * kMs},
      {"a delay above the maximum delay is too far",
       {At(0, 60 * kMs), Sample{0, 150 * kMs, 0, 0, -20, 0}, At(1 * kMs, 60 * kMs)},
       "T-T",
       true,
       500,
       {1'500'000, 100 * kMs}},
      {"equal intervals", {At(7 * kMs, 5 * kMs), At(7 * kMs, 5 * kMs)}, "TT", true, 7 * kMs},
      {"one server", {At(123456, 5 * kMs)}, "T", true, 123456},
      {"no replies", {}, "", false, std::nullopt},
      // The interval of the third covers the whole intersection, [-4 ms, 5 ms], though its
      // offset lies outside it: it can be right with the others, and counts for a fortieth.
      // (0 / 5 + 1 / 5 + 100 / 200) / (1 / 5 + 1 / 5 + 1 / 200) ms.
      {"a wide interval around an offset outside the intersection",
       {At(0, 5 * kMs), At(1 * kMs, 5 * kMs), At(100 * kMs, 200 * kMs)},
       "TTT",
       true,
       1728},
      // A busy client held one reply up on its way back: its offset is off by half its 10 ms
      // delay, outside the intersection of the others, but its interval covers the truth. It
      // is no falseticker, and two such honest servers still make a majority.
      {"an honest reply held up on one leg",
       {{-5300, 10600, 0, 0, -20, 0}, {-80, 200, 0, 0, -20, 0}, {-400, 800, 0, 0, -20, 0}},
       "TTT",
       true,
       // Root distances 5302, 2502 and 2502 us:
       // (-5300 / 5302 - 80 / 2502 - 400 / 2502) / (1 / 5302 + 2 / 2502).
       -1206},
      {"two honest servers, one reply held up",
       {{-5300, 10600, 0, 0, -20, 0}, {-80, 200, 0, 0, -20, 0}},
       "TT",
       true,
       // (-5300 / 5302 - 80 / 2502) / (1 / 5302 + 1 / 2502) = -1753.5.
       -1754},
      // (0 / 5 + 4 / 20) / (1 / 5 + 1 / 20) ms: the nearer server counts four times as much.
      {"offsets weighted by 1 / root distance",
       {At(0, 5 * kMs), At(4 * kMs, 20 * kMs)},
       "TT",
       true,
       800},
      // The intersection is [0, 5 ms]; both offsets lie on its edges, which belong to it.
      {"offsets on the edges of the intersection",
       {At(0, 5 * kMs), At(5 * kMs, 5 * kMs)},
       "TT",
       true,
       2500},
      // 200 us round trips, 10 us root dispersion, 400 us apart: only MINDISP makes their
      // intervals meet.
      {"two honest LAN servers a few hundred microseconds apart",
       {{0, 200, 0, 10, -20, 0}, {400, 200, 0, 10, -20, 0}},
       "TT",
       true,
       200},
      {"offsets of 10^9 s and distances of 10^6 s",
       {At(kHuge, kFar), At(kHuge + kFar / 2, kFar), At(-kHuge, kFar)},
       "TTF",
       true,
       kHuge + kFar / 4,
       {2 * kFar, std::nullopt}},
      // Two camps centuries apart whose intervals still overlap: the weighted sum of 512 such
      // offsets would not fit in 63 bits at full resolution.
      {"512 servers centuries apart", centuries, std::string(512, 'T'), true, 0, kAnyDistance},
      {"offsets at the ends of 64 bits",
       {At(std::numeric_limits<std::int64_t>::min(), kSecond),
        At(std::numeric_limits<std::int64_t>::max(), kSecond)},
       "FF",
       false,
       std::nullopt},
  };
  for (const Case& c : cases) {
    const Selection s = Select(c.samples, c.limits);
    EXPECT_EQ(Letters(s.roles), c.roles) << c.name;
    EXPECT_EQ(s.majority, c.majority) << c.name;
    EXPECT_EQ(s.offsetMicros, c.offset) << c.name;
    EXPECT_EQ(s.truechimers, std::count(c.roles.begin(), c.roles.end(), 'T')) << c.name;
    if (s.majority) {
      EXPECT_LE(s.lowMicros, s.highMicros) << c.name;
    }
  }
}

TEST(Selection, NamesEachGroupWhenTheLargestOverlapIsReachedInSeparatePlaces) {
  const Selection s = Select(
      {At(1300 * kMs, 15 * kMs), At(1300 * kMs, 1405 * kMs), At(0, 5 * kMs), At(0, 5 * kMs),
       At(1300 * kMs, 5 * kMs)},
      {});
  EXPECT_FALSE(s.majority);
  const std::vector<std::vector<std::size_t>> groups = {{1, 2, 3}, {0, 1, 4}};
  EXPECT_EQ(s.groups, groups);
  EXPECT_TRUE(Select({At(0, 5 * kMs), At(100 * kMs, 5 * kMs)}, {}).groups.empty());
}

// Whatever the table, the truechimers of a majority can all be right at once: they share a
// point, and each holds more than half of the usable samples with them.
TEST(Selection, TruechimersAlwaysShareAPoint) {
  std::uint64_t state = 0x9e3779b97f4a7c15u;
  const auto next = [&](std::int64_t below) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::int64_t>(state % static_cast<std::uint64_t>(below));
  };
  int majorities = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<Sample> samples;
    const std::int64_t n = 1 + next(7);
    for (std::int64_t i = 0; i < n; ++i) {
      samples.push_back(At(next(40) * 100 * kMs, 3 * kMs + next(3) * next(30) * 100 * kMs));
    }
    const Selection s = Select(samples, {});
    std::int64_t highestLow = std::numeric_limits<std::int64_t>::min();
    std::int64_t lowestHigh = std::numeric_limits<std::int64_t>::max();
    int truechimers = 0;
    int usable = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (s.roles[i] != Role::kTooFar) ++usable;
      if (s.roles[i] != Role::kTruechimer) continue;
      const std::int64_t lambda = RootDistanceMicros(samples[i]);
      highestLow = std::max(highestLow, samples[i].offsetMicros - lambda);
      lowestHigh = std::min(lowestHigh, samples[i].offsetMicros + lambda);
      ++truechimers;
    }
    if (!s.majority) {
      EXPECT_EQ(truechimers, 0);
      continue;
    }
    ++majorities;
    ASSERT_LE(highestLow, lowestHigh) << "round " << round;
    EXPECT_GT(2 * truechimers, usable) << "round " << round;
    EXPECT_LE(highestLow, s.lowMicros);
    EXPECT_GE(lowestHigh, s.highMicros);
  }
  EXPECT_GT(majorities, 1000);
}

// The three that agree meet in [-3 ms, 5 ms]; the falseticker's interval lies far from it.
TEST(Selection, ReportsTheIntersectionOfTheMajority) {
  const Selection s = Select(
      {At(0, 5 * kMs), At(1 * kMs, 5 * kMs), At(2 * kMs, 5 * kMs), At(500 * kMs, 5 * kMs)}, {});
  EXPECT_EQ(s.lowMicros, -3 * kMs);
  EXPECT_EQ(s.highMicros, 5 * kMs);
}

}  // namespace
}  // namespace brevun::selection
