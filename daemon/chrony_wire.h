// chrony's command protocol (version 6), as chronyd speaks it on its command port and Unix
// socket: the monitoring requests we send (tracking, n_sources, source_data) and the replies to
// them, apart from any socket so that tables can test them. All fields are big-endian; floats
// are chrony's own 32-bit format (a 7-bit exponent over a 25-bit coefficient, both signed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "daemon/daemon.h"

namespace brevun::daemon::chrony {

inline constexpr std::uint8_t kProtocolVersion = 6;
inline constexpr std::uint16_t kDefaultPort = 323;
inline constexpr const char* kDefaultSocket = "/run/chrony/chronyd.sock";

enum Command : std::uint16_t { kNSources = 14, kSourceData = 15, kTracking = 33 };

inline constexpr std::size_t kRequestHeaderSize = 20;
inline constexpr std::size_t kReplyHeaderSize = 28;
// The fields each reply carries after its header.
inline constexpr std::size_t kNSourcesSize = 4;
inline constexpr std::size_t kSourceDataSize = 48;
inline constexpr std::size_t kTrackingSize = 76;

// A float on the wire, as a double.
double DecodeFloat(std::uint32_t wire);

// A request for command (index: which source, for kSourceData). chronyd answers only requests at
// least as long as their reply, so that nobody can amplify traffic through it: the request is
// padded with zeros to its reply's length. attempt counts retransmissions of one sequence.
std::vector<std::uint8_t> EncodeRequest(Command command, std::uint32_t sequence,
                                        std::uint16_t attempt, std::uint32_t index = 0);

struct Reply {
  enum class Kind {
    kOk,        // the reply we asked for; body holds its fields
    kNotOurs,   // does not answer our request (too short, another sequence or command)
    kRefused,   // ours, with a status other than success; detail says which
    kMalformed  // ours, but of the wrong version, type or length; detail says why
  };
  Kind kind = Kind::kNotOurs;
  std::u16string detail;
  int status = 0;
  const std::uint8_t* body = nullptr;  // kOk: the fields after the header
};

// Judges a datagram against the request (command, sequence) it may answer.
Reply CheckReply(const std::uint8_t* data, std::size_t size, Command command,
                 std::uint32_t sequence);

// chronyd's words for a status code ("not authorised", "no such source").
std::u16string StatusText(int status);

// An address as chronyd sends it (16 bytes, family, padding): printable text, or empty for no
// address.
std::u16string AddressText(const std::uint8_t* ip);

struct Tracking {
  std::uint32_t referenceId = 0;
  std::u16string referenceAddress;  // empty when the reference is not an address
  int stratum = 0;
  int leap = 3;
  std::optional<std::int64_t> referenceUnixMicros;  // none when chronyd has no reference time
  double correction = 0;                            // seconds: true time minus our clock
  double lastOffset = 0;
  double rmsOffset = 0;
  double frequencyPpm = 0;
  double residualFrequencyPpm = 0;
  double skewPpm = 0;
  double rootDelay = 0;  // seconds
  double rootDispersion = 0;
  double updateInterval = 0;
};
Tracking DecodeTracking(const std::uint8_t* body);

std::uint32_t DecodeNSources(const std::uint8_t* body);

struct SourceData {
  std::u16string name;
  int mode = 0;  // 0 server, 1 peer, 2 reference clock
  int poll = 0;
  int stratum = 0;
  int state = 0;  // chrony's RPY_SD_ST_* code
  int reach = 0;
  std::optional<std::uint32_t> sinceSample;  // none when chronyd has no sample
  double originalLatest = 0;                 // seconds, as measured
  double latest = 0;                         // seconds, adjusted for what the clock did since
  double latestError = 0;
  bool unresolved = false;  // a name chronyd has not resolved yet: no address to show
};
SourceData DecodeSourceData(const std::uint8_t* body);

// The report from what chronyd said, at our clock's nowUnixMicros.
Report MakeReport(const Tracking& tracking, const std::vector<SourceData>& sources,
                  std::int64_t nowUnixMicros);

}  // namespace brevun::daemon::chrony
