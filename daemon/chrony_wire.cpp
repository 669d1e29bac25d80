// chrony's command protocol on the wire: see chrony_wire.h.
#include "daemon/chrony_wire.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "daemon/wire_text.h"

namespace brevun::daemon::chrony {

namespace {

constexpr std::uint8_t kRequestType = 1;
constexpr std::uint8_t kReplyType = 2;

enum ReplyCode : std::uint16_t { kRpyNSources = 2, kRpySourceData = 3, kRpyTracking = 5 };

// The families of an address as chronyd sends it.
constexpr std::uint16_t kFamilyInet4 = 1;
constexpr std::uint16_t kFamilyInet6 = 2;
constexpr std::uint16_t kFamilyId = 3;  // a source whose name is not resolved yet

// Source modes and states (chronyc's legend words for the states).
constexpr int kModeReferenceClock = 2;

std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(std::uint16_t{p[0]} << 8 | p[1]);
}
std::uint32_t Read32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
void Write16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void Write32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
double FloatAt(const std::uint8_t* p) { return DecodeFloat(Read32(p)); }

struct Shape {
  std::size_t requestFields;
  ReplyCode reply;
  std::size_t replyFields;
};

Shape ShapeOf(Command command) {
  switch (command) {
    case kNSources:
      return {0, kRpyNSources, kNSourcesSize};
    case kSourceData:
      return {4, kRpySourceData, kSourceDataSize};
    case kTracking:
      break;
  }
  return {0, kRpyTracking, kTrackingSize};
}

std::u16string Number(long long value) {
  const std::string text = std::to_string(value);
  return detail::AsciiText(text);
}

}  // namespace

double DecodeFloat(std::uint32_t wire) {
  // The top 7 bits are the exponent and the low 25 the coefficient, each in two's complement:
  // the value is coefficient * 2^(exponent - 25).
  int exponent = static_cast<int>(wire >> 25);
  if (exponent >= 64) exponent -= 128;
  std::int32_t coefficient = static_cast<std::int32_t>(wire & 0x1ffffff);
  if (coefficient >= 0x1000000) coefficient -= 0x2000000;
  return std::ldexp(static_cast<double>(coefficient), exponent - 25);
}

std::vector<std::uint8_t> EncodeRequest(Command command, std::uint32_t sequence,
                                        std::uint16_t attempt, std::uint32_t index) {
  const Shape shape = ShapeOf(command);
  const std::size_t length =
      std::max(kRequestHeaderSize + shape.requestFields, kReplyHeaderSize + shape.replyFields);
  std::vector<std::uint8_t> r(length, 0);
  r[0] = kProtocolVersion;
  r[1] = kRequestType;
  Write16(&r[4], command);
  Write16(&r[6], attempt);
  Write32(&r[8], sequence);
  if (command == kSourceData) Write32(&r[kRequestHeaderSize], index);
  return r;
}

std::u16string StatusText(int status) {
  switch (status) {
    case 1:
      return u"the command failed";
    case 2:
      return u"not authorised";
    case 3:
      return u"invalid command";
    case 4:
      return u"no such source";
    case 6:
      return u"not enabled";
    case 15:
      return u"inactive";
    case 18:
      return u"protocol version not supported";
    case 19:
      return u"request of the wrong length";
    default:
      break;
  }
  return u"status " + Number(status);
}

