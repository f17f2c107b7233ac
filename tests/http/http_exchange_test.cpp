// Exchanges against scripted loopback servers: request bytes, body framings,
// status handling, redirects, keep-alive, time-outs and cookies.
#include <gtest/gtest.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "net/http/http.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using test::SendAll;
using test::TcpServer;

// Reads one request head (and a body announced by Content-Length).
std::string ReadRequest(int fd) {
  std::string head;
  char c;
  while (head.size() < 65536) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 3000) <= 0 || ::recv(fd, &c, 1, 0) != 1) return {};
    head.push_back(c);
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
  }
  const size_t at = head.find("Content-Length: ");
  if (at != std::string::npos) {
    size_t length = std::stoul(head.substr(at + 16));
    while (length > 0) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 3000) <= 0 || ::recv(fd, &c, 1, 0) != 1) break;
      head.push_back(c);
      --length;
    }
  }
  return head;
}

struct Reply {
  std::string text;
  bool close = false;  // close the connection after this reply
};

// A server that answers the n-th request of the test with replies[n] (the
// last one repeats) and records every request.
class Server {
 public:
  explicit Server(std::vector<Reply> replies)
      : replies_(std::move(replies)), server_([this](int fd) { Serve(fd); }) {}

  int port() const { return server_.port(); }
  int connections() const { return server_.accepted(); }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::string url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
  }

 private:
  void Serve(int fd) {
    for (;;) {
      const std::string request = ReadRequest(fd);
      if (request.empty()) return;
      size_t index;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        index = std::min(requests_.size() - 1, replies_.size() - 1);
      }
      SendAll(fd, replies_[index].text);
      if (replies_[index].close) {
        ::shutdown(fd, SHUT_WR);
        return;
      }
    }
  }

  std::vector<Reply> replies_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  TcpServer server_;
};

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(HttpExchangeTest, ExactRequestBytes) {
  Server server({{Ok("127.0.0.1")}});
  TIdHTTP http;
  EXPECT_EQ(http.GetBody(server.url("/misc/ip.php?x=1")), "127.0.0.1");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /misc/ip.php?x=1 HTTP/1.1\r\n"
            "Content-Type: text/html\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.port()) +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Quillon)\r\n"
                "\r\n");
  EXPECT_EQ(http.ResponseCode(), 200);
}

// Through a plain proxy the request line carries the absolute URL, and the
// default port sends the host alone.
TEST(HttpExchangeTest, PlainProxyAndDefaultPortHost) {
  Server proxy({{Ok("via proxy")}});
  TIdHTTP http;
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.port());
  EXPECT_EQ(http.GetBody("http://site.test/a/b?c"), "via proxy");
  const std::string request = proxy.requests().at(0);
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET http://site.test:80/a/b?c HTTP/1.1");
  EXPECT_NE(request.find("\r\nHost: site.test\r\n"), std::string::npos) << request;
}

