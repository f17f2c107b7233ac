// quillon-cli rdap against a world of its own on loopback: a bootstrap host
// and two RDAP servers, all nginx over TLS with certificates of a throw-away
// CA, their names connected to 127.0.0.1 by the lookup's test setting.
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <thread>

#include "app/rdap/rdap_lookup.h"
#include "app/whois/whois_follow.h"
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

// An abuse desk, as registries nest it under the registrar or registrant.
constexpr const char* kAbuseEntity = R"(, "entities": [{"roles": ["abuse"], "vcardArray": ["vcard",
    [["fn", {}, "text", "Abuse Desk"], ["tel", {}, "uri", "tel:+1.5555550100"],
     ["email", {}, "text", "abuse@doc.test"]]]}])";

// After the IP network example of RFC 9083 section 5.4.
std::string NetworkDocument(const std::string& start, const std::string& end,
                            const std::string& registrantEntities = "") {
  return R"({"objectClassName": "ip network", "handle": "NET-1", "startAddress": ")" + start +
         R"(", "endAddress": ")" + end + R"(", "name": "TEST-NET", "status": ["active"],
  "entities": [{"roles": ["registrant"], "vcardArray": ["vcard", [["fn", {}, "text", "Doc Org"]]])" +
         registrantEntities + R"(}],
  "events": [{"eventAction": "last changed", "eventDate": "2020-01-01T00:00:00Z"}]})";
}

// After the autnum example of RFC 9083 section 5.5.
std::string AutnumDocument(uint32_t start, uint32_t end) {
  return R"({"objectClassName": "autnum", "handle": "AS)" + std::to_string(start) +
         R"(", "startAutnum": )" + std::to_string(start) + R"(, "endAutnum": )" +
         std::to_string(end) + R"(, "name": "DOC-AS", "status": ["active"],
  "entities": [{"roles": ["registrant"], "vcardArray": ["vcard", [["fn", {}, "text", "Doc Org"]]])" +
         kAbuseEntity + R"(}],
  "events": [{"eventAction": "registration", "eventDate": "2009-06-01T00:00:00Z"},
             {"eventAction": "last changed", "eventDate": "2021-03-04T05:06:07Z"}]})";
}

// The registrar's own record of a domain: the registrar with its abuse desk.
std::string RegistrarDocument() {
  return R"({"objectClassName": "domain", "handle": "2336799_DOMAIN_COM-VRSN",
  "ldhName": "withregistrar.example", "status": ["client transfer prohibited"],
  "entities": [{"roles": ["registrar"], "vcardArray": ["vcard", [["fn", {}, "text", "Real Registrar Ltd"]]])" +
         std::string(kAbuseEntity) + R"(}],
  "events": [{"eventAction": "registration", "eventDate": "1995-08-14T04:00:00Z"},
             {"eventAction": "expiration", "eventDate": "2031-08-13T04:00:00Z"}],
  "nameservers": [{"ldhName": "ns1.registrar.test"}]})";
}

// `document` with a "links" member.
std::string WithLinks(std::string document, const std::string& links) {
  document.insert(document.rfind('}'), ", \"links\": " + links);
  return document;
}

class RdapWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TlsNginx::Available() || test::Run("openssl version") != 0)
      GTEST_SKIP() << "needs /usr/sbin/nginx and the openssl tool";
    const std::string d = dir_.path();
    test::TestCa ca(d, "ca");
    ASSERT_TRUE(ca.ok());
    ASSERT_TRUE(
        ca.Issue("server", "DNS:bootstrap.test,DNS:rdap-a.test,DNS:rdap-b.test,DNS:rdap-c.test"));
    for (int& port : ports_) port = test::FreePort();
    const std::string root = d + "/www";
    const std::string a = "https://rdap-a.test:" + std::to_string(ports_[1]);
    const std::string b = "https://rdap-b.test:" + std::to_string(ports_[2]);
    const std::string servers =
        test::TlsServerBlock(ports_[0], d, "server", root + "/bootstrap",
                             "    location = /dns.json { add_header Cache-Control "
                             "\"public, max-age=600\"; }\n"
                             "    location /slow/ { limit_rate 1k; access_log " +
                                 d + "/slow.log; }\n") +
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

    // Registry answers that link to registrars: followed, or not, by kind.
    const std::string self = R"({"rel": "self", "type": "application/rdap+json", "href": ")";
    const std::string related = R"({"rel": "related", "type": "application/rdap+json", "href": ")";
    const std::string page = R"({"rel": "related", "type": "text/html", "href": ")";
    const auto linked = [&](const std::string& name, const std::string& links) {
      test::WriteTextFile(root + "/a/rdap/domain/" + name,
                          WithLinks(DomainDocument(name), "[" + links + "]"));
    };
    const std::string httpB = "http://rdap-b.test:" + std::to_string(ports_[2]);
    linked("withregistrar.example",
           self + a + "/rdap/domain/withregistrar.example\"}, " + page + b +
               "/whois.html\"}, " + related + httpB + "/rdap/domain/withregistrar.example\"}, " +
               related + b + "/rdap/domain/withregistrar.example\"}, " + related + b +
               "/rdap/domain/second.example\"}");
    test::WriteTextFile(root + "/b/rdap/domain/withregistrar.example", RegistrarDocument());
    linked("registrardown.example",
           related + "https://rdap-b.test:1/rdap/domain/registrardown.example\"}");
    linked("registrarabsent.example", related + b + "/rdap/domain/registrarabsent.example\"}");
    linked("httplink.example", related + httpB + "/rdap/domain/withregistrar.example\"}");
    linked("othertype.example", page + b + "/rdap/domain/withregistrar.example\"}");
    linked("selflink.example", related + "https://RDAP-A.test:" + std::to_string(ports_[1]) +
                                   "/rdap/domain/selflink.example\"}");

    // AS numbers in two registries, a network with an abuse contact.
    test::WriteTextFile(root + "/bootstrap/asn.json",
                        R"({"services": [[["64496-64499"], [")" + a +
                            R"(/rdap/"]], [["64500-64511", "65536"], [")" + b + R"(/rdap/"]]]})");
    test::WriteTextFile(root + "/a/rdap/autnum/64497", AutnumDocument(64496, 64499));
    test::WriteTextFile(root + "/b/rdap/autnum/64500", AutnumDocument(64500, 64500));
    test::WriteTextFile(root + "/a/rdap/ip/192.0.2.20",
                        NetworkDocument("192.0.2.0", "192.0.2.255", kAbuseEntity));

    options_.bootstrapBase = "https://bootstrap.test:" + std::to_string(ports_[0]) + "/";
    options_.cacheDir = d + "/cache";
    options_.hostAddresses = {{"bootstrap.test", "127.0.0.1"},
                              {"rdap-a.test", "127.0.0.1"},
                              {"rdap-b.test", "127.0.0.1"}};
    options_.clock = [this] { return now_; };
    options_.requestTimeoutMs = 5000;
  }

  void WriteDns(const std::string& exampleServer,
                const std::string& stallServer = "https://x.test/",
                const std::string& moreEntries = "") {
    test::WriteTextFile(
        nginx_->root() + "/bootstrap/dns.json",
        R"({"version": "1.0", "services": [[["example"], [")" + exampleServer +
            R"(/rdap/"]], [["other"], ["https://rdap-b.test:1/"]], [["stall"], [")" + stallServer +
            R"("]], [["unresolved"], ["https://nowhere.test/"]])" + moreEntries + "]}");
  }

  static std::string ReadFile(const std::string& path) {
    std::string text;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
      char buffer[4096];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, n);
      std::fclose(in);
    }
    return text;
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
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
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
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    ctrlC.join();
  }
  EXPECT_TRUE(resolver.Asked());
}

