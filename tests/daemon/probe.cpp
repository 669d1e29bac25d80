// brevun-daemon-probe: reads the local time daemon once and prints the report, one fact a line,
// for the tests against real daemons to check:
//   brevun-daemon-probe chrony|ntp|kernel|auto [-e ENDPOINT] [-t SECONDS] [-v]
// Prints "name value" lines and "source NAME state=... reach=... ..." lines (exit 0),
// "FAILED kind: description" (exit 2) or its usage (exit 3). -v writes the trace to standard
// error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check/text.h"
#include "daemon/daemon.h"

namespace {

using namespace brevun;
using namespace brevun::daemon;

void Line(const char* name, const std::string& value) {
  std::printf("%s %s\n", name, value.c_str());
}

template <typename T>
std::string Optional(const std::optional<T>& value) {
  if (!value) return "-";
  if constexpr (std::is_same_v<T, double>) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
  } else {
    return std::to_string(*value);
  }
}

const char* KindWord(QueryFailure::Kind kind) {
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
      break;
  }
  return "authentication";
}

int Usage() {
  std::fprintf(stderr,
               "usage: brevun-daemon-probe chrony|ntp|kernel|auto [-e ENDPOINT] "
               "[-t SECONDS] [-v]\n");
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string what = argv[1];
  Options options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-v") {
      options.trace = [](const std::u16string& line) {
        std::fprintf(stderr, "%s\n", ToUtf8(line).c_str());
      };
    } else if (arg == "-e" && i + 1 < argc) {
      options.endpoint = FromUtf8(argv[++i]);
    } else if (arg == "-t" && i + 1 < argc) {
      options.milliseconds = std::atoll(argv[++i]) * 1000;
    } else {
      return Usage();
    }
  }
  try {
    Report r;
    if (what == "chrony") {
      r = ReadChrony(options);
    } else if (what == "ntp") {
      r = ReadNtp(options);
    } else if (what == "kernel") {
      r = ReadKernel(SystemKernel());
    } else if (what == "auto") {
      r = ReadAuto(options, SystemKernel());
    } else {
      return Usage();
    }
    Line("kind", ToUtf8(KindName(r.kind)));
    Line("daemon", ToUtf8(r.daemon));
    Line("synchronised", r.synchronised ? "yes" : "no");
    Line("leap", std::to_string(r.leap));
    Line("stratum", std::to_string(r.stratum));
    Line("reference", r.reference.empty() ? "-" : ToUtf8(r.reference));
    Line("offset_us", Optional(r.offsetMicros));
    Line("root_delay_us", std::to_string(r.rootDelayMicros));
    Line("root_dispersion_us", std::to_string(r.rootDispersionMicros));
    Line("frequency_ppm", Optional(r.frequencyPpm));
    Line("skew_ppm", Optional(r.skewPpm));
    Line("last_update_age_s", Optional(r.lastUpdateAgeSeconds));
    Line("estimated_error_us", Optional(r.estimatedErrorMicros));
    Line("max_error_us", Optional(r.maxErrorMicros));
    for (const auto& s : r.sources) {
      std::printf(
          "source %s state=%s text=\"%s\" reach=%03o stratum=%d offset_us=%s "
          "error_us=%s age_s=%s\n",
          ToUtf8(s.name).c_str(), ToUtf8(StateName(s.state)).c_str(), ToUtf8(s.stateText).c_str(),
          s.reach, s.stratum, Optional(s.offsetMicros).c_str(), Optional(s.errorMicros).c_str(),
          Optional(s.lastSampleAgeSeconds).c_str());
    }
    for (const auto& n : r.notes) Line("note", ToUtf8(n));
    return 0;
  } catch (const QueryFailure& f) {
    std::printf("FAILED %s: %s\n", KindWord(f.kind()), ToUtf8(f.description()).c_str());
    return 2;
  }
}
