// The wire format of SNTP (RFC 4330, RFC 5905 client mode) and the era arithmetic that both
// time protocols share.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace brevun::ntp {

// Seconds from 1900-01-01 (the NTP and RFC 868 epoch) to 1970-01-01 (the Unix epoch).
inline constexpr std::int64_t kUnixEpochInNtpSeconds = 2208988800;
// The time client counts instants in Unix microseconds.
inline constexpr std::int64_t kMicros = 1000000;
// The fixed header; extension fields and a MAC may follow (RFC 5905 section 7.3).
inline constexpr std::size_t kPacketSize = 48;

struct Timestamp {
  std::uint32_t seconds = 0;
  std::uint32_t fraction = 0;
  bool IsZero() const { return seconds == 0 && fraction == 0; }
  bool operator==(const Timestamp& o) const {
    return seconds == o.seconds && fraction == o.fraction;
  }
};

// A 32-bit word in network byte order, as both protocols send their seconds.
inline std::uint32_t Read32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Division that rounds toward minus infinity: whole seconds as a clock shows them.
std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor);

// 32-bit seconds since 1900 name an instant only up to the era (2^32 s, about 136 years).
// Takes the instant that lies closest to a nearby one we know, the local clock (RFC 5905
// section 6), so the roll-over of 2036-02-07 goes unnoticed. Returns Unix seconds.
std::int64_t UnfoldSeconds(std::uint32_t seconds, std::int64_t nearUnixSeconds);

// A 64-bit timestamp as Unix microseconds (fraction floored), unfolded around nearUnixMicros.
std::int64_t ToUnixMicros(Timestamp t, std::int64_t nearUnixMicros);
Timestamp FromUnixMicros(std::int64_t unixMicros);

// A version 4 client request (mode 3) that carries only its transmit timestamp. The client
// fills it with random bits, not its clock: the server echoes it as the origin, which is all
// we need it for (RFC 5905 section 8), and the local time stays private.
std::array<std::uint8_t, kPacketSize> EncodeRequest(Timestamp transmit);

struct Reply {
  enum class Kind {
    kTime,            // a usable answer
    kKissOfDeath,     // stratum 0; detail holds the kiss code
    kUnsynchronised,  // leap indicator 3 or stratum 16; detail says which
    kMalformed,       // from the server but unusable; detail says why
    kNotOurs,         // not an answer to our request (stale or forged); detail says why
  };
  Kind kind = Kind::kMalformed;
  std::u16string detail;
  int leap = 0;
  int version = 0;
  int mode = 0;
  int stratum = 0;
  int precision = 0;            // log2 seconds, signed
  std::uint32_t rootDelay = 0;  // NTP short format, 16.16 seconds
  std::uint32_t rootDispersion = 0;
  std::uint32_t referenceId = 0;  // its four bytes, the first one highest
  Timestamp reference;            // when the server's clock was last set
  Timestamp origin;               // T1 as the server echoed it
  Timestamp receive;              // T2
  Timestamp transmit;             // T3
};

// Judges a datagram from the queried server against the request that carried origin
// (RFC 4330 section 5, RFC 5905 section 8). A datagram too short to hold the header cannot
// show that it answers our request, so it is not ours, like one with another origin: anyone
// who can send from the server's address could otherwise end the query with a byte.
Reply CheckReply(const std::uint8_t* data, std::size_t size, Timestamp origin);

// An NTP short (16.16 seconds, unsigned: root delay and root dispersion) in microseconds.
std::int64_t ShortToMicros(std::uint32_t value);

// The reference identifier as a person reads it (RFC 5905 section 7.3): four ASCII characters
// for stratum 0 and 1 (a kiss code, a reference clock's name), a dotted IPv4 address above
// (for an IPv6 upstream, the first four bytes of a hash of its address). A character that is
// not printable shows as "?", so a hostile server cannot put control characters into a line.
std::u16string ReferenceIdText(std::uint32_t referenceId, int stratum);

// The round-trip delay of RFC 5905 section 8, (T4 - T1) - (T3 - T2), in the unit of its inputs.
inline std::int64_t RoundTripDelay(std::int64_t t1, std::int64_t t2, std::int64_t t3,
                                   std::int64_t t4) {
  return (t4 - t1) - (t3 - t2);
}

// The server's time at T4, all in Unix microseconds: T4 plus the clock offset
// ((T2 - T1) + (T3 - T4)) / 2 of RFC 4330 section 5, so the round trip does not bias it.
std::int64_t ServerTimeAtReceipt(std::int64_t t1, std::int64_t t2, std::int64_t t3,
                                 std::int64_t t4);

}  // namespace brevun::ntp