// The registry's block, an empty line, then the registrar's, each with its
// own "RDAP server:" line; links of another kind are passed over.
TEST_F(RdapWorld, RegistryThenRegistrar) {
  const std::string registry =
      "Domain: withregistrar.example\nHandle: XXXX\nStatus: active, client transfer prohibited\n"
      "Registrar: Example Registrar\nRegistered: 1990-12-31T23:59:59Z\n"
      "Expires: 2030-12-31T23:59:59Z\nName servers: ns1.example.net, ns2.example.net\n"
      "DNSSEC: unsigned\nRDAP server: " +
      A() + "/rdap/domain/withregistrar.example\n";
  const std::string registrar =
      "Domain: withregistrar.example\nHandle: 2336799_DOMAIN_COM-VRSN\n"
      "Status: client transfer prohibited\nRegistrar: Real Registrar Ltd\n"
      "Abuse: abuse@doc.test\nRegistered: 1995-08-14T04:00:00Z\n"
      "Expires: 2031-08-13T04:00:00Z\nName servers: ns1.registrar.test\nRDAP server: " +
      B() + "/rdap/domain/withregistrar.example\n";
  EXPECT_EQ(Rdap("withregistrar.example"), std::make_pair(registry + "\n" + registrar, 0));

  // Each case: the registry's block, then what follows it.
  const auto block = [&](const std::string& name) {
    std::string text = registry;
    for (size_t at; (at = text.find("withregistrar")) != std::string::npos;)
      text.replace(at, 13, name.substr(0, name.find('.')));
    return text;
  };
  const struct {
    const char* name;
    std::string after;
  } cases[] = {
      // A failing registrar leaves the registry's answer and the status.
      {"registrardown.example",
       "\nError RDAP: registrar service: cannot connect to rdap-b.test: connection refused\n"},
      {"registrarabsent.example",
       "\nError RDAP: registrar service: rdap-b.test answered 404 Not Found\n"},
      // An http link, a link of another type, a link back to the same URL.
      {"httplink.example", ""},
      {"othertype.example", ""},
      {"selflink.example", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Rdap(c.name), std::make_pair(block(c.name) + c.after, 0));
  }

  options_.noFollow = true;
  EXPECT_EQ(Rdap("withregistrar.example"), std::make_pair(registry, 0));
  // --json: both documents as served, each followed by a newline.
  options_.noFollow = false;
  const auto json = Rdap("withregistrar.example", true);
  EXPECT_EQ(json.second, 0);
  EXPECT_EQ(json.first, ReadFile(nginx_->root() + "/a/rdap/domain/withregistrar.example") + "\n" +
                            RegistrarDocument() + "\n");
  options_.noFollow = true;
  EXPECT_EQ(Rdap("withregistrar.example", true).first,
            ReadFile(nginx_->root() + "/a/rdap/domain/withregistrar.example") + "\n");
}

TEST_F(RdapWorld, AsNumbersAndAbuseContacts) {
  EXPECT_EQ(Rdap("AS64497"),
            std::make_pair("AS numbers: 64496 - 64499\nName: DOC-AS\nHandle: AS64496\n"
                           "Status: active\nRegistrant: Doc Org\nAbuse: abuse@doc.test\n"
                           "Registered: 2009-06-01T00:00:00Z\nLast changed: 2021-03-04T05:06:07Z\n"
                           "RDAP server: " +
                               A() + "/rdap/autnum/64497\n",
                           0));
  const auto other = Rdap("as64500");
  EXPECT_EQ(other.second, 0);
  EXPECT_EQ(other.first.substr(0, other.first.find('\n')), "AS number: 64500");
  EXPECT_NE(other.first.find("\nRDAP server: " + B() + "/rdap/autnum/64500\n"), std::string::npos)
      << other.first;
  EXPECT_EQ(Rdap("AS4200000000"),
            std::make_pair(std::string("Error RDAP: no RDAP service for AS4200000000\n"), 1));
  EXPECT_EQ(Rdap("AS64510"), std::make_pair(std::string("Error RDAP: not found\n"), 1));

  EXPECT_EQ(Rdap("192.0.2.20"),
            std::make_pair("Network: 192.0.2.0 - 192.0.2.255\nName: TEST-NET\nHandle: NET-1\n"
                           "Status: active\nRegistrant: Doc Org\nAbuse: abuse@doc.test\n"
                           "Last changed: 2020-01-01T00:00:00Z\nRDAP server: " +
                               A() + "/rdap/ip/192.0.2.20\n",
                           0));
  // Addresses without a service keep their line.
  EXPECT_EQ(Rdap("198.51.100.1"),
            std::make_pair(std::string("Error RDAP: no RDAP service for 198.51.100.1\n"), 1));
}

