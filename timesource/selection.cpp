#include "timesource/selection.h"

#include <algorithm>
#include <cstddef>

namespace brevun::selection {

namespace {

constexpr std::int64_t kMinDispersionMicros = 5000;  // MINDISP (RFC 5905 section 7.2)
constexpr std::int64_t kPhiPerMillion = 15;          // PHI, 15e-6 s/s (RFC 5905 section 7.2)
constexpr std::int64_t kLocalPrecisionMicros = 1;    // our timestamps are whole microseconds
constexpr std::int64_t kMicrosPerSecond = 1000000;

// About 1100 years. Offsets and distance terms are kept within it, so that an endpoint, offset
// plus at most a few such terms, stays far inside 63 bits.
constexpr std::int64_t kBound = std::int64_t{1} << 55;

std::int64_t Magnitude(std::int64_t v) { return std::clamp<std::int64_t>(v, 0, kBound); }

// 2^precision seconds, rounded up to whole microseconds.
std::int64_t PrecisionMicros(int precision) {
  if (precision >= 0) return std::min(kMicrosPerSecond << std::min(precision, 30), kBound);
  if (precision <= -30) return 1;
  const std::int64_t step = std::int64_t{1} << -precision;
  return (kMicrosPerSecond + step - 1) / step;
}

int BitWidth(std::uint64_t v) {
  int n = 0;
  for (; v != 0; v >>= 1) ++n;
  return n;
}

// floor(2^bits * num / den) for 0 < num <= den, one bit at a time so that nothing overflows.
std::int64_t ScaledRatio(std::int64_t num, std::int64_t den, int bits) {
  std::int64_t q = num / den;
  std::int64_t r = num % den;
  for (int i = 0; i < bits; ++i) {
    r <<= 1;
    q <<= 1;
    if (r >= den) {
      r -= den;
      q |= 1;
    }
  }
  return q;
}

struct Candidate {
  std::int64_t offset;
  std::int64_t distance;
  std::size_t sample;  // its place in the input
};

// The combined offset of RFC 5905 appendix A.5.5.5: the truechimers' offsets weighted by
// 1 / lambda, so a near, precise server counts for more than a far one. Rather than the median:
// the intersection has already kept the falsetickers out, so no outlier is left for a median to
// resist, and a median would let a distant server's offset outvote a precise one (a server with
// a wide interval counts for little here). Computed in integers, so the 32-bit build's x87
// arithmetic, or a host that changed the FPU's precision, cannot change a microsecond: each weight
// is lambdaMin / lambda as a binary fraction of as many bits as the sum of weight times (offset -
// least offset) leaves room for in 62. Rounded to the nearest microsecond, halves up.
std::int64_t CombinedOffset(const std::vector<Candidate>& chosen) {
  std::int64_t least = chosen.front().offset;
  std::int64_t most = least;
  std::int64_t nearest = chosen.front().distance;
  for (const Candidate& c : chosen) {
    least = std::min(least, c.offset);
    most = std::max(most, c.offset);
    nearest = std::min(nearest, c.distance);
  }
  const std::uint64_t spread = static_cast<std::uint64_t>(most - least);
  const int spare = 62 - BitWidth(spread) - BitWidth(chosen.size());
  const int bits = std::clamp(spare, 0, 30);
  // Only a spread of centuries among dozens of truechimers costs the spread's low bits; no
  // real run comes near.
  const int drop = std::max(0, -spare);
  std::int64_t sum = 0;
  std::int64_t weights = 0;
  for (const Candidate& c : chosen) {
    const std::int64_t w = ScaledRatio(nearest, c.distance, bits);
    sum += w * ((c.offset - least) >> drop);
    weights += w;
  }
  return least + (((sum + weights / 2) / weights) << drop);
}

// An endpoint of a correctness interval. At equal values lowpoints sort before highpoints, so
// intervals are closed: two that share only an endpoint overlap.
struct Endpoint {
  std::int64_t value;
  bool low;
  bool operator<(const Endpoint& o) const {
    return value != o.value ? value < o.value : (low && !o.low);
  }
};

}  // namespace

std::int64_t RootDistanceMicros(const Sample& s) {
  const std::int64_t delays = Magnitude(s.rootDelayMicros) + Magnitude(s.delayMicros);
  const std::int64_t halfDelay = (std::max(kMinDispersionMicros, delays) + 1) / 2;
  const std::int64_t grown = (Magnitude(s.exchangeMicros) * kPhiPerMillion + 999999) / 1000000;
  const std::int64_t epsilon = PrecisionMicros(s.precision) + kLocalPrecisionMicros + grown;
  return std::min(halfDelay + Magnitude(s.rootDispersionMicros) + epsilon, kBound);
}

Selection Select(const std::vector<Sample>& samples, const Limits& limits) {
  Selection result;
  result.roles.assign(samples.size(), Role::kTooFar);

  std::vector<Candidate> usable;
  std::vector<Endpoint> ends;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const Sample& s = samples[i];
    const std::int64_t distance = RootDistanceMicros(s);
    if (distance > limits.maxDistanceMicros) continue;
    if (limits.maxDelayMicros && s.delayMicros > *limits.maxDelayMicros) continue;
    const std::int64_t offset = std::clamp(s.offsetMicros, -kBound, kBound);
    usable.push_back({offset, distance, i});
    ends.push_back({offset - distance, true});
    ends.push_back({offset + distance, false});
    result.roles[i] = Role::kFalseticker;
  }
  const int n = static_cast<int>(usable.size());
  std::sort(ends.begin(), ends.end());

