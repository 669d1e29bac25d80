#include "cli/plugin.h"

#include <cmath>

#include "check/generic.h"
#include "check/number.h"
#include "check/parameter.h"
#include "check/text.h"
#include "cli/threshold.h"

namespace brevun::cli {

namespace {

std::string Sanitised(const std::u16string& text) {
  std::string s = ToUtf8(text);
  for (auto& c : s) {
    if (c == '|') c = '/';
    if (c == '\n' || c == '\r') c = ' ';
  }
  return s;
}

std::string Threshold(std::optional<double> v) { return v ? ToUtf8(FormatNumber(*v)) : ""; }

// A host as typed, read with the port its protocol (or -p) gives it; with --nts, the key
// establishment's.
TimeHost HostOf(const Options& options, const std::string& name, const std::string& text,
                Source protocol) {
  const std::uint16_t port =
      options.nts ? options.ntsPort : options.port.value_or(DefaultPort(protocol));
  try {
    return ParseTimeHost(FromUtf8(text), port);
  } catch (const Failure& f) {
    throw UsageError(name + ": " + ToUtf8(f.description()));
  }
}

ThresholdRange RangeOr(const std::optional<ThresholdRange>& given, double fallback) {
  return given ? *given : *ThresholdRange::Parse(ToUtf8(FormatNumber(fallback)), nullptr);
}

// What the one-server and the several-server measurement take alike from the options.
template <typename Request>
void TakeShared(const Options& options, Request& r) {
  r.family = options.family;
  r.timeoutSeconds = options.timeout;
  r.budgetMillis = NetworkMilliseconds(options.timeout);
  r.warning = RangeOr(options.warningRange, kDefaultWarning);
  r.critical = RangeOr(options.criticalRange, kDefaultCritical);
  if (options.timeOffsetText) {
    r.expectedText = *options.timeOffsetText;
    r.expectedMicros = options.timeOffsetMicros;
  }
  r.quiet = options.quiet;
  r.leapWarning = options.leapWarning;
  r.nts = options.nts;
  r.certWarningDays = options.ntsCertWarningDays;
}

}  // namespace

OffsetRequest OffsetRequestFor(const Options& options) {
  const auto server = [&](const std::string& name, const std::string& text, Source protocol) {
    OffsetServer s;
    s.protocol = protocol;
    s.host = HostOf(options, name, text, protocol);
    return s;
  };
  OffsetRequest r;
  r.first = server("--host", options.hosts.empty() ? "" : options.hosts.front(), options.protocol);
  if (options.secondHost) {
    r.second = server("--second-host", *options.secondHost,
                      options.secondProtocol.value_or(Source::kSntp));
  }
  TakeShared(options, r);
  return r;
}

ConsensusRequest ConsensusRequestFor(const Options& options) {
  ConsensusRequest r;
  for (const std::string& host : options.hosts) {
    r.hosts.push_back(HostOf(options, "--host", host, Source::kSntp));
  }
  TakeShared(options, r);
  r.allAddresses = options.allAddresses;
  r.maxServers = static_cast<std::size_t>(options.maxServers);
  r.truechimersWarning = options.truechimersWarning;
  r.truechimersCritical = options.truechimersCritical;
  r.falseticker = options.falseticker;
  r.limits.maxDistanceMicros = options.maxDistanceMicros;
  r.limits.maxDelayMicros = options.maxDelayMicros;
  return r;
}

measure::Criteria DaemonCriteriaFor(const Options& options) {
  measure::Criteria c = JudgesConsensus(options)  ? CriteriaOf(ConsensusRequestFor(options))
                        : MeasuresOffset(options) ? CriteriaOf(OffsetRequestFor(options))
                                                  : measure::Criteria{};
  if (!MeasuresOffset(options)) {
    c.warning = *options.warningRange;
    c.critical = *options.criticalRange;
    c.quiet = options.quiet;
    c.leapWarning = options.leapWarning;
    c.timeoutSeconds = options.timeout;
  }
  c.daemon = options.daemonThresholds;
  return c;
}

std::int64_t NetworkMilliseconds(int runSeconds) {
  return std::int64_t{runSeconds} * 1000 - kRunMarginMillis;
}

std::u16string ParameterFor(const Options& options) {
  if (options.parameter) return FromUtf8(*options.parameter);
  const std::u16string first = FromUtf8(options.hosts.empty() ? "" : options.hosts.front());
  const std::u16string second = FromUtf8(options.secondHost.value_or(""));
  ParameterChoice choice;
  choice.firstTimeServer = first;
  choice.firstSource = options.protocol;
  choice.secondTimeServer = second;
  choice.secondSource =
      options.secondProtocol.value_or(options.secondHost ? Source::kSntp : Source::kLocal);
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

}  // namespace brevun::cli