// A top-level domain without RDAP: one line, then exactly what whois
// --follow prints for the name, with its status.
TEST_F(RdapWorld, WhoisWhereThereIsNoRdap) {
  TWhoisFollowSettings whois;
  whois.Query = [](const std::string& host, int, const std::string& query) -> std::string {
    if (host == "whois.iana.org") return "domain: " + query + "\r\nrefer: whois.nic.zz\r\n";
    if (query == "down.zz") throw EIdException("refused");
    return "Domain Name: " + query + "\r\nRegistrar: Zed\r\n";
  };
  options_.whoisFallback = [&whois](const std::string& name, std::FILE* out) {
    return RunWhoisFollow(name, out, whois);
  };
  for (const char* name : {"example.zz", "down.zz", "sub.example.zz."}) {
    SCOPED_TRACE(name);
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    const int status = RunWhoisFollow(name, out, whois);
    std::fclose(out);
    const std::string direct(text, size);
    std::free(text);
    EXPECT_NE(direct.find("% whois server: whois.nic.zz\n"), std::string::npos) << direct;
    EXPECT_EQ(Rdap(name), std::make_pair("% no RDAP service for .zz, whois instead\n" + direct,
                                         status));
  }
  EXPECT_EQ(Rdap("down.zz").second, 1);
  // Addresses and AS numbers have no whois fallback; a bootstrap file that
  // cannot be fetched is still one line naming its host.
  EXPECT_EQ(Rdap("AS1").first, "Error RDAP: no RDAP service for AS1\n");
  std::filesystem::remove(nginx_->root() + "/bootstrap/dns.json");
  options_.cacheDir.clear();
  EXPECT_EQ(Rdap("example.zz"),
            std::make_pair(std::string("Error RDAP: bootstrap.test answered 404 Not Found\n"), 1));
}

// A TLS server of the test's own: each connection carries one request,
// answered by `reply(path, times asked before)`, then a close_notify.
class ScriptedTlsServer {
 public:
  using Reply = std::function<std::string(const std::string& path, int asked)>;
  ScriptedTlsServer(std::string dir, Reply reply)
      : dir_(std::move(dir)), reply_(std::move(reply)), server_([this](int fd) { Serve(fd); }) {}
  int port() const { return server_.port(); }

 private:
  void Serve(int fd) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(ctx, (dir_ + "/server.pem").c_str());
    SSL_CTX_use_PrivateKey_file(ctx, (dir_ + "/server.key").c_str(), SSL_FILETYPE_PEM);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
      std::string head;
      char buffer[4096];
      while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) break;
        head.append(buffer, static_cast<size_t>(n));
      }
      const size_t start = head.find(' ') + 1;
      const std::string path = head.substr(start, head.find(' ', start) - start);
      int asked;
      {
        std::lock_guard<std::mutex> guard(lock_);
        asked = asked_[path]++;
      }
      const std::string answer = reply_(path, asked);
      SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
      SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
  }

  std::string dir_;
  Reply reply_;
  std::mutex lock_;
  std::map<std::string, int> asked_;
  test::TcpServer server_;  // last: stops before the rest goes
};

