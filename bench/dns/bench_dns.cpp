// Decoding a DNS reply with one question and 20 compressed MX records: our
// resolver's reply reading against c-ares's ares_parse_mx_reply on the very
// same bytes. Prints nanoseconds per reply for both.
#include <ares.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "net/dns/resolver.h"

namespace {

void Put16(std::string& out, int v) {
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
  out.push_back(static_cast<char>(v & 0xFF));
}

// ID 0x1234, question example.com MX, then 20 MX records owned by a pointer
// to the question, exchanges "mxNN" followed by a pointer to the question.
std::string TwentyMxReply() {
  std::string r;
  for (int v : {0x1234, 0x8180, 1, 20, 0, 0}) Put16(r, v);
  r += std::string(
      "\x07"
      "example"
      "\x03"
      "com",
      12);
  r.push_back('\0');
  Put16(r, 15);
  Put16(r, 1);
  for (int i = 0; i < 20; ++i) {
    Put16(r, 0xC00C);
    Put16(r, 15);
    Put16(r, 1);
    Put16(r, 0);
    Put16(r, 3600);
    Put16(r, 2 + 5 + 2);
    Put16(r, 10 * (i + 1));
    char label[8];
    std::snprintf(label, sizeof label, "\x04mx%02d", i);
    r.append(label, 5);
    Put16(r, 0xC00C);
  }
  return r;
}

template <class F>
double NanosPerCall(F&& f, int rounds) {
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < rounds / 10; ++i) f();  // warm-up
  double best = 1e300;
  for (int trial = 0; trial < 5; ++trial) {
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) f();
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    best = std::min(best, ns / rounds);
  }
  return best;
}

}  // namespace

int main() {
  const std::string reply = TwentyMxReply();
  const auto* bytes = reinterpret_cast<const unsigned char*>(reply.data());
  const int length = static_cast<int>(reply.size());
  constexpr int kRounds = 50000;

  quillon::TIdDNSResolver resolver;
  resolver.Header().MessageId = 0x1234;
  resolver.QueryRecords = {quillon::qtMX};
  resolver.BuildQuery("example.com");
  resolver.ParseReply(reply);
  if (resolver.Results().Count() != 20) {
    std::fprintf(stderr, "bench_dns: our reading found %d records\n", resolver.Results().Count());
    return 1;
  }
  ares_mx_reply* check = nullptr;
  if (ares_parse_mx_reply(bytes, length, &check) != ARES_SUCCESS) {
    std::fprintf(stderr, "bench_dns: c-ares refused the reply\n");
    return 1;
  }
  ares_free_data(check);

  const double ours = NanosPerCall([&] { resolver.ParseReply(reply); }, kRounds);
  const double cares = NanosPerCall(
      [&] {
        ares_mx_reply* mx = nullptr;
        ares_parse_mx_reply(bytes, length, &mx);
        ares_free_data(mx);
      },
      kRounds);
  std::printf("BENCH dns_decode_20mx %.0f ns/reply\n", ours);
  std::printf("BENCH dns_decode_20mx_cares %.0f ns/reply\n", cares);
  std::printf("BENCH dns_decode_20mx_ratio %.2f ours/c-ares\n", ours / cares);
  return 0;
}
