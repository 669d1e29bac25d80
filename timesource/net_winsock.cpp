// The socket layer on Winsock, with net_common.cpp the only files of the time client that see
// the Windows headers.
// clang-format off
// winsock2.h must come before windows.h, and bcrypt.h needs windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "check/text.h"
#include "timesource/net.h"
#include "timesource/net_sockaddr.h"
#include "win/handles.h"
#include "win/socket.h"
#include "win/this_module.h"
#include "win/wide_text.h"

namespace brevun::net {

namespace {

using detail::AsSockaddr;
using detail::Collect;

using win::Wide;

static_assert(sizeof(SOCKADDR_STORAGE) <= sizeof(Address::bytes));

// The same words as the POSIX side for the common causes; a number for the rest (the
// system's own message would follow the user's language).
std::u16string WinsockText(int error) {
  switch (error) {
    case WSAECONNRESET:
      return u"connection reset by peer";
    case WSAENETUNREACH:
      return u"network is unreachable";
    case WSAEHOSTUNREACH:
      return u"host is unreachable";
    case WSAEAFNOSUPPORT:
      return u"address family not supported";
    case WSAEADDRNOTAVAIL:
      return u"address not available";
    case WSAETIMEDOUT:
      return u"connection timed out";
    default:
      return FromUtf8("Winsock error " + std::to_string(error));
  }
}

[[noreturn]] void ThrowWinsock(int error) {
  if (error == WSAECONNREFUSED) {
    throw QueryFailure(QueryFailure::Kind::kRefused, u"connection refused");
  }
  throw QueryFailure(QueryFailure::Kind::kNetwork, WinsockText(error));
}

// One name lookup: what the resolver thread is asked and what it answers.
struct Lookup {
  win::Handle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::u16string name;
  std::u16string service;
  ADDRINFOW hints{};
  int rc = 0;
  win::AddressList result;
  LONG shares = 1;
};

// A share of one Lookup. The caller may give up at its deadline while GetAddrInfoW hangs, and
// the thread that runs it always finishes, so neither can own the lookup alone: whoever lets
// go of the last share frees it. The thread takes its share across CreateThread as a bare
// pointer (Hand) and takes it back at once (Adopt).
class LookupShare {
 public:
  LookupShare() : lookup_(new Lookup) {}
  LookupShare(const LookupShare&) = delete;
  LookupShare& operator=(const LookupShare&) = delete;
  ~LookupShare() {
    if (lookup_ != nullptr && InterlockedDecrement(&lookup_->shares) == 0) delete lookup_;
  }
  static LookupShare Adopt(void* handed) { return LookupShare(static_cast<Lookup*>(handed)); }
  // A second share, for the thread; whoever receives it takes it back with Adopt.
  void* Hand() {
    InterlockedIncrement(&lookup_->shares);
    return lookup_;
  }
  LookupShare(LookupShare&& other) noexcept : lookup_(std::exchange(other.lookup_, nullptr)) {}
  Lookup* operator->() const { return lookup_; }

 private:
  explicit LookupShare(Lookup* adopted) : lookup_(adopted) {}
  Lookup* lookup_;
};

DWORD WINAPI LookupThread(void* handed) {
  {
    const LookupShare lookup = LookupShare::Adopt(handed);
    // The caller's session may end while this thread still needs Winsock.
    WSADATA data;
    const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    lookup->rc = GetAddrInfoW(Wide(lookup->name).c_str(), Wide(lookup->service).c_str(),
                              &lookup->hints, lookup->result.Put());
    SetEvent(lookup->finished.get());
    if (started) WSACleanup();
  }
  // The thread holds a reference on this module (see Resolve): a host may release the
  // component and unload the DLL while a lookup still hangs, and the module goes away only
  // once this thread has left its code.
  FreeLibraryAndExitThread(win::ThisModule(), 0);
}

int WaitFor(SOCKET s, bool forWrite, const Deadline& deadline) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  const std::int64_t remaining = std::min<std::int64_t>(deadline.RemainingMilliseconds(), 1 << 30);
  timeval tv;
  tv.tv_sec = static_cast<long>(remaining / 1000);
  tv.tv_usec = static_cast<long>((remaining % 1000) * 1000);
  // A failed non-blocking connect shows in the exception set, not the write set.
  const int rc = forWrite ? select(0, nullptr, &ready, &failed, &tv)
                          : select(0, &ready, nullptr, &failed, &tv);
  if (rc == SOCKET_ERROR) ThrowWinsock(WSAGetLastError());
  return rc;
}

}  // namespace

