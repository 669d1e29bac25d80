// The first of chrony, ntp and the kernel that answers.
#include "daemon/exchange.h"

namespace brevun::daemon {

Report ReadAuto(const Options& options, const KernelSeam& kernel) {
  const auto deadline = net::Deadline::FromNow(options.milliseconds);
  std::vector<std::u16string> notes;
  // chronyd and ntpd each get half the budget: on a machine with neither, both ports refuse at
  // once and the kernel answers; one that listens and stays silent cannot starve the other.
  const auto attempt = [&](Kind kind, std::int64_t milliseconds) -> std::optional<Report> {
    Options own = options;
    own.milliseconds = milliseconds;
    try {
      return kind == Kind::kChrony ? ReadChrony(own) : ReadNtp(own);
    } catch (const QueryFailure& f) {
      notes.push_back(u"Not " + std::u16string(KindName(kind)) + u": " + f.description());
      return std::nullopt;
    }
  };
  std::optional<Report> report = attempt(Kind::kChrony, deadline.RemainingMilliseconds() / 2);
  if (!report) report = attempt(Kind::kNtp, deadline.RemainingMilliseconds());
  if (!report) {
    try {
      report = ReadKernel(kernel);
      notes.push_back(u"Read the kernel's time status: neither chronyd nor ntpd answered");
    } catch (const QueryFailure& f) {
      std::u16string all;
      for (const auto& n : notes) all += n + u"; ";
      throw QueryFailure(f.kind(), all + u"not the kernel: " + f.description());
    }
  } else {
    notes.push_back(u"Read " + report->daemon + u" through its own protocol (" +
                    KindName(report->kind) + u")");
  }
  // The notes go with the report, and whoever reads along is shown them from there: traced
  // here too, each would be said twice.
  report->notes.insert(report->notes.begin(), notes.begin(), notes.end());
  return *report;
}

}  // namespace brevun::daemon
