// quillon-cli rdap against a world of its own on loopback: a bootstrap host
// and two RDAP servers, all nginx over TLS with certificates of a throw-away
// CA, their names connected to 127.0.0.1 by the lookup's test setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/rdap/rdap_lookup.h"
#include "net/socket/exceptions.h"
#include "tests/tls/tls_env.h"

namespace quillon {
namespace {

// After the domain example of RFC 9083 section 5.3.
std::string DomainDocument(const std::string& ldh, const std::string& unicode = "") {
  return R"({"objectClassName": "domain", "handle": "XXXX", "ldhName": ")" + ldh + "\"" +
         (unicode.empty() ? "" : ", \"unicodeName\": \"" + unicode + "\"") + R"(,
  "status": ["active", "client transfer prohibited"],
  "entities": [{"objectClassName": "entity", "roles": ["registrar"], "vcardArray": ["vcard",
    [["version", {}, "text", "4.0"], ["fn", {}, "text", "Example Registrar"]]]}],
  "events": [{"eventAction": "registration", "eventDate": "1990-12-31T23:59:59Z"},
             {"eventAction": "expiration", "eventDate": "2030-12-31T23:59:59Z"}],
  "nameservers": [{"objectClassName": "nameserver", "ldhName": "NS1.EXAMPLE.NET"},
                  {"objectClassName": "nameserver", "ldhName": "ns2.example.net"}],
  "secureDNS": {"delegationSigned": false}})";
}

// After the IP network example of RFC 9083 section 5.4.
std::string NetworkDocument(const std::string& start, const std::string& end) {
  return R"({"objectClassName": "ip network", "handle": "NET-1", "startAddress": ")" + start +
         R"(", "endAddress": ")" + end + R"(", "name": "TEST-NET", "status": ["active"],
  "entities": [{"roles": ["registrant"], "vcardArray": ["vcard", [["fn", {}, "text", "Doc Org"]]]}],
  "events": [{"eventAction": "last changed", "eventDate": "2020-01-01T00:00:00Z"}]})";
}

class RdapWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TlsNginx::Available() || test::Run("openssl version") != 0)
      GTEST_SKIP() << "needs /usr/sbin/nginx and the openssl tool";
    const std::string d = dir_.path();
    test::TestCa ca(d, "ca");
    ASSERT_TRUE(ca.ok());
    ASSERT_TRUE(ca.Issue("server", "DNS:bootstrap.test,DNS:rdap-a.test,DNS:rdap-b.test"));
    for (int& port : ports_) port = test::FreePort();
    const std::string root = d + "/www";
    const std::string a = "https://rdap-a.test:" + std::to_string(ports_[1]);
    const std::string b = "https://rdap-b.test:" + std::to_string(ports_[2]);
    const std::string servers =
        test::TlsServerBlock(ports_[0], d, "server", root + "/bootstrap",
                             "    location = /dns.json { add_header Cache-Control "
                             "\"public, max-age=600\"; }\n") +
        test::TlsServerBlock(
            ports_[1], d, "server", root + "/a",
            "    default_type application/rdap+json;\n"
            "    location = /rdap/domain/moved.example { return 301 " +
                b +
                "/rdap/domain/moved.example; }\n"
                "    location = /rdap/domain/loop.example { return 302 /rdap/domain/loop.example; "
                "}\n"
                "    location = /rdap/domain/near.example { absolute_redirect off; "
                "return 302 /rdap/domain/example.example; }\n"
                "    location = /rdap/domain/plain.example { return 302 http://rdap-b.test:" +
                std::to_string(ports_[2]) +
                "/rdap/domain/plain.example; }\n"
                "    location = /rdap/domain/lost.example { add_header Location " +
                b +
                "/rdap/domain/example.example always; return 404; }\n"
                "    location = /rdap/domain/badport.example { return 302 "
                "https://rdap-b.test:abc/rdap/domain/example.example; }\n"
                "    location = /rdap/domain/fails.example { return 500; }\n") +
        test::TlsServerBlock(ports_[2], d, "server", root + "/b",
                             "    default_type application/rdap+json;\n");
    nginx_ = std::make_unique<test::TlsNginx>(d, servers, std::vector<int>(ports_, ports_ + 3));
    ASSERT_TRUE(nginx_->ready()) << nginx_->errorLog();
    caFile_ = std::make_unique<test::ScopedEnv>("SSL_CERT_FILE", ca.pem());

    WriteDns(a);
    test::WriteTextFile(root + "/bootstrap/ipv4.json",
                        R"({"services": [[["192.0.2.0/24"], [")" + a + R"(/rdap/"]]]})");
    test::WriteTextFile(root + "/bootstrap/ipv6.json",
                        R"({"services": [[["2001:db8::/32"], [")" + b + R"(/rdap"]]]})");
    test::WriteTextFile(root + "/a/rdap/domain/example.example", DomainDocument("EXAMPLE.EXAMPLE"));
    test::WriteTextFile(root + "/b/rdap/domain/example.example", DomainDocument("example.example"));
    test::WriteTextFile(root + "/a/rdap/domain/xn--bcher-kva.example",
                        DomainDocument("xn--bcher-kva.example", "bücher.example"));
    test::WriteTextFile(root + "/b/rdap/domain/moved.example", DomainDocument("moved.example"));
    test::WriteTextFile(root + "/a/rdap/domain/odd.example",
                        R"({"ldhName": ["odd"], "handle": "ODD-1", "status": "active",
  "entities": {"roles": ["registrar"]}, "events": [{"eventAction": "expiration"}],
  "nameservers": [{"ldhName": 1}, {"ldhName": "NS.ODD.EXAMPLE"}], "secureDNS": true})");
    test::WriteTextFile(root + "/a/rdap/domain/broken.example", "<html>oops</html>");
    test::WriteTextFile(root + "/a/rdap/ip/192.0.2.10",
                        NetworkDocument("192.0.2.0", "192.0.2.255"));
    test::WriteTextFile(root + "/b/rdap/ip/2001:db8::1",
                        NetworkDocument("2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"));

    options_.bootstrapBase = "https://bootstrap.test:" + std::to_string(ports_[0]) + "/";
    options_.cacheDir = d + "/cache";
    options_.hostAddresses = {{"bootstrap.test", "127.0.0.1"},
                              {"rdap-a.test", "127.0.0.1"},
                              {"rdap-b.test", "127.0.0.1"}};
    options_.clock = [this] { return now_; };
    options_.requestTimeoutMs = 5000;
  }

  void WriteDns(const std::string& exampleServer,
                const std::string& stallServer = "https://x.test/") {
    test::WriteTextFile(
        nginx_->root() + "/bootstrap/dns.json",
        R"({"version": "1.0", "services": [[["example"], [")" + exampleServer +
            R"(/rdap/"]], [["other"], ["https://rdap-b.test:1/"]], [["stall"], [")" + stallServer +
            R"("]], [["unresolved"], ["https://nowhere.test/"]]]})");
  }

  // The lines written and the exit status.
  std::pair<std::string, int> Rdap(const std::string& name, bool json = false) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    TRdapOptions options = options_;
    options.json = json;
    const int status = RunRdap(name, options, out);
    std::fclose(out);
    std::string lines(text, size);
    std::free(text);
    return {lines, status};
  }

  std::string A() const { return "https://rdap-a.test:" + std::to_string(ports_[1]); }
  std::string B() const { return "https://rdap-b.test:" + std::to_string(ports_[2]); }

  test::ScratchDir dir_{"quillon-rdap-"};
  int ports_[3] = {};
  std::unique_ptr<test::TlsNginx> nginx_;
  std::unique_ptr<test::ScopedEnv> caFile_;
  TRdapOptions options_;
  int64_t now_ = 1'800'000'000;
};

