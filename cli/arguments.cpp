#include "cli/arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "check/number.h"
#include "check/text.h"

namespace brevun::cli {

namespace {

double Seconds(const std::string& name, const std::string& text) {
  // A threshold is a plain decimal number; anything else is a typing error to report, not a
  // leading number to guess at.
  if (!IsPlainDecimal(text)) {
    throw UsageError(name + " needs a number of seconds, not '" + text + "'");
  }
  const auto seconds = ParseDecimal(text);
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

std::int64_t TimeOffsetMicros(const std::string& text) {
  const auto v = ParseDecimal(text);
  if (!v) throw UsageError("--time-offset needs a number of seconds, not '" + text + "'");
  if (std::fabs(*v) > kMaxTimeOffsetSeconds) {
    throw UsageError("--time-offset must lie within 1000000000 seconds either way, not '" + text +
                     "'");
  }
  return std::llround(*v * 1e6);
}

Source ProtocolOf(const std::string& name, const std::string& value, bool allowLocal) {
  const auto source = SourceOf(FromUtf8(value));
  if (source && (IsTimeServer(*source) || (allowLocal && *source == Source::kLocal))) {
    return *source;
  }
  throw UsageError(name + " must be sntp" +
                   std::string(allowLocal ? ", time or local" : " or time") + ", not '" + value +
                   "'");
}

// A "#" would start the next tag of the parameter string the host is stored in: a host typed
// as "ntp.example#DIS=99999" would widen the limit of every later check. Refused wherever a host
// is typed; a parameter string given whole is the host's own business.
std::string HostText(const std::string& name, const std::string& host) {
  if (host.find('#') != std::string::npos) {
    throw UsageError(name + " cannot contain '#' (it starts a tag of the parameter string): '" +
                     host + "'");
  }
  return host;
}

std::uint16_t Port(const std::string& name, const std::string& text) {
  const auto v = ParseDecimal(text);
  if (!v || *v < 1 || *v > 65535 || std::floor(*v) != *v || text.find('.') != std::string::npos) {
    throw UsageError(name + " needs a port number from 1 to 65535, not '" + text + "'");
  }
  return static_cast<std::uint16_t>(*v);
}

int Days(const std::string& name, const std::string& text) {
  const auto v = ParseDecimal(text);
  if (!v || *v < 1 || *v > 3650 || std::floor(*v) != *v || text.find('.') != std::string::npos) {
    throw UsageError(name + " needs whole days from 1 to 3650, not '" + text + "'");
  }
  return static_cast<int>(*v);
}

// A CA file that cannot be read is the administrator's to fix before any server is asked.
// A file of trusted certificates: one that can be read and holds at least one certificate in
// PEM. A file without one would trust nobody, and every server would then look like one that
// failed authentication: CRITICAL for what is the administrator's typing error.
std::string CertificateFile(const std::string& name, const std::string& path) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  errno = 0;
  const std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
  std::string text;
  if (file) {
    char block[4096];
    // A trust store of a few megabytes is large; the marker is read from the first 16 MiB.
    while (text.size() < (std::size_t{16} << 20)) {
      const std::size_t n = std::fread(block, 1, sizeof block, file.get());
      text.append(block, n);
      if (n < sizeof block) break;
    }
  }
  // A folder opens, but reading it fails.
  if (!file || std::ferror(file.get())) {
    throw UsageError(name + " cannot read '" + path +
                     "': " + (errno != 0 ? std::strerror(errno) : "unknown reason"));
  }
  if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    throw UsageError(name + " '" + path + "' holds no certificate in PEM");
  }
  return path;
}

std::string NumberText(double v) { return ToUtf8(FormatNumber(v)); }

std::int64_t PositiveMicros(const std::string& name, const std::string& text) {
  const double v = Seconds(name, text);
  if (!(v > 0) || v > 1e6) {
    throw UsageError(name + " needs seconds above 0 (up to 1000000), not '" + text + "'");
  }
  return std::llround(v * 1e6);
}

// A root distance of 16 s or more is what RFC 5905 calls bad data (section 7.2, MAXDISP): no
// reply that far from its reference may count.
std::int64_t MaxDistanceMicros(const std::string& name, const std::string& text) {
  const double v = Seconds(name, text);
  if (!(v > 0) || !(v < kMaxDistanceSeconds)) {
    throw UsageError(name + " needs seconds above 0 and below " + NumberText(kMaxDistanceSeconds) +
                     ", not '" + text + "'");
  }
  return std::llround(v * 1e6);
}

int ServerCount(const std::string& text) {
  const auto v = ParseDecimal(text);
  if (!v || *v < 1 || *v > 64 || std::floor(*v) != *v || text.find('.') != std::string::npos) {
    throw UsageError("--max-servers needs a whole number from 1 to 64, not '" + text + "'");
  }
  return static_cast<int>(*v);
}

bool IsDaemonKind(const std::string& text) {
  return text == "auto" || text == "chrony" || text == "ntp" || text == "kernel";
}

// --daemon's kind; empty for auto.
std::optional<daemon::Kind> DaemonKind(const std::string& name, const std::string& text) {
  if (text == "chrony") return daemon::Kind::kChrony;
  if (text == "ntp") return daemon::Kind::kNtp;
  if (text == "kernel") return daemon::Kind::kKernel;
  if (text == "auto") return std::nullopt;
  throw UsageError(name + " must be auto, chrony, ntp or kernel, not '" + text + "'");
}

// The threshold a --daemon figure's option sets, or nullptr for any other option.
std::optional<ThresholdRange>* DaemonRange(Options& o, const std::string& arg) {
  const std::pair<const char*, std::optional<ThresholdRange>*> ranges[] = {
      {"--error-warning", &o.daemonThresholds.errorWarning},
      {"--error-critical", &o.daemonThresholds.errorCritical},
      {"--stratum-warning", &o.daemonThresholds.stratumWarning},
      {"--stratum-critical", &o.daemonThresholds.stratumCritical},
      {"--reachable-warning", &o.daemonThresholds.reachableWarning},
      {"--reachable-critical", &o.daemonThresholds.reachableCritical},
      {"--selectable-warning", &o.daemonThresholds.selectableWarning},
      {"--selectable-critical", &o.daemonThresholds.selectableCritical},
      {"--update-warning", &o.daemonThresholds.updateWarning},
      {"--update-critical", &o.daemonThresholds.updateCritical},
  };
  for (const auto& [name, range] : ranges) {
    if (arg == name) return range;
  }
  return nullptr;
}

output::Format FormatOf(const std::string& name, const std::string& text) {
  if (text == "plugin") return output::Format::kPlugin;
  if (text == "json") return output::Format::kJson;
  if (text == "openmetrics") return output::Format::kOpenMetrics;
  throw UsageError(name + " must be plugin, json or openmetrics, not '" + text + "'");
}

State StateOf(const std::string& name, const std::string& text) {
  std::string lower;
  for (const char c : text) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
  if (lower == "ok") return State::kOk;
  if (lower == "warning") return State::kWarning;
  if (lower == "critical") return State::kCritical;
  throw UsageError(name + " must be ok, warning or critical, not '" + text + "'");
}

ThresholdRange Range(const std::string& name, const std::string& text) {
  std::string problem;
  const auto r = ThresholdRange::Parse(text, &problem);
  if (!r) throw UsageError(name + ": " + problem);
  return *r;
}

}  // namespace

