// quillon-cli's command line, parsed apart from running it: global options
// (-j N), the command, the command's own options and its NAME, or `-` for a
// list of names on standard input. Usage errors come back as their text.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace quillon {

inline constexpr int kDefaultJobs = 16;
inline constexpr int kMaxJobs = 256;

// A command quillon-cli knows: whether it takes a NAME (or `-`) and the
// options it accepts between its name and the NAME.
struct TCliCommandInfo {
  const char* name;
  bool takesName;
  std::vector<std::string> options;
};

struct TCliArgs {
  enum class Action { Help, Version, Run, UsageError };
  Action action = Action::UsageError;
  std::string error;  // for UsageError: the one line to show
  std::string command;
  std::vector<std::string> options;  // the command's own, in the order given
  std::string name;                  // lower-cased; empty for a list or `info`
  bool list = false;                 // NAME was `-`
  int jobs = kDefaultJobs;

  bool Has(const std::string& option) const;
};

TCliArgs ParseCliArgs(const std::vector<std::string>& args,
                      std::span<const TCliCommandInfo> commands);

}  // namespace quillon
