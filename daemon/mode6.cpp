// The NTP control protocol on the wire: see mode6.h.
#include "daemon/mode6.h"

#include <charconv>
#include <cmath>

#include "daemon/wire_text.h"
#include "timesource/ntp.h"

namespace brevun::daemon::mode6 {

namespace {

constexpr std::uint8_t kMode = 6;
constexpr std::uint8_t kVersion = 2;
constexpr std::uint8_t kResponseBit = 0x80;
constexpr std::uint8_t kErrorBit = 0x40;
constexpr std::uint8_t kMoreBit = 0x20;

std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(std::uint16_t{p[0]} << 8 | p[1]);
}

std::u16string Number(long long value) { return detail::AsciiText(std::to_string(value)); }

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Printable(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7f) c = '?';
  }
  return out;
}

// Milliseconds as the daemon writes them, in microseconds.
std::optional<std::int64_t> MillisecondsValue(const std::vector<Variable>& v,
                                              std::string_view name) {
  const auto text = Find(v, name);
  if (!text) return std::nullopt;
  const auto ms = DecimalValue(*text);
  std::int64_t micros = 0;
  if (!ms || !detail::SecondsToMicros(*ms / 1000, micros)) return std::nullopt;
  return micros;
}

std::optional<std::int64_t> AgeOf(const std::vector<Variable>& v, std::string_view name,
                                  std::int64_t nowUnixSeconds) {
  const auto text = Find(v, name);
  if (!text) return std::nullopt;
  const auto seconds = TimestampSeconds(*text);
  if (!seconds) return std::nullopt;
  return nowUnixSeconds - ntp::UnfoldSeconds(*seconds, nowUnixSeconds);
}

// The leap indicator: decimal, or the two bits as ntpq shows them ("00", "11").
int LeapValue(const std::vector<Variable>& v) {
  const auto text = Find(v, "leap");
  if (!text) return 3;
  const std::string_view t = Trim(*text);
  if (t.size() == 2 && (t[0] == '0' || t[0] == '1') && (t[1] == '0' || t[1] == '1')) {
    return (t[0] - '0') * 2 + (t[1] - '0');
  }
  const auto value = WholeValue(std::string(t));
  return value && *value >= 0 && *value <= 3 ? static_cast<int>(*value) : 3;
}

int SmallWhole(const std::vector<Variable>& v, std::string_view name, int fallback) {
  const auto text = Find(v, name);
  if (!text) return fallback;
  const auto value = WholeValue(*text);
  return value && *value >= 0 && *value <= 0xffff ? static_cast<int>(*value) : fallback;
}

}  // namespace

std::vector<std::uint8_t> EncodeRequest(Opcode opcode, std::uint16_t sequence,
                                        std::uint16_t association) {
  std::vector<std::uint8_t> r(kHeaderSize, 0);
  r[0] = static_cast<std::uint8_t>(kVersion << 3 | kMode);
  r[1] = opcode;
  r[2] = static_cast<std::uint8_t>(sequence >> 8);
  r[3] = static_cast<std::uint8_t>(sequence);
  r[6] = static_cast<std::uint8_t>(association >> 8);
  r[7] = static_cast<std::uint8_t>(association);
  return r;
}

Header ReadHeader(const std::uint8_t* data, std::size_t size, Opcode opcode, std::uint16_t sequence,
                  std::uint16_t association) {
  Header h;
  if (size < kHeaderSize) {
    h.detail = Number(static_cast<long long>(size)) + u" bytes, too short for a response";
    return h;
  }
  if ((data[0] & 7) != kMode || (data[1] & kResponseBit) == 0) {
    h.detail = u"not a control response";
    return h;
  }
  Fragment& f = h.fragment;
  f.error = (data[1] & kErrorBit) != 0;
  f.more = (data[1] & kMoreBit) != 0;
  f.opcode = data[1] & 0x1f;
  f.sequence = Read16(data + 2);
  f.status = Read16(data + 4);
  f.association = Read16(data + 6);
  f.offset = Read16(data + 8);
  f.count = Read16(data + 10);
  f.data = data + kHeaderSize;
  // The sequence number, opcode and association tie a response to our request (RFC 9327
  // section 2).
  if (f.opcode != opcode || f.sequence != sequence || f.association != association) {
    h.detail = u"a response to another request";
    return h;
  }
  if (f.count > size - kHeaderSize) {
    h.kind = Header::Kind::kMalformed;
    h.detail = u"a fragment says it carries " + Number(f.count) + u" bytes in a datagram of " +
               Number(static_cast<long long>(size));
    return h;
  }
  if (f.count > kMaxFragmentData) {
    h.kind = Header::Kind::kMalformed;
    h.detail = u"a fragment of " + Number(f.count) + u" bytes, more than one may carry";
    return h;
  }
  h.kind = Header::Kind::kFragment;
  return h;
}

