// GnuTLS and Nettle, loaded when an NTS query first needs them instead of linked into the
// program. Linking GnuTLS makes every process pay for its constructors and its own
// dependencies at start (some 6 ms), and brevun-check runs once per check of a monitoring
// system, most of them plain SNTP. The functions nts/ calls are looked up once into one table
// whose types are the libraries' own declarations; every call in nts/ goes through it.
#pragma once

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <nettle/siv-cmac.h>

#include <string>

#include "check/failure.h"

namespace brevun::nts {

// The system libraries by soname: the ABI the headers we build with describe.
inline constexpr char kGnutlsSoname[] = "libgnutls.so.30";
inline constexpr char kNettleSoname[] = "libnettle.so.8";

// The functions of each library that nts/ calls.
#define BREVUN_GNUTLS_FUNCTIONS(X)                \
  X(gnutls_alpn_get_selected_protocol)            \
  X(gnutls_alpn_set_protocols)                    \
  X(gnutls_bye)                                   \
  X(gnutls_certificate_allocate_credentials)      \
  X(gnutls_certificate_free_credentials)          \
  X(gnutls_certificate_get_peers)                 \
  X(gnutls_certificate_get_trust_list)            \
  X(gnutls_certificate_set_x509_system_trust)     \
  X(gnutls_certificate_set_verify_flags)          \
  X(gnutls_certificate_set_x509_trust_file)       \
  X(gnutls_certificate_verification_status_print) \
  X(gnutls_certificate_verify_peers3)             \
  X(gnutls_check_version)                         \
  X(gnutls_credentials_set)                       \
  X(gnutls_deinit)                                \
  X(gnutls_error_is_fatal)                        \
  X(gnutls_handshake)                             \
  X(gnutls_handshake_set_timeout)                 \
  X(gnutls_init)                                  \
  X(gnutls_prf_rfc5705)                           \
  X(gnutls_protocol_get_version)                  \
  X(gnutls_record_recv)                           \
  X(gnutls_record_send)                           \
  X(gnutls_server_name_set)                       \
  X(gnutls_session_get_desc)                      \
  X(gnutls_session_set_keylog_function)           \
  X(gnutls_set_default_priority_append)           \
  X(gnutls_strerror)                              \
  X(gnutls_transport_set_errno)                   \
  X(gnutls_transport_set_ptr)                     \
  X(gnutls_transport_set_pull_function)           \
  X(gnutls_transport_set_pull_timeout_function)   \
  X(gnutls_transport_set_push_function)           \
  X(gnutls_x509_crt_deinit)                       \
  X(gnutls_x509_crt_get_activation_time)          \
  X(gnutls_x509_crt_get_dn3)                      \
  X(gnutls_x509_crt_get_expiration_time)          \
  X(gnutls_x509_crt_get_issuer_dn3)               \
  X(gnutls_x509_crt_import)                       \
  X(gnutls_x509_crt_init)                         \
  X(gnutls_x509_trust_list_get_issuer)

// Nettle's headers name its functions through macros (siv_cmac_aes128_set_key is
// nettle_siv_cmac_aes128_set_key); the table uses the names the library exports.
#define BREVUN_NETTLE_FUNCTIONS(X)          \
  X(nettle_siv_cmac_aes128_set_key)         \
  X(nettle_siv_cmac_aes128_encrypt_message) \
  X(nettle_siv_cmac_aes128_decrypt_message)

// A library we could not load, or one that lacks a function we call: no NTS on this system.
class LibraryMissing : public Failure {
 public:
  using Failure::Failure;
};

// One library opened by soname through the dynamic loader's standard search, closed when it
// goes.
class SharedLibrary {
 public:
  // Throws LibraryMissing with the loader's reason.
  explicit SharedLibrary(const char* soname);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of an exported name. Throws LibraryMissing when there is none.
  void* Symbol(const char* name) const;

 private:
  std::string soname_;
  void* handle_ = nullptr;
};

class TlsLibrary {
 private:
  // Declared first: the libraries are open before the table is filled from them, and stay open
  // as long as the table is.
  SharedLibrary gnutls_;
  SharedLibrary nettle_;
  gnutls_free_function* free_ = nullptr;  // GnuTLS's deallocator is a variable, not a function

 public:
  // Loads both libraries and every function. Throws LibraryMissing.
  TlsLibrary();
  TlsLibrary(const TlsLibrary&) = delete;
  TlsLibrary& operator=(const TlsLibrary&) = delete;

#define BREVUN_TLS_ENTRY(name) decltype(&::name) name = nullptr;
  BREVUN_GNUTLS_FUNCTIONS(BREVUN_TLS_ENTRY)
  BREVUN_NETTLE_FUNCTIONS(BREVUN_TLS_ENTRY)
#undef BREVUN_TLS_ENTRY

  // Frees what GnuTLS allocated for us (gnutls_free).
  void Free(void* memory) const { (*free_)(memory); }
};

// The one table of the process, loaded by the first call (from any thread). Throws
// LibraryMissing, with a sentence that names the libraries and their Debian packages, as long
// as they cannot be loaded.
const TlsLibrary& Tls();

}  // namespace brevun::nts
