// A datagram link over a Unix socket: see unix_link.h.
#include "daemon/unix_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "check/text.h"
#include "timesource/timequery.h"

namespace brevun::daemon {

namespace {

[[noreturn]] void Throw(int error) {
  switch (error) {
    case ENOENT:
      throw QueryFailure(QueryFailure::Kind::kRefused, u"no such socket");
    case ECONNREFUSED:
      throw QueryFailure(QueryFailure::Kind::kRefused, u"nobody listens on it");
    case EACCES:
    case EPERM:
      throw QueryFailure(QueryFailure::Kind::kNetwork, u"permission denied");
    default:
      break;
  }
  throw QueryFailure(QueryFailure::Kind::kNetwork, FromUtf8(std::strerror(error)));
}

bool Fill(sockaddr_un& address, const std::string& path) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

UnixLink::UnixLink(const std::string& serverPath) {
  sockaddr_un server{};
  if (!Fill(server, serverPath)) {
    throw QueryFailure(QueryFailure::Kind::kNetwork, u"socket path too long");
  }
  // Our own folder, searchable by the daemon (which may run as a user of its own) but listable
  // by nobody else; the system's temporary folder where TMPDIR's is too long for a socket path.
  std::string base = "/tmp";
  if (const char* tmp = std::getenv("TMPDIR");
      tmp != nullptr && tmp[0] == '/' && std::strlen(tmp) < 64) {
    base = tmp;
  }
  std::vector<char> folder(base.begin(), base.end());
  const std::string name = "/brevun-daemon.XXXXXX";
  folder.insert(folder.end(), name.begin(), name.end());
  folder.push_back('\0');
  if (mkdtemp(folder.data()) == nullptr) Throw(errno);
  folder_ = folder.data();
  try {
    if (chmod(folder_.c_str(), 0711) != 0) Throw(errno);
    path_ = folder_ + "/client.sock";
    sockaddr_un own{};
    Fill(own, path_);
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) Throw(errno);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) Throw(errno);
    // The daemon must be allowed to send to us.
    if (chmod(path_.c_str(), 0666) != 0) Throw(errno);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
      Throw(errno);
    }
  } catch (...) {
    Release();
    throw;
  }
}

UnixLink::~UnixLink() { Release(); }

void UnixLink::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!path_.empty()) unlink(path_.c_str());
  path_.clear();
  if (!folder_.empty()) rmdir(folder_.c_str());
  folder_.clear();
}

void UnixLink::Send(const std::uint8_t* data, std::size_t size) {
  for (;;) {
    if (send(fd_, data, size, MSG_NOSIGNAL) >= 0) return;
    if (errno != EINTR) Throw(errno);
  }
}

std::optional<std::size_t> UnixLink::Receive(std::uint8_t* buffer, std::size_t capacity,
                                             std::int64_t untilMillis, net::Address& from) {
  from = net::Address{};
  for (;;) {
    const std::int64_t left = std::max<std::int64_t>(0, untilMillis - MonotonicMillis());
    pollfd p{fd_, POLLIN, 0};
    const int rc = poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, 1 << 30)));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) Throw(errno);
    if (rc == 0) return std::nullopt;
    const ssize_t got = recv(fd_, buffer, capacity, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    Throw(errno);
  }
}

std::int64_t UnixLink::MonotonicMillis() { return net::MonotonicMilliseconds(); }

std::int64_t UnixLink::UtcMicros() { return UtcMicrosNow(); }

}  // namespace brevun::daemon
