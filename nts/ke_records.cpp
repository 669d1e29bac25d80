#include "nts/ke_records.h"

#include "check/text.h"
#include "timesource/trace.h"

namespace brevun::nts {

namespace {

using trace::Number;

constexpr std::uint16_t kCriticalBit = 0x8000;

std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void Append16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

std::vector<std::uint16_t> Read16s(const Bytes& body) {
  std::vector<std::uint16_t> values;
  for (std::size_t i = 0; i + 1 < body.size(); i += 2) values.push_back(Read16(&body[i]));
  return values;
}

const char16_t* TypeName(std::uint16_t type) {
  switch (static_cast<RecordType>(type)) {
    case RecordType::kEndOfMessage:
      return u"end of message";
    case RecordType::kNextProtocol:
      return u"next protocol";
    case RecordType::kError:
      return u"error";
    case RecordType::kWarning:
      return u"warning";
    case RecordType::kAeadAlgorithm:
      return u"AEAD algorithm";
    case RecordType::kNewCookie:
      return u"new cookie";
    case RecordType::kServer:
      return u"NTPv4 server";
    case RecordType::kPort:
      return u"NTPv4 port";
  }
  return nullptr;
}

// RFC 8915 section 4.1.3.
std::u16string ErrorName(std::uint16_t code) {
  switch (code) {
    case 0:
      return u"unrecognized critical record";
    case 1:
      return u"bad request";
    case 2:
      return u"internal server error";
  }
  return u"unknown error";
}

std::u16string ProtocolName(std::uint16_t id) {
  return id == kProtocolNtpV4 ? u"NTPv4" : u"protocol " + Number(id);
}

std::u16string AeadName(std::uint16_t id) {
  return id == kAeadAesSivCmac256 ? u"AEAD_AES_SIV_CMAC_256 (15)" : Number(id);
}

template <typename Name>
std::u16string List(const std::vector<std::uint16_t>& ids, Name name) {
  if (ids.empty()) return u"(none)";
  std::u16string text;
  for (const std::uint16_t id : ids) text += (text.empty() ? u"" : u", ") + name(id);
  return text;
}

// A hostname or an address in ASCII, never a control character or a blank (RFC 8915 section
// 4.1.7): what a description may quote and a resolver may be given.
bool IsServerText(const Bytes& body) {
  if (body.empty() || body.size() > 255) return false;
  for (const std::uint8_t c : body) {
    if (c < 0x21 || c > 0x7e) return false;
  }
  return true;
}

// Why a record's body does not fit its type, or empty.
std::u16string BodyProblem(const Record& r) {
  const std::size_t n = r.body.size();
  switch (static_cast<RecordType>(r.type)) {
    case RecordType::kEndOfMessage:
      return n == 0 ? u"" : u"a body of " + Number(static_cast<long long>(n)) + u" bytes";
    case RecordType::kNextProtocol:
    case RecordType::kAeadAlgorithm:
      return n % 2 == 0 ? u"" : u"an odd length of " + Number(static_cast<long long>(n));
    case RecordType::kError:
    case RecordType::kWarning:
      return n == 2 ? u"" : Number(static_cast<long long>(n)) + u" bytes, not 2";
    case RecordType::kPort:
      if (n != 2) return Number(static_cast<long long>(n)) + u" bytes, not 2";
      return Read16(r.body.data()) != 0 ? u"" : u"port 0";
    case RecordType::kNewCookie:
      return n > 0 ? u"" : u"no bytes";
    case RecordType::kServer:
      return IsServerText(r.body) ? u"" : u"no printable name or address";
  }
  return u"";
}

}  // namespace

void AppendRecord(Bytes& out, bool critical, RecordType type, const Bytes& body) {
  Append16(out, static_cast<std::uint16_t>((critical ? kCriticalBit : 0) |
                                           static_cast<std::uint16_t>(type)));
  Append16(out, static_cast<std::uint16_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

Bytes EncodeRequest() {
  Bytes out;
  AppendRecord(out, true, RecordType::kNextProtocol, {0, kProtocolNtpV4});
  AppendRecord(out, true, RecordType::kAeadAlgorithm, {0, kAeadAesSivCmac256});
  AppendRecord(out, true, RecordType::kEndOfMessage, {});
  return out;
}

const KeParse& ResponseReader::Add(const std::uint8_t* data, std::size_t size) {
  if (parse_.state == KeParse::State::kMalformed || size == 0) return parse_;
  KeParse& p = parse_;
  KeResponse& r = p.response;
  const auto malformed = [&](std::u16string why) -> const KeParse& {
    p.state = KeParse::State::kMalformed;
    p.problem = std::move(why);
    return p;
  };
  if (p.state == KeParse::State::kComplete) {
    return malformed(Number(static_cast<long long>(size)) + u" bytes after the end of message");
  }
  bytes_.insert(bytes_.end(), data, data + size);
  // Only what came since the last whole record is read: a response that arrives a few bytes
  // at a time costs no more than one that arrives at once.
  const std::uint8_t* const all = bytes_.data();
  const std::size_t total = bytes_.size();
  for (;;) {
    if (total - at_ < 4) return p;
    const std::uint16_t word = Read16(all + at_);
    const std::size_t length = Read16(all + at_ + 2);
    if (total - at_ - 4 < length) return p;
    Record record{(word & kCriticalBit) != 0, static_cast<std::uint16_t>(word & ~kCriticalBit),
                  Bytes(all + at_ + 4, all + at_ + 4 + length)};
    at_ += 4 + length;
    const char16_t* name = TypeName(record.type);
    if (name == nullptr) {
      // Unknown records are skipped unless the server insists we understand them
      // (RFC 8915 section 4).
      if (record.critical) {
        return malformed(u"an unrecognized critical record of type " + Number(record.type));
      }
      r.records.push_back(std::move(record));
      continue;
    }
    const std::u16string problem = BodyProblem(record);
    if (!problem.empty()) return malformed(std::u16string(name) + u" record with " + problem);
    const auto once = [&](bool seen) {
      return seen ? u"a second " + std::u16string(name) + u" record" : u"";
    };
    std::u16string repeated;
    switch (static_cast<RecordType>(record.type)) {
      case RecordType::kEndOfMessage:
        r.records.push_back(std::move(record));
        if (at_ != total) {
          return malformed(Number(static_cast<long long>(total - at_)) +
                           u" bytes after the end of message");
        }
        p.state = KeParse::State::kComplete;
        return p;
      case RecordType::kNextProtocol:
        repeated = once(r.protocols.has_value());
        r.protocols = Read16s(record.body);
        break;
      case RecordType::kAeadAlgorithm:
        repeated = once(r.aeads.has_value());
        r.aeads = Read16s(record.body);
        break;
      case RecordType::kError:
        if (!r.error) r.error = Read16(record.body.data());
        break;
      case RecordType::kWarning:
        if (!r.warning) r.warning = Read16(record.body.data());
        break;
      case RecordType::kNewCookie:
        r.cookies.push_back(record.body);
        break;
      case RecordType::kServer:
        repeated = once(r.server.has_value());
        r.server = std::string(record.body.begin(), record.body.end());
        break;
      case RecordType::kPort:
        repeated = once(r.port.has_value());
        r.port = Read16(record.body.data());
        break;
    }
    if (!repeated.empty()) return malformed(repeated);
    r.records.push_back(std::move(record));
  }
}

KeParse ParseResponse(const std::uint8_t* data, std::size_t size) {
  ResponseReader reader;
  return reader.Add(data, size);
}

std::u16string Refusal(const KeResponse& r, const std::u16string& serverText) {
  const std::u16string ke = u"The key establishment with " + serverText;
  // An error ends the key establishment; so does a warning, since no warning codes are
  // defined and an unrecognized one counts as an error (RFC 8915 sections 4.1.3, 4.1.4).
  if (r.error)
    return ke + u" sent error record " + Number(*r.error) + u" (" + ErrorName(*r.error) + u")";
  if (r.warning) return ke + u" sent warning record " + Number(*r.warning);
  // The server answers with the one protocol and algorithm it chose out of ours
  // (RFC 8915 sections 4.1.2, 4.1.5); an empty list declines them all.
  if (!r.protocols || *r.protocols != std::vector<std::uint16_t>{kProtocolNtpV4}) {
    return ke + u" does not agree on NTPv4 (next protocol: " +
           (r.protocols ? List(*r.protocols, ProtocolName) : u"no record") + u")";
  }
  if (!r.aeads || *r.aeads != std::vector<std::uint16_t>{kAeadAesSivCmac256}) {
    return ke + u" does not agree on AEAD_AES_SIV_CMAC_256 (15) (AEAD algorithm: " +
           (r.aeads ? List(*r.aeads, AeadName) : u"no record") + u")";
  }
  if (r.cookies.empty()) return u"No cookie from " + serverText;
  return {};
}

std::u16string Describe(const Record& record) {
  const char16_t* name = TypeName(record.type);
  std::u16string text;
  if (name == nullptr) {
    text = u"record type " + Number(record.type) + u" (" +
           Number(static_cast<long long>(record.body.size())) + u" bytes)";
  } else {
    text = name;
    switch (static_cast<RecordType>(record.type)) {
      case RecordType::kNextProtocol:
        text += u" " + List(Read16s(record.body), ProtocolName);
        break;
      case RecordType::kAeadAlgorithm:
        text += u" " + List(Read16s(record.body), AeadName);
        break;
      case RecordType::kError:
      case RecordType::kWarning:
      case RecordType::kPort:
        if (record.body.size() == 2) {
          const std::uint16_t value = Read16(record.body.data());
          text += u" " + Number(value);
          if (record.type == static_cast<std::uint16_t>(RecordType::kError)) {
            text += u" (" + ErrorName(value) + u")";
          }
        }
        break;
      case RecordType::kNewCookie:
        text += u" (" + Number(static_cast<long long>(record.body.size())) + u" bytes)";
        break;
      case RecordType::kServer:
        if (IsServerText(record.body)) {
          text += u" " + FromUtf8(std::string(record.body.begin(), record.body.end()));
        }
        break;
      case RecordType::kEndOfMessage:
        break;
    }
  }
  return record.critical ? text + u" (critical)" : text;
}

}  // namespace brevun::nts
