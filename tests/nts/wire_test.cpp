// The NTS records and extension fields against the RFC's formats and against one real exchange
// with chronyd, captured by the end-to-end test (data/chronyd_exchange.txt: the key
// establishment's records, the keys exported from that TLS session, and the first NTP request
// and reply).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "check/text.h"
#include "loopback.h"
#include "nts/aead.h"
#include "nts/extension_fields.h"
#include "nts/ke_records.h"

namespace brevun::nts {
namespace {

using brevun::testing::Join;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

const std::map<std::string, Bytes>& Capture() {
  static const std::map<std::string, Bytes> capture = [] {
    std::map<std::string, Bytes> c;
    std::ifstream in(BREVUN_NTS_DATA "/chronyd_exchange.txt");
    std::string name, hex;
    while (in >> name >> hex) c[name] = FromHex(hex);
    return c;
  }();
  return capture;
}

const Bytes& Captured(const std::string& name) {
  const auto it = Capture().find(name);
  if (it == Capture().end()) {
    ADD_FAILURE() << name << " missing from the capture";
    static const Bytes none;
    return none;
  }
  return it->second;
}

std::uint16_t Read16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>((b.at(at) << 8) | b.at(at + 1));
}

// The NTS fields of a packet after its header: type and where the body lies.
struct Field {
  std::uint16_t type;
  std::size_t body;
  std::size_t size;
};
std::vector<Field> FieldsOf(const Bytes& packet) {
  std::vector<Field> fields;
  for (std::size_t at = ntp::kPacketSize; at + 4 <= packet.size(); at += Read16(packet, at + 2)) {
    fields.push_back({Read16(packet, at), at + 4, Read16(packet, at + 2) - 4u});
    if (Read16(packet, at + 2) == 0) break;
  }
  return fields;
}

Bytes Record(bool critical, RecordType type, const Bytes& body) {
  Bytes out;
  AppendRecord(out, critical, type, body);
  return out;
}

TEST(KeRecords, TheRequestIsNtpV4AndSivCmacThenEndOfMessageAllCritical) {
  // RFC 8915 section 4: the critical bit, 15 bits of type, 16 bits of length, the body.
  const Bytes rfc = {0x80, 0x01, 0x00, 0x02, 0x00, 0x00,  // next protocol: NTPv4 (0)
                     0x80, 0x04, 0x00, 0x02, 0x00, 0x0f,  // AEAD: AEAD_AES_SIV_CMAC_256 (15)
                     0x80, 0x00, 0x00, 0x00};             // end of message
  EXPECT_EQ(EncodeRequest(), rfc);
  EXPECT_EQ(Captured("ke_request"), rfc);
}

TEST(KeRecords, ChronydsResponseParsesWhenCompleteAndOnlyThen) {
  const Bytes& bytes = Captured("ke_response");
  const KeParse p = ParseResponse(bytes.data(), bytes.size());
  ASSERT_EQ(p.state, KeParse::State::kComplete) << ToUtf8(p.problem);
  const KeResponse& r = p.response;
  EXPECT_EQ(r.protocols, std::vector<std::uint16_t>{kProtocolNtpV4});
  EXPECT_EQ(r.aeads, std::vector<std::uint16_t>{kAeadAesSivCmac256});
  // chronyd names its NTP port when it is not 123, and no server when it is itself.
  ASSERT_TRUE(r.port.has_value());
  EXPECT_NE(*r.port, 123);
  EXPECT_FALSE(r.server.has_value());
  ASSERT_EQ(r.cookies.size(), 8u);
  for (const Bytes& cookie : r.cookies) EXPECT_EQ(cookie.size(), r.cookies[0].size());
  EXPECT_EQ(ToUtf8(Refusal(r, u"ntp.test:4460")), "");
  // TLS may hand the response over in pieces of any size: a piece never looks complete, and
  // read a byte at a time it is the same response.
  ResponseReader reader;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_EQ(ParseResponse(bytes.data(), n).state, KeParse::State::kIncomplete) << n;
    EXPECT_EQ(reader.Add(&bytes[n], 1).state,
              n + 1 < bytes.size() ? KeParse::State::kIncomplete : KeParse::State::kComplete)
        << n;
  }
  EXPECT_EQ(reader.parse().response.cookies, r.cookies);
  EXPECT_EQ(reader.bytes(), bytes);
  EXPECT_EQ(ToUtf8(reader.Add(bytes.data(), 1).problem), "1 bytes after the end of message");
}