std::int64_t MonotonicMilliseconds() { return static_cast<std::int64_t>(GetTickCount64()); }

std::u16string Address::Text() const {
  wchar_t host[NI_MAXHOST] = {};
  wchar_t service[NI_MAXSERV] = {};
  if (GetNameInfoW(AsSockaddr(*this), static_cast<socklen_t>(length), host, NI_MAXHOST, service,
                   NI_MAXSERV, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return u"(unprintable address)";
  }
  const std::u16string h = win::FromWide(host);
  const std::u16string port = win::FromWide(service);
  return (AsSockaddr(*this)->sa_family == AF_INET6 ? u"[" + h + u"]" : h) + u":" + port;
}

NetworkSession::NetworkSession() {
  WSADATA data;
  const int rc = WSAStartup(MAKEWORD(2, 2), &data);
  if (rc != 0) throw QueryFailure(QueryFailure::Kind::kNetwork, WinsockText(rc));
}

NetworkSession::~NetworkSession() { WSACleanup(); }

std::vector<Address> Resolve(const std::u16string& host, std::uint16_t port, Transport transport,
                             AddressFamily family, const Deadline& deadline) {
  const std::u16string service = FromUtf8(std::to_string(port));
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = transport == Transport::kDatagram ? SOCK_DGRAM : SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;

  // A numeric address needs no resolver and cannot hang. It is recognised whatever family is
  // asked for, so that "::1" for IPv4 only is a host without such an address, not a name to
  // hand to a lookup thread.
  {
    ADDRINFOW numeric = hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    win::AddressList list;
    if (GetAddrInfoW(Wide(host).c_str(), Wide(service).c_str(), &numeric, list.Put()) == 0) {
      auto addresses = Collect(list.get(), family);
      if (addresses.empty())
        throw QueryFailure(QueryFailure::Kind::kUnknownHost, detail::NoAddressOf(family));
      return addresses;
    }
  }
  hints.ai_family = detail::SocketFamily(family);

  LookupShare lookup;
  if (!lookup->finished) {
    throw QueryFailure(QueryFailure::Kind::kNetwork, WinsockText(static_cast<int>(GetLastError())));
  }
  lookup->name = host;
  lookup->service = service;
  lookup->hints = hints;
  // The thread's own reference on this module, which it lets go of as it exits.
  win::ModuleReference module(win::ReferenceThisModule());
  bool threaded = false;
  if (module) {
    void* handed = lookup.Hand();
    const win::Handle thread(CreateThread(nullptr, 0, LookupThread, handed, 0, nullptr));
    threaded = static_cast<bool>(thread);
    if (threaded) {
      module.Detach();  // the thread's now
    } else {
      const LookupShare unused = LookupShare::Adopt(handed);  // the thread's share comes back
    }
  }
  if (!threaded) {
    // No thread to spare: look the name up here, without the deadline.
    lookup->rc =
        GetAddrInfoW(Wide(host).c_str(), Wide(service).c_str(), &hints, lookup->result.Put());
    SetEvent(lookup->finished.get());
  }

  const DWORD waited = WaitForSingleObject(
      lookup->finished.get(),
      static_cast<DWORD>(std::min<std::int64_t>(deadline.RemainingMilliseconds(), 0x7fffffff)));
  if (waited != WAIT_OBJECT_0) {
    throw QueryFailure(QueryFailure::Kind::kTimeout, u"name lookup did not finish");
  }
  const int rc = lookup->rc;
  switch (rc) {
    case 0:
      break;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSANO_RECOVERY:
      throw QueryFailure(QueryFailure::Kind::kUnknownHost, u"no such host");
    case WSATRY_AGAIN:
      throw QueryFailure(QueryFailure::Kind::kUnknownHost, u"name server did not answer");
    default:
      throw QueryFailure(QueryFailure::Kind::kNetwork, WinsockText(rc));
  }
  std::vector<Address> addresses = Collect(lookup->result.get(), family);
  if (addresses.empty())
    throw QueryFailure(QueryFailure::Kind::kUnknownHost, detail::NoAddressOf(family));
  return addresses;
}

Socket::Socket(const Address& peer, Transport transport) {
  const int type = transport == Transport::kDatagram ? SOCK_DGRAM : SOCK_STREAM;
  const int protocol = transport == Transport::kDatagram ? IPPROTO_UDP : IPPROTO_TCP;
  win::Socket s(socket(AsSockaddr(peer)->sa_family, type, protocol));
  if (s.get() == INVALID_SOCKET) ThrowWinsock(WSAGetLastError());
  // A host that starts programs must not hand them our socket.
  SetHandleInformation(reinterpret_cast<HANDLE>(s.get()), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  if (ioctlsocket(s.get(), FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    ThrowWinsock(WSAGetLastError());
  }
  handle_ = static_cast<std::intptr_t>(s.Detach());
  datagram_ = transport == Transport::kDatagram;
}

// The portable handle goes back to its owner, which closes it.
Socket::~Socket() { win::Socket closed(static_cast<SOCKET>(handle_)); }

void Socket::Connect(const Address& peer, const Deadline& deadline) {
  const auto s = static_cast<SOCKET>(handle_);
  if (connect(s, AsSockaddr(peer), static_cast<int>(peer.length)) == 0) return;
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) ThrowWinsock(error);
  if (WaitFor(s, true, deadline) == 0) {
    throw QueryFailure(QueryFailure::Kind::kTimeout, u"connection not established");
  }
  int soError = 0;
  int size = sizeof soError;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size) ==
      SOCKET_ERROR) {
    ThrowWinsock(WSAGetLastError());
  }
  if (soError != 0) ThrowWinsock(soError);
}

