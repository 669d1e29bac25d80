// Owners of Winsock's resources: sockets and the address lists of a name lookup.
#pragma once

// clang-format off
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include "win/unique.h"

namespace brevun::win {

struct SocketTraits {
  using Type = SOCKET;
  static SOCKET Empty() noexcept { return INVALID_SOCKET; }
  static bool IsSet(SOCKET s) noexcept { return s != INVALID_SOCKET; }
  static void Close(SOCKET s) noexcept { closesocket(s); }
};
using Socket = Unique<SocketTraits>;

using AddressList = Unique<NullIsEmpty<ADDRINFOW*, &FreeAddrInfoW>>;

}  // namespace brevun::win
