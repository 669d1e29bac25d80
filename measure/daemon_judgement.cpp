// The local time daemon judged: is it synchronised, how far off does it think the clock is and
// how sure is it, does it hear enough sources, when did it last set the clock; and, with
// servers asked, does what it claims hold against them?
#include <cstdio>
#include <cstdlib>

#include "check/text.h"
#include "measure/daemon_figures.h"
#include "measure/judging.h"
#include "timesource/selection.h"

namespace brevun::measure {

namespace {

// The state of a figure by its thresholds, when any are given.
State StateBy(double value, const std::optional<ThresholdRange>& warning,
              const std::optional<ThresholdRange>& critical) {
  if (critical && critical->Alerts(value)) return State::kCritical;
  if (warning && warning->Alerts(value)) return State::kWarning;
  return State::kOk;
}

// "0.004 s": a bound or a distance as the cross-check's line shows it, to the millisecond; one
// below a millisecond (a daemon on a quiet network claims a few microseconds) to the
// microsecond, which "0.000 s" would hide.
std::string Millis(std::int64_t micros) {
  char text[48];
  const std::int64_t magnitude = std::llabs(micros);
  std::snprintf(text, sizeof text, magnitude < 1000 ? "%.6f s" : "%.3f s",
                static_cast<double>(magnitude) / 1e6);
  return text;
}

// Which way our clock is off when true time is our clock plus offset.
const char* Way(std::int64_t offsetMicros) { return offsetMicros < 0 ? "ahead" : "behind"; }

std::string Who(const DaemonResult& d) {
  if (!d.asked) return "No time daemon";
  switch (*d.asked) {
    case daemon::Kind::kChrony:
      return "chronyd";
    case daemon::Kind::kNtp:
      return "ntpd";
    case daemon::Kind::kKernel:
      break;
  }
  return "The kernel's time status";
}

// The servers' verdict, where there is one: their offset and the half-width of the interval
// they put true time in.
std::optional<std::pair<std::int64_t, std::int64_t>> ServersSay(const Measurement& m) {
  if (!m.offsetMicros) return std::nullopt;
  const std::int64_t o = *m.offsetMicros;
  if (m.mode == Measurement::Mode::kSeveral) {
    const Consensus& k = *m.consensus;
    return std::pair{o, std::max(o - k.lowMicros, k.highMicros - o)};
  }
  const ServerResult& s = m.servers.front();
  if (s.protocol == Source::kTime) return std::pair{o, std::int64_t{500001}};  // whole seconds
  selection::Sample sample;
  sample.delayMicros = s.answer->delayMicros;
  sample.rootDelayMicros = s.answer->rootDelayMicros;
  sample.rootDispersionMicros = s.answer->rootDispersionMicros;
  sample.precision = s.answer->precision;
  sample.exchangeMicros = s.answer->exchangeMicros;
  return std::pair{o, selection::RootDistanceMicros(sample)};
}

// "3 of 3 independent servers put", "the independent server 192.0.2.1:123 puts".
std::string ServersPhrase(const Measurement& m) {
  if (m.mode == Measurement::Mode::kSeveral) {
    return std::to_string(m.consensus->truechimers) + " of " +
           Count(m.Counted(), "independent server puts", "independent servers put");
  }
  const ServerResult& s = m.servers.front();
  return "the independent server " +
         ToUtf8(s.answer && !s.answer->server.empty() ? s.answer->server : s.host.Text()) + " puts";
}

}  // namespace

Judgement JudgeDaemon(const Measurement& m, const Criteria& c) {
  const DaemonResult& d = *m.daemon;
  if (!m.finished) {
    if (m.mode != Measurement::Mode::kDaemon) return JudgeServers(m, c);
    return Headline(
        State::kCritical, "no-result",
        "No answer from the time daemon within " + std::to_string(c.timeoutSeconds) + " s");
  }
  if (d.failure) {
    return Headline(c.quiet ? State::kUnknown : State::kCritical, "daemon-unreadable",
                    Who(d) + " does not answer (" + ToUtf8(d.failure->description()) + ")");
  }
  const daemon::Report& r = *d.report;
  const DaemonFigures f = FiguresOf(r);
  const bool kernel = r.kind == daemon::Kind::kKernel;
  if (!f.synchronised && kernel) {
    return Headline(
        State::kCritical, "daemon-unsynchronised",
        "The kernel's clock is not synchronised (its unsynchronised flag is set" +
            (r.maxErrorMicros ? ", maximum error " + SecondsText(*r.maxErrorMicros) + " s"
                              : std::string()) +
            ")");
  }
  if (!f.synchronised) {
    std::string why = r.leap == 3 ? "leap indicator 3" : "not synchronised";
    if (!kernel && r.stratum > 0) why += ", stratum " + std::to_string(r.stratum);
    if (f.sources > 0) {
      why += ", " + std::to_string(f.reachable) + " of " +
             Count(static_cast<std::size_t>(f.sources), "source reachable", "sources reachable");
    }
    return Headline(State::kCritical, "daemon-unsynchronised",
                    f.name + " is not synchronised (" + why + ")");
  }

  Judgement j;
  j.offsetMicros = r.offsetMicros;
  if (r.offsetMicros) {
    const double magnitude = std::abs(static_cast<double>(*r.offsetMicros)) / 1e6;
    j.reasons.push_back(Clause("offset", StateOf(magnitude, c.warning, c.critical), ""));
  }
  if (f.errorMicros) {
    j.reasons.push_back(Clause("daemon-error",
                               StateBy(static_cast<double>(*f.errorMicros) / 1e6,
                                       c.daemon.errorWarning, c.daemon.errorCritical),
                               ""));
  }
  if (!kernel) {
    j.reasons.push_back(
        Clause("daemon-stratum",
               StateBy(r.stratum, c.daemon.stratumWarning, c.daemon.stratumCritical), ""));
    j.reasons.push_back(
        Clause("daemon-reachable",
               StateBy(f.reachable, c.daemon.reachableWarning, c.daemon.reachableCritical), ""));
    j.reasons.push_back(
        Clause("daemon-selectable",
               StateBy(f.selectable, c.daemon.selectableWarning, c.daemon.selectableCritical), ""));
    if (r.lastUpdateAgeSeconds) {
      j.reasons.push_back(Clause("daemon-update",
                                 StateBy(static_cast<double>(*r.lastUpdateAgeSeconds),
                                         c.daemon.updateWarning, c.daemon.updateCritical),
                                 ""));
    }
  }
  if (!f.falsetickers.empty()) {
    // The daemon has already set them aside: worth naming, nothing to alert on.
    j.reasons.push_back(Clause("daemon-falseticker", State::kOk,
                               Note("its falseticker", "its falsetickers", f.falsetickers),
                               f.falsetickers));
  }
  if (r.leap == 1 || r.leap == 2) {
    j.reasons.push_back(
        Leap(m, c, std::string("leap second announced") + LeapKind(r.leap), {f.name}));
  }

  if (m.mode != Measurement::Mode::kDaemon) {
    // The cross-check: the servers are asked as always, and what they say is set against what
    // the daemon claims. Their own reasons count as they would alone, but for their offset: the
    // daemon's is the one judged.
    const Judgement servers = JudgeServers(m, c);
    const auto said = ServersSay(m);
    if (!said) {
      j.reasons.push_back(
          Clause("cross-check", State::kWarning, "not cross-checked: " + servers.Headline()->text));
    } else {
      CrossCheck& x = j.crossCheck.emplace();
      x.daemonMicros = r.offsetMicros.value_or(0);
      x.claimMicros = f.claimMicros;
      x.serversMicros = said->first;
      x.serversBoundMicros = said->second;
      x.agrees =
          std::llabs(x.serversMicros - x.daemonMicros) <= x.claimMicros + x.serversBoundMicros;
      std::vector<std::string> notes;
      for (const Reason& reason : servers.reasons) {
        if (reason.code == "offset") continue;
        j.reasons.push_back({reason.code, reason.state, "", false, reason.servers});
        if (!reason.text.empty()) notes.push_back(reason.text);
      }
      if (x.agrees) {
        std::string text =
            "confirmed by " +
            (m.mode == Measurement::Mode::kSeveral
                 ? std::to_string(m.consensus->truechimers) + " of " +
                       Count(m.Counted(), "independent server", "independent servers")
                 : std::string("an independent server")) +
            " (offset " + (x.serversMicros >= 0 ? "+" : "") + SecondsText(x.serversMicros) + " s";
        for (const std::string& note : notes) text += "; " + note;
        j.reasons.push_back(Clause("cross-check", State::kOk, text + ")"));
      } else {
        const std::string claim =
            std::llabs(x.daemonMicros) <= x.claimMicros
                ? f.name + " says synchronised within " + Millis(x.claimMicros)
                : f.name + " puts this clock " + Millis(x.daemonMicros) + " " +
                      Way(x.daemonMicros) + " within " + Millis(x.claimMicros);
        // Servers that find this clock right within their own bound give it no direction:
        // the sign of so small an offset is noise and would flip the line from run to run.
        const std::string found = std::llabs(x.serversMicros) <= x.serversBoundMicros
                                      ? "right within " + Millis(x.serversBoundMicros)
                                      : Millis(x.serversMicros) + " " + Way(x.serversMicros);
        j.reasons.push_back({"cross-check",
                             State::kCritical,
                             claim + ", but " + ServersPhrase(m) + " this clock " + found,
                             true,
                             {}});
      }
    }
  }
  j.state = State::kOk;
  for (const Reason& reason : j.reasons) j.state = Worse(j.state, reason.state);
  return j;
}

}  // namespace brevun::measure