TEST(HttpExchangeTest, BodyFramings) {
  const struct {
    const char* name;
    std::string reply;
    std::string body;
  } cases[] = {
      {"content-length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", "hello"},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       "hello"},
      {"chunked-ext-trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3;x=y\r\nabc\r\nA \r\n0123456789\r\n"
       "0\r\nX-Trailer: 1\r\n\r\n",
       "abc0123456789"},
      {"chunked-wins",
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n"
       "4\r\nwxyz\r\n0\r\n\r\n",
       "wxyz"},
      {"until-close", "HTTP/1.1 200 OK\r\n\r\nall of it", "all of it"},
      {"zero-length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
      {"no-content", "HTTP/1.1 204 No Content\r\n\r\n", ""},
      {"continue", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server({{c.reply, true}});
    TIdHTTP http;
    EXPECT_EQ(http.GetBody(server.url("/")), c.body);
    EXPECT_EQ(http.ResponseCode(), c.reply.find(" 204 ") != std::string::npos ? 204 : 200);
  }
}

// Each malformed or cut-short response maps to its exception and message.
TEST(HttpExchangeTest, BrokenResponses) {
  const struct {
    const char* name;
    std::string reply;
    const char* message;
  } cases[] = {
      {"closed-before-status", "", "La connexion s'est terminée proprement."},
      {"status-without-end", "HTTP/1.1 200 OK", "La connexion s'est terminée proprement."},
      {"short-body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
       "La connexion s'est terminée proprement."},
      {"bad-chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
       "Taille de bloc HTTP incorrecte : \"zz\""},
      {"huge-chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffff\r\n",
       "Taille de bloc HTTP incorrecte : \"ffffffffffffffffff\""},
      {"long-chunk-line",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1;" + std::string(5000, 'x') + "\r\n",
       "Longueur de ligne maximum dépassée."},
      {"chunk-cut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
       "La connexion s'est terminée proprement."},
      {"closed-head-2xx", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "Undefined situation"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server({{c.reply, true}});
    TIdHTTP http;
    try {
      http.GetBody(server.url("/"));
      ADD_FAILURE() << "no exception";
    } catch (const EIdException& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(http.IsConnected());
  }
}

// Framing read strictly (RFC 9112 section 6.3): Content-Length digits only,
// repeats identical; "chunked" only as the final coding and once; exactly
// CR LF after chunk data. Interim responses other than 101 are skipped.
TEST(HttpExchangeTest, FramingIsStrictAndInterimResponsesAreSkipped) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const struct {
    const char* name;
    std::string reply;
    std::string body;  // empty: refused as badly framed
  } cases[] = {
      {"length-repeated", ok + "Content-Length: 5\r\nContent-Length: 5\r\n\r\nhelloX", "hello"},
      {"length-list", ok + "Content-Length: 5, 05\r\n\r\nhelloX", "hello"},
      {"length-differs", ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhelloX", ""},
      {"length-list-differs", ok + "Content-Length: 5, 6\r\n\r\nhelloX", ""},
      {"length-sign", ok + "Content-Length: +5\r\n\r\nhello", ""},
      {"length-hex", ok + "Content-Length: 0x5\r\n\r\nhello", ""},
      {"length-words", ok + "Content-Length: 5 bytes\r\n\r\nhello", ""},
      {"length-empty", ok + "Content-Length: \r\n\r\nhello", ""},
      {"length-huge", ok + "Content-Length: 9999999999999999999\r\n\r\nhello", ""},
      {"chunked-not-final", ok + "Transfer-Encoding: chunked, identity\r\n\r\n5\r\nhello\r\n",
       "5\r\nhello\r\n"},
      {"not-chunked-word", ok + "Transfer-Encoding: xchunked\r\n\r\n5\r\nhello\r\n", "5\r\nhello\r\n"},
      {"chunked-twice", ok + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n"
                             "5\r\nhello\r\n0\r\n\r\n", ""},
      {"chunked-params", ok + "Transfer-Encoding: gzip, Chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       "hello"},
      {"chunk-end-blanks", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello  \r\n0\r\n\r\n", ""},
      {"chunk-end-lf", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\n0\r\n\r\n", ""},
      {"chunk-end-junk", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhelloXY0\r\n\r\n", ""},
      {"early-hints", "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n" +
                          ok + "Content-Length: 2\r\n\r\nok", "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server({{c.reply, true}});
    TIdHTTP http;
    try {
      const std::string body = http.GetBody(server.url("/"));
      EXPECT_EQ(body, c.body);
    } catch (const EIdHTTPInvalidFraming& e) {
      EXPECT_EQ(c.body, "") << e.what();
      EXPECT_EQ(std::string(e.what()).rfind(msg::kInvalidFraming, 0), 0u);
      EXPECT_FALSE(http.IsConnected());
    }
  }
  // 101 changes the protocol, which this client does not speak.
  Server switching({{"HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", true}});
  TIdHTTP http;
  try {
    http.GetBody(switching.url("/"));
    ADD_FAILURE() << "101 accepted";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 101);
  }
}

// A response framed by both Transfer-Encoding and Content-Length is read as
// chunked, and its connection is not used again; a plain one is.
TEST(HttpExchangeTest, DoubleFramedResponseClosesItsConnection) {
  const std::string both =
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n"
      "4\r\nwxyz\r\n0\r\n\r\n";
  for (const auto& [first, connections] : {std::pair{both, 2}, std::pair{Ok("wxyz"), 1}}) {
    Server server({{first}, {Ok("two")}});
    TIdHTTP http;
    EXPECT_EQ(http.GetBody(server.url("/1")), "wxyz");
    EXPECT_EQ(http.GetBody(server.url("/2")), "two");
    EXPECT_EQ(server.connections(), connections);
  }
}

// The announced length of an error page reserves no more than the page may
// keep: a 404 announcing 1 GiB succeeds under a 256 MiB address-space limit.
TEST(HttpExchangeTest, ErrorPageReservesNoMoreThanItsLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
#endif
#endif
  Server server({{"HTTP/1.1 404 Not Found\r\nContent-Length: 1073741824\r\n\r\nnot here", true}});
  const pid_t child = ::fork();
  if (child == 0) {
    long vmKiB = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmSize:", 0) == 0) vmKiB = std::stol(line.substr(7));
    const rlim_t limit = static_cast<rlim_t>(vmKiB) * 1024 + (rlim_t{256} << 20);
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_AS, &r);
    int code = 3;
    try {
      TIdHTTP http;
      http.GetBody(server.url("/"));
    } catch (const EIdHTTPProtocolException& e) {
      code = e.ReplyCode() == 404 && e.ReplyBody == "not here" ? 0 : 4;
    } catch (const std::bad_alloc&) {
      code = 2;
    } catch (...) {
    }
    ::_exit(code);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: the reservation did not fit";
}

TEST(HttpExchangeTest, BodyIsBounded) {
  const std::string big(3000, 'x');
  const struct {
    const char* name;
    std::string reply;
  } cases[] = {
      {"declared", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\nabc"},
      {"chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffff\r\nabc"},
      {"until-close", "HTTP/1.1 200 OK\r\n\r\n" + big},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server({{c.reply, true}});
    TIdHTTP http;
    http.MaxBodySize = 1000;
    try {
      http.GetBody(server.url("/"));
      ADD_FAILURE();
    } catch (const EIdHTTPBodyTooLarge& e) {
      EXPECT_STREQ(e.what(), "Corps de réponse HTTP trop grand.");
    }
    EXPECT_FALSE(http.IsConnected());
  }
  // An error page is kept up to its own bound.
  Server server({{"HTTP/1.1 500 Oops\r\n\r\n" + std::string(3 << 20, 'e'), true}});
  TIdHTTP http;
  try {
    http.GetBody(server.url("/"));
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 500);
    EXPECT_EQ(e.ReplyBody, std::string(1 << 20, 'e'));
  }
  EXPECT_FALSE(http.IsConnected());
}

TEST(HttpExchangeTest, HeadBlockIsBounded) {
  std::string manyLines = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 10001; ++i) manyLines += "X-" + std::to_string(i) + ": v\r\n";
  std::string manyBytes = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 100; ++i) manyBytes += "X: " + std::string(16000, 'b') + "\r\n";
  for (const std::string& reply : {manyLines, manyBytes}) {
    Server server({{reply + "\r\n", true}});
    TIdHTTP http;
    try {
      http.GetBody(server.url("/"));
      ADD_FAILURE();
    } catch (const EIdHTTPHeaderTooLarge& e) {
      EXPECT_STREQ(e.what(), msg::kHeaderTooLarge);
    }
  }
}

// An https target through a proxy opens a tunnel first; without the secure
// layer the request stops there.
TEST(HttpExchangeTest, SecureProxyTunnelStopsWithoutSecureHandler) {
  Server proxy({{"HTTP/1.1 200 Connection established\r\n\r\n"}});
  TIdHTTP http;
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.port());
  try {
    http.GetBody("https://site.test/x");
    FAIL();
  } catch (const EIdIOHandlerPropInvalid& e) {
    EXPECT_STREQ(e.what(), "Valeur IOHandler incorrecte");
  }
  const std::string request = proxy.requests().at(0);
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "CONNECT site.test:443 HTTP/1.1");
  EXPECT_NE(request.find("\r\nProxy-Connection: keep-alive\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("\r\nHost: site.test:443\r\n"), std::string::npos) << request;
}

TEST(HttpExchangeTest, ErrorStatusCarriesBody) {
  Server server({{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot there"}});
  TIdHTTP http;
  try {
    http.GetBody(server.url("/missing"));
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.ReplyBody, "not there");
  }
  EXPECT_TRUE(http.IsConnected());  // the error body was read: the connection stays usable
}

TEST(HttpExchangeTest, RedirectRefusedByDefault) {
  const std::string found = "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 3\r\n\r\nabc";
  const std::string withLocation = "HTTP/1.1 200 OK\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n";
  for (const auto& [reply, code] : {std::pair{found, 302}, std::pair{withLocation, 200}}) {
    Server server({{reply}});
    TIdHTTP http;
    try {
      http.GetBody(server.url("/"));
      FAIL();
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), code);
    }
  }
}

TEST(HttpExchangeTest, RedirectFollowed) {
  Server server({{"HTTP/1.1 302 Found\r\nLocation: next/page\r\nContent-Length: 3\r\n\r\nabc"},
                 {Ok("arrived")}});
  TIdHTTP http;
  http.HandleRedirects = true;
  int events = 0;
  http.OnRedirect = [&](TIdBaseComponent*, std::string& dest, int& num, bool& handled,
                        TIdHTTPMethod&) {
    ++events;
    EXPECT_EQ(dest, "next/page");
    EXPECT_EQ(num, 1);
    EXPECT_TRUE(handled);
  };
  EXPECT_EQ(http.GetBody(server.url("/dir/start")), "arrived");
  EXPECT_EQ(events, 1);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /dir/next/page HTTP/1.1");
  EXPECT_EQ(server.connections(), 1);  // kept alive across the redirect
  EXPECT_EQ(http.RedirectsSoFar, 0);
}

// With FollowRedirectCodesOnly, only 301, 302, 303, 307 and 308 with a
// Location are followed; any other status is what it says, Location or not,
// and a 3xx without a Location fails at once instead of asking again.
TEST(HttpExchangeTest, RedirectsOnlyForRedirectCodesWithALocation) {
  const struct {
    std::string reply;
    int code;  // 0: followed to "arrived"; -1: the body itself; else raised
  } cases[] = {
      {"HTTP/1.1 301 Moved\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", 0},
      {"HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", 0},
      {"HTTP/1.1 303 See Other\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", 0},
      {"HTTP/1.1 307 Temporary\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", 0},
      {"HTTP/1.1 308 Permanent\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", 0},
      {"HTTP/1.1 404 Not Found\r\nLocation: /next\r\nContent-Length: 4\r\n\r\ngone", 404},
      {"HTTP/1.1 200 OK\r\nLocation: /next\r\nContent-Length: 4\r\n\r\nhere", -1},
      {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n", 302},
      {"HTTP/1.1 300 Choices\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", 300},
      {"HTTP/1.1 305 Use Proxy\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", 305},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.substr(0, c.reply.find('\r')));
    Server server({{c.reply}, {Ok("arrived")}});
    TIdHTTP http;
    http.HandleRedirects = true;
    http.FollowRedirectCodesOnly = true;
    std::string outcome;
    try {
      outcome = http.GetBody(server.url("/start"));
    } catch (const EIdHTTPProtocolException& e) {
      outcome = std::to_string(e.ReplyCode());
    }
    if (c.code == 0) {
      EXPECT_EQ(outcome, "arrived");
      EXPECT_EQ(server.requests().size(), 2u);
    } else {
      EXPECT_EQ(outcome, c.code == -1 ? "here" : std::to_string(c.code));
      EXPECT_EQ(server.requests().size(), 1u);
    }
  }
}

TEST(HttpExchangeTest, RedirectMaximumEndsWithEmptyBody) {
  Server server({{"HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 4\r\n\r\nbody"}});
  TIdHTTP http;
  http.HandleRedirects = true;
  http.RedirectMaximum = 4;
  EXPECT_EQ(http.GetBody(server.url("/")), "");
  EXPECT_EQ(server.requests().size(), 4u);  // at most RedirectMaximum - 1 redirects followed
  EXPECT_EQ(http.ResponseCode(), 302);
}

TEST(HttpExchangeTest, KeepAliveUnderHttp11) {
  Server server({{Ok("one")},
                 {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\ntwo"},
                 {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 5\r\n\r\nthree"},
                 {Ok("four")}});
  TIdHTTP http;
  EXPECT_EQ(http.GetBody(server.url("/1")), "one");
  EXPECT_EQ(http.GetBody(server.url("/2")), "two");  // 1.0 reply keeps it under pv1_1
  EXPECT_TRUE(http.IsConnected());
  EXPECT_EQ(http.GetBody(server.url("/3")), "three");
  EXPECT_FALSE(http.IsConnected());
  EXPECT_EQ(http.Response().ServerVersion, 1);
  EXPECT_EQ(server.connections(), 1);
}

TEST(HttpExchangeTest, KeepAliveUnderHttp10) {
  Server server({{Ok("a"), true},
                 {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\n"
                  "Content-Length: 1\r\n\r\nb"}});
  TIdHTTP http;
  http.ProtocolVersion = pv1_0;
  EXPECT_EQ(http.GetBody(server.url("/")), "a");
  EXPECT_FALSE(http.IsConnected());
  EXPECT_EQ(http.GetBody(server.url("/")), "b");
  EXPECT_TRUE(http.IsConnected());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n\r\n")),
            "GET / HTTP/1.0\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.port()) +
                "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Quillon)");
  EXPECT_EQ(server.connections(), 2);
}

// The server closes a kept connection just as the next request comes: a GET
// is sent again on a new connection, a POST is not.
TEST(HttpExchangeTest, ClosedKeptConnectionIsRetriedOnce) {
  for (const TIdHTTPMethod second : {hmGet, hmPost}) {
    std::atomic<int> connection{0};
    TcpServer server([&](int fd) {
      if (connection++ == 0) {
        ReadRequest(fd);
        SendAll(fd, Ok("one"));
        ReadRequest(fd);  // taken, never answered
        return;
      }
      ReadRequest(fd);
      SendAll(fd, Ok("two"));
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    TIdHTTP http;
    EXPECT_EQ(http.GetBody(url), "one");
    TIdStringStream sink;
    TIdStringStream body;
    if (second == hmGet) {
      http.PerformRequest(hmGet, url, &sink, nullptr);
      EXPECT_EQ(sink.Take(), "two");
      EXPECT_EQ(server.accepted(), 2);
    } else {
      EXPECT_THROW(http.PerformRequest(hmPost, url, &sink, &body), EIdConnClosedGracefully);
    }
  }
}

TEST(HttpExchangeTest, StalledServerTimesOut) {
  std::atomic<bool> stop{false};
  TcpServer server([&](int fd) {
    ReadRequest(fd);
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
    for (int i = 0; i < 50 && !stop; ++i) ::poll(nullptr, 0, 20);
  });
  TIdHTTP http;
  http.ReadTimeout = 300;
  try {
    http.GetBody("http://127.0.0.1:" + std::to_string(server.port()) + "/");
    FAIL();
  } catch (const EIdReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Délai de lecture");
  }
  EXPECT_FALSE(http.IsConnected());
  stop = true;
}

TEST(HttpExchangeTest, CookiesSentBack) {
  Server server({{"HTTP/1.1 200 OK\r\nSet-Cookie: sid=42; path=/\r\n"
                  "set-cookie2: v2=x; Version=1; path=/\r\nContent-Length: 0\r\n\r\n"},
                 {Ok("b")}});
  TIdHTTP http;
  EXPECT_EQ(http.GetBody(server.url("/")), "");
  ASSERT_NE(http.CookieManager(), nullptr);
  EXPECT_EQ(http.GetBody(server.url("/page")), "b");
  const std::string second = server.requests().at(1);
  EXPECT_NE(
      second.find("User-Agent: Mozilla/3.0 (compatible; Quillon)\r\nCookie: v2=x; sid=42\r\n"),
      std::string::npos)
      << second;

  Server other({{"HTTP/1.1 200 OK\r\nSet-Cookie: sid=1; path=/\r\nContent-Length: 0\r\n\r\n"}});
  TIdHTTP noCookies;
  noCookies.AllowCookies = false;
  noCookies.GetBody(other.url("/"));
  EXPECT_EQ(noCookies.CookieManager(), nullptr);
}

TEST(HttpExchangeTest, MethodsAndCredentials) {
  Server server({{Ok("")}});
  TIdHTTP http;
  TIdMemoryStream body;
  body.Write("k=v", 3);
  http.PerformRequest(hmPost, "http://u:p@127.0.0.1:" + std::to_string(server.port()) + "/form",
                      nullptr, &body);
  EXPECT_EQ(http.Request().Username, "u");
  http.PerformRequest(hmDelete, server.url("/item"), nullptr, nullptr);
  http.Request().BasicAuthentication = true;
  http.PerformRequest(hmHead, server.url("/h"), nullptr, nullptr);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "POST /form HTTP/1.1");
  EXPECT_NE(requests[0].find("Content-Length: 3\r\n"), std::string::npos);
  EXPECT_EQ(requests[0].substr(requests[0].size() - 3), "k=v");
  EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
  EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "DELETE /item HTTP/1.1");
  EXPECT_NE(requests[2].find("Authorization: Basic dTpw\r\n"), std::string::npos) << requests[2];
}

// Responses that carry no body whatever their headers say: HEAD and 304
// return at once over a connection that stays open.
TEST(HttpExchangeTest, NoBodyResponses) {
  Server server({{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"},
                 {"HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n"},
                 {Ok("after")}});
  TIdHTTP http;
  http.ReadTimeout = 5000;
  const auto start = std::chrono::steady_clock::now();
  TIdStringStream sink;
  http.PerformRequest(hmHead, server.url("/h"), &sink, nullptr);
  EXPECT_EQ(sink.Size(), 0);
  EXPECT_EQ(http.Response().ContentLength(), 5);
  try {
    http.GetBody(server.url("/cached"));
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 304);
    EXPECT_EQ(e.ReplyBody, "");
  }
  EXPECT_EQ(http.GetBody(server.url("/next")), "after");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(server.connections(), 1);
}

TEST(HttpExchangeTest, RefusedBeforeConnecting) {
  const struct {
    TIdHTTPProtocolVersion version;
    TIdHTTPMethod method;
    const char* url;
    const char* message;
  } cases[] = {
      {pv1_1, hmGet, "https://127.0.0.1:1/", "Valeur IOHandler incorrecte"},
      {pv1_1, hmGet, "ftp://127.0.0.1/", ""},
      {pv1_0, hmDelete, "http://127.0.0.1:1/", "This request method is supported in HTTP 1.1"},
      {pv1_0, hmPut, "http://127.0.0.1:1/", "This request method is supported in HTTP 1.1"},
  };
  for (const auto& c : cases) {
    TIdHTTP http;
    http.ProtocolVersion = c.version;
    try {
      http.PerformRequest(c.method, c.url, nullptr, nullptr);
      ADD_FAILURE() << c.url;
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), c.message) << c.url;
    }
  }
  TIdHTTP http;
  EXPECT_THROW(http.GetBody("ftp://127.0.0.1/"), EIdUnknownProtocol);
}

TEST(HttpExchangeTest, BasicChallengeRetriedInProcess) {
  Server server({{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                  "Content-Length: 4\r\n\r\nnope"},
                 {Ok("secret")}});
  TIdHTTP http;
  http.HTTPOptions |= hoInProcessAuth;
  EXPECT_EQ(http.GetBody("http://user:pw@127.0.0.1:" + std::to_string(server.port()) + "/"),
            "secret");
  EXPECT_NE(server.requests().at(1).find("Authorization: Basic dXNlcjpwdw==\r\n"),
            std::string::npos);

  // A server that closes after every challenge is asked AuthRetries times.
  Server closing(
      {{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
        "Content-Length: 4\r\n\r\nnope",
        true}});
  TIdHTTP retrying;
  retrying.HTTPOptions |= hoInProcessAuth;
  EXPECT_THROW(retrying.GetBody("http://user:pw@127.0.0.1:" + std::to_string(closing.port()) + "/"),
               EIdHTTPProtocolException);
  EXPECT_EQ(closing.requests().size(), 4u);

  Server refuse(
      {{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
        "Content-Length: 4\r\n\r\nnope"}});
  TIdHTTP plain;  // no in-process retries: the challenge is an error
  try {
    plain.GetBody("http://user:pw@127.0.0.1:" + std::to_string(refuse.port()) + "/");
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 401);
    EXPECT_EQ(e.ReplyBody, "nope");
  }
}

// A URL that names another host without a port goes to its protocol's
// default port, not to the port of the previous target; so does an absolute
// redirect. (Nothing is expected to answer on port 80 of localhost: only
// where the client went is checked.)
TEST(HttpExchangeTest, UrlWithoutPortGoesToTheDefaultPort) {
  Server server({{Ok("first")}});
  TIdHTTP http;
  EXPECT_EQ(http.GetBody(server.url("/x")), "first");
  EXPECT_EQ(http.Port(), server.port());
  try {
    http.GetBody("http://localhost/y");
  } catch (const EIdException&) {
    // Refused (or answered) on port 80; either way not our server.
  }
  EXPECT_EQ(http.Port(), 80);
  EXPECT_EQ(http.CurrentUri().Port, "80");
  EXPECT_EQ(server.requests().size(), 1u);

  Server redirecting(
      {{"HTTP/1.1 302 Found\r\nLocation: http://localhost/next\r\n"
        "Content-Length: 0\r\n\r\n"}});
  TIdHTTP follower;
  follower.HandleRedirects = true;
  try {
    follower.GetBody(redirecting.url("/start"));
  } catch (const EIdException&) {
  }
  EXPECT_EQ(follower.Port(), 80);
  EXPECT_EQ(redirecting.requests().size(), 1u) << "the redirect must not come back here";
}

// A relative location whose query holds "://" is still relative, and a URL
// with an IPv6 literal in brackets reaches that address, the Host header
// keeping the brackets.
TEST(HttpExchangeTest, SchemesInQueriesAndBracketedAddresses) {
  Server server({{"HTTP/1.1 302 Found\r\nLocation: /next?to=https://elsewhere/\r\n"
                  "Content-Length: 0\r\n\r\n"},
                 {Ok("arrived")}});
  TIdHTTP http;
  http.HandleRedirects = true;
  EXPECT_EQ(http.GetBody(server.url("/start")), "arrived");
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1].rfind("GET /next?to=https://elsewhere/ HTTP/1.1\r\n", 0), 0u)
      << server.requests()[1];

  const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof a;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    ::close(listener);
    GTEST_SKIP() << "no IPv6 loopback";
  }
  const int port = ntohs(a.sin6_port);
  std::string head;
  std::thread v6([&] {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    head = ReadRequest(fd);
    SendAll(fd, Ok("over v6"));
    ::close(fd);
  });
  TIdHTTP overV6;
  std::string body;
  try {
    body = overV6.GetBody("http://[::1]:" + std::to_string(port) + "/v6");
  } catch (const std::exception& e) {
    body = e.what();
  }
  v6.join();
  ::close(listener);
  EXPECT_EQ(body, "over v6");
  EXPECT_NE(head.find("\r\nHost: [::1]:" + std::to_string(port) + "\r\n"), std::string::npos)
      << head;
  EXPECT_EQ(overV6.CurrentUri().Host, "[::1]");
}