std::u16string ErrorText(int code) {
  switch (code) {
    case 0:
      return u"unspecified error";
    case 1:
      return u"authentication failure";
    case 2:
      return u"invalid message length or format";
    case 3:
      return u"invalid opcode";
    case 4:
      return u"unknown association";
    case 5:
      return u"unknown variable name";
    case 6:
      return u"invalid variable value";
    case 7:
      return u"administratively prohibited";
    default:
      break;
  }
  return u"error " + Number(code);
}

Reassembly::Step Reassembly::Fail(std::u16string detail) {
  failed_ = true;
  detail_ = std::move(detail);
  return Step::kMalformed;
}

Reassembly::Step Reassembly::Add(const Fragment& f) {
  if (failed_) return Step::kMalformed;
  const std::size_t offset = f.offset;
  const std::size_t end = offset + f.count;
  if (++fragments_ > kMaxFragments) {
    return Fail(u"more than " + Number(kMaxFragments) + u" fragments");
  }
  if (end > kMaxResponseBytes) {
    return Fail(u"a fragment ends at byte " + Number(static_cast<long long>(end)) +
                u", beyond the " + Number(kMaxResponseBytes) + u" a response may have");
  }
  if (!f.more && total_ && *total_ != end) {
    return Fail(u"two last fragments end at different bytes");
  }
  if (total_ && end > *total_) {
    return Fail(u"a fragment lies beyond the response's last byte");
  }
  if (!f.more) {
    if (bytes_.size() > end) return Fail(u"a fragment lies beyond the response's last byte");
    total_ = end;
  }
  if (bytes_.size() < end) {
    bytes_.resize(end);
    have_.resize(end, false);
  }
  for (std::size_t i = offset; i < end; ++i) {
    const char c = static_cast<char>(f.data[i - offset]);
    if (have_[i]) {
      if (bytes_[i] != c) return Fail(u"overlapping fragments disagree");
      continue;
    }
    have_[i] = true;
    bytes_[i] = c;
    ++received_;
  }
  return total_ && received_ == *total_ ? Step::kComplete : Step::kIncomplete;
}

std::string Reassembly::Data() const { return bytes_; }

std::vector<Variable> ParseVariables(std::string_view text) {
  std::vector<Variable> out;
  std::size_t i = 0;
  while (i < text.size()) {
    // One item: up to a comma outside quotes.
    const std::size_t start = i;
    bool quoted = false;
    while (i < text.size() && (quoted || text[i] != ',')) {
      if (text[i] == '"') quoted = !quoted;
      ++i;
    }
    const std::string_view item = Trim(text.substr(start, i - start));
    ++i;  // the comma
    if (item.empty()) continue;
    Variable v;
    const std::size_t equals = item.find('=');
    v.name = Printable(Trim(item.substr(0, equals)));
    if (equals != std::string_view::npos) {
      std::string_view value = Trim(item.substr(equals + 1));
      if (!value.empty() && value.front() == '"') {
        value.remove_prefix(1);
        if (!value.empty() && value.back() == '"') value.remove_suffix(1);
      }
      v.value = Printable(value);
    }
    if (!v.name.empty()) out.push_back(std::move(v));
  }
  return out;
}