TEST_F(RdapWorld, DomainsAndNetworks) {
  const auto domain = Rdap("example.example");
  EXPECT_EQ(domain.second, 0);
  EXPECT_EQ(domain.first,
            "Domain: EXAMPLE.EXAMPLE\nHandle: XXXX\nStatus: active, client transfer prohibited\n"
            "Registrar: Example Registrar\nRegistered: 1990-12-31T23:59:59Z\n"
            "Expires: 2030-12-31T23:59:59Z\nName servers: ns1.example.net, ns2.example.net\n"
            "DNSSEC: unsigned\nRDAP server: " +
                A() + "/rdap/domain/example.example\n");

  // An international name asks for its A-label, typed either way.
  for (const char* typed : {"xn--bcher-kva.example", "bücher.example"}) {
    const auto idn = Rdap(typed);
    EXPECT_EQ(idn.second, 0) << typed;
    EXPECT_EQ(idn.first.substr(0, idn.first.find('\n')), "Domain: xn--bcher-kva.example");
    EXPECT_NE(idn.first.find("RDAP server: " + A() + "/rdap/domain/xn--bcher-kva.example\n"),
              std::string::npos)
        << typed;
  }

  const auto v4 = Rdap("192.0.2.10");
  EXPECT_EQ(v4.second, 0);
  EXPECT_EQ(v4.first,
            "Network: 192.0.2.0 - 192.0.2.255\nName: TEST-NET\nHandle: NET-1\nStatus: active\n"
            "Registrant: Doc Org\nLast changed: 2020-01-01T00:00:00Z\nRDAP server: " +
                A() + "/rdap/ip/192.0.2.10\n");
  const auto v6 = Rdap("2001:DB8:0::1");
  EXPECT_EQ(v6.second, 0);
  EXPECT_EQ(v6.first.substr(0, v6.first.find('\n')),
            "Network: 2001:db8:: - 2001:db8:ffff:ffff:ffff:ffff:ffff:ffff");
  EXPECT_NE(v6.first.find("RDAP server: " + B() + "/rdap/ip/2001:db8::1\n"), std::string::npos);

  // --json: the document as served.
  const auto json = Rdap("example.example", true);
  EXPECT_EQ(json.second, 0);
  EXPECT_EQ(json.first, DomainDocument("EXAMPLE.EXAMPLE") + "\n");
}

TEST_F(RdapWorld, RedirectsOddDocumentsAndFailures) {
  const auto moved = Rdap("moved.example");
  EXPECT_EQ(moved.second, 0);
  EXPECT_NE(moved.first.find("Domain: moved.example\n"), std::string::npos);
  EXPECT_NE(moved.first.find("RDAP server: " + B() + "/rdap/domain/moved.example\n"),
            std::string::npos);

  // A location without host stays on https, on the same server.
  const auto near = Rdap("near.example");
  EXPECT_EQ(near.second, 0) << near.first;
  EXPECT_NE(near.first.find("RDAP server: " + A() + "/rdap/domain/example.example\n"),
            std::string::npos)
      << near.first;

  EXPECT_EQ(Rdap("odd.example"),
            std::make_pair(std::string("Handle: ODD-1\nName servers: ns.odd.example\n"
                                       "RDAP server: ") +
                               A() + "/rdap/domain/odd.example\n",
                           0));
  const std::pair<std::string, int> failures[] = {
      {Rdap("absent.example").first, 1}, {Rdap("foo.nowhere").first, 1},
      {Rdap("loop.example").first, 1},   {Rdap("plain.example").first, 1},
      {Rdap("broken.example").first, 1}, {Rdap("x.other").first, 1},
      {Rdap("a/../b.example").first, 1}, {Rdap("bü cher.example").first, 1},
  };
  const std::string expected[] = {
      "Error RDAP: not found\n",
      "Error RDAP: no RDAP service for foo.nowhere\n",
      "Error RDAP: too many redirects, the last from rdap-a.test\n",
      "Error RDAP: redirect to a URL that is not https: http://rdap-b.test:" +
          std::to_string(ports_[2]) + "/rdap/domain/plain.example\n",
      "Error RDAP: invalid JSON document from rdap-a.test\n",
      // A service that does not answer.
      "Error RDAP: cannot connect to rdap-b.test: connection refused\n",
      // Nothing but a host name's characters goes into the URL, nor a name
      // that cannot become A-labels.
      "Error RDAP: no RDAP service for a/../b.example\n",
      "Error RDAP: no RDAP service for bü cher.example\n",
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    if (!expected[i].empty()) {
      EXPECT_EQ(failures[i].first, expected[i]);
    }
    EXPECT_EQ(failures[i].first.rfind("Error RDAP: ", 0), 0u) << failures[i].first;
    EXPECT_EQ(std::count(failures[i].first.begin(), failures[i].first.end(), '\n'), 1);
  }
}

