// brevun-nts-probe: one NTS query, its outcome in one line, for the end-to-end test and the
// timing against plain SNTP until brevun-check carries --nts. Its options are the ones the
// plugin is to have:
//   brevun-nts-probe -H HOST[:PORT] [--nts-ca FILE] [--nts-server-name NAME] [-t SECONDS]
//                    [-4|-6] [-v] [--capture FILE]
//   brevun-nts-probe --sntp HOST:PORT [-t SECONDS]
// Lines: "NTS OK offset=...s delay=...s stratum=N server=ADDR ntp_server=HOST:PORT ke_time=...s
// aead=15 cookies=N cert_days=N subject=..." (exit 0), "NTS NOTIFICATION description" (1),
// "NTS FAILED kind: description" (2), "SNTP OK offset=...s" for --sntp, usage (3). -v writes
// the trace to standard error. --capture writes what the key establishment and the first NTP
// exchange carried, in hexadecimal, for the unit tests' data.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "check/text.h"
#include "nts/aead.h"
#include "nts/ke_client.h"
#include "nts/nts_exchange.h"
#include "nts/nts_query.h"
#include "nts/udp_link.h"
#include "timesource/trace.h"

namespace {

using namespace brevun;

const char* KindName(QueryFailure::Kind kind) {
  switch (kind) {
    case QueryFailure::Kind::kUnknownHost:
      return "unknown-host";
    case QueryFailure::Kind::kTimeout:
      return "timeout";
    case QueryFailure::Kind::kRefused:
      return "refused";
    case QueryFailure::Kind::kMalformed:
      return "malformed";
    case QueryFailure::Kind::kNetwork:
      return "network";
    case QueryFailure::Kind::kAuthentication:
      return "authentication";
  }
  return "?";
}

std::string Seconds(std::int64_t micros) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6f", static_cast<double>(micros) / 1e6);
  return text;
}

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
  nts::UdpLink udp(ntp.at(0), deadline);
  RecordingLink link(udp);
  nts::ExchangeNts(
      link, {ntp.at(0), ntp.at(0).Text(), deadline.at(), c2s, s2c, ke.response.cookies, r.trace});
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
               "usage: brevun-nts-probe -H HOST[:PORT] [--nts-ca FILE] [--nts-server-name NAME]"
               " [-t SECONDS] [-4|-6] [-v] [--capture FILE]\n"
               "       brevun-nts-probe --sntp HOST:PORT [-t SECONDS]\n");
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  nts::Request request;
  std::optional<std::string> host, sntp, capture;
  int seconds = 10;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (arg == "-H") {
      host = value();
    } else if (arg == "--sntp") {
      sntp = value();
    } else if (arg == "--nts-ca") {
      request.caFile = value();
    } else if (arg == "--nts-server-name") {
      request.serverName = FromUtf8(value().value_or(""));
    } else if (arg == "-t") {
      seconds = std::atoi(value().value_or("10").c_str());
    } else if (arg == "-4" || arg == "-6") {
      request.family = arg == "-4" ? AddressFamily::kIPv4 : AddressFamily::kIPv6;
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
  if (host.has_value() == sntp.has_value()) return Usage();
  request.milliseconds = QueryMilliseconds(seconds);
  try {
    if (sntp) {
      QueryOptions options;
      options.milliseconds = request.milliseconds;
      const QueryOutcome o = QuerySntp(ParseTimeHost(FromUtf8(*sntp), kSntpPort), options);
      std::printf("SNTP OK offset=%ss\n", Seconds(o.offsetMicros).c_str());
      return 0;
    }
    request.keServer = ParseTimeHost(FromUtf8(*host), nts::kKePort);
    if (capture) {
      Capture(request, *capture);
      std::printf("NTS captured %s\n", capture->c_str());
      return 0;
    }
    const nts::Result r = nts::Query(request);
    if (r.time.notification) {
      std::printf("NTS NOTIFICATION %s\n", ToUtf8(r.time.description).c_str());
      return 1;
    }
    const std::int64_t now = UtcMicrosNow() / ntp::kMicros;
    std::printf(
        "NTS OK offset=%ss delay=%ss stratum=%d server=%s ntp_server=%s ke_time=%ss aead=%d "
        "cookies=%d cert_days=%lld subject=%s\n",
        Seconds(r.time.offsetMicros).c_str(), Seconds(r.time.delayMicros).c_str(), r.time.stratum,
        ToUtf8(r.time.server).c_str(), ToUtf8(r.ntpServer).c_str(), Seconds(r.keMicros).c_str(),
        r.aead, r.cookies,
        static_cast<long long>(ntp::FloorDiv(r.certificateNotAfter - now, 86400)),
        ToUtf8(r.certificateSubject).c_str());
    return 0;
  } catch (const QueryFailure& f) {
    std::printf("NTS FAILED %s: %s\n", KindName(f.kind()), ToUtf8(f.description()).c_str());
  } catch (const Failure& f) {
    std::printf("NTS FAILED usage: %s\n", ToUtf8(f.description()).c_str());
    return 3;
  } catch (...) {
    // Only the capture's own steps throw anything else.
    std::printf("NTS FAILED capture: the key establishment or the exchange failed\n");
  }
  return 2;
}
