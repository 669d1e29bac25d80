// The time client against real time servers that nobody here wrote: chronyd for SNTP and
// inetd's built-in RFC 868 service, each started on loopback with its own configuration and
// stopped by its process id; rdate, asked the same servers, is the second opinion.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "check/check.h"
#include "check/text.h"
#include "loopback.h"
#include "timesource/clockform.h"

extern char** environ;

namespace brevun {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/brevun-servers-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A daemon started in the foreground, its output in a log file; stopped by its pid.
class Daemon {
 public:
  Daemon(const std::vector<std::string>& argv, const std::string& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Daemon() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(milliseconds(100));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Asks port with a bare SNTP request of our own until a synchronised server answers.
bool SntpReady(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in to = Loopback(port);
  bool ready = false;
  for (int attempt = 0; attempt < 50 && !ready; ++attempt) {
    std::uint8_t request[48] = {0x23};
    request[47] = static_cast<std::uint8_t>(attempt + 1);
    sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) != 1) continue;
    std::uint8_t reply[512];
    const ssize_t got = recv(fd, reply, sizeof reply, 0);
    ready = got >= 48 && (reply[0] >> 6) != 3 && reply[1] >= 1 && reply[1] <= 15;
    if (!ready) std::this_thread::sleep_for(milliseconds(200));
  }
  close(fd);
  return ready;
}

bool TcpReady(std::uint16_t port) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = Loopback(port);
    const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    close(fd);
    if (connected) return true;
    std::this_thread::sleep_for(milliseconds(100));
  }
  return false;
}

// rdate's answer, "Tue Dec  8 14:53:29 UTC 2026", on the local wall clock.
std::optional<LocalSeconds> Rdate(const std::string& arguments) {
  FILE* out = popen(("rdate " + arguments + " 2>&1").c_str(), "r");
  if (out == nullptr) return std::nullopt;
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, out) != nullptr;
  pclose(out);
  char weekday[8], month[8], zone[16];
  CivilTime t;
  if (!read || std::sscanf(line, "%7s %7s %d %d:%d:%d %15s %d", weekday, month, &t.day, &t.hour,
                           &t.minute, &t.second, zone, &t.year) != 8) {
    ADD_FAILURE() << "rdate " << arguments << " said: " << line;
    return std::nullopt;
  }
  const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  t.month = static_cast<int>(months.find(month) / 3 + 1);
  return FromCivil(t);
}

class Host final : public CheckHost {
 public:
  Host(std::u16string parameter, const DateTimeText& text)
      : parameter_(std::move(parameter)), form_(text) {}
  void SaveCurrentParameter() override {}
  void CopyTimeout() override {}
  std::u16string ParameterText() override { return parameter_; }
  std::int16_t TimeoutForFetch() override { return 3; }
  TimeFetcher* Fetcher() override { return &form_; }
  void WriteResult(const std::u16string& text) override { result = ToUtf8(text); }
  std::string result;

 private:
  std::u16string parameter_;
  ClockForm form_;
};

std::string RunCheck(const std::string& parameter) {
  const IsoDateTimeText text;
  SystemLocalClock clock;
  Host host(FromUtf8(parameter), text);
  DoCheck(host, CheckPlatform{clock, text});
  return host.result;
}

// "Time is correct  D= 0  F=... S= ...": the first source's text, read back.
std::optional<LocalSeconds> FirstText(const std::string& result) {
  const auto f = result.find("F=");
  const auto s = result.find("  S=");
  if (f == std::string::npos || s == std::string::npos) return std::nullopt;
  return IsoDateTimeText().Parse(FromUtf8(result.substr(f + 2, s - f - 2)));
}

class Chronyd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "chronyd needs root to start";
    if (access("/usr/sbin/chronyd", X_OK) != 0) GTEST_SKIP() << "chronyd is not installed";
    ASSERT_FALSE(dir_.path().empty());
    const auto probe = testing::BindLoopback(AF_INET, SOCK_DGRAM);
    ASSERT_TRUE(probe);
    port_ = testing::PortOf(*probe);
    close(*probe);
    const std::string conf = dir_.path() + "/chrony.conf";
    std::ofstream(conf) << "port " << port_ << "\nbindaddress 127.0.0.1\nallow 127.0.0.1\n"
                        << "local stratum 8\ncmdport 0\npidfile " << dir_.path()
                        << "/chronyd.pid\ndriftfile " << dir_.path() << "/chrony.drift\n";
    // -x: serve the system clock, never set it.
    daemon_ = std::make_unique<Daemon>(
        std::vector<std::string>{"/usr/sbin/chronyd", "-x", "-d", "-f", conf},
        dir_.path() + "/chronyd.log");
    ASSERT_TRUE(daemon_->started());
    ASSERT_TRUE(SntpReady(port_)) << ReadFile(dir_.path() + "/chronyd.log");
  }
  TempDir dir_;
  std::unique_ptr<Daemon> daemon_;
  std::uint16_t port_ = 0;
};

