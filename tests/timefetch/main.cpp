// brevun-timefetch: runs the form's time fetch against one server, for the Wine tests of the
// Winsock side and for the network benchmark. One line per fetch:
//   result <TAB> milliseconds <TAB> offset in microseconds or "-" <TAB> response
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "check/datetime.h"
#include "check/text.h"
#include "timesource/clockform.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: brevun-timefetch sntp|time SERVER TIMEOUT [COUNT]\n");
    return 3;
  }
  const std::u16string protocol = brevun::FromUtf8(argv[1]);
  const std::u16string server = brevun::FromUtf8(argv[2]);
  const auto timeout = static_cast<std::int16_t>(std::atoi(argv[3]));
  const int count = argc == 5 ? std::atoi(argv[4]) : 1;

  const brevun::IsoDateTimeText text;
  brevun::ClockForm form(text);
  const auto& clock = dynamic_cast<const brevun::NetClock&>(form.clock());
  bool all = true;
  for (int i = 0; i < count; ++i) {
    std::u16string response;
    const auto start = std::chrono::steady_clock::now();
    const bool result = form.DoRFCProtocol(server, protocol, timeout, response);
    const auto elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const auto offset = clock.OffsetMicros();
    std::printf("%d\t%.3f\t%s\t%s\n", result ? 1 : 0, elapsed,
                offset ? std::to_string(*offset).c_str() : "-", brevun::ToUtf8(response).c_str());
    std::fflush(stdout);
    all = all && result;
  }
  return all ? 0 : 1;
}
