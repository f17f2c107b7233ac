// Cost of one echo to 127.0.0.1: 1000 echoes in a row with the echo client,
// then, in the same run, iputils `ping -f -q -c 1000 127.0.0.1` (flood mode
// sends the next request as soon as the reply is in) for comparison.
#include <chrono>
#include <cstdio>
#include <string>

#include "net/icmp/icmp_client.h"

namespace {

constexpr int kEchoes = 1000;
using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Wall time per echo of our client on the given kind, or a negative value
// when that kind cannot be opened here.
double EchoClientPerEcho(quillon::TIdRawSocketKind kind, int& answered) {
  quillon::TIdIcmpClient client;
  client.SocketKind = kind;
  client.Host = "127.0.0.1";
  client.ReceiveTimeout = 1000;
  answered = 0;
  try {
    for (int i = 0; i < 20; ++i) client.SendEcho();  // warm-up
  } catch (const quillon::EIdInvalidSocket&) {
    return -1;
  }
  const auto start = Clock::now();
  for (int i = 0; i < kEchoes; ++i) {
    client.SendEcho();
    if (client.EchoStatus().Outcome == quillon::roEchoReply) ++answered;
  }
  return MicrosecondsSince(start) / kEchoes;
}

// Wall time per echo of iputils ping in flood mode, or negative when it
// cannot run.
double PingPerEcho(std::string& summary) {
  const auto start = Clock::now();
  FILE* p = ::popen("ping -f -q -c 1000 127.0.0.1 2>&1", "r");
  if (!p) return -1;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    const std::string text(line);
    if (text.find("transmitted") != std::string::npos) summary = text;
  }
  const int status = ::pclose(p);
  const double perEcho = MicrosecondsSince(start) / kEchoes;
  return status == 0 ? perEcho : -1;
}

}  // namespace

int main() {
  int answered = 0;
  const double raw = EchoClientPerEcho(quillon::TIdRawSocketKind::Automatic, answered);
  if (raw < 0) {
    std::fprintf(stderr, "bench_icmp: no ICMP socket allowed here\n");
    return 1;
  }
  std::printf("BENCH icmp_echo_loopback_per_echo %.1f us\n", raw);
  std::printf("BENCH icmp_echo_loopback_answered %d count\n", answered);

  int answeredDgram = 0;
  const double dgram = EchoClientPerEcho(quillon::TIdRawSocketKind::IcmpDatagram, answeredDgram);
  if (dgram >= 0) {
    std::printf("BENCH icmp_echo_loopback_datagram_per_echo %.1f us\n", dgram);
  } else {
    std::fprintf(stderr, "bench_icmp: ICMP datagram socket not allowed (ping_group_range)\n");
  }

  std::string summary;
  const double ping = PingPerEcho(summary);
  if (ping < 0) {
    std::fprintf(stderr, "bench_icmp: ping -f did not run: %s\n", summary.c_str());
    return 1;
  }
  std::printf("BENCH ping_flood_loopback_per_echo %.1f us\n", ping);
  std::printf("BENCH icmp_echo_vs_ping_ratio %.2f x\n", raw / ping);
  if (!summary.empty()) std::fprintf(stderr, "ping: %s", summary.c_str());
  return 0;
}