std::optional<std::string> Find(const std::vector<Variable>& variables, std::string_view name) {
  for (const auto& v : variables) {
    if (v.name == name) return v.value;
  }
  return std::nullopt;
}

std::optional<double> DecimalValue(const std::string& text) {
  std::string_view t = Trim(text);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (error != std::errc() || end != t.data() + t.size() || t.empty() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::int64_t> WholeValue(const std::string& text) {
  std::string_view t = Trim(text);
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    t.remove_prefix(2);
    base = 16;
  }
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value, base);
  if (error != std::errc() || end != t.data() + t.size() || t.empty()) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> TimestampSeconds(const std::string& text) {
  std::string_view t = Trim(text);
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
  const std::size_t dot = t.find('.');
  const std::string_view seconds = t.substr(0, dot);
  if (seconds.empty() || seconds.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, error] =
      std::from_chars(seconds.data(), seconds.data() + seconds.size(), value, 16);
  if (error != std::errc() || end != seconds.data() + seconds.size() || value == 0) {
    return std::nullopt;
  }
  return value;
}

std::vector<Association> ParseAssociations(std::string_view data) {
  std::vector<Association> out;
  for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data() + i);
    out.push_back({Read16(p), Read16(p + 2)});
  }
  return out;
}

Source MakeSource(std::uint16_t status, const std::vector<Variable>& v,
                  std::int64_t nowUnixSeconds) {
  Source s;
  auto address = Find(v, "srcadr");
  if (!address || address->empty() || *address == "0.0.0.0") address = Find(v, "srchost");
  s.name = address && !address->empty() ? detail::AsciiText(*address) : u"(no address)";
  s.reach = SmallWhole(v, "reach", 0) & 0xff;
  s.stratum = SmallWhole(v, "stratum", 16);
  static constexpr struct {
    Source::State state;
    const char16_t* text;
  } kSelection[8] = {
      {Source::State::kOther, u"reject"},       {Source::State::kFalseticker, u"falsetick"},
      {Source::State::kCandidate, u"excess"},   {Source::State::kOutlier, u"outlier"},
      {Source::State::kCombined, u"candidate"}, {Source::State::kCandidate, u"backup"},
      {Source::State::kSelected, u"sys.peer"},  {Source::State::kSelected, u"pps.peer"},
  };
  const auto& selection = kSelection[(status >> 8) & 7];
  s.state = s.reach == 0 ? Source::State::kUnreachable : selection.state;
  s.stateText = selection.text;
  s.lastSampleAgeSeconds = AgeOf(v, "rec", nowUnixSeconds);
  // A peer never heard from has no sample, whatever its offset variable says (0 then).
  if (s.lastSampleAgeSeconds || (s.reach != 0 && !Find(v, "rec"))) {
    s.offsetMicros = MillisecondsValue(v, "offset");
    s.errorMicros = MillisecondsValue(v, "jitter");
  }
  return s;
}

Report MakeReport(const std::vector<Variable>& v, std::int64_t nowUnixSeconds) {
  Report r;
  r.kind = Kind::kNtp;
  r.daemon = u"ntpd";
  r.leap = LeapValue(v);
  r.stratum = SmallWhole(v, "stratum", 16);
  r.synchronised = r.leap != 3 && r.stratum >= 1 && r.stratum <= 15;
  if (const auto refid = Find(v, "refid")) r.reference = detail::AsciiText(*refid);
  // An unsynchronised ntpd's offset (0) is no estimate.
  if (r.synchronised) r.offsetMicros = MillisecondsValue(v, "offset");
  r.rootDelayMicros = MillisecondsValue(v, "rootdelay").value_or(0);
  r.rootDispersionMicros = MillisecondsValue(v, "rootdisp").value_or(0);
  if (const auto text = Find(v, "frequency")) r.frequencyPpm = DecimalValue(*text);
  r.lastUpdateAgeSeconds = AgeOf(v, "reftime", nowUnixSeconds);
  if (const auto version = Find(v, "version")) {
    r.notes.push_back(u"The daemon calls itself \"" + detail::AsciiText(*version) + u"\"");
  }
  return r;
}

}  // namespace brevun::daemon::mode6
