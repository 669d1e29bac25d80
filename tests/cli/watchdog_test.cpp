#include "cli/watchdog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

struct Ended {
  int exitCode = -1;
  std::string output;
};

// Runs `body` in a child process whose standard output is a pipe; the watchdog ends
// processes, so it can only be watched from outside.
template <typename Body>
Ended InChild(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    body();
    _exit(0);
  }
  close(fds[1]);
  Ended ended;
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) ended.output.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ended.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ended;
}

TEST(Watchdog, EndsTheRunWithTheLatestEnding) {
  const Ended e = InChild([] {
    brevun::cli::ArmWatchdog(50, "TIME CRITICAL - first", 2);
    brevun::cli::SetWatchdogEnding("TIME UNKNOWN - second", 3);
    usleep(2000 * 1000);
  });
  EXPECT_EQ(e.exitCode, 3);
  EXPECT_EQ(e.output, "TIME UNKNOWN - second\n");
}

TEST(Watchdog, ADisarmedWatchdogAddsNothingWhileTheProcessEnds) {
  const Ended e = InChild([] {
    brevun::cli::ArmWatchdog(50, "TIME CRITICAL - late", 2);
    brevun::cli::DisarmWatchdog();
    usleep(300 * 1000);
  });
  EXPECT_EQ(e.exitCode, 0);
  EXPECT_EQ(e.output, "");
}

// With --output-file the last words go to the file, replaced at once, and nothing to the pipe.
TEST(Watchdog, WritesItsEndingToTheOutputFile) {
  char folder[] = "/tmp/brevun-watchdog-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/brevun.prom";
  const Ended e = InChild([&] {
    brevun::cli::WatchdogWritesTo(path);
    brevun::cli::ArmWatchdog(50, "brevun_state 2\n# EOF\n", 2);
    usleep(2000 * 1000);
  });
  EXPECT_EQ(e.exitCode, 2);
  EXPECT_EQ(e.output, "");
  std::ifstream in(path);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "brevun_state 2\n# EOF\n");
  unlink(path.c_str());
  rmdir(folder);
}

}  // namespace
