// The TLS transport against a private nginx with certificates of a
// throw-away CA, and against scripted peers that break off or stall the
// handshake; https through the HTTP client.
#include <gtest/gtest.h>

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/http/http.h"
#include "net/tls/ssl_io_handler.h"
#include "net/tls/tls_exceptions.h"
#include "tests/tls/tls_env.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// One CA the client trusts, one it does not, and servers on their own ports:
// good (names tls.test, localhost and 127.0.0.1), wrong name, unknown
// issuer, expired.
class TlsWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TlsNginx::Available() || test::Run("openssl version") != 0)
      GTEST_SKIP() << "needs /usr/sbin/nginx and the openssl tool";
    const std::string d = dir_.path();
    test::TestCa trusted(d, "trusted");
    test::TestCa stranger(d, "stranger");
    ASSERT_TRUE(trusted.ok() && stranger.ok());
    ASSERT_TRUE(trusted.Issue("good", "DNS:tls.test,DNS:localhost,IP:127.0.0.1"));
    ASSERT_TRUE(trusted.Issue("named", "DNS:other.test"));
    ASSERT_TRUE(stranger.Issue("foreign", "DNS:tls.test"));
    ASSERT_TRUE(trusted.Issue("expired", "DNS:tls.test", true));
    for (int& port : ports_) port = test::FreePort();
    const std::string root = d + "/www";
    // /cookie sets a cookie for secure connections only; /echo shows the
    // cookies a request carried.
    const std::string cookies =
        "    location = /cookie { add_header Set-Cookie \"s=1; Secure; Path=/\"; return 200 x; }\n"
        "    location = /echo { return 200 \"[$http_cookie]\"; }\n";
    std::string servers = test::TlsServerBlock(ports_[0], d, "good", root, cookies) +
                          test::TlsServerBlock(ports_[1], d, "named", root) +
                          test::TlsServerBlock(ports_[2], d, "foreign", root) +
                          test::TlsServerBlock(ports_[3], d, "expired", root) +
                          "  server {\n    listen 127.0.0.1:" + std::to_string(ports_[4]) +
                          ";\n    root " + root + ";\n" + cookies + "  }\n";
    nginx_ = std::make_unique<test::TlsNginx>(d, servers, std::vector<int>(ports_, ports_ + 5));
    ASSERT_TRUE(nginx_->ready()) << nginx_->errorLog();
    test::WriteTextFile(root + "/hello.txt", "hello over tls\n");
    caFile_ = std::make_unique<test::ScopedEnv>("SSL_CERT_FILE", trusted.pem());
  }

  std::string Url(int index, const std::string& host, const std::string& path) const {
    return std::string(index == 4 ? "http" : "https") + "://" + host + ":" +
           std::to_string(ports_[index]) + path;
  }

  test::ScratchDir dir_{"quillon-tls-"};
  int ports_[5] = {};
  std::unique_ptr<test::TlsNginx> nginx_;
  std::unique_ptr<test::ScopedEnv> caFile_;
  test::MappedTransport transport_{{{"tls.test", "127.0.0.1"}}};
};

TEST_F(TlsWorld, HttpsExchangeByNameAndAddressOverOneHandler) {
  // A file larger than one TLS record and one receive.
  std::string large(300000, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
  test::WriteTextFile(nginx_->root() + "/large.bin", large);

  TIdSSLIOHandlerSocketOpenSSL tls(transport_);
  TIdHTTP http;
  http.SetIOHandler(&tls);
  EXPECT_EQ(http.GetBody(Url(0, "tls.test", "/hello.txt")), "hello over tls\n");
  EXPECT_FALSE(tls.Protocol().empty());
  EXPECT_TRUE(tls.Protocol() == "TLSv1.3" || tls.Protocol() == "TLSv1.2") << tls.Protocol();
  EXPECT_EQ(http.Request().Host, "tls.test:" + std::to_string(ports_[0]));
  // Kept alive: the second request goes over the same session.
  EXPECT_TRUE(http.GetBody(Url(0, "tls.test", "/large.bin")) == large);
  EXPECT_TRUE(http.IsConnected());
  // The address is verified against the certificate's IP entry.
  EXPECT_EQ(http.GetBody(Url(0, "127.0.0.1", "/hello.txt")), "hello over tls\n");
  EXPECT_EQ(http.GetBody(Url(0, "localhost", "/hello.txt")), "hello over tls\n");
  // The same handler carries plain http in pass-through.
  EXPECT_EQ(http.GetBody(Url(4, "127.0.0.1", "/hello.txt")), "hello over tls\n");
  EXPECT_TRUE(tls.PassThrough());
  EXPECT_FALSE(http.UsingSecureHandler());
  try {
    http.GetBody(Url(0, "tls.test", "/absent"));
    FAIL() << "404 accepted";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 404);
  }
  EXPECT_TRUE(http.UsingSecureHandler());
  http.SetIOHandler(nullptr);
}

