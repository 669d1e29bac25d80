// brevun-soak: many checks in one process, on one form and on a new form for each check, with
// local sources and against an SNTP server, printing the memory in use after the warm-up and at
// the end. Run under valgrind's memcheck by tests/soak/soak.sh; exits 1 when a check fails or
// the memory in use grew past what caches explain.
//
// usage: brevun-soak LOCAL_CHECKS SNTP_CHECKS [SNTP_SERVER]
#include <malloc.h>
#include <unistd.h>
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "check/check.h"
#include "check/datetime.h"
#include "check/text.h"
#include "cli/command_line_host.h"

namespace {

// The command line's host: its form, with its network clock, comes into being with the first
// fetch and stays for every later check.
using SoakHost = brevun::cli::CommandLineHost;
constexpr std::int16_t kTimeout = 5;

// Bytes of the heap in live blocks. Under valgrind, what its leak search finds still allocated
// (its allocator holds freed blocks back for a while, so its counters would only grow);
// natively, what the C library's allocator has handed out and not had back.
long long HeapInUse() {
  if (RUNNING_ON_VALGRIND) {
    unsigned long leaked = 0, dubious = 0, reachable = 0, suppressed = 0;
    VALGRIND_DO_QUICK_LEAK_CHECK;
    VALGRIND_COUNT_LEAKS(leaked, dubious, reachable, suppressed);
    return static_cast<long long>(leaked + dubious + reachable + suppressed);
  }
  return static_cast<long long>(mallinfo2().uordblks);
}

// Resident pages of the process, in kilobytes.
long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Run {
  const char* name;
  std::u16string parameter;
  int checks;
  bool oneForm;
};

// A leak of one small allocation per check over thousands of checks is many times this; below
// it lies what the resolver and the standard library keep once they have been used.
constexpr long long kHeapTolerance = 16 * 1024;

bool Soak(const Run& run, brevun::LocalClock& clock, const brevun::DateTimeText& text) {
  const int warmUp = run.checks >= 10000 ? 1000 : run.checks / 10;
  auto shared = std::make_unique<SoakHost>(run.parameter, kTimeout, text);
  int failures = 0;
  std::u16string firstFailure;
  long long heapAfterWarmUp = 0;
  long residentAfterWarmUp = 0;
  for (int i = 0; i < run.checks; ++i) {
    std::unique_ptr<SoakHost> own;
    SoakHost* host = shared.get();
    if (!run.oneForm) {
      own = std::make_unique<SoakHost>(run.parameter, kTimeout, text);
      host = own.get();
    }
    if (!brevun::DoCheck(*host, brevun::CheckPlatform{clock, text})) {
      if (failures++ == 0) firstFailure = host->result();
    }
    if (i + 1 == warmUp) {
      own.reset();
      heapAfterWarmUp = HeapInUse();
      residentAfterWarmUp = ResidentKilobytes();
    }
  }
  const long long heapAtEnd = HeapInUse();
  const long residentAtEnd = ResidentKilobytes();
  const bool flat = heapAtEnd - heapAfterWarmUp <= kHeapTolerance;
  std::printf(
      "%-28s %6d checks, %d failed; heap in use after %d: %lld bytes, at the end: %lld bytes "
      "(%+lld); resident %ld kB -> %ld kB (%+ld)%s\n",
      run.name, run.checks, failures, warmUp, heapAfterWarmUp, heapAtEnd,
      heapAtEnd - heapAfterWarmUp, residentAfterWarmUp, residentAtEnd,
      residentAtEnd - residentAfterWarmUp, flat ? "" : "  GREW");
  if (failures > 0) std::printf("  first failure: %s\n", brevun::ToUtf8(firstFailure).c_str());
  std::fflush(stdout);
  return failures == 0 && flat;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: brevun-soak LOCAL_CHECKS SNTP_CHECKS [SNTP_SERVER]\n");
    return 2;
  }
  const int localChecks = std::atoi(argv[1]);
  const int sntpChecks = std::atoi(argv[2]);
  const std::u16string local = u"#FTS=#FPR=local#STS=#SPR=local#DIS=0#";
  bool ok = true;
  {
    brevun::SystemLocalClock clock;
    const brevun::IsoDateTimeText text;
    ok = Soak({"local, one form", local, localChecks, true}, clock, text) && ok;
    ok = Soak({"local, a form per check", local, localChecks, false}, clock, text) && ok;
    if (argc == 4 && sntpChecks > 0) {
      // The limit allows for a server clock that differs from ours by the second boundary.
      const std::u16string sntp =
          u"#FTS=#FPR=local#STS=" + brevun::FromUtf8(argv[3]) + u"#SPR=sntp#DIS=2#";
      ok = Soak({"sntp, one form", sntp, sntpChecks, true}, clock, text) && ok;
      ok = Soak({"sntp, a form per check", sntp, sntpChecks, false}, clock, text) && ok;
    }
  }
  std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
  return ok ? 0 : 1;
}
