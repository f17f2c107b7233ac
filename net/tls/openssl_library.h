// The OpenSSL functions that the TLS transport calls, bound by name when the
// first TLS session starts rather than linked: a program pays nothing for them
// at start-up, and only the commands that speak TLS ever load them.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

// The functions, by the library that exports them. Only real functions may
// be listed (not OpenSSL's macros, which expand to one of these).
#define QUILLON_LIBSSL_FUNCTIONS(X)      \
  X(TLS_client_method)                   \
  X(SSL_CTX_new)                         \
  X(SSL_CTX_free)                        \
  X(SSL_CTX_ctrl)                        \
  X(SSL_CTX_set_default_verify_paths)    \
  X(SSL_CTX_set_verify)                  \
  X(SSL_CTX_set_default_read_buffer_len) \
  X(SSL_new)                             \
  X(SSL_free)                            \
  X(SSL_ctrl)                            \
  X(SSL_set_bio)                         \
  X(SSL_get0_param)                      \
  X(SSL_set_hostflags)                   \
  X(SSL_set1_host)                       \
  X(SSL_connect)                         \
  X(SSL_shutdown)                        \
  X(SSL_get_shutdown)                    \
  X(SSL_is_init_finished)                \
  X(SSL_get_verify_result)               \
  X(SSL_get_version)                     \
  X(SSL_get_error)                       \
  X(SSL_pending)                         \
  X(SSL_peek_ex)                         \
  X(SSL_read_ex)                         \
  X(SSL_write_ex)
#define QUILLON_LIBCRYPTO_FUNCTIONS(X) \
  X(ERR_peek_error)                    \
  X(ERR_reason_error_string)           \
  X(ERR_clear_error)                   \
  X(BIO_get_new_index)                 \
  X(BIO_meth_new)                      \
  X(BIO_meth_set_read)                 \
  X(BIO_meth_set_write)                \
  X(BIO_meth_set_ctrl)                 \
  X(BIO_meth_set_create)               \
  X(BIO_new)                           \
  X(BIO_free)                          \
  X(BIO_get_data)                      \
  X(BIO_set_data)                      \
  X(BIO_set_init)                      \
  X(BIO_set_flags)                     \
  X(BIO_clear_flags)                   \
  X(X509_VERIFY_PARAM_set1_ip_asc)     \
  X(X509_verify_cert_error_string)

namespace quillon {

class TOpenSslLibrary {
 public:
  static constexpr const char* kSslFile = "libssl.so.3";
  static constexpr const char* kCryptoFile = "libcrypto.so.3";
  // The symbol version every function is bound at: the one that a program
  // linked against OpenSSL 3 would record for it.
  static constexpr const char* kSymbolVersion = "OPENSSL_3.0.0";

  // The process's binding, made at the first call (once, from any thread)
  // from kSslFile and kCryptoFile. It may have failed: see Require.
  static const TOpenSslLibrary& Process();

  // Loads both libraries and binds every function. The libraries stay
  // loaded for the life of the process (a session may outlive any owner).
  TOpenSslLibrary(const char* sslFile, const char* cryptoFile);
  TOpenSslLibrary(const TOpenSslLibrary&) = delete;
  TOpenSslLibrary& operator=(const TOpenSslLibrary&) = delete;
  ~TOpenSslLibrary() = default;

  bool Loaded() const { return failure_.empty(); }
  // Empty when loaded; else "the TLS library (libssl.so.3) cannot be
  // loaded", or "... (libssl.so.3) lacks SSL_peek_ex" for a library of
  // another make.
  const std::string& Failure() const { return failure_; }
  // Raises EIdSSLLibraryError with Failure() unless loaded.
  void Require() const;

#define QUILLON_OPENSSL_SLOT(name) decltype(&::name) name = nullptr;
  QUILLON_LIBSSL_FUNCTIONS(QUILLON_OPENSSL_SLOT)
  QUILLON_LIBCRYPTO_FUNCTIONS(QUILLON_OPENSSL_SLOT)
#undef QUILLON_OPENSSL_SLOT

 private:
  std::string failure_;
};

}  // namespace quillon
