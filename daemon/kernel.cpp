// The kernel's own time status: what a machine without chronyd or ntpd (systemd-timesyncd, a
// PTP daemon) can still tell. Read only: adjtimex with no modes set changes nothing.
#include <unistd.h>

#include "daemon/exchange.h"
#include "daemon/kernel_status.h"
#include "timesource/trace.h"

#if defined(__linux__)
#include <sys/timex.h>

#include <cerrno>
#include <cstring>

#include "check/text.h"
#endif

namespace brevun::daemon {

Report ReadKernel(const KernelSeam& seam) {
  const KernelClock c = seam.readClock();
  Report r;
  r.kind = Kind::kKernel;
  r.daemon = u"kernel";
  // The kernel says it is unsynchronised with STA_UNSYNC, and TIME_ERROR whenever the clock
  // cannot be trusted (that flag among other reasons).
  const bool unsynchronised = (c.status & kernel::kStaUnsync) != 0 || c.state == kernel::kTimeError;
  r.synchronised = !unsynchronised;
  r.leap = unsynchronised                      ? 3
           : (c.status & kernel::kStaIns) != 0 ? 1
           : (c.status & kernel::kStaDel) != 0 ? 2
                                               : 0;
  r.estimatedErrorMicros = c.estimatedErrorMicros;
  r.maxErrorMicros = c.maxErrorMicros;
  r.frequencyPpm = static_cast<double>(c.frequency) / 65536.0;
  r.notes.push_back(u"The kernel's time status: " + kernel::StateText(c.state) + u", " +
                    (unsynchronised ? u"unsynchronised" : u"synchronised") + u", estimated error " +
                    trace::Number(c.estimatedErrorMicros) + u" us, maximum error " +
                    trace::Number(c.maxErrorMicros) + u" us");
  if (seam.timesyncdSynchronised && seam.timesyncdSynchronised()) {
    r.reference = u"systemd-timesyncd";
    r.notes.push_back(u"systemd-timesyncd has synchronised the clock since it started");
  }
  return r;
}

std::u16string kernel::StateText(int state) {
  switch (state) {
    case kTimeOk:
      return u"TIME_OK";
    case kTimeIns:
      return u"TIME_INS";
    case kTimeDel:
      return u"TIME_DEL";
    case kTimeOop:
      return u"TIME_OOP";
    case kTimeWait:
      return u"TIME_WAIT";
    case kTimeError:
      return u"TIME_ERROR";
    default:
      break;
  }
  return u"state " + trace::Number(state);
}

KernelSeam SystemKernel() {
  KernelSeam seam;
  seam.readClock = [] {
#if defined(__linux__)
    static_assert(STA_UNSYNC == kernel::kStaUnsync && STA_INS == kernel::kStaIns &&
                  STA_DEL == kernel::kStaDel && TIME_ERROR == kernel::kTimeError &&
                  TIME_OK == kernel::kTimeOk && TIME_INS == kernel::kTimeIns);
    timex tx{};
    tx.modes = 0;  // read only
    const int state = adjtimex(&tx);
    if (state < 0) {
      throw QueryFailure(
          QueryFailure::Kind::kNetwork,
          u"the kernel's time status cannot be read: " + FromUtf8(std::strerror(errno)));
    }
    KernelClock c;
    c.state = state;
    c.status = tx.status;
    c.maxErrorMicros = tx.maxerror;
    c.estimatedErrorMicros = tx.esterror;
    c.frequency = tx.freq;
    return c;
#else
    throw QueryFailure(QueryFailure::Kind::kNetwork,
                       u"this system has no kernel time status to read");
    return KernelClock{};
#endif
  };
  seam.timesyncdSynchronised = [] {
    return access("/run/systemd/timesync/synchronized", F_OK) == 0;
  };
  return seam;
}

}  // namespace brevun::daemon