Options ParseArguments(const std::vector<std::string>& args) {
  Options o;
  std::string consensusOption;  // the last option that only several servers use
  std::string ntsOption;        // the last option that only --nts uses
  std::string outputOption;     // the last option that only -H's measurement writes by
  std::string daemonOption;     // the last option that only --daemon uses
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    // "-w5" as getopt reads it, for the short options that take a value.
    if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-' &&
        std::string("PHwctpo").find(arg[1]) != std::string::npos) {
      inlineValue = arg.substr(2);
      arg = arg.substr(0, 2);
    }
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
    } else if (arg == "-H" || arg == "--host" || arg == "--hostname") {
      o.hosts.push_back(HostText("--host", value()));
      if (o.hosts.size() > kMaxHosts) {
        throw UsageError("at most " + std::to_string(kMaxHosts) + " --host are judged together");
      }
    } else if (arg == "--protocol") {
      o.protocol = ProtocolOf(arg, value(), false);
    } else if (arg == "--second-host") {
      o.secondHost = HostText("--second-host", value());
    } else if (arg == "--second-protocol") {
      o.secondProtocol = ProtocolOf(arg, value(), true);
    } else if (arg == "-w" || arg == "--warning") {
      o.warningText = value();
    } else if (arg == "-c" || arg == "--critical") {
      o.criticalText = value();
    } else if (arg == "-p" || arg == "--port") {
      o.port = Port("--port", value());
    } else if (arg == "-4" || arg == "--use-ipv4" || arg == "-6" || arg == "--use-ipv6") {
      if (inlineValue) throw UsageError(arg + " takes no value");
      o.family = arg.find('4') != std::string::npos ? AddressFamily::kIPv4 : AddressFamily::kIPv6;
    } else if (arg == "-q" || arg == "--quiet") {
      flag(o.quiet);
    } else if (arg == "-v" || arg == "--verbose") {
      flag(o.verbose);
    } else if (arg == "-o" || arg == "--time-offset") {
      o.timeOffsetText = value();
      o.timeOffsetMicros = TimeOffsetMicros(*o.timeOffsetText);
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
    } else if (arg == "--all-addresses") {
      flag(o.allAddresses);
    } else if (arg == "--max-servers") {
      o.maxServers = ServerCount(value());
      consensusOption = arg;
    } else if (arg == "--truechimers-warning") {
      o.truechimersWarning = Range(arg, value());
      consensusOption = arg;
    } else if (arg == "--truechimers-critical") {
      o.truechimersCritical = Range(arg, value());
      consensusOption = arg;
    } else if (arg == "--falseticker") {
      o.falseticker = StateOf(arg, value());
      consensusOption = arg;
    } else if (arg == "--max-distance") {
      o.maxDistanceMicros = MaxDistanceMicros(arg, value());
      consensusOption = arg;
    } else if (arg == "--max-delay") {
      o.maxDelayMicros = PositiveMicros(arg, value());
      consensusOption = arg;
    } else if (arg == "--leap-warning") {
      flag(o.leapWarning);
    } else if (arg == "--daemon") {
      o.daemon = true;
      // The kind is optional: "--daemon=chrony", or "--daemon chrony" when a kind follows.
      if (inlineValue) {
        o.daemonKind = DaemonKind(arg, *inlineValue);
      } else if (i + 1 < args.size() && IsDaemonKind(args[i + 1])) {
        o.daemonKind = DaemonKind(arg, args[++i]);
      }
    } else if (arg == "--daemon-address") {
      o.daemonAddress = value();
      if (o.daemonAddress->empty()) throw UsageError(arg + " needs an address or a socket path");
      daemonOption = arg;
    } else if (auto* range = DaemonRange(o, arg)) {
      *range = Range(arg, value());
      daemonOption = arg;
    } else if (arg == "--output") {
      o.output = FormatOf(arg, value());
      outputOption = arg;
    } else if (arg == "--output-file") {
      o.outputFile = value();
      if (o.outputFile->empty()) throw UsageError(arg + " needs a file name");
      outputOption = arg;
    } else if (arg == "--nts") {
      flag(o.nts);
    } else if (arg == "--nts-port") {
      o.ntsPort = Port(arg, value());
      ntsOption = arg;
    } else if (arg == "--nts-ca") {
      o.ntsCa = CertificateFile(arg, value());
      ntsOption = arg;
    } else if (arg == "--nts-server-name") {
      o.ntsServerName = value();
      if (o.ntsServerName->empty()) throw UsageError(arg + " needs a name");
      ntsOption = arg;
    } else if (arg == "--nts-cert-warning") {
      o.ntsCertWarningDays = Days(arg, value());
      ntsOption = arg;
    } else {
      throw UsageError("unknown argument '" + args[i] + "'");
    }
  }
  if (o.help || o.version) return o;
  if (!o.nts && !ntsOption.empty()) throw UsageError(ntsOption + " belongs to --nts");
  if (o.nts) {
    // NTS authenticates NTPv4 replies to this machine: one server against the local clock, or
    // several judged together.
    if (o.parameter || o.raw || o.com || o.printParameter || o.configure) {
      throw UsageError(
          "--nts measures with -H; the component's check (--parameter, --raw, --com, "
          "--print-parameter, --configure) has no NTS");
    }
    if (o.protocol != Source::kSntp) {
      throw UsageError("--nts authenticates NTPv4; the Time Protocol has no authentication");
    }
    if (o.secondHost)
      throw UsageError("--nts judges the local clock; --second-host cannot go with it");
    if (o.port) {
      throw UsageError(
          "with --nts, -H names the key establishment server: give its port as HOST:PORT or "
          "with --nts-port, not --port (the NTP server and port are the ones it names)");
    }
  }
  if (!o.daemon && !daemonOption.empty()) throw UsageError(daemonOption + " belongs to --daemon");
  if (o.daemon) {
    if (o.parameter || o.raw || o.com || o.printParameter || o.configure) {
      throw UsageError(
          "--daemon reads this machine's time daemon; the component's check (--parameter, --raw, "
          "--com, --print-parameter, --configure) has no daemon");
    }
    if (o.secondHost) {
      throw UsageError(
          "--daemon judges this machine's clock; --second-host compares two servers instead");
    }
  }
  if (!outputOption.empty() && !MeasuresOffset(o) && !ReadsDaemon(o)) {
    throw UsageError(outputOption +
                     " writes -H's measurement; the component's check (--parameter, --raw, "
                     "--com, --print-parameter, --configure) writes its own line");
  }
  if (o.configure) {
    // The dialog gets the parameter string the options compose, limit included.
    if (o.criticalText) o.critical = Seconds("--critical", *o.criticalText);
    return o;
  }
  if (o.parameter && (!o.hosts.empty() || o.secondHost || o.secondProtocol || o.criticalText)) {
    throw UsageError(
        "--parameter carries its own sources and limit; do not combine it with --host, "
        "--second-host, --second-protocol or --critical");
  }
  if (!o.parameter && o.hosts.empty() && !o.daemon) {
    throw UsageError("name a time server with --host, give --parameter, or check --daemon");
  }
  if (o.hosts.size() > 1 && !MeasuresOffset(o)) {
    throw UsageError(
        "the component's check (--raw, --com, --print-parameter) asks one --host; several are "
        "judged together by -H alone");
  }
  if (JudgesConsensus(o)) {
    if (o.secondHost) {
      throw UsageError("--second-host compares two servers; several --host judge the local clock");
    }
    if (o.protocol != Source::kSntp) {
      throw UsageError(
          "several servers are judged by their SNTP replies (root delay and dispersion); the "
          "Time Protocol gives no such measure");
    }
  } else if (!consensusOption.empty()) {
    throw UsageError(consensusOption +
                     " judges several servers: give --host more than once, or --all-addresses");
  }
  if (o.secondHost && o.secondProtocol == Source::kLocal) {
    throw UsageError("--second-host names a server, but --second-protocol is local");
  }
  if (ReadsDaemon(o)) {
    const auto orDefault = [](std::optional<ThresholdRange>& range, const char* text) {
      if (!range) range = ThresholdRange::Parse(text, nullptr);
    };
    orDefault(o.daemonThresholds.errorWarning, kDaemonErrorWarning);
    orDefault(o.daemonThresholds.errorCritical, kDaemonErrorCritical);
    orDefault(o.daemonThresholds.stratumWarning, kDaemonStratumWarning);
    orDefault(o.daemonThresholds.reachableCritical, kDaemonReachableCritical);
    orDefault(o.daemonThresholds.selectableCritical, kDaemonSelectableCritical);
    orDefault(o.daemonThresholds.updateWarning, kDaemonUpdateWarning);
    orDefault(o.daemonThresholds.updateCritical, kDaemonUpdateCritical);
    o.warningRange = Range("--warning", o.warningText.value_or(kDaemonWarning));
    o.criticalRange = Range("--critical", o.criticalText.value_or(kDaemonCritical));
    return o;
  }
  if (MeasuresOffset(o)) {
    o.warningRange = Range("--warning", o.warningText.value_or(NumberText(kDefaultWarning)));
    o.criticalRange = Range("--critical", o.criticalText.value_or(NumberText(kDefaultCritical)));
    return o;
  }
  // The component's check: the limit goes into the parameter string, and nothing of the
  // offset measurement applies.
  if (o.port || o.family != AddressFamily::kAny || o.quiet || o.timeOffsetText || o.allAddresses ||
      o.leapWarning) {
    throw UsageError(
        "--port, -4, -6, --quiet, --time-offset, --all-addresses and --leap-warning belong to "
        "--host's own measurement, not to the component's check (--parameter, --raw, --com, "
        "--print-parameter)");
  }
  if (o.warningText) o.warning = Seconds("--warning", *o.warningText);
  if (o.criticalText) o.critical = Seconds("--critical", *o.criticalText);
  if (!o.parameter) {
    if (!o.critical) o.critical = kDefaultCritical;
    if (!o.warning) o.warning = kDefaultWarning;
  }
  return o;
}

