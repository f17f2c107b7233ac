// quillon-cli dns without a real server: the usage errors of its words,
// reverse names of both families, ports and rates, the pacer's spacing, and
// the "Error DNS:" failures (no nameserver, a silent server, a refused port)
// as lines and as JSON.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "app/dns/dns_command.h"
#include "app/dns/reverse_name.h"
#include "tests/dns/dns_test_util.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Opt = std::optional<std::string>;

TEST(DnsCommand, UsageErrors) {
  const struct {
    Opt type;
    std::vector<std::string> words;
    Opt reverse, port, rate;
    bool shortOutput, json;
    std::string error;
  } cases[] = {
      {{}, {}, {}, {}, {}, false, false, ""},
      {"mx", {}, {}, "53", "10", true, false, ""},
      {{}, {"TYPE65280"}, {}, {}, "0.5", false, true, ""},
      {{}, {}, "2001:db8::1", {}, {}, false, false, ""},
      {"MXX", {}, {}, {}, {}, false, false, "dns: unknown type 'MXX'"},
      {{}, {"any"}, {}, {}, {}, false, false, "dns: unknown type 'any'"},
      {{}, {"TYPE65536"}, {}, {}, {}, false, false, "dns: unknown type 'TYPE65536'"},
      {"A", {"MX"}, {}, {}, {}, false, false, "dns: TYPE given twice"},
      {"A", {}, "198.18.0.1", {}, {}, false, false, "dns: -x takes no TYPE (it asks for PTR)"},
      {{}, {}, "host.test", {}, {}, false, false,
       "dns: -x needs an IPv4 or IPv6 address, not 'host.test'"},
      {{}, {}, "fe80::1%eth0", {}, {}, false, false,
       "dns: -x needs an IPv4 or IPv6 address, not 'fe80::1%eth0'"},
      {{}, {}, {}, "0", {}, false, false, "dns: -p needs a port from 1 to 65535"},
      {{}, {}, {}, "65536", {}, false, false, "dns: -p needs a port from 1 to 65535"},
      {{}, {}, {}, "+53", {}, false, false, "dns: -p needs a port from 1 to 65535"},
      {{}, {}, {}, "99999999999999999999", {}, false, false, "dns: -p needs a port from 1 to 65535"},
      {{}, {}, {}, {}, "0", false, false,
       "dns: --rate needs a number of questions per second above 0"},
      {{}, {}, {}, {}, "nan", false, false,
       "dns: --rate needs a number of questions per second above 0"},
      {{}, {}, {}, {}, "1e300", false, false,
       "dns: --rate needs a number of questions per second above 0"},
      {{}, {}, {}, {}, {}, true, true, "dns: --short and --json do not go together"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckDnsWords(c.type, c.words, c.reverse, c.port, c.rate, c.shortOutput, c.json),
              c.error)
        << c.error;
}

TEST(DnsCommand, ReverseNames) {
  const struct {
    std::string address;
    Opt name;
  } cases[] = {
      {"198.18.2.2", "2.2.18.198.in-addr.arpa"},
      {"0.0.0.0", "0.0.0.0.in-addr.arpa"},
      {"2001:db8::1",
       "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa"},
      {"::ffff:198.18.0.1",
       "1.0.0.0.2.1.6.c.f.f.f.f.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.ip6.arpa"},
      {"198.18.2", {}},
      {"198.18.2.256", {}},
      {"example.test", {}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReverseDnsName(c.address), c.name) << c.address;
}

TEST(DnsCommand, PacerSpacesQuestions) {
  TDnsPacer pacer(50);  // one every 20 ms
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 11; ++i) pacer.Wait(nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 195ms);

  // An interruption ends the wait at once.
  TDnsPacer slow(0.1);
  std::atomic<bool> stop{true};
  slow.Wait(nullptr);
  const auto before = std::chrono::steady_clock::now();
  slow.Wait(&stop);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 200ms);
}

void WriteJson(std::FILE* out, const nlohmann::json& value) {
  const std::string line = value.dump() + "\n";
  std::fwrite(line.data(), 1, line.size(), out);
}

std::pair<int, std::string> Ask(const TDnsAsk& ask, const TDnsCommandOptions& o) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  const int status = RunDns(ask, o, out);
  std::fclose(out);
  std::string text(data, size);
  std::free(data);
  return {status, text};
}

TEST(DnsCommand, FailuresAreOneLine) {
  test::FakeDnsServer silent([](const std::string&) {
    return std::vector<test::FakeDnsServer::Datagram>{};
  });
  TDnsCommandOptions o;
  o.server = "127.0.0.1";
  o.port = silent.port();
  o.udpTry = 200ms;
  o.printJson = &WriteJson;
  EXPECT_EQ(Ask({"a.test", 1}, o),
            (std::pair<int, std::string>{1, "Error DNS: no answer from 127.0.0.1\n"}));
  EXPECT_EQ(silent.queries(), 2);

  o.output = TDnsOutput::Json;
  auto [status, text] = Ask({"a.test", 28}, o);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(nlohmann::json::parse(text),
            nlohmann::json({{"name", "a.test"}, {"type", "AAAA"},
                            {"error", "no answer from 127.0.0.1"}}));

  o.output = TDnsOutput::Lines;
  o.port = test::FreePort(true);
  EXPECT_EQ(Ask({"a.test", 1}, o).second,
            "Error DNS: connection refused by 127.0.0.1 port " + std::to_string(o.port) + "\n");

  // No server given and none configured.
  const std::string empty = std::filesystem::temp_directory_path() / test::UniqueName("resolv");
  std::ofstream(empty) << "# nothing\nnameserver not-an-address\n";
  o.server.clear();
  o.resolvConf = empty;
  EXPECT_EQ(Ask({"a.test", 1}, o).second, "Error DNS: no nameserver in " + empty + "\n");
  std::filesystem::remove(empty);

  // A name that cannot be asked: nothing is sent.
  o.server = "127.0.0.1";
  o.port = silent.port();
  EXPECT_EQ(Ask({"a..test", 1}, o).second, "Error DNS: a..test is not a valid domain name\n");
  EXPECT_EQ(silent.queries(), 4);  // the two questions above, two tries each
}

}  // namespace
}  // namespace quillon
