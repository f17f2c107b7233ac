// quillon-cli as a program: usage and exit status, and each command run
// inside a network namespace of the test's own whose hosts file and
// resolver configuration point at servers the test starts there.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
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
#include <vector>

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
                         // trace --report's options: only with it, and in range.
                         "trace -c 5 example.com", "trace --asn example.com",
                         "trace --report -c 0 example.com", "trace --report -i 0.001 example.com",
                         "trace --report -m 65 example.com", "trace --report -W x example.com",
                         "trace --report",
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
  for (const char* args : {"rdap", "rdap a b", "rdap --json", "rdap a --json", "rdap --json --json a",
                           "rdap --no-follow", "rdap a --no-follow", "rdap --no-follow --no-follow a",
                           "rdap --follow a"}) {
    const Result r = RunCli("", args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << args << ": " << r.err;
  }
  EXPECT_NE(RunCli("", "--help").out.find("rdap [--json] [--no-follow] NAME|ADDRESS|ASnnn"),
            std::string::npos);

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

// A list of rdap names: the registrar step inside each domain's block, AS
// numbers among the names, --no-follow for all of them.
TEST(Cli, RdapListWithRegistrarStepsAndAsNumbers) {
  if (!test::TlsNginx::Available() || test::Run("openssl version") != 0)
    GTEST_SKIP() << "needs /usr/sbin/nginx and the openssl tool";
  test::ScratchDir dir("quillon-cli-rdap-list-");
  const std::string d = dir.path();
  test::TestCa ca(d, "ca");
  ASSERT_TRUE(ca.ok() && ca.Issue("server", "IP:127.0.0.1"));
  const int port = test::FreePort();
  const std::string base = "https://127.0.0.1:" + std::to_string(port) + "/";
  test::TlsNginx nginx(d, test::TlsServerBlock(port, d, "server", d + "/www"), {port});
  ASSERT_TRUE(nginx.ready()) << nginx.errorLog();
  test::WriteTextFile(nginx.root() + "/dns.json",
                      R"({"services": [[["example"], [")" + base + R"(rdap/"]]]})");
  test::WriteTextFile(nginx.root() + "/asn.json",
                      R"({"services": [[["64496-64511"], [")" + base + R"(rdap/"]]]})");
  test::WriteTextFile(nginx.root() + "/rdap/domain/a.example",
                      R"({"ldhName": "a.example", "links": [{"rel": "related", "href": ")" + base +
                          R"(registrar/a.example", "type": "application/rdap+json"}]})");
  test::WriteTextFile(nginx.root() + "/registrar/a.example",
                      R"({"ldhName": "a.example", "entities": [{"roles": ["registrar"],
    "vcardArray": ["vcard", [["fn", {}, "text", "Reg"]]], "entities": [{"roles": ["abuse"],
    "vcardArray": ["vcard", [["email", {}, "text", "abuse@reg.test"]]]}]}]})");
  test::WriteTextFile(nginx.root() + "/rdap/autnum/64500",
                      R"({"startAutnum": 64500, "endAutnum": 64500, "name": "AS-DOC"})");
  const std::string env = "SSL_CERT_FILE=" + ca.pem() + " XDG_CACHE_HOME=" + d +
                          "/cache QUILLON_RDAP_BOOTSTRAP=" + base + " ";
  const std::string names = "printf 'A.example\\nAS64500\\nAS1\\n' | ";
  const Result list = RunCli(names + env, "-j 4 rdap -");
  EXPECT_EQ(list.status, 1) << list.err;
  EXPECT_EQ(list.out, "== a.example\nDomain: a.example\nRDAP server: " + base +
                          "rdap/domain/a.example\n\nDomain: a.example\nRegistrar: Reg\n"
                          "Abuse: abuse@reg.test\nRDAP server: " +
                          base +
                          "registrar/a.example\n\n"
                          "== as64500\nAS number: 64500\nName: AS-DOC\nRDAP server: " +
                          base +
                          "rdap/autnum/64500\n\n"
                          "== as1\nError RDAP: no RDAP service for AS1\n\n");
  const Result registryOnly = RunCli(names + env, "-j 2 rdap --no-follow -");
  EXPECT_EQ(registryOnly.out.substr(0, registryOnly.out.find("== as64500")),
            "== a.example\nDomain: a.example\nRDAP server: " + base + "rdap/domain/a.example\n\n");
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
                                     "127.0.0.1 ip.quillon.test whois.iana.org\n";
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

// The program started directly (no shell) with its standard input from
// `inFd`, its output into `outFd` and its errors into `errFd`.
pid_t Start(const std::vector<std::string>& args, int inFd, int outFd, int errFd) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(inFd, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Everything readable from `fd` until its end (or 10 s of silence).
std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) break;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::string ReadFile(const std::string& path) {
  std::string text;
  if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
    std::fclose(in);
  }
  return text;
}