// A body that nobody reads (no sink) must not stay in a kept connection,
// where the next exchange would read it as the start of its status line.
TEST(HttpExchangeTest, UnreadBodyIsNotLeftInAKeptConnection) {
  Server server({{Ok("hello")}, {Ok("two")}, {"HTTP/1.1 204 No Content\r\n\r\n"}, {Ok("four")}});
  TIdHTTP http;
  http.GetInto(server.url("/1"), nullptr);
  EXPECT_EQ(http.ResponseCode(), 200);
  EXPECT_EQ(http.GetBody(server.url("/2")), "two");
  EXPECT_EQ(server.connections(), 2) << "the connection with the unread body was not reused";
  // A response without a body leaves the connection usable.
  http.GetInto(server.url("/3"), nullptr);
  EXPECT_EQ(http.ResponseCode(), 204);
  EXPECT_EQ(http.GetBody(server.url("/4")), "four");
  EXPECT_EQ(server.connections(), 2);
}

// Request header lines are never folded: a Cookie value longer than the
// fold width goes out on one line.
TEST(HttpExchangeTest, LongCookieGoesOutOnOneLine) {
  std::string value;
  for (int i = 0; i < 150; ++i) value += "abcdef, ";
  value += "end";
  Server server(
      {{"HTTP/1.1 200 OK\r\nSet-Cookie: big=" + value + "; path=/\r\nContent-Length: 0\r\n\r\n"},
       {Ok("b")}});
  TIdHTTP http;
  EXPECT_EQ(http.GetBody(server.url("/")), "");
  EXPECT_EQ(http.GetBody(server.url("/page")), "b");
  const std::string second = server.requests().at(1);
  EXPECT_GT(value.size(), 1024u);
  EXPECT_NE(second.find("\r\nCookie: big=" + value + "\r\n"), std::string::npos) << second;
  EXPECT_EQ(second.find("\r\n "), std::string::npos) << "no continuation line";
}

}  // namespace
}  // namespace quillon
