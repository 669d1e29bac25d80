// brevun-check: the time comparison check from a command line, as a monitoring plugin.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <optional>
#include <string>
#include <vector>

#include "check/check.h"
#include "check/text.h"
#include "cli/command_line_host.h"
#include "cli/offset_check.h"
#include "cli/outcome.h"
#include "cli/plugin.h"
#include "cli/watchdog.h"
#include "measure/judgement.h"
#include "output/writer.h"
#ifdef _WIN32
#include "cli/com_check.h"
#include "win/wide_text.h"
#else
#include "measure/local_daemon.h"
#include "measure/nts_network.h"
#endif

namespace {

using brevun::cli::State;

using brevun::cli::CommandLineHost;

int Exit(State state) { return static_cast<int>(state); }

int Unknown(const std::string& message) {
  std::printf("TIME UNKNOWN - %s\n", message.c_str());
  return Exit(State::kUnknown);
}

#ifdef _WIN32
// --configure: the component's dialog on the parameter the options give (if any); prints the
// parameter string it leaves.
int Configure(const brevun::cli::Options& options) {
  std::optional<std::u16string> parameter;
  if (options.parameter || !options.hosts.empty()) {
    parameter = brevun::cli::ParameterFor(options);
  }
  try {
    const std::u16string edited = brevun::cli::ConfigureThroughComponent(
        parameter, static_cast<std::int16_t>(options.timeout));
    std::printf("%s\n", brevun::ToUtf8(edited).c_str());
    return 0;
  } catch (const std::exception& e) {
    return Unknown(e.what());
  }
}

// --com: the check as the host runs it, judged like our own.
int CheckThroughComponent(const brevun::cli::Options& options, const std::u16string& parameter) {
  // Creating the object comes first (COM's start-up: on a busy machine a second or two, under
  // Wine now and then ten); the time servers share what is left of -t once it stands.
  const auto start = std::chrono::steady_clock::now();
  const auto timeoutOnceCreated = [&] {
    const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    const int left = options.timeout - static_cast<int>((used + 999) / 1000);
    return brevun::cli::PerQueryTimeout(std::max(1, left), brevun::cli::NetworkSources(parameter));
  };
  brevun::cli::ComCheck check;
  try {
    check = brevun::cli::RunThroughComponent(parameter, timeoutOnceCreated);
  } catch (const std::exception& e) {
    brevun::cli::DisarmWatchdog();
    return Unknown(e.what());
  }
  brevun::cli::DisarmWatchdog();
  if (options.raw) {
    std::printf("%s\n", brevun::ToUtf8(check.result).c_str());
    return check.verdict ? 0 : 2;
  }
  const auto outcome = brevun::cli::OutcomeFromResult(check.result, parameter, check.acquisition);
  if (!outcome) {
    return Unknown("the component's result is not a check's result text: \"" +
                   brevun::ToUtf8(check.result) + "\"");
  }
  const State state = brevun::cli::Judge(check.verdict, *outcome, options.warning);
  std::printf("%s\n", brevun::cli::OutputLine(state, check.result, *outcome, options.warning,
                                              options.critical)
                          .c_str());
  return Exit(state);
}
#endif

#ifndef _WIN32
brevun::measure::NtsSettings NtsSettingsFor(const brevun::cli::Options& options) {
  return {options.ntsServerName, options.ntsCa};
}
#endif

// Where -H's result goes: standard output, or the file --output-file names, replaced at once.
// A file that cannot be written is UNKNOWN, on standard output: the run's result is lost.
int Emit(const brevun::cli::Options& options, const std::string& text, State state) {
  if (!options.outputFile) {
    std::fputs(text.c_str(), stdout);
    return Exit(state);
  }
  const std::string& path = *options.outputFile;
  if (!brevun::output::WriteAtomically(path.c_str(), brevun::output::TemporaryPath(path).c_str(),
                                       text.data(), text.size())) {
    return Unknown("cannot write " + path + ": " + std::strerror(errno));
  }
  return Exit(state);
}

// The watchdog's ending for a measurement the timeout cuts short, in the run's format.
void Prepare(const brevun::cli::Options& options, const brevun::measure::Measurement& unfinished,
             const brevun::measure::Criteria& criteria, bool arm) {
  const brevun::measure::Judgement j = brevun::measure::Judge(unfinished, criteria);
  const std::string text = brevun::output::Document(options.output, unfinished, j, criteria);
  if (arm) {
    if (options.outputFile) brevun::cli::WatchdogWritesTo(*options.outputFile);
    brevun::cli::ArmWatchdog(std::int64_t{options.timeout} * 1000, text, Exit(j.state));
  } else {
    brevun::cli::SetWatchdogEnding(text, Exit(j.state));
  }
}

// The measurement judged and written in the run's format.
int Report(const brevun::cli::Options& options, const brevun::measure::Measurement& measurement,
           const brevun::measure::Criteria& criteria) {
  const brevun::measure::Judgement j = brevun::measure::Judge(measurement, criteria);
  const std::string text = brevun::output::Document(options.output, measurement, j, criteria);
  brevun::cli::DisarmWatchdog();
  return Emit(options, text, j.state);
}

void ToStandardError(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

// -H: the offset the protocol measures, judged by the threshold ranges.
int MeasureOffset(const brevun::cli::Options& options) {
  using namespace brevun::cli;
  const OffsetRequest request = OffsetRequestFor(options);
  const brevun::measure::Criteria criteria = CriteriaOf(request);
  brevun::measure::OffsetRequest asked = MeasurementOf(request);
  if (options.verbose) asked.verbose = ToStandardError;
  Prepare(options, Unfinished(request, request.first), criteria, true);
  asked.beforeQuery = [&](const OffsetServer& server) {
    Prepare(options, Unfinished(request, server), criteria, false);
  };
#ifdef _WIN32
  const OffsetQuery query = brevun::QueryTime;
#else
  const OffsetQuery query = options.nts ? brevun::measure::NtsQuery(NtsSettingsFor(options))
                                        : OffsetQuery(brevun::QueryTime);
#endif
  return Report(options, brevun::measure::MeasureOffset(asked, query), criteria);
}

// -H more than once, or --all-addresses: the servers that agree judge the clock.
int JudgeConsensus(const brevun::cli::Options& options) {
  using namespace brevun::cli;
  const ConsensusRequest request = ConsensusRequestFor(options);
#if defined(__GLIBC__)
  // A query thread's first allocation would otherwise reserve a heap arena of its own (a
  // 128 MB mapping, trimmed at once): a good part of what a second server costs. The threads
  // of one run allocate little and seldom, so they share the main heap.
  mallopt(M_ARENA_MAX, 1);
#endif
  const brevun::measure::Criteria criteria = CriteriaOf(request);
  brevun::measure::SeveralRequest asked = MeasurementOf(request);
  if (options.verbose) asked.verbose = ToStandardError;
  Prepare(options, Unfinished(request), criteria, true);
#ifdef _WIN32
  const ConsensusNetwork network = RealNetwork();
#else
  const ConsensusNetwork network =
      options.nts ? brevun::measure::NtsNetwork(NtsSettingsFor(options)) : RealNetwork();
#endif
  return Report(options, brevun::measure::MeasureSeveral(asked, network), criteria);
}

// --daemon: this machine's own time daemon, and with -H the servers as its cross-check.
int CheckDaemon(const brevun::cli::Options& options) {
#ifdef _WIN32
  (void)options;
  return Unknown(
      "the Windows Time service has no protocol to read its state by (as chrony's command "
      "protocol or NTP's mode 6 are): --daemon is for Linux");
#else
  using namespace brevun::cli;
  const brevun::measure::Criteria criteria = DaemonCriteriaFor(options);
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t budget = NetworkMilliseconds(options.timeout);
  const bool servers = MeasuresOffset(options);
  brevun::measure::DaemonRequest read;
  read.kind = options.daemonKind;
  if (options.daemonAddress) read.endpoint = brevun::FromUtf8(*options.daemonAddress);
  // The daemon answers on this machine within milliseconds; one that hangs must leave the
  // servers most of the time.
  read.budgetMillis = servers ? budget / 3 : budget;
  if (options.verbose) read.verbose = ToStandardError;
  brevun::measure::Measurement unfinished;
  unfinished.mode = brevun::measure::Measurement::Mode::kDaemon;
  unfinished.finished = false;
  unfinished.daemon.emplace();
  Prepare(options, unfinished, criteria, true);
  brevun::measure::DaemonResult daemon = brevun::measure::MeasureDaemon(read);
  const std::int64_t left = budget - std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count();
  brevun::measure::Measurement m;
  if (JudgesConsensus(options)) {
    ConsensusRequest request = ConsensusRequestFor(options);
    request.budgetMillis = left;
    Prepare(options, Unfinished(request), criteria, false);
    brevun::measure::SeveralRequest asked = MeasurementOf(request);
    if (options.verbose) asked.verbose = ToStandardError;
    const ConsensusNetwork network =
        options.nts ? brevun::measure::NtsNetwork(NtsSettingsFor(options)) : RealNetwork();
    m = brevun::measure::MeasureSeveral(asked, network);
  } else if (servers) {
    OffsetRequest request = OffsetRequestFor(options);
    request.budgetMillis = left;
    brevun::measure::OffsetRequest asked = MeasurementOf(request);
    if (options.verbose) asked.verbose = ToStandardError;
    asked.beforeQuery = [&](const OffsetServer& server) {
      Prepare(options, Unfinished(request, server), criteria, false);
    };
    const OffsetQuery query = options.nts ? brevun::measure::NtsQuery(NtsSettingsFor(options))
                                          : OffsetQuery(brevun::QueryTime);
    m = brevun::measure::MeasureOffset(asked, query);
  } else {
    m.mode = brevun::measure::Measurement::Mode::kDaemon;
    m.utcMicros = brevun::UtcMicrosNow();
  }
  m.daemon = std::move(daemon);
  return Report(options, m, criteria);
#endif
}

// The program itself, with its arguments in UTF-8.
int Run(int argc, char** argv) {
  brevun::cli::Options options;
  std::u16string parameter;
  try {
    options = brevun::cli::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::fputs(brevun::cli::HelpText().c_str(), stdout);
      return 0;
    }
    if (options.version) {
      std::printf("brevun-check %s\n", BREVUN_VERSION);
      return 0;
    }
#ifdef _WIN32
    // The dialog waits for a person: no watchdog and no check.
    if (options.configure) return Configure(options);
#else
    if (options.com || options.configure) {
      return Unknown("--com and --configure need the Windows build and its registered component");
    }
#endif
    if (options.nts) {
#ifdef _WIN32
      return Unknown("this build has no NTS support");
#else
      // Before the run's clock starts: a system without the libraries gets its answer at once.
      try {
        brevun::measure::LoadNts();
      } catch (const brevun::Failure& f) {
        return Unknown(brevun::ToUtf8(f.description()));
      }
#endif
    }
    if (brevun::cli::ReadsDaemon(options)) return CheckDaemon(options);
    if (brevun::cli::JudgesConsensus(options)) return JudgeConsensus(options);
    if (brevun::cli::MeasuresOffset(options)) return MeasureOffset(options);
    parameter = brevun::cli::ParameterFor(options);
  } catch (const brevun::cli::UsageError& e) {
    return Unknown(e.what() + std::string(" (see --help)"));
  }
  if (options.printParameter) {
    std::printf("%s\n", brevun::ToUtf8(parameter).c_str());
    return 0;
  }

  // -t bounds the whole run in every mode, --raw included: the time servers share it, and the
  // watchdog ends a run that still overruns it with a line of its own.
  brevun::cli::ArmWatchdog(
      std::int64_t{options.timeout} * 1000,
      "TIME CRITICAL - no result within " + std::to_string(options.timeout) + " s",
      Exit(State::kCritical));

#ifdef _WIN32
  if (options.com) return CheckThroughComponent(options, parameter);
#endif
  const std::int16_t queryTimeout =
      brevun::cli::PerQueryTimeout(options.timeout, brevun::cli::NetworkSources(parameter));

  brevun::SystemLocalClock clock;
  brevun::IsoDateTimeText text;
  CommandLineHost host(parameter, queryTimeout, text);
  brevun::CheckOutcome outcome;
  const bool verdict = brevun::DoCheck(host, brevun::CheckPlatform{clock, text}, &outcome);
  brevun::cli::DisarmWatchdog();
  if (options.raw) {
    std::printf("%s\n", brevun::ToUtf8(host.result()).c_str());
    return verdict ? 0 : 2;
  }
  const State state = brevun::cli::Judge(verdict, outcome, options.warning);
  std::printf("%s\n", brevun::cli::OutputLine(state, host.result(), outcome, options.warning,
                                              options.critical)
                          .c_str());
  return Exit(state);
}

}  // namespace

#ifdef _WIN32
// Windows keeps the command line in UTF-16. main's arguments are that line in the ANSI code
// page, which has no room for most of the world's letters (a host name in another script
// arrives as question marks) and which the program, reading its arguments as UTF-8, would
// misread even where it has them: the arguments are taken as UTF-16 and made UTF-8 once, here.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(brevun::win::Utf8(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return Run(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