TEST_F(TlsWorld, SecureCookiesGoOnlyOverTls) {
  TIdSSLIOHandlerSocketOpenSSL tls(transport_);
  TIdHTTP http;
  http.SetIOHandler(&tls);
  EXPECT_EQ(http.GetBody(Url(0, "127.0.0.1", "/cookie")), "x");
  EXPECT_EQ(http.GetBody(Url(0, "127.0.0.1", "/echo")), "[s=1]");
  // The same handler in pass-through carries plain http: no secure cookie.
  EXPECT_EQ(http.GetBody(Url(4, "127.0.0.1", "/echo")), "[]");
  EXPECT_EQ(http.GetBody(Url(0, "127.0.0.1", "/echo")), "[s=1]");
  http.SetIOHandler(nullptr);
}

TEST_F(TlsWorld, HttpsRefusedWithoutSecureHandler) {
  TIdHTTP http;
  try {
    http.GetBody(Url(0, "localhost", "/hello.txt"));
    FAIL() << "https went out without TLS";
  } catch (const EIdIOHandlerPropInvalid& e) {
    EXPECT_STREQ(e.what(), "Valeur IOHandler incorrecte");
  }
}

TEST_F(TlsWorld, CertificateFailuresSayWhatAndForWhichHost) {
  struct Case {
    int server;
    const char* host;
    const char* message;
  };
  const Case cases[] = {
      {1, "tls.test", "certificate verify failed for tls.test: hostname mismatch"},
      {2, "tls.test",
       "certificate verify failed for tls.test: unable to get local issuer certificate"},
      {3, "tls.test", "certificate verify failed for tls.test: certificate has expired"},
      {1, "127.0.0.1", "certificate verify failed for 127.0.0.1: IP address mismatch"},
      // A name that the certificate only matches by a wildcard it lacks.
      {0, "www.localhost", "certificate verify failed for www.localhost: hostname mismatch"},
  };
  test::MappedTransport transport{{{"tls.test", "127.0.0.1"}, {"www.localhost", "127.0.0.1"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TIdSSLIOHandlerSocketOpenSSL tls(transport);
    TIdHTTP http;
    http.SetIOHandler(&tls);
    try {
      http.GetBody(Url(c.server, c.host, "/hello.txt"));
      ADD_FAILURE() << "accepted";
    } catch (const EIdSSLCertificateError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_FALSE(http.IsConnected());
    http.SetIOHandler(nullptr);
  }
}

// A TLS server of the test's own (OpenSSL's server side on an accepted
// socket): it answers the request with a head and 10 of the 100 bytes it
// announces, then says nothing until the client goes away.
void StallAfterTenBytes(const std::string& dir, int fd) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate_chain_file(ctx, (dir + "/good.pem").c_str());
  SSL_CTX_use_PrivateKey_file(ctx, (dir + "/good.key").c_str(), SSL_FILETYPE_PEM);
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) == 1) {
    char request[4096];
    (void)SSL_read(ssl, request, sizeof request);
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789";
    SSL_write(ssl, head.data(), static_cast<int>(head.size()));
    (void)test::RecvUntilClose(fd, 5000);
  }
  SSL_free(ssl);
  SSL_CTX_free(ctx);
}

