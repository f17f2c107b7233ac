// Soak driver: runs the five lookup operations round after round in one
// process, exactly as quillon-cli runs them (one TLookupOperations, kept for
// the whole run as the window keeps its own), inside the end-to-end world.
// Prints the open descriptors, resident memory and heap in use after the
// warm-up and at checkpoints, and every operation whose outcome was wrong.
//
//   soak_driver ROUNDS WARMUP DEST_HOST
//
// Output lines (parsed by soak_test.cpp):
//   SOAK <label> rounds=<n> fds=<n> rss_kib=<n> heap_bytes=<n>
//   SOAK done ops=<n> wrong=<n> seconds=<s>
//   SOAK mean_ms|max_ms whois=<ms> mx=<ms> ping=<ms> trace=<ms> info=<ms>
//   WRONG <round> <operation> <argument>: <lines>
//   SLOW <round> <operation> <argument> <seconds> s: <lines>
#include <dirent.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/lookup/lookup_operations.h"
#include "app/lookup/lookup_view.h"
#include "app/lookup/lookup_worker.h"

namespace {

using namespace quillon;

// Keeps what the last operation wrote: its lines and the Local Info captions.
class RecordingView final : public TLookupView {
 public:
  void ClearText() override { lines.clear(); }
  void AppendLine(const std::string& line) override { lines.push_back(line); }
  void ReplaceText(const std::string& text) override {
    lines.clear();
    size_t start = 0;
    while (start <= text.size()) {
      const size_t lf = text.find('\n', start);
      if (lf == std::string::npos) {
        if (start < text.size()) lines.push_back(text.substr(start));
        break;
      }
      lines.push_back(text.substr(start, lf - start));
      start = lf + 1;
    }
  }
  void SetCaption(TInfoLabel label, const std::string& caption) override {
    captions[static_cast<int>(label)] = caption;
  }
  void SetColour(TInfoLabel, TColour) override {}

