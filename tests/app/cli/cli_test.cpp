// quillon-cli as a program: usage and exit status, and each command run
// inside a network namespace of the test's own whose hosts file and
// resolver configuration point at servers the test starts there.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/app/support/fake_servers.h"
#include "tests/support/support.h"
#include "tests/tls/tls_env.h"

namespace quillon {
namespace {

const std::string kCli = QUILLON_CLI_PATH;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result RunCli(const std::string& prefix, const std::string& arguments) {
  const std::string errFile =
      (std::filesystem::temp_directory_path() / test::UniqueName("quillon-cli-err")).string();
  Result r;
  r.status = test::Run("(" + prefix + kCli + " " + arguments + " 2>" + errFile + ")", &r.out);
  if (std::FILE* in = std::fopen(errFile.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) r.err.append(buffer, n);
    std::fclose(in);
  }
  std::filesystem::remove(errFile);
  return r;
}

TEST(Cli, UsageErrorsExitTwoWithOneLineOnStandardError) {
  const char* wrong[] = {"", "whois", "whois a b", "info extra", "lookup example.com",
                         "--help extra", "-x",
                         // -4 and -6 belong to ping and trace, before the host, alone.
                         "ping -5 example.com", "trace -6", "ping example.com -6",
                         "whois -4 example.com", "mx -6 example.com", "ping -4 -6 example.com",
                         "info -4", "whois --follow", "whois --follow a b", "mx --follow a",
                         // info takes --json, once, and nothing else.
                         "info --json --json", "info --json extra", "info --follow"};
  for (const char* args : wrong) {
    const Result r = RunCli("", args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    ASSERT_FALSE(r.err.empty()) << args;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << args << ": " << r.err;
  }
}

TEST(Cli, HelpAndVersion) {
  const Result help = RunCli("", "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("whois NAME"), std::string::npos);
  EXPECT_NE(help.out.find("-4 or -6"), std::string::npos);
  EXPECT_NE(help.out.find("whois --follow NAME"), std::string::npos);
  const Result version = RunCli("", "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "quillon-cli 1.1\n");
}

TEST(Cli, RdapUsageAndOneLookupThroughTheProgram) {
  for (const char* args :
       {"rdap", "rdap a b", "rdap --json", "rdap a --json", "rdap --json --json a"}) {
    const Result r = RunCli("", args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << args << ": " << r.err;
  }
  EXPECT_NE(RunCli("", "--help").out.find("rdap [--json] NAME|ADDRESS"), std::string::npos);

  if (!test::TlsNginx::Available() || test::Run("openssl version") != 0)
    GTEST_SKIP() << "needs /usr/sbin/nginx and the openssl tool";
  test::ScratchDir dir("quillon-cli-rdap-");
  const std::string d = dir.path();
  test::TestCa ca(d, "ca");
  ASSERT_TRUE(ca.ok() && ca.Issue("server", "IP:127.0.0.1"));
  const int port = test::FreePort();
  const std::string base = "https://127.0.0.1:" + std::to_string(port) + "/";
  test::TlsNginx nginx(d, test::TlsServerBlock(port, d, "server", d + "/www"), {port});
  ASSERT_TRUE(nginx.ready()) << nginx.errorLog();
  test::WriteTextFile(nginx.root() + "/dns.json",
                      R"({"services": [[["example"], [")" + base + R"(rdap/"]]]})");
  test::WriteTextFile(nginx.root() + "/rdap/domain/a.example", R"({"ldhName": "a.example"})");
  const std::string env = "SSL_CERT_FILE=" + ca.pem() + " XDG_CACHE_HOME=" + d +
                          "/cache QUILLON_RDAP_BOOTSTRAP=" + base + " ";
  const Result r = RunCli(env, "rdap A.Example");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Domain: a.example\nRDAP server: " + base + "rdap/domain/a.example\n");
  const Result json = RunCli(env, "rdap --json a.example");
  EXPECT_EQ(json.out, "{\"ldhName\": \"a.example\"}\n");
  // The bootstrap file was kept under the cache folder, apart from IANA's.
  EXPECT_FALSE(std::filesystem::exists(d + "/cache/quillon/dns.json"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d + "/cache/quillon"), {}), 1);
  // Without the test CA the same lookup is refused.
  const Result refused = RunCli(
      "XDG_CACHE_HOME=" + d + "/cache QUILLON_RDAP_BOOTSTRAP=" + base + " SSL_CERT_FILE=/dev/null ",
      "rdap a.example");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out.rfind("Error RDAP: certificate verify failed for 127.0.0.1: ", 0), 0u)
      << refused.out;
}

// A namespace with hosts and resolver files of its own (ip netns exec lays
// them over /etc), and a way to run server threads inside it.
class World {
 public:
  World() : ns_("qcli") {
    etc_ = "/etc/netns/" + ns_.name();
    std::filesystem::create_directories(etc_);
    std::ofstream(etc_ / "hosts") << "127.0.0.1 localhost\n"
                                     "127.0.0.1 whois.internic.net whois.nic.fr\n"
                                     "127.0.0.1 ip.quillon.test\n";
    std::ofstream(etc_ / "resolv.conf") << "nameserver 127.0.0.1\n";
  }
  ~World() { std::filesystem::remove_all(etc_); }
  std::string Prefix() const { return "ip netns exec " + ns_.name() + " "; }
  // Runs `body` on a thread inside the namespace and waits for it.
  void Inside(const std::function<void()>& body) const {
    std::thread t([&] {
      if (ns_.EnterFromThisThread()) body();
    });
    t.join();
  }
  const test::NetNs& ns() const { return ns_; }

 private:
  test::NetNs ns_;
  std::filesystem::path etc_;
};

// One TCP connection served on 127.0.0.1:`port` inside the world.
class OneShotServer {
 public:
  OneShotServer(const World& world, int port, std::function<void(int fd)> script) {
    std::promise<void> listening;
    auto ready = listening.get_future();
    thread_ = std::thread([&world, port, script = std::move(script), &listening, this] {
      if (!world.ns().EnterFromThisThread()) {
        listening.set_value();
        return;
      }
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(port));
      ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      ::listen(fd, 4);
      listening.set_value();
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) == 1) {
        const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          script(c);
          ::close(c);
        }
      }
      ::close(fd);
    });
    ready.wait();
  }
  ~OneShotServer() { thread_.join(); }

