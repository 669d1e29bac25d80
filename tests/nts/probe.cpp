// brevun-nts-probe: one key establishment and one NTS exchange with a server, step by step,
// and what they carried in hexadecimal, for the unit tests' data (tests/nts/data/):
//   brevun-nts-probe -H HOST[:PORT] --capture FILE [--nts-ca FILE] [--nts-server-name NAME]
//                    [-t SECONDS] [-v]
// Prints "NTS captured FILE" (exit 0), "NTS FAILED kind: description" (2) or its usage (3).
// brevun-check --nts is the whole query; this program keeps each step's bytes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "check/text.h"
#include "nts/aead.h"
#include "nts/ke_client.h"
#include "nts/nts_exchange.h"
#include "nts/nts_query.h"
#include "timesource/sntp.h"

namespace {

using namespace brevun;

std::string Hex(const std::uint8_t* data, std::size_t size) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", data[i]);
    text += pair;
  }
  return text;
}

// The first datagram each way of an exchange, kept for the capture.
class RecordingLink final : public DatagramLink {
 public:
  explicit RecordingLink(DatagramLink& link) : link_(link) {}
  void Send(const std::uint8_t* data, std::size_t size) override {
    if (request.empty()) request.assign(data, data + size);
    link_.Send(data, size);
  }
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t capacity,
                                     std::int64_t untilMillis, net::Address& from) override {
    const auto got = link_.Receive(buffer, capacity, untilMillis, from);
    if (got && reply.empty()) reply.assign(buffer, buffer + *got);
    return got;
  }
  std::int64_t MonotonicMillis() override { return link_.MonotonicMillis(); }
  std::int64_t UtcMicros() override { return link_.UtcMicros(); }

  nts::Bytes request;
  nts::Bytes reply;

 private:
  DatagramLink& link_;
};

// The key establishment and the exchange step by step, the server's own address and named
// port: what the unit tests read back.
void Capture(const nts::Request& r, const std::string& file) {
  const net::NetworkSession session;
  const auto deadline = net::Deadline::FromNow(r.milliseconds);
  const auto addresses = net::Resolve(r.keServer.host, r.keServer.port, net::Transport::kStream,
                                      AddressFamily::kIPv4, deadline);
  const nts::KeSession ke = nts::EstablishKeys(
      addresses.at(0), {r.keServer.Text(), r.serverName, r.caFile, r.trace}, deadline);
  const auto ntp = net::Resolve(r.keServer.host, ke.response.port.value_or(kSntpPort),
                                net::Transport::kDatagram, AddressFamily::kIPv4, deadline);
  const nts::AesSivCmac256 c2s(ke.c2s.bytes.data());
  const nts::AesSivCmac256 s2c(ke.s2c.bytes.data());
  SocketLink udp(ntp.at(0), deadline);
  RecordingLink link(udp);
  nts::CookieJar jar{ke.response.cookies};
  nts::ExchangeNts(link, {ntp.at(0), ntp.at(0).Text(), deadline.at(), c2s, s2c, jar, r.trace});
  std::ofstream out(file);
  out << "ke_request " << Hex(ke.request.data(), ke.request.size()) << "\n"
      << "ke_response " << Hex(ke.responseBytes.data(), ke.responseBytes.size()) << "\n"
      << "c2s " << Hex(ke.c2s.bytes.data(), ke.c2s.bytes.size()) << "\n"
      << "s2c " << Hex(ke.s2c.bytes.data(), ke.s2c.bytes.size()) << "\n"
      << "ntp_request " << Hex(link.request.data(), link.request.size()) << "\n"
      << "ntp_reply " << Hex(link.reply.data(), link.reply.size()) << "\n";
}

int Usage() {
  std::fprintf(stderr,
               "usage: brevun-nts-probe -H HOST[:PORT] --capture FILE [--nts-ca FILE]"
               " [--nts-server-name NAME] [-t SECONDS] [-v]\n");
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  nts::Request request;
  std::optional<std::string> host, capture;
  int seconds = 10;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (arg == "-H") {
      host = value();
    } else if (arg == "--nts-ca") {
      request.caFile = value();
    } else if (arg == "--nts-server-name") {
      request.serverName = FromUtf8(value().value_or(""));
    } else if (arg == "-t") {
      seconds = std::atoi(value().value_or("10").c_str());
    } else if (arg == "-v") {
      request.trace = [](const std::u16string& line) {
        std::fprintf(stderr, "%s\n", ToUtf8(line).c_str());
      };
    } else if (arg == "--capture") {
      capture = value();
    } else {
      return Usage();
    }
  }
  if (!host || !capture) return Usage();
  request.milliseconds = QueryMilliseconds(seconds);
  try {
    request.keServer = ParseTimeHost(FromUtf8(*host), nts::kKePort);
    if (request.serverName.empty()) request.serverName = request.keServer.host;
    Capture(request, *capture);
    std::printf("NTS captured %s\n", capture->c_str());
    return 0;
  } catch (const QueryFailure& f) {
    std::printf("NTS FAILED %s: %s\n", ToUtf8(InFewWords(f.kind())).c_str(),
                ToUtf8(f.description()).c_str());
  } catch (const Failure& f) {
    std::printf("NTS FAILED usage: %s\n", ToUtf8(f.description()).c_str());
    return 3;
  } catch (...) {
    std::printf("NTS FAILED capture: the key establishment or the exchange failed\n");
  }
  return 2;
}
