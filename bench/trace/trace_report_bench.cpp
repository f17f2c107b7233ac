// quillon-cli trace --report against mtr, inside the end-to-end world (two
// routers, then the destination; nothing leaves the machine):
//   BENCH trace_report_wall <median of 5> ms      quillon-cli -n -c 10 -i 0.1
//   BENCH trace_report_mtr_wall <median of 5> ms  mtr -r -n -c 10 -i 0.1
//   BENCH trace_report_vs_mtr <ratio> x           goal: at most 1.0
//   BENCH trace_report_same_hops <1|0> bool       the hops mtr lists, in order
//   BENCH trace_report_sent_all <1|0> bool        Sent 10 on every line
// Then 30 % loss on the link from r2 to the destination (netem where the
// kernel has it, else an nftables rule dropping a random 30 % there), 200
// cycles each:
//   BENCH trace_report_loss_30 <loss at the destination> %   goal: 20 to 40
//   BENCH trace_report_mtr_loss_30 <mtr's loss there> %
// Needs root (network namespaces); prints a skip line without it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/world.h"

namespace {

using quillon::e2e::RunResult;
using quillon::e2e::World;
using std::chrono::seconds;

constexpr const char* kDestination = "198.18.3.2";

struct Hops {
  std::vector<std::string> addresses;
  std::vector<int> sent;
  std::vector<double> loss;
};

// The hop lines of a report: mtr's "  1.|-- 198.18.1.1  0.0%  10 ..." or
// ours "  1  198.18.1.1   0.0%  10 ...".
Hops HopsOf(const std::vector<std::string>& lines, bool mtr) {
  static const std::regex kMtr(R"(^ *\d+\.\|-- +(\S+) +(\d+\.\d)% +(\d+) .*$)");
  static const std::regex kOurs(R"(^ *\d+  (\S+) +(\d+\.\d)% +(\d+)( .*)?$)");
  Hops hops;
  for (const std::string& line : lines) {
    std::smatch m;
    if (!std::regex_match(line, m, mtr ? kMtr : kOurs)) continue;
    hops.addresses.push_back(m[1]);
    hops.loss.push_back(std::stod(m[2]));
    hops.sent.push_back(std::stoi(m[3]));
  }
  return hops;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

}  // namespace

int main() {
  if (::geteuid() != 0) {
    std::printf("bench_trace_report: skipped: the benchmark runs in network namespaces, which "
                "needs root\n");
    return 0;
  }
  if (Shell("command -v mtr") != 0) {
    std::printf("bench_trace_report: skipped: mtr is not installed\n");
    return 0;
  }
  World world("qe2m");
  if (!world.ok()) {
    std::fprintf(stderr, "bench_trace_report: %s\n", world.error().c_str());
    return 1;
  }
  const std::vector<std::string> ours = {quillon::e2e::CliPath(), "trace", "--report", "-n", "-c",
                                         "10", "-i", "0.1", kDestination};
  const std::vector<std::string> mtr = {"mtr", "-r", "-n", "-c", "10", "-i", "0.1", kDestination};
  std::vector<double> oursMs, mtrMs;
  bool sameHops = true, sentAll = true;
  for (int run = 0; run < 5; ++run) {
    const RunResult a = world.Exec(ours, seconds(60));
    const RunResult b = world.Exec(mtr, seconds(60));
    if (a.status != 0 || b.status != 0) {
      std::fprintf(stderr, "bench_trace_report: a run failed: %s %s\n", a.errors.c_str(),
                   b.errors.c_str());
      return 1;
    }
    oursMs.push_back(static_cast<double>(a.elapsed.count()));
    mtrMs.push_back(static_cast<double>(b.elapsed.count()));
    const Hops h = HopsOf(a.lines, false);
    const Hops m = HopsOf(b.lines, true);
    if (h.addresses.empty() || h.addresses != m.addresses) sameHops = false;
    for (int sent : h.sent)
      if (sent != 10) sentAll = false;
  }
  const double ourMedian = Median(oursMs), mtrMedian = Median(mtrMs);
  std::printf("BENCH trace_report_wall %.0f ms\n", ourMedian);
  std::printf("BENCH trace_report_mtr_wall %.0f ms\n", mtrMedian);
  std::printf("BENCH trace_report_vs_mtr %.2f x\n", mtrMedian > 0 ? ourMedian / mtrMedian : 0.0);
  std::printf("BENCH trace_report_same_hops %d bool\n", sameHops ? 1 : 0);
  std::printf("BENCH trace_report_sent_all %d bool\n", sentAll ? 1 : 0);
  std::fflush(stdout);

  // 30 % loss on the link from r2 to the destination.
  const std::string r2 = "ip netns exec " + world.name() + "-r2 ";
  const char* how = "netem";
  if (Shell(r2 + "tc qdisc add dev eth1 root netem loss 30%") != 0) {
    how = "nftables";
    const std::string file = "/tmp/qtrace-bench-" + std::to_string(::getpid()) + ".nft";
    if (FILE* f = std::fopen(file.c_str(), "w")) {
      std::fputs("table inet qtrace {\n chain qpostrouting { type filter hook postrouting priority 0; "
                 "oifname \"eth1\" numgen random mod 100 < 30 drop; }\n}\n",
                 f);
      std::fclose(f);
    }
    const int rc = Shell(r2 + "nft -f " + file);
    std::remove(file.c_str());
    if (rc != 0) {
      std::fprintf(stderr, "bench_trace_report: neither netem nor nftables can drop packets\n");
      return 1;
    }
  }
  std::printf("bench_trace_report: 30 %% loss made with %s\n", how);
  const RunResult lossy = world.Exec({quillon::e2e::CliPath(), "trace", "--report", "-n", "-c",
                                      "200", "-i", "0.01", "-W", "0.5", kDestination},
                                     seconds(120));
  const RunResult mtrLossy =
      world.Exec({"mtr", "-r", "-n", "-c", "200", "-i", "0.01", kDestination}, seconds(300));
  const Hops h = HopsOf(lossy.lines, false);
  const Hops m = HopsOf(mtrLossy.lines, true);
  if (lossy.status != 0 || h.addresses.empty() || h.addresses.back() != kDestination) {
    std::fprintf(stderr, "bench_trace_report: the lossy run failed: %s\n", lossy.errors.c_str());
    return 1;
  }
  std::printf("BENCH trace_report_loss_30 %.1f %%\n", h.loss.back());
  if (!m.loss.empty()) std::printf("BENCH trace_report_mtr_loss_30 %.1f %%\n", m.loss.back());
  return 0;
}
