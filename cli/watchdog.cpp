#include "cli/watchdog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include "win/handles.h"
#else
#include <unistd.h>

#include <csignal>
#endif

namespace brevun::cli {

namespace {

// Kept in static storage so the signal handler or timer thread only reads memory that no
// one changes after arming.
std::string g_line;
int g_exitCode = 0;

void Fire() {
  std::fflush(stdout);
#ifdef _WIN32
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), g_line.data(), static_cast<DWORD>(g_line.size()),
            &written, nullptr);
  ExitProcess(static_cast<UINT>(g_exitCode));
#else
  // Only async-signal-safe calls from here on.
  ssize_t off = 0;
  const auto size = static_cast<ssize_t>(g_line.size());
  while (off < size) {
    const ssize_t n = write(STDOUT_FILENO, g_line.data() + off, static_cast<size_t>(size - off));
    if (n <= 0) break;
    off += n;
  }
  _exit(g_exitCode);
#endif
}

#ifdef _WIN32
DWORD WINAPI TimerThread(LPVOID param) {
  Sleep(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(param)) * 1000);
  Fire();
  return 0;
}
#else
void OnAlarm(int) { Fire(); }
#endif

}  // namespace

void ArmWatchdog(int seconds, const std::string& line, int exitCode) {
  g_line = line + "\n";
  g_exitCode = exitCode;
#ifdef _WIN32
  // The thread is never joined: it either fires or dies with the process, so its handle is
  // let go at once.
  const win::Handle thread(
      CreateThread(nullptr, 0, TimerThread,
                   reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(seconds)), 0, nullptr));
#else
  struct sigaction sa {};
  sa.sa_handler = OnAlarm;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, nullptr);
  alarm(static_cast<unsigned>(seconds));
#endif
}

}  // namespace brevun::cli
