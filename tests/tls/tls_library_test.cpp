// OpenSSL bound at run time: every function the transport calls is found in
// the system's libraries, a missing or foreign library is named in one line,
// and quillon-cli loads OpenSSL only for rdap, failing rdap alone (and
// cleanly) where it cannot.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/tls/openssl_library.h"
#include "net/tls/tls_exceptions.h"
#include "tests/tls/tls_env.h"

namespace quillon {
namespace {

TEST(OpenSslLibrary, BindsEveryFunctionOrNamesWhatIsMissing) {
  constexpr const char* kSsl = TOpenSslLibrary::kSslFile;
  constexpr const char* kCrypto = TOpenSslLibrary::kCryptoFile;
  const struct {
    const char* ssl;
    const char* crypto;
    std::string failure;  // empty: loaded
  } cases[] = {
      {kSsl, kCrypto, ""},
      {"libquillon-absent.so.3", kCrypto,
       "the TLS library (libquillon-absent.so.3) cannot be loaded"},
      {kSsl, "libquillon-absent.so.3", "the TLS library (libquillon-absent.so.3) cannot be loaded"},
      // A library that is there but is not libssl: the first function named.
      {kCrypto, kCrypto, "the TLS library (libcrypto.so.3) lacks TLS_client_method"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ssl) + " + " + c.crypto);
    const TOpenSslLibrary library(c.ssl, c.crypto);
    EXPECT_EQ(library.Loaded(), c.failure.empty());
    EXPECT_EQ(library.Failure(), c.failure);
    if (c.failure.empty()) {
      EXPECT_NO_THROW(library.Require());
      int unbound = 0;
#define QUILLON_COUNT_UNBOUND(name) unbound += library.name == nullptr ? 1 : 0;
      QUILLON_LIBSSL_FUNCTIONS(QUILLON_COUNT_UNBOUND)
      QUILLON_LIBCRYPTO_FUNCTIONS(QUILLON_COUNT_UNBOUND)
#undef QUILLON_COUNT_UNBOUND
      EXPECT_EQ(unbound, 0);
      // The process's binding is the same libraries, loaded once.
      EXPECT_TRUE(TOpenSslLibrary::Process().Loaded());
      EXPECT_EQ(&TOpenSslLibrary::Process(), &TOpenSslLibrary::Process());
    } else {
      try {
        library.Require();
        ADD_FAILURE() << "Require did not raise";
      } catch (const EIdSSLLibraryError& e) {
        EXPECT_EQ(std::string(e.what()), c.failure);
      }
    }
  }
}

// quillon-cli starts without OpenSSL. rdap loads it at its first TLS
// connect; with libssl unloadable (hidden behind an empty file in a mount
// namespace of the test's own), each name of the command, alone or in a
// list, fails with the library's line and status 1, before anything is
// sent, and the program does not crash.
TEST(OpenSslLibrary, QuillonCliLoadsItForRdapOnlyAndSaysWhenItCannot) {
  const std::string cli = QUILLON_CLI_PATH;
  std::string output;
  ASSERT_EQ(test::Run("LD_DEBUG=files " + cli + " --version", &output), 0) << output;
  for (const char* library : {"libssl.so", "libcrypto.so"})
    EXPECT_EQ(output.find(std::string("file=") + library), std::string::npos)
        << library << " loaded at start-up:\n"
        << output;

  if (!test::IsRoot()) GTEST_SKIP() << "libssl is hidden in a mount namespace: needs root";
  const std::string libssl = test::LibraryFile("libssl.so.3");
  ASSERT_FALSE(libssl.empty()) << "libssl.so.3 is not installed";
  test::ScratchDir cache("quillon-tls-cache-");
  // Nothing listens on the bootstrap's port: were TLS to start anyway, the
  // line would say the connection was refused.
  const std::string run =
      "unshare -m sh -c 'mount --bind /dev/null " + libssl + " && XDG_CACHE_HOME=" + cache.path() +
      " QUILLON_RDAP_BOOTSTRAP=https://127.0.0.1:" + std::to_string(test::FreePort()) + "/ exec " +
      cli + " rdap ";
  const std::string line = "Error RDAP: the TLS library (libssl.so.3) cannot be loaded\n";
  const struct {
    std::string command;
    std::string expected;
  } cases[] = {
      {run + "example.com'", line},
      {"printf 'example.com\\nexample.net\\n' | " + run + "-'",
       "== example.com\n" + line + "\n== example.net\n" + line + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    output.clear();
    EXPECT_EQ(test::Run(c.command, &output), 1) << output;
    EXPECT_EQ(output, c.expected);
  }
}

}  // namespace
}  // namespace quillon
