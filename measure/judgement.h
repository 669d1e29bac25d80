// The state of one measurement and its reasons, judged once by the administrator's criteria
// (thresholds and the rest of the options that judge rather than measure). Every writer turns
// the same judgement into its own form, so the plugin line, JSON and OpenMetrics can never
// disagree on a state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/measurement.h"
#include "measure/state.h"
#include "measure/threshold.h"

namespace brevun::measure {

// The thresholds of a local time daemon's figures (--daemon); none given, none judged.
struct DaemonThresholds {
  std::optional<ThresholdRange> errorWarning;  // seconds: |offset| + root delay/2 + root disp.
  std::optional<ThresholdRange> errorCritical;
  std::optional<ThresholdRange> stratumWarning;
  std::optional<ThresholdRange> stratumCritical;
  std::optional<ThresholdRange> reachableWarning;  // how many sources it hears
  std::optional<ThresholdRange> reachableCritical;
  std::optional<ThresholdRange> selectableWarning;  // how many it may select
  std::optional<ThresholdRange> selectableCritical;
  std::optional<ThresholdRange> updateWarning;  // seconds since it last set the clock
  std::optional<ThresholdRange> updateCritical;
};

struct Criteria {
  ThresholdRange warning;  // on the absolute offset, after the expected offset is taken off
  ThresholdRange critical;
  std::int64_t expectedMicros = 0;  // -o
  std::string expectedText;         // as given, for the line; empty without -o
  // -q: no offset to be had is UNKNOWN rather than CRITICAL (never a server that answered
  // without a time or refused to authenticate).
  bool quiet = false;
  // A server announcing a leap second on a day that has none is misconfigured: WARNING.
  bool leapWarning = false;
  std::optional<int> certWarningDays;  // a certificate expiring sooner is WARNING
  // Several servers: how many must agree, and what a falseticker is worth.
  std::optional<ThresholdRange> truechimersWarning;
  std::optional<ThresholdRange> truechimersCritical;
  State falseticker = State::kWarning;
  int timeoutSeconds = 10;  // -t as given: the number the user knows, which lines name
  // --daemon: the daemon's own figures (its offset is judged by warning and critical).
  DaemonThresholds daemon;
};

// --daemon with servers asked: the daemon's claim set against the servers' verdict. The daemon
// says true time is our clock plus daemonMicros within claimMicros; the servers say our clock
// plus serversMicros within serversBoundMicros. They disagree when the two intervals do not
// meet.
struct CrossCheck {
  std::int64_t daemonMicros = 0;
  std::int64_t claimMicros = 0;
  std::int64_t serversMicros = 0;
  std::int64_t serversBoundMicros = 0;
  bool agrees = true;
};

// One reason for the state, or one thing worth naming beside it.
struct Reason {
  // A word for machines: "offset", "truechimers", "minority", "falseticker", "too-far",
  // "unreachable", "leap-second", "certificate-expires", "no-majority", "no-usable-answer",
  // "no-answer", "unknown-host", "refused", "kiss-o-death", "unsynchronised",
  // "authentication", "failure", "error", "no-result", "certificate-out-of-date-here"; with
  // --daemon "daemon-unreadable",
  // "daemon-unsynchronised", "daemon-error", "daemon-stratum", "daemon-reachable",
  // "daemon-selectable", "daemon-update", "daemon-falseticker", "cross-check".
  std::string code;
  State state = State::kOk;  // what it makes of the state; OK: only named
  // A clause as the plugin line says it; empty where the line says it otherwise (the offset
  // and the count of servers that agree are the line's head).
  std::string text;
  // The text is the whole sentence of the line: there is no offset to report.
  bool headline = false;
  std::vector<std::string> servers;  // the servers it concerns, by name
};

struct Judgement {
  State state = State::kUnknown;
  // The offset judged: measured minus expected. Empty where nothing could be measured.
  std::optional<std::int64_t> offsetMicros;
  std::vector<Reason> reasons;  // in the order the line tells them
  std::optional<CrossCheck> crossCheck;

  // The reason whose text is the whole line, if any.
  const Reason* Headline() const;
};

Judgement Judge(const Measurement& measurement, const Criteria& criteria);

}  // namespace brevun::measure
