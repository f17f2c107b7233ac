// What the window benchmarks share: they run inside the end-to-end world
// (so that every operation reaches servers of our own, never the outside),
// which needs root; the program brings the world up and runs itself inside.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/e2e/world.h"

namespace quillon::bench {

inline constexpr const char* kInsideFlag = "--inside-world";

// True when this process already runs inside the world.
inline bool InsideWorld(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], kInsideFlag) == 0) return true;
  return false;
}

// Brings the world up and runs this program again inside it (offscreen),
// passing its output through; returns the exit status to end with.
inline int RunInsideWorld(const char* name, std::chrono::seconds limit) {
  if (::geteuid() != 0) {
    std::printf("%s: skipped: the benchmark runs in network namespaces, which needs root\n", name);
    return 0;
  }
  e2e::World world("qe2b");
  if (!world.ok()) {
    std::fprintf(stderr, "%s: %s\n", name, world.error().c_str());
    return 1;
  }
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  const e2e::RunResult r =
      world.Exec({self, kInsideFlag}, limit, {{"QT_QPA_PLATFORM", "offscreen"}});
  for (const std::string& line : r.lines) std::printf("%s\n", line.c_str());
  if (r.status != 0) std::fprintf(stderr, "%s: %s\n", name, r.errors.c_str());
  return r.status == 0 ? 0 : 1;
}

}  // namespace quillon::bench