 private:
  std::thread thread_;
};

class CliWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root for a network namespace";
    world = std::make_unique<World>();
  }
  std::unique_ptr<World> world;
};

TEST_F(CliWorld, WhoisLowerCasesThenPrintsTheAnswerLineByLine) {
  std::string query;
  {
    OneShotServer server(*world, 43, [&](int fd) {
      query = test::RecvLine(fd);
      test::SendAll(fd, "Domain Name: EXAMPLE.COM\r\nA\rB\n\r\nLast");
    });
    const Result r = RunCli(world->Prefix(), "whois WWW.Example.COM");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Domain Name: EXAMPLE.COM\nA\nB\n\nLast\n");
  }
  EXPECT_EQ(query, "example.com\r\n");
}

TEST_F(CliWorld, WhoisFailureExitsOne) {
  const Result r = RunCli(world->Prefix(), "whois example.fr");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error Whois\n");
}

TEST_F(CliWorld, MxListsTheExchangersOrFails) {
  {
    Result r;
    world->Inside([&] {
      test::FakeDnsServer dns(
          [](const std::string& q) {
            return test::DnsReply(
                q, 0,
                {test::DnsRecord(5, test::DnsName("alias.example.com")),
                 test::DnsRecord(15, test::Be16(10) + test::DnsName("mx1.example.com")),
                 test::DnsRecord(15, test::Be16(20) + test::DnsName("mx2.example.com"))});
          },
          53);
      r = RunCli(world->Prefix(), "mx Mail.Example.com");
    });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Found DNS entry for mail.example.com\n"
              "Found #2: mx1.example.com\nFound #3: mx2.example.com\n");
  }
  const Result failed = RunCli(world->Prefix(), "mx example.com");  // nothing on port 53
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "Error: No MX Found for domain example.com\n");
}