// A file of names, one per line, in a scratch folder.
std::string WriteNames(const test::ScratchDir& dir, const std::vector<std::string>& names) {
  const std::string path = dir.path() + "/names";
  std::ofstream out(path, std::ios::binary);
  for (const auto& n : names) out << n << "\n";
  return path;
}

// A list line holding a NUL byte is refused in a block of its own, or as a
// JSON object of its own among JSON Lines; nothing is sent for it.
TEST(Cli, ListLinesWithANulByteAreRefusedInTheOutputsForm) {
  test::ScratchDir dir("quillon-cli-nul-");
  const std::string list = dir.path() + "/names";
  {
    std::ofstream out(list, std::ios::binary);
    using namespace std::string_literals;
    out << "Bad\0name.test\n# a \0 comment\n"s;
  }
  const Result blocks = RunCli("", "whois - < " + list);
  EXPECT_EQ(blocks.status, 1) << blocks.err;
  EXPECT_EQ(blocks.out, "== bad\\0name.test\nError: the name holds a NUL byte\n\n");
  const Result json = RunCli("", "dns --json - < " + list);
  EXPECT_EQ(json.status, 1) << json.err;
  EXPECT_EQ(json.out,
            "{\"error\":\"the name holds a NUL byte\",\"name\":\"bad\\u0000name.test\"}\n");
}

// Ctrl-C while the list is blocked writing to a full pipe: the write goes on
// once the pipe is read (stdio would drop its buffer on EINTR), the blocks of
// the names in flight follow, and the output is whole blocks in input order.
TEST(Cli, InterruptWhileWritingLosesNoOutput) {
  test::ScratchDir dir("quillon-cli-int-");
  // Names that UTS #46 refuses: each ends at once with its failure line,
  // without any network.
  std::vector<std::string> names;
  for (int i = 0; i < 4000; ++i) names.push_back("a\xE2\x98\x83" + std::to_string(i) + ".com");
  const int in = ::open(WriteNames(dir, names).c_str(), O_RDONLY | O_CLOEXEC);
  const int err = ::open((dir.path() + "/err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  const pid_t pid = Start({kCli, "-j", "4", "whois", "-"}, in, out[1], err);
  ::close(out[1]);
  ::close(in);
  ::close(err);
  // Wait until the program's main thread sleeps in a write to the full pipe.
  bool blocked = false;
  std::string wchan;
  for (int i = 0; i < 1000 && !blocked; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    wchan = ReadFile("/proc/" + std::to_string(pid) + "/wchan");
    blocked = wchan.find("pipe_write") != std::string::npos;
  }
  if (!blocked) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(out[0]);
    if (wchan == "0" || wchan.empty())
      GTEST_SKIP() << "the kernel does not show where a task waits";
    FAIL() << "never blocked writing; waits in " << wchan;
  }
  // What the pipe holds now; the program has more, waiting to be written.
  int inPipe = 0;
  ASSERT_EQ(::ioctl(out[0], FIONREAD, &inPipe), 0);
  ::kill(pid, SIGINT);
  const std::string text = ReadToEnd(out[0]);
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130) << ReadFile(dir.path() + "/err");
  // Whole blocks in input order, none missing. A name that the signal
  // stopped before it wrote its line keeps an empty block (it had no
  // lines); it was in flight, so among the last 16 (4 x -j) that the list
  // held when reading stopped.
  constexpr size_t kHeld = 16;
  std::string expected;
  size_t blocks = 0;
  std::vector<size_t> stoppedBlocks;
  for (size_t at = 0; at < text.size() && blocks < names.size(); ++blocks) {
    const std::string heading = "== " + names[blocks] + "\n";
    const std::string whole = heading + "Error Whois\n\n";
    const bool stopped = text.compare(at, whole.size(), whole) != 0 &&
                         text.compare(at, heading.size() + 1, heading + "\n") == 0;
    expected += stopped ? heading + "\n" : whole;
    at = expected.size();
    if (stopped) stoppedBlocks.push_back(blocks);
  }
  for (const size_t stopped : stoppedBlocks)
    EXPECT_GE(stopped + kHeld, blocks) << "only the last names, those in flight, stop early";
  EXPECT_GT(text.size(), static_cast<size_t>(inPipe)) << "the write under way went on";
  EXPECT_EQ(text, expected) << "whole blocks, in order, none missing";
  EXPECT_GT(blocks, 100u);
  EXPECT_LT(blocks, names.size()) << "reading stopped";
}

