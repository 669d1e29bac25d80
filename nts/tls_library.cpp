#include "nts/tls_library.h"

#include <dlfcn.h>

#include <cstring>

#include "check/text.h"

namespace brevun::nts {

namespace {

// gnutls_session_set_keylog_function came last, with 3.6.13.
constexpr char kGnutlsMinimum[] = "3.6.13";

std::string LoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown reason";
}

// An object address as the function pointer it is: POSIX guarantees the conversion for dlsym's
// results, which C++ leaves to the implementation.
template <typename Function>
void Assign(Function& target, void* address) {
  static_assert(sizeof target == sizeof address);
  std::memcpy(&target, &address, sizeof target);
}

}  // namespace

SharedLibrary::SharedLibrary(const char* soname) : soname_(soname) {
  // A bare soname: the loader's standard search of the system's library folders, never a path
  // of ours. Bound now, so that a missing function shows here rather than at its first call.
  handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw LibraryMissing(FromUtf8(LoaderError()));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::Symbol(const char* name) const {
  dlerror();
  void* address = dlsym(handle_, name);
  if (address == nullptr) {
    throw LibraryMissing(FromUtf8(soname_ + " has no " + name + " (" + LoaderError() + ")"));
  }
  return address;
}

TlsLibrary::TlsLibrary() : gnutls_(kGnutlsSoname), nettle_(kNettleSoname) {
  free_ = static_cast<gnutls_free_function*>(gnutls_.Symbol("gnutls_free"));
#define BREVUN_TLS_LOAD_FROM(library, name) Assign(name, library.Symbol(#name));
#define BREVUN_TLS_LOAD_GNUTLS(name) BREVUN_TLS_LOAD_FROM(gnutls_, name)
#define BREVUN_TLS_LOAD_NETTLE(name) BREVUN_TLS_LOAD_FROM(nettle_, name)
  BREVUN_GNUTLS_FUNCTIONS(BREVUN_TLS_LOAD_GNUTLS)
  BREVUN_NETTLE_FUNCTIONS(BREVUN_TLS_LOAD_NETTLE)
#undef BREVUN_TLS_LOAD_NETTLE
#undef BREVUN_TLS_LOAD_GNUTLS
#undef BREVUN_TLS_LOAD_FROM
  // The soname stays the same across minor versions; the calls above need kGnutlsMinimum.
  if (gnutls_check_version(kGnutlsMinimum) == nullptr) {
    const char* version = gnutls_check_version(nullptr);
    throw LibraryMissing(FromUtf8(std::string(kGnutlsSoname) + " is GnuTLS " +
                                  (version != nullptr ? version : "?") + ", older than " +
                                  kGnutlsMinimum));
  }
}

const TlsLibrary& Tls() {
  // A constructor that throws leaves the static uninitialised: the next call tries again and
  // says the same.
  try {
    static const TlsLibrary library;
    return library;
  } catch (const LibraryMissing& missing) {
    throw LibraryMissing(u"NTS needs the system libraries " + FromUtf8(kGnutlsSoname) + u" and " +
                         FromUtf8(kNettleSoname) +
                         u" (Debian packages libgnutls30 and libnettle8): " +
                         missing.description());
  }
}

}  // namespace brevun::nts
