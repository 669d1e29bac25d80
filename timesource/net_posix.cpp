// The socket layer on POSIX sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "check/text.h"
#include "timesource/net.h"
#include "timesource/net_sockaddr.h"

#if defined(__linux__)
#include <sys/random.h>
#endif

namespace brevun::net {

namespace {

using detail::AsSockaddr;
using detail::Collect;

static_assert(sizeof(sockaddr_storage) <= sizeof(Address::bytes));

#ifdef MSG_NOSIGNAL
// A peer that closed its end must not kill a host process with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// The common causes in the words the Winsock side uses too, so a description reads the same
// on both; anything rarer in the C library's words.
std::u16string ErrnoText(int error) {
  switch (error) {
    case ECONNRESET:
      return u"connection reset by peer";
    case ENETUNREACH:
      return u"network is unreachable";
    case EHOSTUNREACH:
      return u"host is unreachable";
    case EAFNOSUPPORT:
      return u"address family not supported";
    case EADDRNOTAVAIL:
      return u"address not available";
    case ETIMEDOUT:
      return u"connection timed out";
    default:
      return FromUtf8(std::strerror(error));
  }
}

[[noreturn]] void ThrowErrno(int error) {
  if (error == ECONNREFUSED)
    throw QueryFailure(QueryFailure::Kind::kRefused, u"connection refused");
  throw QueryFailure(QueryFailure::Kind::kNetwork, ErrnoText(error));
}

// Closes a descriptor that is not yet, or never becomes, a Socket.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const {
    if (list != nullptr) freeaddrinfo(list);
  }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// One name lookup, shared between the caller, who may give up at its deadline, and the
// thread that runs getaddrinfo, which always finishes and then drops its share.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int rc = 0;
  AddrInfoList result;
};

// getaddrinfo, for a fully qualified name without the resolver's search domains. The hosts file
// knows names without a final dot, so the name comes without it and the search is turned off
// instead, in the resolver state that glibc keeps for each thread, and only for this lookup.
int GetAddrInfo(const std::string& name, const std::string& service, const addrinfo& hints,
                bool fullyQualified, addrinfo** list) {
  if (!fullyQualified) return getaddrinfo(name.c_str(), service.c_str(), &hints, list);
  if ((_res.options & RES_INIT) == 0) res_init();
  const auto options = _res.options;
  _res.options &= ~static_cast<unsigned long>(RES_DNSRCH | RES_DEFNAMES);
  const int rc = getaddrinfo(name.c_str(), service.c_str(), &hints, list);
  _res.options = options;
  return rc;
}

int WaitFor(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const auto remaining = deadline.RemainingMilliseconds();
    const int rc = poll(&p, 1, static_cast<int>(std::min<std::int64_t>(remaining, 1 << 30)));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) ThrowErrno(errno);
    return rc == 0 ? 0 : p.revents;
  }
}

}  // namespace

std::int64_t MonotonicMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::u16string Address::Text() const {
  char host[NI_MAXHOST] = {};
  char service[NI_MAXSERV] = {};
  if (getnameinfo(AsSockaddr(*this), length, host, sizeof host, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return u"(unprintable address)";
  }
  const std::string h = host;
  const std::string text = AsSockaddr(*this)->sa_family == AF_INET6 ? "[" + h + "]" : h;
  return FromUtf8(text + ":" + service);
}

NetworkSession::NetworkSession() = default;
NetworkSession::~NetworkSession() = default;

std::vector<Address> Resolve(const std::u16string& host, std::uint16_t port, Transport transport,
                             AddressFamily family, const Deadline& deadline) {
  std::string name = ToUtf8(host);
  // A final dot marks a name as complete (RFC 1034 section 3.1): "ntp." is ntp, never ntp.lan.
  const bool fullyQualified = name.size() > 1 && name.back() == '.';
  if (fullyQualified) name.pop_back();
  const std::string service = std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = transport == Transport::kDatagram ? SOCK_DGRAM : SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;

  // A numeric address needs no resolver and cannot hang. It is recognised whatever family is
  // asked for, so that "::1" for IPv4 only is a host without such an address, not a name to
  // hand to a lookup thread.
  {
    addrinfo numeric = hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), service.c_str(), &numeric, &list) == 0) {
      auto addresses = Collect(AddrInfoList(list).get(), family);
      if (addresses.empty())
        throw QueryFailure(QueryFailure::Kind::kUnknownHost, detail::NoAddressOf(family));
      return addresses;
    }
  }
  hints.ai_family = detail::SocketFamily(family);

  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, name, service, hints, fullyQualified] {
      addrinfo* list = nullptr;
      const int rc = GetAddrInfo(name, service, hints, fullyQualified, &list);
      std::lock_guard<std::mutex> lock(lookup->mutex);
      lookup->rc = rc;
      lookup->result.reset(list);
      lookup->finished = true;
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: look the name up here, without the deadline.
    addrinfo* list = nullptr;
    lookup->rc = GetAddrInfo(name, service, hints, fullyQualified, &list);
    lookup->result.reset(list);
    lookup->finished = true;
  }

  std::unique_lock<std::mutex> lock(lookup->mutex);
  while (!lookup->finished) {
    const auto remaining = deadline.RemainingMilliseconds();
    if (remaining == 0)
      throw QueryFailure(QueryFailure::Kind::kTimeout, u"name lookup did not finish");
    lookup->done.wait_for(lock, std::chrono::milliseconds(remaining));
  }
  switch (lookup->rc) {
    case 0:
      break;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_FAIL:
      throw QueryFailure(QueryFailure::Kind::kUnknownHost, u"no such host");
    case EAI_AGAIN:
      throw QueryFailure(QueryFailure::Kind::kUnknownHost, u"name server did not answer");
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      throw QueryFailure(QueryFailure::Kind::kUnknownHost, detail::NoAddressOf(family));
#endif
    default:
      throw QueryFailure(QueryFailure::Kind::kNetwork, FromUtf8(gai_strerror(lookup->rc)));
  }
  auto addresses = Collect(lookup->result.get(), family);
  if (addresses.empty())
    throw QueryFailure(QueryFailure::Kind::kUnknownHost, detail::NoAddressOf(family));
  return addresses;
}

