// Cost of one echo to 127.0.0.1: 1000 echoes in a row with the echo client,
// then, in the same run, iputils `ping -f -q -c 1000 127.0.0.1` (flood mode
// sends the next request as soon as the reply is in) for comparison. The two
// alternate for a few rounds and the medians are reported, so that a busy
// machine weighs on both alike. The same over ICMPv6 to ::1 against
// `ping -6 -f`.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "net/icmp/icmp_client.h"

namespace {

constexpr int kEchoes = 1000;
constexpr int kRounds = 5;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Wall time per echo of our client on the given kind, or a negative value
// when that kind cannot be opened here.
double EchoClientPerEcho(quillon::TIdRawSocketKind kind, int& answered,
                         const char* host = "127.0.0.1") {
  quillon::TIdIcmpClient client;
  client.SocketKind = kind;
  client.Host = host;
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
double PingPerEcho(std::string& summary, bool v6 = false) {
  const auto start = Clock::now();
  FILE* p =
      ::popen(v6 ? "ping -6 -f -q -c 1000 ::1 2>&1" : "ping -f -q -c 1000 127.0.0.1 2>&1", "r");
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

// Runs the datagram measure on a thread inside a scratch network namespace
// (loopback up, ping_group_range open), removed afterwards.
double DatagramInOwnNamespace(int& answered) {
  const std::string name = "qibench" + std::to_string(::getpid());
  const std::string setup = "ip netns add " + name + " && ip -n " + name +
                            " link set lo up && ip netns exec " + name +
                            " sysctl -q -w net.ipv4.ping_group_range='0 2147483647'";
  double result = -1;
  if (std::system(setup.c_str()) == 0) {
    std::thread worker([&] {
      const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return;
      if (::setns(fd, CLONE_NEWNET) == 0) {
        try {
          result = EchoClientPerEcho(quillon::TIdRawSocketKind::IcmpDatagram, answered);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "bench_icmp: %s\n", e.what());
        }
      }
      ::close(fd);
    });
    worker.join();
  }
  std::system(("ip netns delete " + name + " 2>/dev/null").c_str());
  return result;
}

}  // namespace

int main() {
  std::vector<double> ours, ping;
  int answered = 0;
  std::string summary;
  bool pingRuns = true;
  for (int round = 0; round < kRounds; ++round) {
    int got = 0;
    const double perEcho = EchoClientPerEcho(quillon::TIdRawSocketKind::Automatic, got);
    if (perEcho < 0) {
      // Neither raw sockets nor ping_group_range: nothing to measure here.
      std::fprintf(stderr, "bench_icmp: skipped, no ICMP socket allowed for this user\n");
      return 0;
    }
    ours.push_back(perEcho);
    answered += got;
    if (!pingRuns) continue;
    const double pingPerEcho = PingPerEcho(summary);
    if (pingPerEcho < 0) {
      std::fprintf(stderr, "bench_icmp: ping -f did not run: %s\n", summary.c_str());
      pingRuns = false;
    } else {
      ping.push_back(pingPerEcho);
    }
  }
  const double oursMedian = Median(ours);
  std::printf("BENCH icmp_echo_loopback_per_echo %.1f us\n", oursMedian);
  std::printf("BENCH icmp_echo_loopback_answered %d count\n", answered);
  if (pingRuns) {
    const double pingMedian = Median(ping);
    std::printf("BENCH ping_flood_loopback_per_echo %.1f us\n", pingMedian);
    std::printf("BENCH icmp_echo_vs_ping_ratio %.2f x\n", oursMedian / pingMedian);
    // ping's own figure leaves out its start-up: "..., time 21ms".
    const size_t at = summary.rfind("time ");
    if (at != std::string::npos) {
      const double ms = std::atof(summary.c_str() + at + 5);
      std::printf("BENCH ping_flood_loopback_own_time_per_echo %.1f us\n", ms * 1000.0 / kEchoes);
    }
  }

  // ICMPv6 to ::1, our client and ping -6 in alternation.
  std::vector<double> ours6, ping6;
  int answered6 = 0;
  for (int round = 0; round < kRounds; ++round) {
    int got = 0;
    const double perEcho = EchoClientPerEcho(quillon::TIdRawSocketKind::Automatic, got, "::1");
    if (perEcho < 0) break;
    ours6.push_back(perEcho);
    answered6 += got;
    std::string summary6;
    const double pingPerEcho = PingPerEcho(summary6, true);
    if (pingPerEcho >= 0) ping6.push_back(pingPerEcho);
  }
  if (!ours6.empty()) {
    std::printf("BENCH icmp6_echo_loopback_per_echo %.1f us\n", Median(ours6));
    std::printf("BENCH icmp6_echo_loopback_answered %d count\n", answered6);
  }
  if (!ours6.empty() && !ping6.empty()) {
    std::printf("BENCH ping6_flood_loopback_per_echo %.1f us\n", Median(ping6));
    std::printf("BENCH icmp6_echo_vs_ping6_ratio %.2f x\n", Median(ours6) / Median(ping6));
  }

  // The datagram kind, where ping_group_range allows it; as root, in a
  // namespace of our own where it is opened.
  int answeredDgram = 0;
  double dgram = EchoClientPerEcho(quillon::TIdRawSocketKind::IcmpDatagram, answeredDgram);
  if (dgram < 0 && ::geteuid() == 0) dgram = DatagramInOwnNamespace(answeredDgram);
  if (dgram >= 0)
    std::printf("BENCH icmp_echo_loopback_datagram_per_echo %.1f us\n", dgram);
  else
    std::fprintf(stderr, "bench_icmp: ICMP datagram socket not allowed here (ping_group_range)\n");
  return 0;
}