  // The intersection algorithm of RFC 5905 section 11.2.1 (Marzullo's) asks for the fewest
  // falsetickers that leave a non-empty intersection: the most intervals that share one point.
  // That count is the deepest overlap of the intervals, found in one sweep over their
  // endpoints. It is a majority only when it is more than half of the usable samples.
  //
  // The appendix's code then takes [low, high] from the lowest to the highest point of that
  // depth and calls every interval meeting it a truechimer. When the deepest overlap is
  // reached in two separate places, that span bridges the gap between two groups that
  // disagree, and a wide interval reaching into both makes them one "majority" whose members
  // share no point: a daemon must pick a group and live with it, a check can say that it
  // cannot decide. Here the truechimers are the intervals that contain the one deepest
  // segment, so they always share a point; two or more such segments are no majority, and
  // each group is reported.
  //
  // The appendix's code also counts the offsets (midpoints) that fall outside [low, high] and
  // refuses an intersection with more of them than falsetickers allowed. That is not done
  // here: one reply per server carries no filter, so an honest server whose reply was held up
  // on one leg of its round trip has its offset off by up to half its delay, which its root
  // distance covers but which can put its offset outside the others' intersection; counting
  // it would call it a falseticker, or find no majority at all between two honest servers,
  // whenever the machine running the check is busy.
  int deepest = 0;
  int depth = 0;
  for (const Endpoint& e : ends) {
    depth += e.low ? 1 : -1;
    deepest = std::max(deepest, depth);
  }
  if (2 * deepest <= n) return result;
  // Each segment of the deepest overlap: it starts where a lowpoint brings the depth up to the
  // deepest and ends at the next endpoint, which can only be a highpoint.
  struct Segment {
    std::int64_t low;
    std::int64_t high;
  };
  std::vector<Segment> segments;
  depth = 0;
  for (std::size_t i = 0; i < ends.size(); ++i) {
    depth += ends[i].low ? 1 : -1;
    if (depth == deepest && ends[i].low) segments.push_back({ends[i].value, ends[i + 1].value});
  }
  const auto covering = [&](const Segment& s) {
    std::vector<Candidate> inside;
    for (const Candidate& c : usable) {
      if (c.offset - c.distance <= s.low && c.offset + c.distance >= s.high) inside.push_back(c);
    }
    return inside;
  };
  if (segments.size() > 1) {
    for (const Segment& s : segments) {
      std::vector<std::size_t> group;
      for (const Candidate& c : covering(s)) group.push_back(c.sample);
      result.groups.push_back(group);
    }
    return result;
  }

  const std::vector<Candidate> chosen = covering(segments.front());
  for (const Candidate& c : chosen) result.roles[c.sample] = Role::kTruechimer;
  result.majority = true;
  result.lowMicros = segments.front().low;
  result.highMicros = segments.front().high;
  result.truechimers = static_cast<int>(chosen.size());
  result.offsetMicros = CombinedOffset(chosen);
  return result;
}

}  // namespace brevun::selection
