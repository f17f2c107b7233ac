// The run-time binding of OpenSSL; see openssl_library.h. Linked in, libssl
// and libcrypto would be mapped and relocated at every start of every
// program over net/tls (about a millisecond and a half of quillon-cli's
// start-up, whatever the command). Loaded by name instead, they are still
// the system's shared libraries, so that the distribution's security
// updates reach them.
#include "net/tls/openssl_library.h"

#include <dlfcn.h>

#include "net/tls/tls_exceptions.h"

namespace quillon {

namespace {

// Binds `slot` to `name` in `library` at OpenSSL 3's symbol version; false
// when the library has no such function.
template <typename Function>
bool Bind(void* library, const char* name, Function& slot) {
  slot = reinterpret_cast<Function>(::dlvsym(library, name, TOpenSslLibrary::kSymbolVersion));
  return slot != nullptr;
}

}  // namespace

const TOpenSslLibrary& TOpenSslLibrary::Process() {
  static const TOpenSslLibrary library(kSslFile, kCryptoFile);
  return library;
}

TOpenSslLibrary::TOpenSslLibrary(const char* sslFile, const char* cryptoFile) {
  // libssl first: it needs libcrypto, so that a missing libcrypto is found
  // here too, under the name of the library the program asked for.
  void* ssl = ::dlopen(sslFile, RTLD_NOW | RTLD_LOCAL);
  if (ssl == nullptr) {
    failure_ = std::string("the TLS library (") + sslFile + ") cannot be loaded";
    return;
  }
  void* crypto = ::dlopen(cryptoFile, RTLD_NOW | RTLD_LOCAL);
  if (crypto == nullptr) {
    failure_ = std::string("the TLS library (") + cryptoFile + ") cannot be loaded";
    return;
  }
  // The first function missing is the one named; the slots stay as they
  // are, since Require refuses the whole binding anyway.
  const auto lacks = [this](const char* file, const char* name) {
    if (failure_.empty()) failure_ = std::string("the TLS library (") + file + ") lacks " + name;
  };
#define QUILLON_BIND_SSL(name) \
  if (!Bind(ssl, #name, name)) lacks(sslFile, #name);
#define QUILLON_BIND_CRYPTO(name) \
  if (!Bind(crypto, #name, name)) lacks(cryptoFile, #name);
  QUILLON_LIBSSL_FUNCTIONS(QUILLON_BIND_SSL)
  QUILLON_LIBCRYPTO_FUNCTIONS(QUILLON_BIND_CRYPTO)
#undef QUILLON_BIND_SSL
#undef QUILLON_BIND_CRYPTO
}

void TOpenSslLibrary::Require() const {
  if (!Loaded()) throw EIdSSLLibraryError(failure_);
}

}  // namespace quillon