TEST(KeRecords, WhatAServerMaySayAndWhatItMustNot) {
  const Bytes npn = Record(true, RecordType::kNextProtocol, {0, 0});
  const Bytes aead = Record(true, RecordType::kAeadAlgorithm, {0, 15});
  const Bytes cookie = Record(false, RecordType::kNewCookie, Bytes(100, 0xc0));
  const Bytes eom = Record(true, RecordType::kEndOfMessage, {});
  struct Case {
    const char* name;
    Bytes bytes;
    KeParse::State state;
    std::string problemOrRefusal;
  };
  const auto ok = KeParse::State::kComplete;
  const auto bad = KeParse::State::kMalformed;
  const std::string ke = "The key establishment with ntp.test:4460";
  const Case cases[] = {
      {"error", Join({Record(true, RecordType::kError, {0, 1}), eom}), ok,
       ke + " sent error record 1 (bad request)"},
      {"warning", Join({npn, aead, Record(true, RecordType::kWarning, {0, 7}), cookie, eom}), ok,
       ke + " sent warning record 7"},
      {"no cookie", Join({npn, aead, eom}), ok, "No cookie from ntp.test:4460"},
      {"NTPv4 declined", Join({Record(true, RecordType::kNextProtocol, {}), aead, cookie, eom}), ok,
       ke + " does not agree on NTPv4 (next protocol: (none))"},
      {"another AEAD", Join({npn, Record(true, RecordType::kAeadAlgorithm, {0, 30}), cookie, eom}),
       ok, ke + " does not agree on AEAD_AES_SIV_CMAC_256 (15) (AEAD algorithm: 30)"},
      {"unknown, not critical",
       Join({npn, aead, Record(false, RecordType(1000), {1, 2, 3}), cookie, eom}), ok, ""},
      {"server and port",
       Join({npn, aead, Record(true, RecordType::kServer, {'n', 't', 'p', '2'}),
             Record(true, RecordType::kPort, {0x10, 0x1b}), cookie, eom}),
       ok, ""},
      {"unknown, critical", Join({npn, aead, Record(true, RecordType(1000), {}), cookie, eom}), bad,
       "an unrecognized critical record of type 1000"},
      {"port 0", Join({npn, aead, Record(true, RecordType::kPort, {0, 0}), eom}), bad,
       "NTPv4 port record with port 0"},
      {"server with a blank",
       Join({npn, aead, Record(true, RecordType::kServer, {'a', ' ', 'b'}), eom}), bad,
       "NTPv4 server record with no printable name or address"},
      {"AEAD twice", Join({npn, aead, aead, cookie, eom}), bad, "a second AEAD algorithm record"},
      {"odd AEAD list", Join({npn, Record(true, RecordType::kAeadAlgorithm, {0, 15, 0}), eom}), bad,
       "AEAD algorithm record with an odd length of 3"},
      {"after the end", Join({npn, aead, cookie, eom, npn}), bad,
       "6 bytes after the end of message"},
      {"end with a body", Join({npn, aead, cookie, Record(true, RecordType::kEndOfMessage, {0})}),
       bad, "end of message record with a body of 1 bytes"},
  };
  for (const Case& c : cases) {
    const KeParse p = ParseResponse(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(p.state, c.state) << c.name;
    EXPECT_EQ(c.state == ok ? ToUtf8(Refusal(p.response, u"ntp.test:4460")) : ToUtf8(p.problem),
              c.problemOrRefusal)
        << c.name;
  }
  const Bytes named = cases[6].bytes;
  const KeResponse r = ParseResponse(named.data(), named.size()).response;
  EXPECT_EQ(r.server, "ntp2");
  EXPECT_EQ(r.port, 4123);
}

class ExtensionFields : public ::testing::Test {
 protected:
  const AesSivCmac256 c2s_{Captured("c2s").data()};
  const AesSivCmac256 s2c_{Captured("s2c").data()};
};

TEST_F(ExtensionFields, OurRequestIsByteForByteTheOneChronydAnswered) {
  const Bytes& request = Captured("ntp_request");
  // RFC 8915 section 5.7: the unique identifier, one cookie, then the authenticator, whose
  // ciphertext is only the tag: a client encrypts nothing.
  const std::vector<Field> f = FieldsOf(request);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].type, kUniqueIdentifierField);
  EXPECT_EQ(f[0].size, kUniqueIdSize);
  EXPECT_EQ(f[1].type, kCookieField);
  EXPECT_EQ(f[2].type, kAuthenticatorField);
  EXPECT_EQ(Read16(request, f[2].body), kNonceSize);
  EXPECT_EQ(Read16(request, f[2].body + 2), 16u);

  ClientRequest fields;
  fields.transmit = {ntp::Read32(&request[40]), ntp::Read32(&request[44])};
  std::copy_n(&request[f[0].body], kUniqueIdSize, fields.uid.begin());
  fields.cookie.assign(&request[f[1].body], &request[f[1].body] + f[1].size);
  std::copy_n(&request[f[2].body + 4], kNonceSize, fields.nonce.begin());
  const Bytes& ke = Captured("ke_response");
  EXPECT_EQ(fields.cookie, ParseResponse(ke.data(), ke.size()).response.cookies.at(0));
  // AES-SIV is deterministic: the same fields under the same key give the same bytes.
  EXPECT_EQ(EncodeRequest(fields, c2s_), request);
}