// A failed write (a full device, a closed pipe) is exit status 1 with one
// line on standard error, for --version, a single name and a list; a closed
// pipe stops a list at once.
TEST_F(CliWorld, WriteFailuresExitOneWithOneLine) {
  const Result version = RunCli("", "--version > /dev/full");
  EXPECT_EQ(version.status, 1);
  EXPECT_EQ(version.err, "quillon-cli: cannot write the output: no space left on device\n");
  {
    OneShotServer server(*world, 43, [](int fd) {
      test::RecvLine(fd);
      test::SendAll(fd, "Domain Name: EXAMPLE.COM\r\n");
    });
    const Result whois = RunCli(world->Prefix(), "whois example.com > /dev/full");
    EXPECT_EQ(whois.status, 1);
    EXPECT_EQ(whois.err, "quillon-cli: cannot write the output: no space left on device\n");
  }
  test::ScratchDir dir("quillon-cli-write-");
  std::vector<std::string> names;
  for (int i = 0; i < 2000; ++i) names.push_back("n" + std::to_string(i) + ".example.com");
  const std::string list = WriteNames(dir, names);
  world->Inside([&] {
    test::FakeDnsServer dns(
        [](const std::string& q) {
          return test::DnsReply(q, 0,
                                {test::DnsRecord(15, test::Be16(10) + test::DnsName("mx.test"))});
        },
        53);
    const Result full = RunCli(world->Prefix(), "mx - < " + list + " > /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "quillon-cli: cannot write the output: no space left on device\n");

    // A pipe nobody reads any more: EPIPE (SIGPIPE would end the program
    // without a word), and the list stops instead of asking for every name.
    const int before = dns.queries();
    const int in = ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
    const int err = ::open((dir.path() + "/err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    ::close(out[0]);
    const pid_t pid = Start({"ip", "netns", "exec", world->ns().name(), kCli, "-j", "4", "mx", "-"},
                            in, out[1], err);
    ::close(out[1]);
    ::close(in);
    ::close(err);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(dir.path() + "/err"), "quillon-cli: cannot write the output: broken pipe\n");
    EXPECT_LT(dns.queries() - before, 200) << "of 2000 names";
  });
}

// rdap for a top-level domain without RDAP: one line, then exactly what
// whois --follow prints for the name, whose status it ends with.
TEST_F(CliWorld, RdapFallsBackToWhoisFollow) {
  if (!test::TlsNginx::Available() || test::Run("openssl version") != 0)
    GTEST_SKIP() << "needs /usr/sbin/nginx and the openssl tool";
  test::ScratchDir dir("quillon-cli-rdap-whois-");
  const std::string d = dir.path();
  test::TestCa ca(d, "ca");
  ASSERT_TRUE(ca.ok() && ca.Issue("server", "IP:127.0.0.1"));
  const int port = test::FreePort();
  const std::string base = "https://127.0.0.1:" + std::to_string(port) + "/";
  std::unique_ptr<test::TlsNginx> nginx;
  // Started from inside the world, nginx serves there.
  world->Inside([&] {
    nginx = std::make_unique<test::TlsNginx>(
        d, test::TlsServerBlock(port, d, "server", d + "/www"), std::vector<int>{port});
  });
  ASSERT_TRUE(nginx && nginx->ready()) << (nginx ? nginx->errorLog() : "");
  test::WriteTextFile(nginx->root() + "/dns.json",
                      R"({"services": [[["example"], [")" + base + R"(rdap/"]]]})");
  const std::string env = "SSL_CERT_FILE=" + ca.pem() + " XDG_CACHE_HOME=" + d +
                          "/cache QUILLON_RDAP_BOOTSTRAP=" + base + " ";
  const auto answer = [](int fd) {
    (void)test::RecvLine(fd);
    test::SendAll(fd, "% IANA WHOIS server\r\ndomain: ZZ\r\nstatus: not assigned\r\n");
  };
  Result viaRdap;
  {
    OneShotServer iana(*world, 43, answer);
    viaRdap = RunCli(env + world->Prefix(), "rdap Example.ZZ");
  }
  Result viaWhois;
  {
    OneShotServer iana(*world, 43, answer);
    viaWhois = RunCli(world->Prefix(), "whois --follow example.zz");
  }
  EXPECT_EQ(viaWhois.status, 0) << viaWhois.err;
  EXPECT_EQ(viaWhois.out,
            "% whois server: whois.iana.org\n% IANA WHOIS server\ndomain: ZZ\nstatus: not assigned\n");
  EXPECT_EQ(viaRdap.out, "% no RDAP service for .zz, whois instead\n" + viaWhois.out);
  EXPECT_EQ(viaRdap.status, viaWhois.status);
  // Nothing answers whois now: its failure and status come through as they are.
  const Result failed = RunCli(env + world->Prefix(), "rdap example.zz");
  EXPECT_EQ(failed.out,
            "% no RDAP service for .zz, whois instead\n% whois server: whois.iana.org\nError Whois\n");
  EXPECT_EQ(failed.status, 1);
}

}  // namespace
}  // namespace quillon