TEST_F(TlsWorld, ReadsKeepTheConnectionsTimeOutAndCanBeWoken) {
  const std::string dir = dir_.path();
  test::TcpServer server([&dir](int fd) { StallAfterTenBytes(dir, fd); });
  const std::string url = "https://tls.test:" + std::to_string(server.port()) + "/";
  {
    TIdSSLIOHandlerSocketOpenSSL tls(transport_);
    TIdHTTP http;
    http.SetIOHandler(&tls);
    http.ReadTimeout = 500;
    const auto start = Clock::now();
    try {
      http.GetBody(url);
      ADD_FAILURE() << "the body came whole";
    } catch (const EIdReadTimeout& e) {
      EXPECT_STREQ(e.what(), "Délai de lecture");
    }
    EXPECT_GE(MsSince(start), 450);
    EXPECT_LT(MsSince(start), 3000);
    http.SetIOHandler(nullptr);
  }
  // No time-out: a close from another thread ends the read instead.
  TIdSSLIOHandlerSocketOpenSSL tls(transport_);
  TIdHTTP http;
  http.SetIOHandler(&tls);
  std::thread closer([&tls] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    tls.WakeWait();
  });
  const auto start = Clock::now();
  std::string outcome = "the body came whole";
  try {
    http.GetBody(url);
  } catch (const EIdConnClosedGracefully& e) {
    outcome = e.what();  // the body was cut short by the close
  } catch (const std::exception& e) {
    outcome = std::string("other failure: ") + e.what();
  }
  closer.join();
  EXPECT_EQ(outcome, "La connexion s'est terminée proprement.");
  EXPECT_LT(MsSince(start), 3000);
  http.SetIOHandler(nullptr);
}

// A TLS server of the test's own that answers with a body framed by the
// close, then ends the session with a close_notify or just closes the socket
// (as a cut connection would look).
void BodyUntilClose(const std::string& dir, int fd, bool notify) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate_chain_file(ctx, (dir + "/good.pem").c_str());
  SSL_CTX_use_PrivateKey_file(ctx, (dir + "/good.key").c_str(), SSL_FILETYPE_PEM);
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) == 1) {
    char request[4096];
    (void)SSL_read(ssl, request, sizeof request);
    const std::string reply = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nthe first part";
    SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
    if (notify) SSL_shutdown(ssl);
  }
  ::shutdown(fd, SHUT_RDWR);
  SSL_free(ssl);
  SSL_CTX_free(ctx);
}

TEST_F(TlsWorld, BodyUntilCloseNeedsTheClosingNotice) {
  const std::string dir = dir_.path();
  for (const bool notify : {true, false}) {
    SCOPED_TRACE(notify ? "close_notify" : "plain close");
    test::TcpServer server([&dir, notify](int fd) { BodyUntilClose(dir, fd, notify); });
    TIdSSLIOHandlerSocketOpenSSL tls(transport_);
    TIdHTTP http;
    http.SetIOHandler(&tls);
    std::string outcome;
    try {
      outcome = http.GetBody("https://tls.test:" + std::to_string(server.port()) + "/");
    } catch (const EIdHTTPBodyCutShort& e) {
      outcome = e.what();
    }
    EXPECT_EQ(outcome, notify ? "the first part" : msg::kBodyCutShort);
    EXPECT_EQ(tls.EndedWithoutCloseNotice(), !notify);
    http.SetIOHandler(nullptr);
  }
}

TEST_F(TlsWorld, TrustStoreComesFromSslCertFile) {
  // Without the test CA in the trust store the good server is unknown too.
  test::ScopedEnv other("SSL_CERT_FILE", dir_.path() + "/stranger.pem");
  TIdSSLIOHandlerSocketOpenSSL tls(transport_);
  TIdHTTP http;
  http.SetIOHandler(&tls);
  EXPECT_THROW(http.GetBody(Url(0, "tls.test", "/hello.txt")), EIdSSLCertificateError);
  http.SetIOHandler(nullptr);
}

