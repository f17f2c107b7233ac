// quillon-cli's command line, parsed apart from running it: global options
// (-j N, --shard K/N), the command, the command's own options and its NAME, or `-` for a
// list of names on standard input. Usage errors come back as their text.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/cli/cli_shard.h"

namespace quillon {

inline constexpr int kDefaultJobs = 16;
inline constexpr int kMaxJobs = 256;

// An option a command accepts before its NAME: a flag (`--follow`) or one
// that takes the next argument as its value (`-c 10`). The name "@" stands
// for the `@VALUE` form, written as one argument (`@198.18.4.53`).
struct TCliOption {
  TCliOption(const char* optionName, bool value = false) : name(optionName), takesValue(value) {}
  std::string name;
  bool takesValue;
};

// A command quillon-cli knows: whether it takes a NAME (or `-`), the options
// it accepts between its name and the NAME, how many further words may
// follow the NAME, and the option whose value stands in for the NAME.
struct TCliCommandInfo {
  const char* name;
  bool takesName;
  std::vector<TCliOption> options;
  size_t extraWords = 0;
  const char* nameOption = nullptr;
};

struct TCliArgs {
  enum class Action { Help, Version, Run, UsageError };
  Action action = Action::UsageError;
  std::string error;  // for UsageError: the one line to show
  std::string command;
  std::vector<std::string> options;  // the command's own, in the order given
  std::map<std::string, std::string> values;  // of the options that take one
  std::string name;                  // lower-cased; empty for a list or `info`
  std::vector<std::string> words;    // after the NAME, as given
  bool list = false;                 // NAME was `-`
  int jobs = kDefaultJobs;
  std::optional<TShard> shard;       // --shard K/N: only that shard of the list

  bool Has(const std::string& option) const;
  // The value given to `option`, or empty text when it was not given.
  std::string Value(const std::string& option) const;
};

TCliArgs ParseCliArgs(const std::vector<std::string>& args,
                      std::span<const TCliCommandInfo> commands);

}  // namespace quillon