TEST_F(CliWorld, PingAndTraceOfLoopback) {
  const Result ping = RunCli(world->Prefix(), "ping 127.0.0.1");
  EXPECT_EQ(ping.status, 0) << ping.err;
  EXPECT_EQ(ping.out.rfind("Ping for 127.0.0.1\n\nresponse from host 127.0.0.1 in ", 0), 0u)
      << ping.out;
  EXPECT_NE(ping.out.find(" ms.\t[localhost]\n"), std::string::npos) << ping.out;
  EXPECT_NE(ping.out.find("\n \nPackages : sent = 4, receipt = 4, lost = 0\nAverage = "),
            std::string::npos)
      << ping.out;
  const Result trace = RunCli(world->Prefix(), "trace 127.0.0.1");
  EXPECT_EQ(trace.status, 0);
  EXPECT_EQ(trace.out.rfind("Trace Route for 127.0.0.1\n\n\nresponse from host 127.0.0.1 in ", 0),
            0u)
      << trace.out;
}

// The public-address sources of a run: the variable, and no settings file.
std::string WithSources(const World& world, const std::string& sources) {
  return world.Prefix() + "env XDG_CONFIG_HOME=/nonexistent QUILLON_PUBLIC_ADDRESS_SOURCES='" +
         sources + "' ";
}

std::string HttpAnswer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

TEST_F(CliWorld, InfoOnlineAndOffline) {
  const std::string prefix = WithSources(*world, "http://ip.quillon.test/misc/ip.php");
  std::string head;
  {
    OneShotServer server(*world, 80, [&](int fd) {
      head = test::RecvHttpHead(fd);
      test::SendAll(fd, HttpAnswer("198.51.100.7\n"));
    });
    const Result r = RunCli(prefix, "info");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Online\t198.51.100.7\nLocal\t127.0.0.1\n");
  }  // the server's thread is joined: `head` is complete
  EXPECT_EQ(head.rfind("GET /misc/ip.php HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Host: ip.quillon.test\r\n"), std::string::npos) << head;
  const Result offline = RunCli(prefix, "info");
  EXPECT_EQ(offline.status, 1);
  EXPECT_EQ(offline.out, "Offline\t\nLocal\t127.0.0.1\n");
  // No source at all: no fetch, "Offline".
  const Result none = RunCli(WithSources(*world, ""), "info --json");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out,
            "{\"online\":false,\"public\":null,\"local\":\"127.0.0.1\",\"sources\":[]}\n");
  EXPECT_EQ(none.err, "");
}

TEST_F(CliWorld, InfoJsonSaysWhatEachSourceDidAndBadEntriesAreNamed) {
  const std::string prefix = WithSources(
      *world,
      "http://ip.quillon.test/misc/ip.php, http://127.0.0.1:8080/, nonsense, http://127.0.0.1:81/");
  for (const bool json : {true, false}) {
    OneShotServer address(*world, 80,
                          [](int fd) { test::RecvHttpHead(fd), test::SendAll(fd, HttpAnswer("198.51.100.7")); });
    OneShotServer portal(*world, 8080, [](int fd) {
      test::RecvHttpHead(fd), test::SendAll(fd, HttpAnswer("<html>Log in first</html>"));
    });
    const Result r = RunCli(prefix, json ? "info --json" : "info");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "quillon-cli: skipping public-address source \"nonsense\": not a dns:, dns-txt:, "
              "dns-chaos: or http:// source\n");
    if (!json) {
      EXPECT_EQ(r.out, "Online\t198.51.100.7\nLocal\t127.0.0.1\n");
      continue;
    }
    ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["online"], true);
    EXPECT_EQ(doc["public"], "198.51.100.7");
    EXPECT_EQ(doc["local"], "127.0.0.1");
    ASSERT_EQ(doc["sources"].size(), 3u) << r.out;
    const auto& s = doc["sources"];
    EXPECT_EQ(s[0]["source"], "http://ip.quillon.test/misc/ip.php");
    EXPECT_EQ(s[0]["address"], "198.51.100.7");
    EXPECT_EQ(s[1]["source"], "http://127.0.0.1:8080/");
    EXPECT_EQ(s[1]["error"], "not an IPv4 address");
    EXPECT_EQ(s[2]["error"], "could not connect") << r.out;  // refused
    for (const auto& entry : s) {
      EXPECT_TRUE(entry["ms"].is_number_integer()) << entry;
      EXPECT_EQ(entry.contains("address"), !entry.contains("error")) << entry;
    }
    // The keys in the documented order.
    EXPECT_EQ(r.out.rfind("{\"online\":true,\"public\":\"198.51.100.7\",\"local\":", 0), 0u);
  }
}

}  // namespace
}  // namespace quillon
