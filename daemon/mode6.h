// The NTP control protocol (mode 6, RFC 1305 appendix B, RFC 9327) as ntpd and ntpsec answer
// it: the requests we send (READSTAT, READVAR), the reassembly of a response's fragments and
// the "name=value, ..." lists they carry, apart from any socket so that tables can test them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/daemon.h"

namespace brevun::daemon::mode6 {

inline constexpr std::uint16_t kDefaultPort = 123;
inline constexpr std::size_t kHeaderSize = 12;
// RFC 9327 section 2: at most 468 octets of data in one fragment. Some daemons send a little
// more; we take up to this much.
inline constexpr std::size_t kMaxFragmentData = 500;
// What one response may carry: a peer list of a few thousand associations, or anyone's
// variables, fit easily; beyond it a daemon is sending without end.
inline constexpr std::size_t kMaxResponseBytes = 32768;
inline constexpr std::size_t kMaxFragments = 128;

enum Opcode : std::uint8_t { kReadStatus = 1, kReadVariables = 2 };

// A request (version 2, as control clients have long sent, which every ntpd accepts).
std::vector<std::uint8_t> EncodeRequest(Opcode opcode, std::uint16_t sequence,
                                        std::uint16_t association);

// A datagram's header, when it is a mode-6 response at all.
struct Fragment {
  bool error = false;
  bool more = false;
  int opcode = 0;
  std::uint16_t sequence = 0;
  std::uint16_t status = 0;
  std::uint16_t association = 0;
  std::uint16_t offset = 0;
  std::uint16_t count = 0;
  const std::uint8_t* data = nullptr;
};

struct Header {
  enum class Kind { kFragment, kNotOurs, kMalformed };
  Kind kind = Kind::kNotOurs;
  std::u16string detail;
  Fragment fragment;
};
// Judges a datagram against our request (opcode, sequence, association): kNotOurs when it
// cannot answer it, kMalformed when it does but its count runs past the datagram or beyond one
// fragment's data.
Header ReadHeader(const std::uint8_t* data, std::size_t size, Opcode opcode, std::uint16_t sequence,
                  std::uint16_t association);

// The words RFC 9327 section 2.2 gives an error response's code.
std::u16string ErrorText(int code);

// Puts a response together from its fragments, in whatever order they come. A fragment that
// repeats bytes we have (a duplicate) is harmless; one that contradicts them, lies beyond the
// last fragment's end, or would make the response larger than kMaxResponseBytes or of more than
// kMaxFragments fragments, makes the whole response malformed: a daemon that sends such things
// cannot be read.
class Reassembly {
 public:
  enum class Step { kIncomplete, kComplete, kMalformed };
  Step Add(const Fragment& fragment);
  // kMalformed: why.
  const std::u16string& detail() const { return detail_; }
  // The data received so far (kComplete: all of it).
  std::string Data() const;
  std::size_t ReceivedBytes() const { return received_; }
  // The whole response's length, once its last fragment came.
  std::optional<std::size_t> Total() const { return total_; }
  std::size_t Fragments() const { return fragments_; }

 private:
  Step Fail(std::u16string detail);
  std::string bytes_;
  std::vector<bool> have_;
  std::size_t received_ = 0;
  std::size_t fragments_ = 0;
  std::optional<std::size_t> total_;
  std::u16string detail_;
  bool failed_ = false;
};

// One "name=value" of a variable list; both printable (anything else a "?"), the value without
// its quotes.
struct Variable {
  std::string name;
  std::string value;
};
// Reads "name=value, name2="a, b", name3" (RFC 9327 section 3.1): commas inside quotes belong to
// the value, blanks and line breaks around items are dropped, a name with no "=" has an empty
// value, and an unterminated quote runs to the end.
std::vector<Variable> ParseVariables(std::string_view text);

// The value of name, when listed.
std::optional<std::string> Find(const std::vector<Variable>& variables, std::string_view name);

// Numbers as the daemon writes them; nothing for a value that is not one.
std::optional<double> DecimalValue(const std::string& text);
// "0x1f", "1f" with a 0x, or decimal digits: whole numbers (reach, stratum, leap).
std::optional<std::int64_t> WholeValue(const std::string& text);
// An NTP timestamp written in hex, "0xe5a3c7b4.12345678" (or without the 0x): its seconds, or
// nothing when it is zero or not a timestamp.
std::optional<std::uint32_t> TimestampSeconds(const std::string& text);

// The associations of a READSTAT response: id and peer status word, four bytes each.
struct Association {
  std::uint16_t id = 0;
  std::uint16_t status = 0;
};
std::vector<Association> ParseAssociations(std::string_view data);

// A peer from its status word (RFC 9327 appendix B.2.2: the selection field, bits 8-10) and its
// variables, at our clock's nowUnixSeconds.
Source MakeSource(std::uint16_t status, const std::vector<Variable>& variables,
                  std::int64_t nowUnixSeconds);

// The report from the system variables, at our clock's nowUnixSeconds.
Report MakeReport(const std::vector<Variable>& system, std::int64_t nowUnixSeconds);

}  // namespace brevun::daemon::mode6
