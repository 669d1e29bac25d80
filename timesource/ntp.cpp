#include "timesource/ntp.h"

#include <string>

#include "check/text.h"

namespace brevun::ntp {

namespace {

void Write32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

Timestamp ReadTimestamp(const std::uint8_t* p) { return Timestamp{Read32(p), Read32(p + 4)}; }

std::u16string Number(long long v) { return FromUtf8(std::to_string(v)); }

// Kiss codes and reference clock names are up to four ASCII characters, padded with NULs or
// blanks (RFC 4330 section 8); anything else is shown as "?" so a hostile server cannot put
// control characters into our texts.
std::u16string AsciiCode(std::uint32_t word) {
  std::uint8_t p[4];
  Write32(p, word);
  std::size_t n = 4;
  while (n > 0 && (p[n - 1] == 0 || p[n - 1] == ' ')) --n;
  std::u16string code;
  for (std::size_t i = 0; i < n; ++i) {
    code.push_back(p[i] >= 0x20 && p[i] < 0x7f ? static_cast<char16_t>(p[i]) : u'?');
  }
  return code;
}

std::u16string KissCode(std::uint32_t word) {
  const std::u16string code = AsciiCode(word);
  return code.empty() ? u"(no code)" : code;
}

}  // namespace

std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor) {
  std::int64_t q = value / divisor;
  if ((value % divisor != 0) && ((value < 0) != (divisor < 0))) --q;
  return q;
}

std::int64_t UnfoldSeconds(std::uint32_t seconds, std::int64_t nearUnixSeconds) {
  const std::int64_t nearNtp = nearUnixSeconds + kUnixEpochInNtpSeconds;
  // The signed 32-bit distance from the reference to the value, taken modulo 2^32.
  const auto distance =
      static_cast<std::int32_t>(seconds - static_cast<std::uint32_t>(nearNtp & 0xffffffff));
  return nearNtp + distance - kUnixEpochInNtpSeconds;
}

std::int64_t ToUnixMicros(Timestamp t, std::int64_t nearUnixMicros) {
  const std::int64_t seconds = UnfoldSeconds(t.seconds, FloorDiv(nearUnixMicros, kMicros));
  const auto micros = static_cast<std::int64_t>((std::uint64_t{t.fraction} * kMicros) >> 32);
  return seconds * kMicros + micros;
}

Timestamp FromUnixMicros(std::int64_t unixMicros) {
  const std::int64_t seconds = FloorDiv(unixMicros, kMicros);
  const std::int64_t micros = unixMicros - seconds * kMicros;
  Timestamp t;
  t.seconds = static_cast<std::uint32_t>((seconds + kUnixEpochInNtpSeconds) & 0xffffffff);
  // Rounded up so that reading back (which floors) gives the same microsecond.
  t.fraction = static_cast<std::uint32_t>(
      ((static_cast<std::uint64_t>(micros) << 32) + kMicros - 1) / kMicros);
  return t;
}

std::array<std::uint8_t, kPacketSize> EncodeRequest(Timestamp transmit) {
  std::array<std::uint8_t, kPacketSize> packet{};
  packet[0] = (0 << 6) | (4 << 3) | 3;  // LI 0, version 4, mode 3 (client)
  Write32(&packet[40], transmit.seconds);
  Write32(&packet[44], transmit.fraction);
  return packet;
}

Reply CheckReply(const std::uint8_t* data, std::size_t size, Timestamp origin) {
  Reply r;
  if (size < kPacketSize) {
    r.kind = Reply::Kind::kNotOurs;
    r.detail = Number(static_cast<long long>(size)) + u" bytes, fewer than 48";
    return r;
  }
  r.leap = data[0] >> 6;
  r.version = (data[0] >> 3) & 7;
  r.mode = data[0] & 7;
  r.stratum = data[1];
  r.precision = static_cast<std::int8_t>(data[3]);
  r.rootDelay = Read32(data + 4);
  r.rootDispersion = Read32(data + 8);
  r.referenceId = Read32(data + 12);
  r.reference = ReadTimestamp(data + 16);
  r.origin = ReadTimestamp(data + 24);
  r.receive = ReadTimestamp(data + 32);
  r.transmit = ReadTimestamp(data + 40);

  // Only an echo of our random transmit timestamp proves that this answers our request;
  // anything else is stale, duplicated or forged and is ignored (RFC 5905 section 8).
  if (!(r.origin == origin)) {
    r.kind = Reply::Kind::kNotOurs;
    r.detail = u"origin timestamp does not match our request";
    return r;
  }
  r.kind = Reply::Kind::kMalformed;
  if (r.mode != 4) {
    r.detail = u"mode " + Number(r.mode) + u", not 4 (server)";
    return r;
  }
  if (r.version < 1 || r.version > 4) {
    r.detail = u"version " + Number(r.version) + u", not 1 to 4";
    return r;
  }
  // Stratum 0 carries a kiss code in the reference identifier (RFC 4330 section 8); a kiss
  // usually comes with leap indicator 3 as well, and the code is the more useful news.
  if (r.stratum == 0) {
    r.kind = Reply::Kind::kKissOfDeath;
    r.detail = KissCode(r.referenceId);
    return r;
  }
  if (r.leap == 3) {
    r.kind = Reply::Kind::kUnsynchronised;
    r.detail = u"leap indicator 3";
    return r;
  }
  // RFC 5905 section 7.3: stratum 16 means unsynchronised; 17 to 255 are reserved.
  if (r.stratum == 16) {
    r.kind = Reply::Kind::kUnsynchronised;
    r.detail = u"stratum 16";
    return r;
  }
  if (r.stratum > 16) {
    r.detail = u"stratum " + Number(r.stratum) + u", not 1 to 15";
    return r;
  }
  if (r.transmit.IsZero()) {
    r.detail = u"transmit timestamp is zero";
    return r;
  }
  r.kind = Reply::Kind::kTime;
  return r;
}

std::int64_t ShortToMicros(std::uint32_t value) {
  return static_cast<std::int64_t>((std::uint64_t{value} * kMicros) >> 16);
}

std::u16string ReferenceIdText(std::uint32_t referenceId, int stratum) {
  if (stratum <= 1) return AsciiCode(referenceId);
  std::u16string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.empty()) text += u".";
    text += Number((referenceId >> shift) & 0xff);
  }
  return text;
}

std::int64_t ServerTimeAtReceipt(std::int64_t t1, std::int64_t t2, std::int64_t t3,
                                 std::int64_t t4) {
  return t4 + FloorDiv((t2 - t1) + (t3 - t4), 2);
}

}  // namespace brevun::ntp