std::string HttpDateIn(int seconds) {
  const std::time_t at = std::time(nullptr) + seconds;
  std::tm tm{};
  ::gmtime_r(&at, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

// 429 with a Retry-After of at most 10 s (seconds or a date), within the
// request's time: waited out and asked once more. Longer, or twice: failed.
TEST_F(RdapWorld, RateLimitedAnswersRetriedOnceWhenSoon) {
  const std::string document = DomainDocument("short.busy");
  ScriptedTlsServer busy(dir_.path(), [&](const std::string& path, int asked) {
    const auto tooMany = [](const std::string& after) {
      return "HTTP/1.1 429 Too Many Requests\r\nRetry-After: " + after +
             "\r\nContent-Length: 4\r\nConnection: close\r\n\r\nslow";
    };
    std::string retryAfter = "1";
    if (path == "/domain/date.busy") retryAfter = HttpDateIn(2);
    if (path == "/domain/long.busy") retryAfter = "11";
    if (path == "/domain/later.busy") retryAfter = "5";
    if (asked == 0 || path == "/domain/twice.busy") return tooMany(retryAfter);
    return "HTTP/1.1 200 OK\r\nContent-Type: application/rdap+json\r\nContent-Length: " +
           std::to_string(document.size()) + "\r\nConnection: close\r\n\r\n" + document;
  });
  options_.hostAddresses["rdap-c.test"] = "127.0.0.1";
  const std::string c = "https://rdap-c.test:" + std::to_string(busy.port());
  WriteDns(A(), "https://x.test/", R"(, [["busy"], [")" + c + R"(/"]])");
  options_.requestTimeoutMs = 4000;
  // Bounds loose enough for a loaded machine; a wait that should not happen
  // would take 5 s or more.
  const struct {
    const char* name;
    std::string line;  // empty: the document's block
    int minMs;
    int maxMs;
  } cases[] = {
      {"short.busy", "", 900, 3500},
      {"date.busy", "", 900, 3900},
      {"long.busy", "Error RDAP: rate limited by rdap-c.test (retry after 11 s)\n", 0, 2500},
      // More than the 4 s left of the request.
      {"later.busy", "Error RDAP: rate limited by rdap-c.test (retry after 5 s)\n", 0, 2500},
      {"twice.busy", "Error RDAP: rate limited by rdap-c.test (retry after 1 s)\n", 900, 3500},
  };
  for (const auto& c2 : cases) {
    SCOPED_TRACE(c2.name);
    const auto start = std::chrono::steady_clock::now();
    const auto result = Rdap(c2.name);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (c2.line.empty()) {
      EXPECT_EQ(result.second, 0);
      EXPECT_NE(result.first.find("RDAP server: " + c + "/domain/" + c2.name + "\n"),
                std::string::npos)
          << result.first;
    } else {
      EXPECT_EQ(result, std::make_pair(c2.line, 1));
    }
    EXPECT_GE(ms, c2.minMs);
    EXPECT_LE(ms, c2.maxMs);
  }
}

// Lookups running at once (a list's workers) with a cold cache fetch each
// bootstrap file once; the others wait for that fetch.
TEST_F(RdapWorld, ConcurrentLookupsFetchTheBootstrapOnce) {
  // The registry comes slowly (1 KiB/s), so that every lookup asks while
  // the first fetch is under way.
  std::string dns = R"({"services": [[["example"], [")" + A() + R"(/rdap/"]]]})";
  dns.insert(dns.size() - 1, std::string(1500, ' '));
  test::WriteTextFile(nginx_->root() + "/bootstrap/slow/dns.json", dns);
  options_.bootstrapBase = "https://bootstrap.test:" + std::to_string(ports_[0]) + "/slow/";
  std::vector<std::pair<std::string, int>> results(16);
  std::vector<std::thread> workers;
  for (size_t i = 0; i < results.size(); ++i)
    workers.emplace_back([this, i, &results] {
      results[i] = Rdap(i % 2 == 0 ? "example.example" : "absent" + std::to_string(i) + ".example");
    });
  for (std::thread& t : workers) t.join();
  for (size_t i = 0; i < results.size(); ++i) {
    SCOPED_TRACE(i);
    if (i % 2 == 0)
      EXPECT_EQ(results[i].first.substr(0, 24), "Domain: EXAMPLE.EXAMPLE\n");
    else
      EXPECT_EQ(results[i], std::make_pair(std::string("Error RDAP: not found\n"), 1));
  }
  const std::string log = ReadFile(dir_.path() + "/slow.log");
  size_t fetches = 0;
  for (size_t at = 0; (at = log.find("GET /slow/dns.json ", at)) != std::string::npos; ++at)
    ++fetches;
  EXPECT_EQ(fetches, 1u) << log;
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