// Every failure is one plain English line naming what failed where; no
// text of the network layers' exceptions reaches it. A 404 carrying a
// Location is a 404.
TEST_F(RdapWorld, FailuresArePlainEnglishNamingTheHost) {
  options_.resolveHost = [](const std::string& host) -> std::string {
    if (host == "nowhere.test")
      throw EIdSocketError(11002, "Erreur de socket # 11002\r\nServeur de noms indisponible");
    throw EIdSocketError(11001, "Erreur de socket # 11001\r\nHôte non trouvé.");
  };
  const std::pair<const char*, std::string> cases[] = {
      {"a.unresolved", "cannot resolve nowhere.test: temporary failure in name resolution"},
      {"x.other", "cannot connect to rdap-b.test: connection refused"},
      {"lost.example", "not found"},
      {"badport.example",
       "redirect from rdap-a.test to an unusable URL: "
       "https://rdap-b.test:abc/rdap/domain/example.example"},
      {"fails.example", "rdap-a.test answered 500 Internal Server Error"},
      {"broken.example", "invalid JSON document from rdap-a.test"},
  };
  for (const auto& [name, line] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Rdap(name), std::make_pair("Error RDAP: " + line + "\n", 1));
  }
  // The bootstrap host itself cannot be resolved.
  options_.hostAddresses.erase("bootstrap.test");
  options_.cacheDir.clear();
  EXPECT_EQ(Rdap("example.example").first,
            "Error RDAP: cannot resolve bootstrap.test: host not found\n");
}