TEST_F(ExtensionFields, ChronydsReplyIsAuthenticUnderTheServerKeyAndNoChangedByteIs) {
  const Bytes& reply = Captured("ntp_reply");
  const Bytes& request = Captured("ntp_request");
  const ReplyFields r = ReadReply(reply.data(), reply.size(), s2c_);
  ASSERT_EQ(r.verdict, ReplyFields::Verdict::kAuthentic) << ToUtf8(r.detail);
  ASSERT_TRUE(r.uid.has_value());
  EXPECT_TRUE(std::equal(r.uid->begin(), r.uid->end(), request.begin() + 52));
  ASSERT_EQ(r.cookies.size(), 1u) << "a fresh cookie for the one we spent";
  EXPECT_EQ(r.cookies[0].size(), FieldsOf(request).at(1).size);

  EXPECT_EQ(ReadReply(reply.data(), reply.size(), c2s_).verdict, ReplyFields::Verdict::kForged);
  // The authenticator covers the header, the unique identifier and its own nonce and
  // ciphertext; chronyd pads nothing, so every byte counts.
  for (std::size_t i = 0; i < reply.size(); ++i) {
    Bytes changed = reply;
    changed[i] ^= 0x01;
    EXPECT_NE(ReadReply(changed.data(), changed.size(), s2c_).verdict,
              ReplyFields::Verdict::kAuthentic)
        << i;
  }
}

TEST_F(ExtensionFields, FieldsArePaddedToWordsAndSixteenBytesAndReadOnlyWhenTheyTile) {
  for (const auto& [body, length] : std::vector<std::pair<std::size_t, std::size_t>>{
           {0, 16}, {5, 16}, {12, 16}, {13, 20}, {32, 36}}) {
    Bytes packet;
    AppendField(packet, kCookieField, Bytes(body, 0xab));
    EXPECT_EQ(packet.size(), length) << body;
    EXPECT_EQ(Read16(packet, 2), length) << body;
  }
  Bytes header(ntp::kPacketSize, 0);
  UniqueId uid;
  uid.fill(7);
  const Bytes uidField = [&] {
    Bytes f;
    AppendField(f, kUniqueIdentifierField, Bytes(uid.begin(), uid.end()));
    return f;
  }();
  const auto read = [&](const Bytes& fields) {
    const Bytes packet = Join({header, fields});
    return ReadReply(packet.data(), packet.size(), s2c_);
  };
  using V = ReplyFields::Verdict;
  EXPECT_EQ(read(uidField).verdict, V::kUnauthenticated);
  EXPECT_EQ(read(uidField).uid, uid);
  EXPECT_EQ(read(Join({uidField, uidField})).verdict, V::kMalformed);
  Bytes odd = uidField;
  odd[3] = 35;  // not a whole number of words
  EXPECT_EQ(read(odd).verdict, V::kMalformed);
  EXPECT_EQ(read(Bytes(uidField.begin(), uidField.end() - 4)).verdict, V::kMalformed);
  EXPECT_EQ(read({0x01, 0x04, 0x00, 0x0c, 0, 0, 0, 0, 0, 0, 0, 0}).verdict, V::kMalformed);

  // An authenticator with a nonce of 12 bytes must make up the difference to 16 with padding
  // (RFC 8915 section 5.6); then it verifies like any other.
  const auto withNonce = [&](std::size_t nonceSize, std::size_t padding) {
    Bytes packet = Join({header, uidField});
    const Bytes nonce(nonceSize, 0x42);
    const Bytes ciphertext =
        s2c_.Seal(nonce.data(), nonce.size(), packet.data(), packet.size(), {});
    Bytes body = {0, static_cast<std::uint8_t>(nonceSize), 0,
                  static_cast<std::uint8_t>(ciphertext.size())};
    body.insert(body.end(), nonce.begin(), nonce.end());
    body.insert(body.end(), ciphertext.begin(), ciphertext.end());
    body.resize(body.size() + padding, 0);
    AppendField(packet, kAuthenticatorField, body);
    return ReadReply(packet.data(), packet.size(), s2c_);
  };
  EXPECT_EQ(withNonce(16, 0).verdict, V::kAuthentic);
  EXPECT_EQ(withNonce(12, 4).verdict, V::kAuthentic);
  EXPECT_EQ(withNonce(12, 0).verdict, V::kForged);
  EXPECT_EQ(ToUtf8(withNonce(12, 0).detail),
            "its authenticator has a nonce of 12 and a ciphertext of 16 bytes in 32");

  // Nothing may follow the authenticator: it would not be covered.
  Bytes packet = Join({header, uidField});
  Nonce nonce{};
  AppendAuthenticator(packet, nonce, {}, s2c_);
  EXPECT_EQ(ReadReply(packet.data(), packet.size(), s2c_).verdict, V::kAuthentic);
  packet.insert(packet.end(), uidField.begin(), uidField.end());
  const ReplyFields trailing = ReadReply(packet.data(), packet.size(), s2c_);
  EXPECT_EQ(trailing.verdict, V::kForged);
  EXPECT_EQ(ToUtf8(trailing.detail), "fields follow its authenticator");
}

}  // namespace
}  // namespace brevun::nts