void Socket::Send(const void* data, std::size_t size, const Deadline& deadline) {
  const auto s = static_cast<SOCKET>(handle_);
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 0x7fffffff));
    const int sent = send(s, bytes, chunk, 0);
    if (sent != SOCKET_ERROR) {
      bytes += sent;
      size -= static_cast<std::size_t>(sent);
      continue;
    }
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) ThrowWinsock(error);
    if (WaitFor(s, true, deadline) == 0)
      throw QueryFailure(QueryFailure::Kind::kTimeout, u"request not sent");
  }
}

std::optional<std::size_t> Socket::Receive(void* buffer, std::size_t capacity,
                                           const Deadline& deadline, Address* from) {
  const auto s = static_cast<SOCKET>(handle_);
  const int chunk = static_cast<int>(std::min<std::size_t>(capacity, 0x7fffffff));
  for (;;) {
    if (WaitFor(s, false, deadline) == 0) return std::nullopt;
    SOCKADDR_STORAGE sender{};
    int senderSize = sizeof sender;
    int got = recvfrom(s, static_cast<char*>(buffer), chunk, 0,
                       reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (got == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) continue;
      // A datagram larger than the buffer arrives cut to its size, as on POSIX.
      if (error == WSAEMSGSIZE && datagram_) {
        got = chunk;
      } else if (error == WSAECONNRESET && datagram_) {
        // How a connected datagram socket learns of an ICMP port unreachable.
        throw QueryFailure(QueryFailure::Kind::kRefused, u"port unreachable");
      } else {
        ThrowWinsock(error);
      }
    }
    if (from != nullptr) {
      *from = Address{};
      std::memcpy(from->bytes, &sender, std::min<std::size_t>(senderSize, sizeof from->bytes));
      from->length = static_cast<std::uint32_t>(senderSize);
    }
    return static_cast<std::size_t>(got);
  }
}

void RandomBytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, 0x10000));
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0)
      throw QueryFailure(QueryFailure::Kind::kNetwork, u"no random numbers from the system");
    bytes += chunk;
    size -= chunk;
  }
}

namespace {

DWORD WINAPI RunTask(void* task) {
  (*static_cast<const Task*>(task))(1);
  return 0;
}

}  // namespace

void RunTogether(const std::vector<Task>& tasks, std::size_t most) {
  // The caller waits for every thread below, so none can outlive this module's code.
  std::vector<win::Handle> threads;
  std::vector<HANDLE> running;
  std::vector<const Task*> left;
  for (const auto& task : tasks) {
    win::Handle thread(running.size() < most
                           ? CreateThread(nullptr, 0, RunTask, const_cast<Task*>(&task), 0, nullptr)
                           : nullptr);
    if (thread) {
      running.push_back(thread.get());
      threads.push_back(std::move(thread));
    } else {
      left.push_back(&task);
    }
  }
  for (std::size_t i = 0; i < left.size(); ++i) (*left[i])(left.size() - i);
  // WaitForMultipleObjects takes at most MAXIMUM_WAIT_OBJECTS handles at a time.
  for (std::size_t i = 0; i < running.size(); i += MAXIMUM_WAIT_OBJECTS) {
    const DWORD n =
        static_cast<DWORD>(std::min<std::size_t>(running.size() - i, MAXIMUM_WAIT_OBJECTS));
    WaitForMultipleObjects(n, running.data() + i, TRUE, INFINITE);
  }
}

}  // namespace brevun::net