// Records the resolutions it is asked for and answers only when released:
// a resolver that hangs, as getaddrinfo can for many seconds.
class HangingResolver {
 public:
  std::function<std::string(const std::string&)> Hook() {
    return [state = state_](const std::string&) -> std::string {
      ++state->active;
      while (!state->release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      --state->active;
      return "127.0.0.1";
    };
  }
  ~HangingResolver() {
    state_->release = true;
    for (int i = 0; i < 400 && state_->active.load() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  bool Asked() const { return state_->active.load() > 0; }

 private:
  struct State {
    std::atomic<bool> release{false};
    std::atomic<int> active{0};
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The time limit of a request covers the resolution of its host name.
TEST_F(RdapWorld, ResolutionCountsAgainstTheTimeLimit) {
  HangingResolver resolver;
  options_.resolveHost = resolver.Hook();
  options_.requestTimeoutMs = 400;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Rdap("a.unresolved"),
            std::make_pair(
                std::string("Error RDAP: no complete answer from nowhere.test within 400 ms\n"), 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

// Ctrl-C in a list: a lookup ends at once in any of its waits (resolution,
// a stalled server) and writes nothing more.
TEST_F(RdapWorld, InterruptedLookupWritesNothing) {
  std::atomic<bool> interrupted{true};
  options_.interrupted = &interrupted;
  EXPECT_EQ(Rdap("example.example"), std::make_pair(std::string(), 1));

  test::TcpServer stalled([](int fd) { (void)test::RecvUntilClose(fd, 5000); });
  WriteDns(A(), "https://rdap-a.test:" + std::to_string(stalled.port()) + "/");
  HangingResolver resolver;
  options_.resolveHost = resolver.Hook();
  options_.requestTimeoutMs = 5000;
  for (const char* name : {"slow.stall", "a.unresolved"}) {
    SCOPED_TRACE(name);
    interrupted = false;
    std::thread ctrlC([&interrupted] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      interrupted = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Rdap(name), std::make_pair(std::string(), 1));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    ctrlC.join();
  }
  EXPECT_TRUE(resolver.Asked());
}

TEST_F(RdapWorld, StalledServiceEndsAtTheTimeLimit) {
  // A service that accepts and never answers, in the handshake or after it.
  test::TcpServer stalled([](int fd) { (void)test::RecvUntilClose(fd, 5000); });
  WriteDns(A(), "https://rdap-a.test:" + std::to_string(stalled.port()) + "/");
  options_.requestTimeoutMs = 700;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Rdap("slow.stall"),
            std::make_pair(
                std::string("Error RDAP: no complete answer from rdap-a.test within 700 ms\n"), 1));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_LT(ms, 3000);
}

TEST_F(RdapWorld, DocumentsOverTheSizeLimitAreRefused) {
  test::WriteTextFile(
      nginx_->root() + "/a/rdap/domain/big.example",
      "{\"ldhName\": \"big.example\", \"remarks\": \"" + std::string(200 * 1024, 'x') + "\"}");
  options_.maxDocument = 100 * 1024;
  const auto big = Rdap("big.example");
  EXPECT_EQ(big.second, 1);
  EXPECT_EQ(big.first, "Error RDAP: answer from rdap-a.test larger than 100 KiB\n");
  EXPECT_EQ(Rdap("example.example").second, 0);
}

TEST_F(RdapWorld, BootstrapCachedForItsMaxAge) {
  EXPECT_NE(Rdap("example.example").first.find("RDAP server: " + A()), std::string::npos);
  // The registry moves the zone to the other server; the cache still says A.
  WriteDns(B());
  now_ += 599;
  EXPECT_NE(Rdap("example.example").first.find("RDAP server: " + A()), std::string::npos);
  // After max-age=600 it is fetched again.
  now_ += 2;
  EXPECT_NE(Rdap("example.example").first.find("RDAP server: " + B()), std::string::npos);

  // A damaged cache file is fetched again too.
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(options_.cacheDir))
    files.push_back(entry.path().string());
  ASSERT_EQ(files.size(), 1u);
  WriteDns(A());
  test::WriteTextFile(files[0], "quillon-rdap-cache 9999999999\n{not json");
  EXPECT_NE(Rdap("example.example").first.find("RDAP server: " + A()), std::string::npos);

  // Without max-age a registry is kept a day.
  EXPECT_EQ(Rdap("192.0.2.10").second, 0);
  std::filesystem::remove(nginx_->root() + "/bootstrap/ipv4.json");
  now_ += 86399;
  EXPECT_EQ(Rdap("192.0.2.10").second, 0);
  now_ += 2;
  EXPECT_EQ(Rdap("192.0.2.10").first, "Error RDAP: bootstrap.test answered 404 Not Found\n");

  // No cache at all still works.
  options_.cacheDir.clear();
  EXPECT_EQ(Rdap("example.example").second, 0);
}

TEST_F(RdapWorld, CertificatesAreVerified) {
  // Trusting another CA: the bootstrap host is refused and named.
  test::TestCa other(dir_.path(), "other");
  ASSERT_TRUE(other.ok());
  test::ScopedEnv foreign("SSL_CERT_FILE", other.pem());
  EXPECT_EQ(Rdap("example.example").first,
            "Error RDAP: certificate verify failed for bootstrap.test: unable to get local issuer "
            "certificate\n");
  // A base URL that is not https is refused before anything is sent.
  options_.bootstrapBase = "http://bootstrap.test:" + std::to_string(ports_[0]) + "/";
  EXPECT_EQ(Rdap("example.example").first, "Error RDAP: the bootstrap URL must be https\n");
}

}  // namespace
}  // namespace quillon
