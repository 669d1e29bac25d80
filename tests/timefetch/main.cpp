// brevun-timefetch: runs the form's time fetch against one server, for the Wine tests of the
// Winsock side and for the network benchmark. One line per fetch:
//   result <TAB> milliseconds <TAB> offset in microseconds or "-" <TAB> response
// With -4 or -6 it asks through the query itself, with the address family limited to IPv4 or
// IPv6; the response is then the server that answered or "ERR: " and the failure's description.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check/datetime.h"
#include "check/failure.h"
#include "check/text.h"
#include "timesource/clockform.h"
#include "timesource/timequery.h"

namespace {

struct Fetch {
  bool result = false;
  std::string offset = "-";
  std::u16string response;
};

Fetch ThroughTheForm(brevun::ClockForm& form, const std::u16string& protocol,
                     const std::u16string& server, std::int16_t timeout) {
  Fetch f;
  f.result = form.DoRFCProtocol(server, protocol, timeout, f.response);
  const auto offset = dynamic_cast<const brevun::NetClock&>(form.clock()).OffsetMicros();
  if (offset) f.offset = std::to_string(*offset);
  return f;
}

Fetch ThroughTheQuery(brevun::AddressFamily family, const std::u16string& protocol,
                      const std::u16string& server, std::int16_t timeout) {
  const bool sntp = protocol != u"time";
  brevun::QueryOptions options;
  options.milliseconds = brevun::QueryMilliseconds(timeout);
  options.family = family;
  Fetch f;
  try {
    const brevun::TimeHost host = brevun::ParseTimeHost(
        server, sntp ? brevun::kSntpPort : brevun::kTimeProtocolPort);
    const brevun::QueryOutcome o =
        sntp ? brevun::QuerySntp(host, options) : brevun::QueryTimeProtocol(host, options);
    f.result = !o.notification;
    f.offset = std::to_string(o.offsetMicros);
    f.response = o.notification ? o.description : o.server;
  } catch (const brevun::Failure& e) {
    f.response = u"ERR: " + e.description();
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  auto family = brevun::AddressFamily::kAny;
  if (argc > 1 && (std::strcmp(argv[1], "-4") == 0 || std::strcmp(argv[1], "-6") == 0)) {
    family = argv[1][1] == '4' ? brevun::AddressFamily::kIPv4 : brevun::AddressFamily::kIPv6;
    --argc;
    ++argv;
  }
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: brevun-timefetch [-4|-6] sntp|time SERVER TIMEOUT [COUNT]\n");
    return 3;
  }
  const std::u16string protocol = brevun::FromUtf8(argv[1]);
  const std::u16string server = brevun::FromUtf8(argv[2]);
  const auto timeout = static_cast<std::int16_t>(std::atoi(argv[3]));
  const int count = argc == 5 ? std::atoi(argv[4]) : 1;

  const brevun::IsoDateTimeText text;
  brevun::ClockForm form(text);
  bool all = true;
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const Fetch f = family == brevun::AddressFamily::kAny
                        ? ThroughTheForm(form, protocol, server, timeout)
                        : ThroughTheQuery(family, protocol, server, timeout);
    const auto elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d\t%.3f\t%s\t%s\n", f.result ? 1 : 0, elapsed, f.offset.c_str(),
                brevun::ToUtf8(f.response).c_str());
    std::fflush(stdout);
    all = all && f.result;
  }
  return all ? 0 : 1;
}