  std::vector<std::string> lines;
  std::string captions[4];
};

int CountOpenFds() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count - 1;  // the directory's own descriptor
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

size_t HeapInUse() {
  return ::mallinfo2().uordblks;
}

size_t CountStarting(const std::vector<std::string>& lines, const char* prefix) {
  size_t n = 0;
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) ++n;
  return n;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& l : lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

struct Step {
  int code;
  std::string argument;
  // True when what the operation wrote is what it must write.
  bool (*check)(const TLookupOperations&, const RecordingView&, const std::string& argument);
};

// One round: each kind of operation once; one round in four takes the
// failure path of the MX and ping operations instead, so the error paths
// are soaked too.
std::vector<Step> Round(int round, const std::string& dest) {
  const bool failing = round % 4 == 3;
  std::vector<Step> steps;
  steps.push_back({opWhois, "www.quillon.fr", [](auto& ops, auto& v, auto&) {
                     return !ops.LastOperationFailed() && Contains(v.lines, "whois.nic.fr") &&
                            Contains(v.lines, "quillon.fr");
                   }});
  if (!failing)
    steps.push_back(
        {opDnsMx, round % 2 ? "nomx.test" : "alias.test", [](auto& ops, auto& v, auto& arg) {
           if (ops.LastOperationFailed()) return false;
           if (arg == "nomx.test") return v.lines.back() == "but no MX entry !";
           return CountStarting(v.lines, "Found #") == 2;
         }});
  else
    steps.push_back({opDnsMx, "missing.test", [](auto& ops, auto& v, auto&) {
                       return ops.LastOperationFailed() && v.lines.size() == 1 &&
                              v.lines[0] == std::string(kErrorNoMx) + "missing.test";
                     }});
  if (!failing)
    steps.push_back({opPing, dest, [](auto& ops, auto& v, auto&) {
                       return !ops.LastOperationFailed() &&
                              CountStarting(v.lines, "response from host ") == 4 &&
                              Contains(v.lines, "receipt = 4, lost = 0");
                     }});
  else
    steps.push_back({opPing, "nowhere.missing.test", [](auto& ops, auto& v, auto&) {
                       return ops.LastOperationFailed() && !v.lines.empty() &&
                              v.lines.back() ==
                                  std::string(kErrorHostNotFound) + "nowhere.missing.test";
                     }});
  steps.push_back({opTraceRoute, dest, [](auto& ops, auto& v, auto&) {
                     return !ops.LastOperationFailed() && CountStarting(v.lines, "1 :\t") == 1 &&
                            CountStarting(v.lines, "2 :\t") == 1 &&
                            CountStarting(v.lines, "response from host ") == 1;
                   }});
  steps.push_back({opLocalInfo, "", [](auto& ops, auto& v, auto&) {
                     return !ops.LastOperationFailed() && v.captions[0] == "Online" &&
                            !v.captions[1].empty() && !v.captions[3].empty();
                   }});
  return steps;
}

const char* Name(int code) {
  switch (code) {
    case opWhois:
      return "whois";
    case opDnsMx:
      return "mx";
    case opPing:
      return "ping";
    case opTraceRoute:
      return "trace";
    default:
      return "info";
  }
}

void Measure(const char* label, int rounds) {
  std::printf("SOAK %s rounds=%d fds=%d rss_kib=%ld heap_bytes=%zu\n", label, rounds,
              CountOpenFds(), ResidentKiB(), HeapInUse());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: soak_driver ROUNDS WARMUP DEST_HOST\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  const int warmup = std::atoi(argv[2]);
  const std::string dest = argv[3];
  if (rounds <= 0 || warmup < 0) {
    std::fprintf(stderr, "soak_driver: bad counts\n");
    return 2;
  }

  RecordingView view;
  TLookupOperations operations(view);
  const auto start = std::chrono::steady_clock::now();
  long ops = 0, wrong = 0;
  double secondsOf[5] = {};  // by operation code
  double slowestOf[5] = {};
  int slow = 0;
  for (int round = -warmup; round < rounds; ++round) {
    // Sources that a local information run stopped once two others agreed
    // end a moment later; they are let go before anything is counted.
    if (round == 0 || (round > 0 && round % 500 == 0))
      operations.PublicAddress.JoinStoppedSources();
    if (round == 0) Measure("before", 0);
    if (round > 0 && round % 500 == 0) Measure("at", round);
    for (const Step& step : Round(round + warmup, dest)) {
      const auto opStart = std::chrono::steady_clock::now();
      operations.RunOperation(step.code, step.argument);
      const double took =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - opStart).count();
      if (round >= 0) {
        secondsOf[step.code] += took;
        if (took > slowestOf[step.code]) slowestOf[step.code] = took;
      }
      // An operation that waited a whole time-out shows why (ten at most).
      if (took > 1.0 && ++slow <= 10) {
        std::string shown;
        for (const std::string& l : view.lines) shown += l + " | ";
        std::printf("SLOW %d %s %s %.3f s: %s\n", round, Name(step.code), step.argument.c_str(),
                    took, shown.c_str());
      }
      ++ops;
      if (step.check(operations, view, step.argument)) continue;
      ++wrong;
      if (wrong <= 10) {
        std::string shown;
        for (const std::string& l : view.lines) shown += l + " | ";
        std::printf("WRONG %d %s %s: %s\n", round, Name(step.code), step.argument.c_str(),
                    shown.c_str());
      }
    }
  }
  operations.PublicAddress.JoinStoppedSources();
  Measure("after", rounds);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("SOAK done ops=%ld wrong=%ld seconds=%.1f\n", ops, wrong, seconds);
  std::printf("SOAK mean_ms");
  for (int code : {opWhois, opDnsMx, opPing, opTraceRoute, opLocalInfo})
    std::printf(" %s=%.2f", Name(code), secondsOf[code] * 1000.0 / rounds);
  std::printf("\nSOAK max_ms");
  for (int code : {opWhois, opDnsMx, opPing, opTraceRoute, opLocalInfo})
    std::printf(" %s=%.1f", Name(code), slowestOf[code] * 1000.0);
  std::printf("\n");
  return wrong == 0 ? 0 : 1;
}
