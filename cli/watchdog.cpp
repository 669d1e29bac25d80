#include "cli/watchdog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>

#ifdef _WIN32
#include <windows.h>

#include "win/handles.h"
#else
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#endif

#include "output/writer.h"

namespace brevun::cli {

namespace {

struct Ending {
  std::string line;
  int exitCode;
};

// Where the endings go: standard output, or a file replaced at once. Set before the watchdog
// is armed and never changed after.
struct Destination {
  std::string path;
  std::string temporary;
};
const Destination* g_file = nullptr;

// Endings are only ever added, never changed or freed, not even by the static destructors
// at exit: the signal handler or timer thread may be reading any of them when the run moves
// on or ends, and reads the current one through an atomic pointer.
std::deque<Ending>* const g_endings = new std::deque<Ending>;
std::atomic<const Ending*> g_ending{nullptr};

void Fire() {
  const Ending* ending = g_ending.load();
  if (!ending) return;
  if (g_file != nullptr) {
    output::WriteAtomically(g_file->path.c_str(), g_file->temporary.c_str(), ending->line.data(),
                            ending->line.size());
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(ending->exitCode));
#else
    _exit(ending->exitCode);
#endif
  }
#ifdef _WIN32
  std::fflush(stdout);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), ending->line.data(),
            static_cast<DWORD>(ending->line.size()), &written, nullptr);
  ExitProcess(static_cast<UINT>(ending->exitCode));
#else
  // Only async-signal-safe calls from here on. Nothing else has been written to standard
  // output yet: the run prints its one line at its end.
  ssize_t off = 0;
  const auto size = static_cast<ssize_t>(ending->line.size());
  while (off < size) {
    const ssize_t n =
        write(STDOUT_FILENO, ending->line.data() + off, static_cast<size_t>(size - off));
    if (n <= 0) break;
    off += n;
  }
  _exit(ending->exitCode);
#endif
}

#ifdef _WIN32
DWORD WINAPI TimerThread(LPVOID param) {
  Sleep(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(param)));
  Fire();
  return 0;
}
#else
void OnAlarm(int) { Fire(); }
#endif

}  // namespace

void WatchdogWritesTo(const std::string& path) {
  g_file = new Destination{path, output::TemporaryPath(path)};
}

void SetWatchdogEnding(const std::string& line, int exitCode) {
  g_endings->push_back({!line.empty() && line.back() == '\n' ? line : line + "\n", exitCode});
  g_ending.store(&g_endings->back());
}

void DisarmWatchdog() {
  g_ending.store(nullptr);
#ifndef _WIN32
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
#endif
}

void ArmWatchdog(std::int64_t milliseconds, const std::string& line, int exitCode) {
  SetWatchdogEnding(line, exitCode);
#ifdef _WIN32
  // The thread is never joined: it either fires or dies with the process, so its handle is
  // let go at once.
  const win::Handle thread(CreateThread(
      nullptr, 0, TimerThread, reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(milliseconds)),
      0, nullptr));
#else
  struct sigaction sa {};
  sa.sa_handler = OnAlarm;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, nullptr);
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(milliseconds / 1000);
  timer.it_value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000 * 1000);
  setitimer(ITIMER_REAL, &timer, nullptr);
#endif
}

}  // namespace brevun::cli