TEST_F(Chronyd, LocalAgainstSntpIsCorrect) {
  const std::string result =
      RunCheck("#FTS=127.0.0.1:" + std::to_string(port_) + "#FPR=sntp#STS=#SPR=local#DIS=2#");
  EXPECT_EQ(result.rfind("Time is correct  D= 0  F=", 0), 0u) << result;
  const auto first = FirstText(result);
  ASSERT_TRUE(first) << result;
  EXPECT_NEAR(static_cast<double>(*first - SystemLocalClock().Now()), 0, 2) << result;
}

TEST_F(Chronyd, SntpTimeAgreesWithRdate) {
  const IsoDateTimeText text;
  ClockForm form(text);
  std::u16string response;
  ASSERT_TRUE(
      form.DoRFCProtocol(u"127.0.0.1:" + FromUtf8(std::to_string(port_)), u"sntp", 3, response))
      << ToUtf8(response);
  const auto ours = text.Parse(response);
  const auto theirs = Rdate("-p -n -o " + std::to_string(port_) + " 127.0.0.1");
  ASSERT_TRUE(ours) << ToUtf8(response);
  ASSERT_TRUE(theirs);
  EXPECT_LE(std::abs(*theirs - *ours), 1) << ToUtf8(response);
  // chronyd serves this very clock: what we measure is the round trip's asymmetry, no more.
  const auto& clock = dynamic_cast<NetClock&>(form.clock());
  ASSERT_TRUE(clock.OffsetMicros());
  EXPECT_LT(std::abs(*clock.OffsetMicros()), 50000);
}

// inetd's built-in time service listens on port 37 only, so these need root and a free port.
class Inetd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/sbin/inetd", X_OK) != 0) GTEST_SKIP() << "inetd is not installed";
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in at = Loopback(37);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const int rc = bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    const int error = errno;
    close(fd);
    if (rc != 0 && error == EACCES) GTEST_SKIP() << "port 37 needs root";
    if (rc != 0) GTEST_SKIP() << "port 37 on 127.0.0.1 is busy: " << std::strerror(error);
    ASSERT_FALSE(dir_.path().empty());
    const std::string conf = dir_.path() + "/inetd.conf";
    std::ofstream(conf) << "127.0.0.1:time stream tcp nowait root internal\n";
    // -d: stay in the foreground, so the pid we have is the server's.
    daemon_ = std::make_unique<Daemon>(std::vector<std::string>{"/usr/sbin/inetd", "-d", conf},
                                       dir_.path() + "/inetd.log");
    ASSERT_TRUE(daemon_->started());
    ASSERT_TRUE(TcpReady(37)) << ReadFile(dir_.path() + "/inetd.log");
  }
  TempDir dir_;
  std::unique_ptr<Daemon> daemon_;
};

TEST_F(Inetd, LocalAgainstTimeIsCorrectAndAgreesWithRdate) {
  const std::string result = RunCheck("#FTS=#FPR=local#STS=127.0.0.1#SPR=time#DIS=2#");
  EXPECT_EQ(result.rfind("Time is correct  D= 0  F=", 0), 0u) << result;

  const IsoDateTimeText text;
  ClockForm form(text);
  std::u16string response;
  ASSERT_TRUE(form.DoRFCProtocol(u"localhost", u"time", 3, response)) << ToUtf8(response);
  const auto ours = text.Parse(response);
  const auto theirs = Rdate("-p 127.0.0.1");
  ASSERT_TRUE(ours) << ToUtf8(response);
  ASSERT_TRUE(theirs);
  EXPECT_LE(std::abs(*theirs - *ours), 1) << ToUtf8(response);
}

}  // namespace
}  // namespace brevun
