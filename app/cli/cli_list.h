// quillon-cli's list mode: every name read from an input runs the same
// command on one of up to `jobs` workers, each with components of its own;
// blocks `== NAME`, the command's lines and an empty line come out in input
// order as soon as a name and all before it are done. At most 4 x jobs names
// are held between reading and printing, so memory stays bounded.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "app/cli/cli_commands.h"

namespace quillon {

inline constexpr int kListExitInterrupted = 130;

struct TListOptions {
  int jobs = 16;
  // Where the progress line goes (a terminal), or nullptr for none.
  std::FILE* progress = nullptr;
  // Set from outside (SIGINT): reading stops, the names in flight are
  // interrupted, their blocks printed.
  const std::atomic<bool>* interrupted = nullptr;
  // False: each name's lines alone, without the '== NAME' heading and the
  // empty line (JSON Lines).
  bool headings = true;
};

// Runs the list; answers 0 when every name ended normally, 1 when at least
// one wrote its failure line, kListExitInterrupted when interrupted.
int RunList(int inputFd, std::FILE* out, const TNameCommand& command, const TListOptions& options);

// The progress line's text (without the redraw codes).
std::string ProgressText(size_t done, size_t read, size_t failed, double seconds);

}  // namespace quillon
