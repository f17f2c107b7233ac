// GetBody of a 256 MiB body from a private nginx on loopback, with
// Content-Length and chunked, against `curl -s -o /dev/null` of the same URLs
// in the same run. Prints BENCH lines (MB/s, best of five runs each; the two
// clients take turns so that both see the same load of the machine).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/http/http.h"
#include "tests/http/nginx_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBodySize = size_t{256} << 20;
constexpr int kRuns = 5;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double MegabytesPerSecond(double seconds) {
  return static_cast<double>(kBodySize) / (1024.0 * 1024.0) / seconds;
}

// One GetBody; 0 when the body came back wrong.
double GetBodyOnce(const std::string& url) {
  quillon::TIdHTTP http;
  const auto start = Clock::now();
  const std::string body = http.GetBody(url);
  const double seconds = Seconds(start);
  if (body.size() != kBodySize) {
    std::fprintf(stderr, "bench_http: %s gave %zu bytes\n", url.c_str(), body.size());
    return 0;
  }
  return MegabytesPerSecond(seconds);
}

double CurlOnce(const std::string& url) {
  const std::string command = "curl -s -o /dev/null '" + url + "'";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return 0;
  return MegabytesPerSecond(Seconds(start));
}

}  // namespace

int main() {
  quillon::test::NginxServer nginx;
  if (!nginx.ready()) {
    std::fprintf(stderr, "bench_http: nginx did not start\n%s", nginx.errorLog().c_str());
    return 1;
  }
  nginx.WritePatternFile("body.bin", kBodySize);
  int status = 0;
  for (const auto& [name, path] :
       {std::pair{"content_length", "/body.bin"}, std::pair{"chunked", "/chunked/body.bin"}}) {
    const std::string url = nginx.url(path);
    try {
      double ours = 0;
      double curl = 0;
      for (int run = 0; run < kRuns; ++run) {
        ours = std::max(ours, GetBodyOnce(url));
        curl = std::max(curl, CurlOnce(url));
      }
      std::printf("BENCH http_getbody_%s %.1f MB/s\n", name, ours);
      std::printf("BENCH http_curl_%s %.1f MB/s\n", name, curl);
      std::printf("BENCH http_getbody_vs_curl_%s %.2f ratio\n", name, curl > 0 ? ours / curl : 0.0);
      if (ours == 0 || curl == 0) status = 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "bench_http: %s: %s\n", name, e.what());
      status = 1;
    }
  }
  return status;
}
