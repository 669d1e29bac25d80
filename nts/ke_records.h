// The records of NTS Key Establishment (RFC 8915 section 4) as bytes: the client's request and
// the server's response. No TLS and no sockets here, so the parser can be fuzzed and checked
// against the RFC's formats and against what a real server sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brevun::nts {

using Bytes = std::vector<std::uint8_t>;

// RFC 8915 section 4 and the IANA registries of section 7.
inline constexpr std::uint16_t kKePort = 4460;
inline constexpr char kAlpn[] = "ntske/1";
inline constexpr char kExporterLabel[] = "EXPORTER-network-time-security";
inline constexpr std::uint16_t kProtocolNtpV4 = 0;
// The one AEAD algorithm every NTS implementation has (RFC 8915 section 5.1, RFC 5297).
inline constexpr std::uint16_t kAeadAesSivCmac256 = 15;

enum class RecordType : std::uint16_t {
  kEndOfMessage = 0,
  kNextProtocol = 1,
  kError = 2,
  kWarning = 3,
  kAeadAlgorithm = 4,
  kNewCookie = 5,
  kServer = 6,
  kPort = 7,
};

struct Record {
  bool critical = false;
  std::uint16_t type = 0;
  Bytes body;
};

// Appends one record: the critical bit and 15 bits of type, the body's length, the body.
void AppendRecord(Bytes& out, bool critical, RecordType type, const Bytes& body);

// What the client asks for: NTPv4 as the next protocol and AEAD_AES_SIV_CMAC_256, then End of
// Message, all critical (RFC 8915 section 4.1).
Bytes EncodeRequest();

// The facts of a server's response, records checked one by one.
struct KeResponse {
  std::vector<Record> records;  // as they came, End of Message last
  std::optional<std::vector<std::uint16_t>> protocols;
  std::optional<std::vector<std::uint16_t>> aeads;
  std::optional<std::uint16_t> error;
  std::optional<std::uint16_t> warning;
  std::vector<Bytes> cookies;
  std::optional<std::string> server;  // printable ASCII, as the record had it
  std::optional<std::uint16_t> port;
};

struct KeParse {
  enum class State {
    kIncomplete,  // no End of Message yet: more bytes may complete it
    kComplete,
    kMalformed,  // problem says why
  };
  State state = State::kIncomplete;
  KeResponse response;
  std::u16string problem;
};

// Reads a response as TLS hands it over, in pieces of any size, each record once. A record of
// an unknown type with the critical bit set, a record whose body does not fit its type, a
// second record of a kind that comes once, and bytes after End of Message are malformed.
class ResponseReader {
 public:
  // Takes the next bytes: the parse so far, kIncomplete while End of Message has not come.
  // Once malformed, it stays so.
  const KeParse& Add(const std::uint8_t* data, std::size_t size);
  const KeParse& parse() const { return parse_; }
  const Bytes& bytes() const { return bytes_; }  // all that came

 private:
  Bytes bytes_;
  std::size_t at_ = 0;  // where the first record not yet read starts
  KeParse parse_;
};

// A whole response at once, from its first byte.
KeParse ParseResponse(const std::uint8_t* data, std::size_t size);

// Whether a complete response lets the client go on: empty when it agrees on NTPv4 and
// AEAD_AES_SIV_CMAC_256 and gives a cookie, or the sentence that says why not, naming the
// server as serverText.
std::u16string Refusal(const KeResponse& response, const std::u16string& serverText);

// One record as a person reads it, for the trace: "next protocol NTPv4 (critical)",
// "new cookie (104 bytes)".
std::u16string Describe(const Record& record);

}  // namespace brevun::nts
