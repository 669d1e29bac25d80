#include "cli/plugin.h"

#include <cmath>

#include "check/generic.h"
#include "check/number.h"
#include "check/parameter.h"
#include "check/text.h"

namespace brevun::cli {

namespace {

double Seconds(const std::string& name, const std::string& text) {
  // A threshold is a plain decimal number; anything else is a typing error to report, not a
  // leading number to guess at.
  const std::u16string u = FromUtf8(text);
  std::size_t digits = 0;
  bool point = false;
  for (std::size_t i = 0; i < u.size(); ++i) {
    const char16_t c = u[i];
    if (c >= u'0' && c <= u'9') {
      ++digits;
    } else if (c == u'.' && !point) {
      point = true;
    } else if (!(i == 0 && (c == u'-' || c == u'+'))) {
      digits = 0;
      break;
    }
  }
  if (digits == 0) throw UsageError(name + " needs a number of seconds, not '" + text + "'");
  const auto seconds = ReadLeadingNumber(u);
  if (!seconds) throw UsageError(name + " is too large: '" + text + "'");
  return *seconds;
}

int TimeoutSeconds(const std::string& text) {
  const double v = Seconds("--timeout", text);
  if (v < 1 || v > 3600 || std::floor(v) != v) {
    throw UsageError("--timeout needs whole seconds from 1 to 3600, not '" + text + "'");
  }
  return static_cast<int>(v);
}

void CheckProtocol(const std::string& name, const std::string& value, bool allowLocal) {
  const auto source = SourceOf(FromUtf8(value));
  if (source && (IsTimeServer(*source) || (allowLocal && *source == Source::kLocal))) return;
  throw UsageError(name + " must be sntp" + std::string(allowLocal ? ", time or local" : " or time") +
                   ", not '" + value + "'");
}

std::string Sanitised(const std::u16string& text) {
  std::string s = ToUtf8(text);
  for (auto& c : s) {
    if (c == '|') c = '/';
    if (c == '\n' || c == '\r') c = ' ';
  }
  return s;
}

std::string Threshold(std::optional<double> v) { return v ? ToUtf8(FormatNumber(*v)) : ""; }

}  // namespace

const char* StateName(State state) {
  switch (state) {
    case State::kOk: return "OK";
    case State::kWarning: return "WARNING";
    case State::kCritical: return "CRITICAL";
    case State::kUnknown: break;
  }
  return "UNKNOWN";
}

Options ParseArguments(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
      }
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    auto flag = [&](bool& target) {
      if (inlineValue) throw UsageError(arg + " takes no value");
      target = true;
    };
    if (arg == "-P" || arg == "--parameter") {
      o.parameter = value();
    } else if (arg == "-H" || arg == "--host") {
      o.host = value();
    } else if (arg == "--protocol") {
      o.protocol = value();
      CheckProtocol(arg, o.protocol, false);
    } else if (arg == "--second-host") {
      o.secondHost = value();
    } else if (arg == "--second-protocol") {
      o.secondProtocol = value();
      CheckProtocol(arg, *o.secondProtocol, true);
    } else if (arg == "-w" || arg == "--warning") {
      o.warning = Seconds("--warning", value());
    } else if (arg == "-c" || arg == "--critical") {
      o.critical = Seconds("--critical", value());
    } else if (arg == "-t" || arg == "--timeout") {
      o.timeout = TimeoutSeconds(value());
      o.timeoutGiven = true;
    } else if (arg == "--print-parameter") {
      flag(o.printParameter);
    } else if (arg == "-V" || arg == "--version") {
      flag(o.version);
    } else if (arg == "-h" || arg == "--help") {
      flag(o.help);
    } else if (arg == "--raw") {
      flag(o.raw);
    } else if (arg == "--com") {
      flag(o.com);
    } else if (arg == "--configure") {
      flag(o.configure);
    } else {
      throw UsageError("unknown argument '" + args[i] + "'");
    }
  }
  if (o.help || o.version || o.configure) return o;
  if (o.parameter && (o.host || o.secondHost || o.secondProtocol || o.critical)) {
    throw UsageError(
        "--parameter carries its own sources and limit; do not combine it with --host, "
        "--second-host, --second-protocol or --critical");
  }
  if (!o.parameter && !o.host) throw UsageError("name a time server with --host, or give --parameter");
  if (o.secondHost && o.secondProtocol && *o.secondProtocol == "local") {
    throw UsageError("--second-host names a server, but --second-protocol is local");
  }
  if (!o.parameter) {
    if (!o.critical) o.critical = kDefaultCritical;
    if (!o.warning) o.warning = kDefaultWarning;
  }
  return o;
}

