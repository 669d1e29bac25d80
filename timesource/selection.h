// Which of several time servers to believe: the selection of RFC 5905 section 11.2.1 over one
// valid reply per server, as pure functions, so that the plugin's parallel queries (and later
// the component) decide by the same rules a daemon uses and tables can test them.
//
// Each reply gives a correctness interval [offset - lambda, offset + lambda], lambda being its
// root distance: the true time lies in it if the server and every server above it are honest.
// The intersection algorithm looks for the largest group of servers that can all be right at
// once, allowing as few falsetickers as it can, and succeeds only when that group is more than
// half of the usable replies. Without such a majority nobody can say which group is wrong, so
// the clock cannot be judged. The truechimers all share one point: the intersection found.
// Where two groups of that size overlap in separate places (a wide interval can reach into
// both), nobody can say which group is right either, and there is no majority. The
// truechimers' offsets, weighted by 1 / lambda as RFC 5905's clock combine weighs them
// (appendix A.5.5.5), give the local clock's offset. A median would let a distant
// server outvote a near one; the intervals have already kept the outliers out.
//
// Root distance of one reply (RFC 5905 appendix A.5.5.2, for a single sample):
//   lambda = max(MINDISP, root delay + delay) / 2 + root dispersion + epsilon
//   epsilon = server precision + our precision + PHI * (T4 - T1)    (RFC 5905 section 8)
// with MINDISP 5 ms and PHI 15 ppm (RFC 5905 section 7.2). MINDISP gives every interval at
// least 2.5 ms each way, so two honest servers on a quiet network, whose offsets differ by a few
// hundred microseconds of scheduling noise on a loaded machine, still overlap. epsilon is the
// dispersion a daemon's clock filter holds for a fresh sample; there is no filter history here,
// so no peer dispersion beyond it and no jitter (one sample has no spread to measure). Nor is
// PHI * age added: a reply waits at most for the query's timeout before it is judged, 150 us of
// growth over the default 10 s, small beside MINDISP. Our precision is 1 us, the resolution of
// the time stack's timestamps. Every term is rounded up to whole microseconds, so an interval is
// never narrower than the exact one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brevun::selection {

// One server's valid reply, all times in microseconds.
struct Sample {
  std::int64_t offsetMicros = 0;          // theta: the server's clock minus ours
  std::int64_t delayMicros = 0;           // delta: round-trip delay (RFC 5905 section 8)
  std::int64_t rootDelayMicros = 0;       // from the packet
  std::int64_t rootDispersionMicros = 0;  // from the packet
  int precision = -20;                    // the server's precision field, log2 seconds
  std::int64_t exchangeMicros = 0;        // T4 - T1 on our clock: dispersion grows at PHI over it
};

// lambda as above. Negative delays, dispersions and exchange times count as zero: they are
// magnitudes, and a reply must not be able to narrow its own interval. Values beyond about a
// thousand years are taken as that, so no sum overflows whatever a reply says.
std::int64_t RootDistanceMicros(const Sample& sample);

enum class Role {
  kTruechimer,   // in the majority the clock is judged by
  kFalseticker,  // usable, but outside the majority (or there is no majority)
  kTooFar,       // root distance above the maximum distance, or delay above the maximum delay
};

struct Limits {
  // A reply whose root distance exceeds this cannot be trusted to a useful bound. RFC 5905
  // sets MAXDIST at 1 s (section 7.2); daemons commonly run with 1.5 s, as here.
  std::int64_t maxDistanceMicros = 1'500'000;
  std::optional<std::int64_t> maxDelayMicros;
};

struct Selection {
  std::vector<Role> roles;  // one per sample, in input order
  // More than half of the usable samples (those not kTooFar) are truechimers. None usable: no
  // majority.
  bool majority = false;
  // The intersection found, when there is a majority: every truechimer's interval contains it.
  std::int64_t lowMicros = 0;
  std::int64_t highMicros = 0;
  // The truechimers' offsets weighted by 1 / lambda, when there is a majority.
  std::optional<std::int64_t> offsetMicros;
  int truechimers = 0;
  // When the largest overlap is reached in separate places: the samples of each such group,
  // in input order. Each group alone would have been a majority; together they are none.
  std::vector<std::vector<std::size_t>> groups;
};

Selection Select(const std::vector<Sample>& samples, const Limits& limits);

}  // namespace brevun::selection