Socket::Socket(const Address& peer, Transport transport) {
  const int type = transport == Transport::kDatagram ? SOCK_DGRAM : SOCK_STREAM;
  UniqueFd fd(socket(AsSockaddr(peer)->sa_family, type, 0));
  if (fd.get() < 0) ThrowErrno(errno);
  // Close on exec: a host that starts programs must not hand them our socket.
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) < 0 ||
      fcntl(fd.get(), F_SETFD, FD_CLOEXEC) < 0) {
    ThrowErrno(errno);
  }
  handle_ = fd.release();
  datagram_ = transport == Transport::kDatagram;
}

Socket::~Socket() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

void Socket::Connect(const Address& peer, const Deadline& deadline) {
  const int fd = static_cast<int>(handle_);
  if (connect(fd, AsSockaddr(peer), peer.length) == 0) return;
  if (errno != EINPROGRESS && errno != EINTR) ThrowErrno(errno);
  if (WaitFor(fd, POLLOUT, deadline) == 0) {
    throw QueryFailure(QueryFailure::Kind::kTimeout, u"connection not established");
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0) ThrowErrno(errno);
  if (error != 0) ThrowErrno(error);
}

void Socket::Send(const void* data, std::size_t size, const Deadline& deadline) {
  const int fd = static_cast<int>(handle_);
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t sent = send(fd, bytes, size, kSendFlags);
    if (sent >= 0) {
      bytes += sent;
      size -= static_cast<std::size_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
    if (WaitFor(fd, POLLOUT, deadline) == 0) {
      throw QueryFailure(QueryFailure::Kind::kTimeout, u"request not sent");
    }
  }
}

std::optional<std::size_t> Socket::Receive(void* buffer, std::size_t capacity,
                                           const Deadline& deadline, Address* from) {
  const int fd = static_cast<int>(handle_);
  for (;;) {
    if (WaitFor(fd, POLLIN, deadline) == 0) return std::nullopt;
    sockaddr_storage sender{};
    socklen_t senderSize = sizeof sender;
    const ssize_t got =
        recvfrom(fd, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (got >= 0) {
      if (from != nullptr) {
        *from = Address{};
        std::memcpy(from->bytes, &sender, std::min<std::size_t>(senderSize, sizeof from->bytes));
        from->length = senderSize;
      }
      return static_cast<std::size_t>(got);
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    // A connected datagram socket learns of an ICMP port unreachable this way.
    if (errno == ECONNREFUSED && datagram_) {
      throw QueryFailure(QueryFailure::Kind::kRefused, u"port unreachable");
    }
    ThrowErrno(errno);
  }
}

void RandomBytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
#if defined(__linux__)
  while (size > 0) {
    const ssize_t got = getrandom(bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;  // an old kernel: fall back to the device below
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  if (size == 0) return;
#endif
  const UniqueFd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno(errno);
  while (size > 0) {
    const ssize_t got = read(fd.get(), bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) ThrowErrno(got < 0 ? errno : EIO);
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
}

void RunTogether(const std::vector<Task>& tasks, std::size_t threads) {
  std::vector<std::thread> running;
  std::vector<const Task*> left;
  // The caller's thread takes the last task itself: one thread fewer to start.
  for (std::size_t i = 0; i + 1 < tasks.size(); ++i) {
    bool started = false;
    if (running.size() < threads) {
      try {
        running.emplace_back(tasks[i], 1);
        started = true;
      } catch (const std::system_error&) {
      }
    }
    if (!started) left.push_back(&tasks[i]);
  }
  if (!tasks.empty()) left.push_back(&tasks.back());
  for (std::size_t i = 0; i < left.size(); ++i) (*left[i])(left.size() - i);
  for (auto& t : running) t.join();
}

}  // namespace brevun::net
