// quillon-cli's list mode: every name read from an input runs the same
// command on one of up to `jobs` workers, each with components of its own;
// blocks `== NAME`, the command's lines and an empty line come out in input
// order as soon as a name and all before it are done. At most 4 x jobs names,
// and finished blocks of at most kListHeldBytes in all, are held between
// reading and printing, so memory stays bounded.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_shard.h"

namespace quillon {

inline constexpr int kListExitInterrupted = 130;
// Finished blocks that wait for an earlier name to end: once they hold this
// many bytes, no further name is read or started until that name is printed.
inline constexpr size_t kListHeldBytes = 64u << 20;
// The failure line of a list line holding a NUL byte: no name of the list
// can hold one, and the part before it is not what was written.
inline constexpr const char* kListErrorNulByte = "Error: the name holds a NUL byte";

struct TListOptions {
  int jobs = 16;
  // Where the progress line goes (a terminal), or nullptr for none.
  std::FILE* progress = nullptr;
  // The output goes to the same terminal (for a stream without a descriptor
  // of its own): the progress line is erased before blocks are printed.
  bool outputOnTerminal = false;
  // Set from outside (SIGINT): reading stops, the names in flight are
  // interrupted, their blocks printed.
  const std::atomic<bool>* interrupted = nullptr;
  // False: each name's lines alone, without the '== NAME' heading and the
  // empty line (JSON Lines).
  bool headings = true;
  // Lines hold a name and further words (dns: `NAME TYPE`): only the name is
  // lower-cased (cli_names.h).
  bool words = false;
  size_t maxHeldBytes = kListHeldBytes;
  // Writes what a refused line (one holding a NUL byte) prints instead of its
  // command's lines; by default kListErrorNulByte.
  std::function<void(const std::string& line, std::FILE* out)> writeRefusal;
  // Starts one of the list's threads (by default a std::jthread); tests make
  // it fail as the system does when it can create no more threads.
  std::function<std::jthread(std::function<void()> body)> startThread;
  // Only the names of this shard run; the others are skipped as read.
  std::optional<TShard> shard;
};

// Runs the list; answers 0 when every name ended normally, 1 when at least
// one wrote its failure line, kListExitInterrupted when interrupted. Also 1,
// with nothing run, when not every thread could be started (one line on
// standard error); and 1 when writing `out` failed: the list then stops at
// once, interrupting the names in flight, and prints nothing more.
int RunList(int inputFd, std::FILE* out, const TNameCommand& command, const TListOptions& options);

// The progress line's text (without the redraw codes).
std::string ProgressText(size_t done, size_t read, size_t failed, double seconds);

}  // namespace quillon