bool MeasuresOffset(const Options& options) {
  return !options.hosts.empty() && !options.parameter && !options.raw && !options.com &&
         !options.printParameter && !options.configure;
}

bool ReadsDaemon(const Options& options) {
  return options.daemon && !options.parameter && !options.raw && !options.com &&
         !options.printParameter && !options.configure;
}

bool JudgesConsensus(const Options& options) {
  return MeasuresOffset(options) && (options.hosts.size() > 1 || options.allAddresses);
}

std::string HelpText() {
  return "Usage: brevun-check -H HOST[:PORT] [-p PORT] [--protocol sntp|time] [-4|-6]\n"
         "                    [--second-host HOST[:PORT] [--second-protocol sntp|time]]\n"
         "                    [-w RANGE] [-c RANGE] [-o SECONDS] [-t SECONDS] [-q] [-v]\n"
         "       brevun-check -H HOST [-H HOST]... [--all-addresses [--max-servers N]]\n"
         "                    [--truechimers-warning RANGE] [--truechimers-critical RANGE]\n"
         "                    [--falseticker ok|warning|critical] [--max-distance SECONDS]\n"
         "                    [--max-delay SECONDS] [--leap-warning] [-w RANGE] [-c RANGE] ...\n"
         "       brevun-check -H HOST[:PORT] [-H HOST]... --nts [--nts-port PORT] [--nts-ca FILE]\n"
         "                    [--nts-server-name NAME] [--nts-cert-warning DAYS] [-w RANGE] ...\n"
         "       brevun-check --daemon [auto|chrony|ntp|kernel] [--daemon-address ADDRESS]\n"
         "                    [-H HOST]... [-w RANGE] [-c RANGE] [--error-warning RANGE] ...\n"
         "       brevun-check -P PARAMETER [-w SECONDS] [-t SECONDS] [--raw]\n"
         "       brevun-check -V | -h\n"
         "\n"
         "With -H, measures the offset of a time server's clock against the local clock (or\n"
         "against a second server) and prints one line for a monitoring system: TIME OK,\n"
         "WARNING, CRITICAL or UNKNOWN, with performance data. Exit codes 0, 1, 2, 3.\n"
         "With -H given more than once, or --all-addresses, asks every server at once and\n"
         "judges the local clock by those that agree, as a time daemon selects its servers:\n"
         "each reply's offset with its root distance is an interval, and the largest group\n"
         "of overlapping intervals (more than half of the replies) gives the offset.\n"
         "With --nts, each -H is an NTS key establishment server (RFC 8915, TLS 1.3): its\n"
         "certificate is checked, and only an authenticated NTPv4 reply gives the offset.\n"
         "With --daemon, reads this machine's own time daemon (chronyd, ntpd, or the kernel's\n"
         "status) through its own protocol and judges its state; with -H as well, the servers\n"
         "cross-check what it claims: CRITICAL when their time and its own do not meet.\n"
         "With -P, runs the component's own check on a parameter string, as a host does.\n"
         "\n"
         "  -H, --host HOST[:PORT]     the time server: a name, an address, [v6]:port\n"
         "  -p, --port PORT            its port when HOST names none (default 123; 37 for time)\n"
         "      --protocol P           sntp (UDP; default) or time (RFC 868 over TCP, whole\n"
         "                             seconds only)\n"
         "      --second-host HOST     judge the offset between two servers (first minus second)\n"
         "      --second-protocol P    the second server's: sntp (default) or time; local\n"
         "                             (the local clock) only without --second-host\n"
         "  -4, --use-ipv4             ask over IPv4 only\n"
         "  -6, --use-ipv6             ask over IPv6 only\n"
         "  -w, --warning RANGE        warning threshold on the absolute offset (default 60)\n"
         "  -c, --critical RANGE       critical threshold on the absolute offset (default 120)\n"
         "                             RANGE: 10 (0 to 10), 10: (10 and more), ~:10, 10:20,\n"
         "                             @10:20 (alert inside); seconds, decimals allowed\n"
         "  -o, --time-offset SECONDS  the offset the server is expected to have\n"
         "  -q, --quiet                UNKNOWN instead of CRITICAL when no offset can be had\n"
         "  -v, --verbose              each address, request and reply, on standard error\n"
         "  -t, --timeout SECONDS      the whole run ends within this time (default 10)\n"
         "      --output FORMAT        plugin (one line; default), json or openmetrics\n"
         "      --output-file FILE     write the result to FILE, replaced at once\n"
         "      --all-addresses        every address of each name is a server of its own\n"
         "      --max-servers N        with --all-addresses, ask at most N addresses of each\n"
         "                             name (1 to 64, default 4); every -H is asked\n"
         "      --truechimers-warning RANGE, --truechimers-critical RANGE\n"
         "                             thresholds on how many servers agree\n"
         "      --falseticker STATE    the state when a server disagrees (default warning)\n"
         "      --max-distance SECONDS a server with a larger root distance is not used\n"
         "                             (default 1.5, below 16)\n"
         "      --max-delay SECONDS    a server with a larger round-trip delay is not used\n"
         "      --leap-warning         WARNING when a server announces a leap second on a\n"
         "                             day that has none (not June 30 or December 31)\n"
         "      --nts                  Network Time Security: -H names the key establishment\n"
         "                             server, the NTP server is the one it names\n"
         "      --nts-port PORT        the key establishment's port when HOST names none\n"
         "                             (default 4460)\n"
         "      --nts-ca FILE          trust the CAs of this PEM file, not the system's\n"
         "      --nts-server-name NAME the name the certificates must carry (default: -H's)\n"
         "      --nts-cert-warning DAYS  WARNING when a certificate expires within DAYS days\n"
         "      --daemon [KIND]        the local time daemon: auto (default: the first of\n"
         "                             chrony, ntp, kernel that answers), chrony, ntp, kernel\n"
         "      --daemon-address ADDR  where it answers: HOST[:PORT], or chrony's socket path\n"
         "      --error-warning RANGE, --error-critical RANGE\n"
         "                             on its estimated error in seconds (default 0.25, 1)\n"
         "      --stratum-warning RANGE, --stratum-critical RANGE    (default 10, none)\n"
         "      --reachable-warning RANGE, --reachable-critical RANGE\n"
         "                             on how many sources it hears (default none, 1:)\n"
         "      --selectable-warning RANGE, --selectable-critical RANGE\n"
         "                             on how many it may select (default none, 1:)\n"
         "      --update-warning RANGE, --update-critical RANGE\n"
         "                             on the seconds since its last clock update\n"
         "                             (default 4096, 28800); with --daemon, -w and -c judge\n"
         "                             its offset (default 0.1, 1)\n"
         "  -P, --parameter STRING     a parameter string as a host stores it, e.g.\n"
         "                             '#FTS=ntp.example#FPR=sntp#STS=#SPR=local#DIS=60#';\n"
         "                             -w is then whole seconds beside its DIS limit\n"
         "      --print-parameter      print the parameter string -H and its options compose\n"
         "      --raw                  print the component's result text alone (exit 0 when\n"
         "                             the time is correct, 2 otherwise)\n"
#ifdef _WIN32
         "      --com                  run the check through the registered component\n"
         "      --configure            open the component's dialog, print the parameter\n"
#endif
         "  -V, --version              print the version\n"
         "  -h, --help                 print this help\n";
}

}  // namespace brevun::cli