Reply CheckReply(const std::uint8_t* data, std::size_t size, Command command,
                 std::uint32_t sequence) {
  Reply r;
  // A reply shows that it answers us by echoing the command and our random sequence number.
  if (size < kReplyHeaderSize) {
    r.detail = Number(static_cast<long long>(size)) + u" bytes, too short for a reply";
    return r;
  }
  if (data[1] != kReplyType || Read16(data + 4) != command || Read32(data + 16) != sequence) {
    r.detail = u"a reply to another request";
    return r;
  }
  r.status = Read16(data + 8);
  if (data[0] != kProtocolVersion) {
    r.kind = Reply::Kind::kMalformed;
    r.detail = u"protocol version " + Number(data[0]) + u", not 6";
    return r;
  }
  if (r.status != 0) {
    r.kind = Reply::Kind::kRefused;
    r.detail = StatusText(r.status);
    return r;
  }
  const Shape shape = ShapeOf(command);
  if (Read16(data + 6) != shape.reply) {
    r.kind = Reply::Kind::kMalformed;
    r.detail = u"reply type " + Number(Read16(data + 6)) + u" to command " + Number(command);
    return r;
  }
  if (size < kReplyHeaderSize + shape.replyFields) {
    r.kind = Reply::Kind::kMalformed;
    r.detail = Number(static_cast<long long>(size)) + u" of " +
               Number(static_cast<long long>(kReplyHeaderSize + shape.replyFields)) +
               u" bytes received";
    return r;
  }
  r.kind = Reply::Kind::kOk;
  r.body = data + kReplyHeaderSize;
  return r;
}

std::u16string AddressText(const std::uint8_t* ip) {
  const std::uint16_t family = Read16(ip + 16);
  char text[64] = {};
  if (family == kFamilyInet4) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return detail::AsciiText(text);
  }
  if (family == kFamilyInet6) {
    // The full form, each group in hex without leading zeros; the longest run of zero
    // groups (two or more) shortened to "::" as RFC 5952 section 4.2 writes it.
    int best = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
      int j = i;
      while (j < 8 && Read16(ip + 2 * j) == 0) ++j;
      if (j - i > bestLength && j - i >= 2) {
        best = i;
        bestLength = j - i;
      }
      i = j == i ? i + 1 : j;
    }
    std::string out;
    for (int i = 0; i < 8; ++i) {
      if (i == best) {
        out += "::";
        i += bestLength - 1;
        continue;
      }
      if (!out.empty() && out.back() != ':') out += ':';
      char group[8];
      std::snprintf(group, sizeof group, "%x", Read16(ip + 2 * i));
      out += group;
    }
    return detail::AsciiText(out);
  }
  return {};
}

Tracking DecodeTracking(const std::uint8_t* b) {
  Tracking t;
  t.referenceId = Read32(b);
  t.referenceAddress = AddressText(b + 4);
  t.stratum = Read16(b + 24);
  t.leap = Read16(b + 26);
  std::uint32_t high = Read32(b + 28);
  if (high == 0x7fffffff) high = 0;  // a daemon with 32-bit seconds sends no high word
  const std::uint32_t low = Read32(b + 32);
  const std::uint32_t nanos = Read32(b + 36);
  // Seconds past 2^40 (some 35000 years) are no reference time, and would overflow a
  // microsecond count.
  if ((high != 0 || low != 0 || nanos != 0) && high < 256 && nanos < 1000000000u) {
    const std::int64_t seconds = static_cast<std::int64_t>(std::uint64_t{high} << 32 | low);
    t.referenceUnixMicros = seconds * 1000000 + nanos / 1000;
  }
  t.correction = FloatAt(b + 40);
  t.lastOffset = FloatAt(b + 44);
  t.rmsOffset = FloatAt(b + 48);
  t.frequencyPpm = FloatAt(b + 52);
  t.residualFrequencyPpm = FloatAt(b + 56);
  t.skewPpm = FloatAt(b + 60);
  t.rootDelay = FloatAt(b + 64);
  t.rootDispersion = FloatAt(b + 68);
  t.updateInterval = FloatAt(b + 72);
  return t;
}

std::uint32_t DecodeNSources(const std::uint8_t* body) { return Read32(body); }