std::u16string ParameterFor(const Options& options) {
  if (options.parameter) return FromUtf8(*options.parameter);
  const std::u16string first = FromUtf8(options.host.value_or(""));
  const std::u16string second = FromUtf8(options.secondHost.value_or(""));
  const std::string secondProtocol =
      options.secondProtocol.value_or(options.secondHost ? "sntp" : "local");
  ParameterChoice choice;
  choice.firstTimeServer = first;
  choice.firstSource = SourceOf(FromUtf8(options.protocol)).value_or(Source::kLocal);
  choice.secondTimeServer = second;
  choice.secondSource = SourceOf(FromUtf8(secondProtocol)).value_or(Source::kLocal);
  choice.difference = options.critical.value_or(kDefaultCritical);
  return ComposeParameter(choice);
}

int NetworkSources(const std::u16string& parameter) {
  int n = 0;
  for (const auto key : {tag::kFirstSource, tag::kSecondSource}) {
    if (IsTimeServerCode(Generic::GetParameter(parameter, key))) ++n;
  }
  return n;
}

std::int16_t PerQueryTimeout(int runSeconds, int networkSources) {
  if (networkSources <= 0) return static_cast<std::int16_t>(runSeconds);
  const int share = (runSeconds - 1) / networkSources;
  return static_cast<std::int16_t>(share < 1 ? 1 : share);
}

State Judge(bool verdict, const CheckOutcome& outcome, std::optional<double> warning) {
  if (outcome.failedStep != 0) return outcome.serverFailed ? State::kCritical : State::kUnknown;
  if (!verdict) return State::kCritical;
  if (warning && !WithinLimit(outcome.d, std::floor(*warning), outcome.acquisition)) {
    return State::kWarning;
  }
  return State::kOk;
}

std::string OutputLine(State state, const std::u16string& resultText, const CheckOutcome& outcome,
                       std::optional<double> warning, std::optional<double> critical) {
  std::string line = std::string("TIME ") + StateName(state) + " - " + Sanitised(resultText);
  if (outcome.completed) {
    if (!critical) critical = outcome.limit;
    line += "|offset=" + std::to_string(outcome.d) + "s;" + Threshold(warning) + ";" +
            Threshold(critical);
  }
  return line;
}

std::string HelpText() {
  return "Usage: brevun-check -H HOST[:PORT] [--protocol sntp|time]\n"
         "                    [--second-host HOST[:PORT] [--second-protocol sntp|time|local]]\n"
         "                    [-w SECONDS] [-c SECONDS] [-t SECONDS] [--print-parameter]\n"
         "       brevun-check -P PARAMETER [-w SECONDS] [-t SECONDS]\n"
         "       brevun-check -V | -h\n"
         "\n"
         "Compares the clock of a time server with the local clock (or with a second server)\n"
         "and prints one line for a monitoring system: TIME OK, WARNING, CRITICAL or UNKNOWN,\n"
         "with the difference as performance data (offset=Ds;W;C). Exit codes 0, 1, 2, 3.\n"
         "\n"
         "  -H, --host HOST[:PORT]     first time source: a server (name, address, [v6]:port)\n"
         "      --protocol P           sntp (UDP, port 123; default) or time (RFC 868, TCP 37)\n"
         "      --second-host HOST     second source: a server instead of the local clock\n"
         "      --second-protocol P    sntp (default with --second-host), time or local\n"
         "  -w, --warning SECONDS      warning threshold (default 60 with --host)\n"
         "  -c, --critical SECONDS     the check's limit (default 120 with --host)\n"
         "  -P, --parameter STRING     a parameter string as a host stores it, e.g.\n"
         "                             '#FTS=ntp.example#FPR=sntp#STS=#SPR=local#DIS=60#'\n"
         "  -t, --timeout SECONDS      the whole run ends within this time (default 10)\n"
         "      --print-parameter      print the parameter string the options compose\n"
         "      --raw                  print the check's result text alone (exit 0 when the\n"
         "                             time is correct, 2 otherwise)\n"
#ifdef _WIN32
         "      --com                  run the check through the registered component\n"
         "      --configure            open the component's dialog, print the parameter\n"
#endif
         "  -V, --version              print the version\n"
         "  -h, --help                 print this help\n";
}

}  // namespace brevun::cli
