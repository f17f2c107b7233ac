// TLS benchmarks against curl, both talking to the same private nginx on
// loopback with a certificate of a throw-away CA:
// - GetBody of 256 MiB over https (MB/s, best of five, taking turns);
// - quillon-cli rdap with a warm bootstrap cache against curl -s of the
//   same RDAP document (ms per fresh process, median of 21, taking turns).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/http/http.h"
#include "net/tls/ssl_io_handler.h"
#include "tests/tls/tls_env.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBodySize = size_t{256} << 20;
constexpr int kBulkRuns = 5;
constexpr int kRdapRuns = 21;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double MegabytesPerSecond(double seconds) {
  return static_cast<double>(kBodySize) / (1024.0 * 1024.0) / seconds;
}

double GetBodyOnce(const std::string& url) {
  quillon::TIdSSLIOHandlerSocketOpenSSL tls;
  quillon::TIdHTTP http;
  http.SetIOHandler(&tls);
  const auto start = Clock::now();
  const std::string body = http.GetBody(url);
  const double seconds = Seconds(start);
  http.SetIOHandler(nullptr);
  if (body.size() != kBodySize) {
    std::fprintf(stderr, "bench_tls: %s gave %zu bytes\n", url.c_str(), body.size());
    return 0;
  }
  return MegabytesPerSecond(seconds);
}

// Milliseconds of one shell command; negative when it failed.
double CommandMs(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return Seconds(start) * 1000.0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  using namespace quillon;
  if (!test::TlsNginx::Available() || test::Run("openssl version") != 0 ||
      test::Run("curl --version") != 0) {
    std::fprintf(stderr, "bench_tls: needs /usr/sbin/nginx, openssl and curl\n");
    return 1;
  }
  test::ScratchDir dir("quillon-bench-tls-");
  const std::string d = dir.path();
  test::TestCa ca(d, "ca");
  if (!ca.ok() || !ca.Issue("server", "IP:127.0.0.1")) {
    std::fprintf(stderr, "bench_tls: could not make the certificates\n");
    return 1;
  }
  const int port = test::FreePort();
  const std::string base = "https://127.0.0.1:" + std::to_string(port) + "/";
  test::TlsNginx nginx(d, test::TlsServerBlock(port, d, "server", d + "/www"), {port});
  if (!nginx.ready()) {
    std::fprintf(stderr, "bench_tls: nginx did not start\n%s", nginx.errorLog().c_str());
    return 1;
  }
  ::setenv("SSL_CERT_FILE", ca.pem().c_str(), 1);
  int status = 0;

  {
    std::string pattern(1 << 20, '\0');
    uint32_t x = 2463534242u;
    for (char& c : pattern) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x);
    }
    std::string body;
    body.reserve(kBodySize);
    while (body.size() < kBodySize) body += pattern;
    test::WriteTextFile(nginx.root() + "/body.bin", body);
  }
  const std::string url = base + "body.bin";
  double ours = 0;
  double curl = 0;
  try {
    for (int run = 0; run < kBulkRuns; ++run) {
      ours = std::max(ours, GetBodyOnce(url));
      const double ms = CommandMs("curl -s --cacert " + ca.pem() + " -o /dev/null '" + url + "'");
      if (ms > 0) curl = std::max(curl, MegabytesPerSecond(ms / 1000.0));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_tls: %s\n", e.what());
    ours = 0;
  }
  std::filesystem::remove(nginx.root() + "/body.bin");
  std::printf("BENCH tls_getbody %.1f MB/s\n", ours);
  std::printf("BENCH tls_curl %.1f MB/s\n", curl);
  std::printf("BENCH tls_getbody_vs_curl %.2f ratio\n", curl > 0 ? ours / curl : 0.0);
  if (ours == 0 || curl == 0) status = 1;

  // An RDAP document of a typical size (a few KiB) and its bootstrap.
  std::string document =
      R"({"objectClassName": "domain", "handle": "XXXX", "ldhName": "bench.example",
  "status": ["active"], "events": [{"eventAction": "registration", "eventDate": "1990-12-31T23:59:59Z"}],
  "nameservers": [{"ldhName": "ns1.example.net"}, {"ldhName": "ns2.example.net"}],
  "remarks": [)";
  for (int i = 0; i < 40; ++i)
    document += std::string(i ? "," : "") +
                R"({"description": ["Remark line of the benchmark document, number )" +
                std::to_string(i) + R"(."]})";
  document += "]}";
  test::WriteTextFile(nginx.root() + "/rdap/domain/bench.example", document);
  test::WriteTextFile(nginx.root() + "/dns.json",
                      R"({"services": [[["example"], [")" + base + R"(rdap/"]]]})");
  const std::string env = "SSL_CERT_FILE=" + ca.pem() + " XDG_CACHE_HOME=" + d +
                          "/cache QUILLON_RDAP_BOOTSTRAP=" + base + " ";
  const std::string ourCommand = env + QUILLON_CLI_PATH + " rdap bench.example >/dev/null";
  const std::string curlCommand = "curl -s --cacert " + ca.pem() +
                                  " -H 'Accept: application/rdap+json' -o /dev/null " + base +
                                  "rdap/domain/bench.example";
  // The warm-up fills the cache.
  if (CommandMs(ourCommand) < 0 || CommandMs(curlCommand) < 0) {
    std::fprintf(stderr, "bench_tls: the rdap commands failed\n");
    return 1;
  }
  std::vector<double> oursMs;
  std::vector<double> curlMs;
  for (int run = 0; run < kRdapRuns; ++run) {
    const bool oursFirst = run % 2 == 0;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == oursFirst)
        oursMs.push_back(CommandMs(ourCommand));
      else
        curlMs.push_back(CommandMs(curlCommand));
    }
  }
  const double ourMedian = Median(oursMs);
  const double curlMedian = Median(curlMs);
  std::printf("BENCH rdap_warm_quillon %.2f ms\n", ourMedian);
  std::printf("BENCH rdap_warm_curl %.2f ms\n", curlMedian);
  std::printf("BENCH rdap_warm_vs_curl %.3f ratio\n", ourMedian / curlMedian);
  if (*std::min_element(oursMs.begin(), oursMs.end()) < 0 ||
      *std::min_element(curlMs.begin(), curlMs.end()) < 0)
    status = 1;
  return status;
}