SourceData DecodeSourceData(const std::uint8_t* b) {
  SourceData s;
  const std::uint16_t family = Read16(b + 16);
  s.mode = Read16(b + 26);
  s.unresolved = family == kFamilyId;
  // A reference clock's "address" holds its reference id (chronyc shows it so).
  if (s.mode == kModeReferenceClock && family == kFamilyInet4) {
    s.name = detail::ReferenceIdText(Read32(b));
  } else {
    s.name = AddressText(b);
  }
  s.poll = static_cast<std::int16_t>(Read16(b + 20));
  s.stratum = Read16(b + 22);
  s.state = Read16(b + 24);
  s.reach = Read16(b + 30) & 0xff;
  const std::uint32_t since = Read32(b + 32);
  if (since != 0xffffffffu) s.sinceSample = since;
  s.originalLatest = FloatAt(b + 36);
  s.latest = FloatAt(b + 40);
  s.latestError = FloatAt(b + 44);
  return s;
}

namespace {

Source MakeSource(const SourceData& d) {
  Source s;
  s.name = d.name.empty() ? u"(no address)" : d.name;
  s.reach = d.reach;
  s.stratum = d.stratum;
  // chronyd's source states, by their number.
  struct Named {
    Source::State state;
    const char16_t* text;
  };
  static constexpr Named kStates[] = {
      {Source::State::kSelected, u"selected"},       {Source::State::kOther, u"unusable"},
      {Source::State::kFalseticker, u"falseticker"}, {Source::State::kJittery, u"too variable"},
      {Source::State::kCombined, u"combined"},       {Source::State::kCandidate, u"not combined"},
  };
  if (d.state >= 0 && static_cast<std::size_t>(d.state) < std::size(kStates)) {
    s.state = kStates[d.state].state;
    s.stateText = kStates[d.state].text;
  } else {
    s.state = Source::State::kOther;
    s.stateText = u"state " + Number(d.state);
  }
  if (d.reach == 0) s.state = Source::State::kUnreachable;
  if (d.sinceSample) {
    s.lastSampleAgeSeconds = *d.sinceSample;
    // chronyd's sample is our clock minus the source's (positive: we are ahead); a source's
    // offset here has the sign of an SNTP offset, the source's clock minus ours.
    std::int64_t micros = 0;
    if (detail::SecondsToMicros(-d.latest, micros)) s.offsetMicros = micros;
    if (detail::SecondsToMicros(d.latestError, micros)) s.errorMicros = micros;
  }
  return s;
}

}  // namespace

Report MakeReport(const Tracking& t, const std::vector<SourceData>& sources,
                  std::int64_t nowUnixMicros) {
  Report r;
  r.kind = Kind::kChrony;
  r.daemon = u"chronyd";
  r.leap = t.leap >= 0 && t.leap <= 3 ? t.leap : 3;
  r.synchronised = r.leap != 3;
  r.stratum = t.stratum;
  r.reference =
      !t.referenceAddress.empty() ? t.referenceAddress : detail::ReferenceIdText(t.referenceId);
  // The correction chronyd still has to make: positive when our clock is behind true time.
  // An unsynchronised chronyd has none to make and says 0, which is no estimate.
  std::int64_t micros = 0;
  if (r.synchronised && detail::SecondsToMicros(t.correction, micros)) r.offsetMicros = micros;
  r.rootDelayMicros = detail::ClampedMicros(t.rootDelay);
  r.rootDispersionMicros = detail::ClampedMicros(t.rootDispersion);
  if (std::isfinite(t.frequencyPpm)) r.frequencyPpm = t.frequencyPpm;
  if (std::isfinite(t.skewPpm)) r.skewPpm = t.skewPpm;
  // The reference time is on chronyd's own timescale, which is our clock plus the correction
  // it has yet to make (all of it, for a chronyd that may not touch the clock).
  if (t.referenceUnixMicros) {
    r.lastUpdateAgeSeconds =
        detail::FloorSeconds(nowUnixMicros + r.offsetMicros.value_or(0) - *t.referenceUnixMicros);
  }
  for (const auto& d : sources) {
    if (!d.unresolved) r.sources.push_back(MakeSource(d));
  }
  return r;
}

}  // namespace brevun::daemon::chrony