// Scripted peers that are not TLS servers at all.
void ConnectTls(TIdSSLIOHandlerSocketOpenSSL& tls, int port, int timeout) {
  tls.OpenHandler();
  tls.ConnectTo("localhost", port, "", 0, 0, 0, timeout);
}

TEST(TlsHandshake, PeerClosingMidHandshake) {
  test::TcpServer server([](int fd) {
    char hello[512];
    (void)!::recv(fd, hello, sizeof hello, 0);  // part of the ClientHello, then close
  });
  TIdSSLIOHandlerSocketOpenSSL tls;
  try {
    ConnectTls(tls, server.port(), 0);
    FAIL() << "handshake succeeded";
  } catch (const EIdSSLConnectionClosed& e) {
    EXPECT_STREQ(e.what(), "connection closed during TLS handshake with localhost");
  }
}

TEST(TlsHandshake, PeerAnsweringGarbage) {
  test::TcpServer server([](int fd) {
    (void)test::RecvLine(fd, 500);
    test::SendAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
  });
  TIdSSLIOHandlerSocketOpenSSL tls;
  try {
    ConnectTls(tls, server.port(), 0);
    FAIL() << "handshake succeeded";
  } catch (const EIdSSLError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("TLS handshake with localhost failed: ", 0), 0u)
        << e.what();
  }
}

// The peer accepts and then says nothing until the client goes away.
void Stall(int fd) {
  (void)test::RecvUntilClose(fd, 5000);
}

TEST(TlsHandshake, StalledHandshakeEndsAtTheTimeOut) {
  test::TcpServer server(Stall);
  for (const bool viaProperty : {false, true}) {
    TIdSSLIOHandlerSocketOpenSSL tls;
    tls.HandshakeTimeout = viaProperty ? 400 : 0;
    const auto start = Clock::now();
    try {
      ConnectTls(tls, server.port(), viaProperty ? 0 : 400);
      FAIL() << "handshake succeeded";
    } catch (const EIdSSLHandshakeTimeout& e) {
      EXPECT_STREQ(e.what(), "TLS handshake timed out for localhost");
    }
    const long long ms = MsSince(start);
    EXPECT_GE(ms, 350);
    EXPECT_LT(ms, 2500);
    tls.CloseHandler();
  }
}

TEST(TlsHandshake, StalledHandshakeEndsWhenClosedFromAnotherThread) {
  // The close comes once the handshake is under way (the ClientHello is in).
  std::atomic<bool> helloSeen{false};
  test::TcpServer server([&helloSeen](int fd) {
    char hello[512];
    if (::recv(fd, hello, sizeof hello, 0) > 0) helloSeen = true;
    Stall(fd);
  });
  TIdSSLIOHandlerSocketOpenSSL tls;
  std::thread closer([&tls, &helloSeen] {
    for (int i = 0; i < 500 && !helloSeen; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    tls.WakeWait();
  });
  const auto start = Clock::now();
  std::string failure = "handshake succeeded";
  try {
    ConnectTls(tls, server.port(), 0);  // no time limit: only the close ends it
  } catch (const EIdSSLConnectionClosed& e) {
    failure = e.what();
  } catch (const std::exception& e) {
    failure = std::string("other failure: ") + e.what();
  }
  closer.join();
  EXPECT_EQ(failure, "connection closed during TLS handshake with localhost");
  EXPECT_LT(MsSince(start), 2500);
  tls.CloseHandler();
  EXPECT_FALSE(tls.HasSocket());
}

TEST(TlsHandshake, PassThroughCannotChangeOnAnOpenConnection) {
  test::TcpServer server(Stall);
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SetPassThrough(true);
  ConnectTls(tls, server.port(), 0);
  EXPECT_THROW(tls.SetPassThrough(false), EIdSSLError);
  EXPECT_TRUE(tls.PassThrough());
  tls.CloseHandler();
  tls.SetPassThrough(false);
  EXPECT_FALSE(tls.PassThrough());
}

}  // namespace
}  // namespace quillon
