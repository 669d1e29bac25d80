// The judgement's own vocabulary, shared by its parts (servers, the local daemon): reasons and
// the clauses a line names them in.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "measure/judgement.h"
#include "measure/units.h"

namespace brevun::measure {

inline Reason Clause(const char* code, State state, std::string text,
                     std::vector<std::string> servers = {}) {
  return {code, state, std::move(text), false, std::move(servers)};
}

inline Judgement Headline(State state, const char* code, std::string text,
                          std::vector<std::string> servers = {}) {
  Judgement j;
  j.state = state;
  j.reasons.push_back({code, state, std::move(text), true, std::move(servers)});
  return j;
}

inline std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string s;
  for (const std::string& p : parts) s += (s.empty() ? "" : separator) + p;
  return s;
}

// A line names a few servers and counts the rest: with dozens of servers it would grow to
// kilobytes, which monitoring engines cut. The performance data and -v name every one.
inline constexpr std::size_t kNamedInLine = 3;

// The first few items, and how many more: "A, B, C and 2 more".
inline std::vector<std::string> Named(const std::vector<std::string>& items) {
  if (items.size() <= kNamedInLine) return items;
  std::vector<std::string> named(items.begin(), items.begin() + kNamedInLine);
  named.back() += " and " + std::to_string(items.size() - kNamedInLine) + " more";
  return named;
}

inline std::string Listed(const std::vector<std::string>& items) {
  return Joined(Named(items), ", ");
}

// "falseticker: A offset +2.310 s", "falsetickers: A ..., B ...".
inline std::string Note(const char* one, const char* many, const std::vector<std::string>& items) {
  return std::string(items.size() == 1 ? one : many) + ": " + Listed(items);
}

inline std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A leap second announced where none can be is a server misconfigured (or lying).
inline Reason Leap(const Measurement& m, const Criteria& c, std::string text,
                   std::vector<std::string> servers) {
  State state = State::kOk;
  if (!IsLeapDay(m.utcMicros / 1000000)) {
    text += " on a day that has none";
    if (c.leapWarning) state = State::kWarning;
  }
  return Clause("leap-second", state, std::move(text), std::move(servers));
}

inline const char* LeapKind(int leap) { return leap == 1 ? " (insert)" : " (delete)"; }

// The servers' part of a judgement: one server, two, or several.
Judgement JudgeServers(const Measurement& m, const Criteria& c);

// The local daemon's part, with the servers (if any) as its cross-check.
Judgement JudgeDaemon(const Measurement& m, const Criteria& c);

}  // namespace brevun::measure
