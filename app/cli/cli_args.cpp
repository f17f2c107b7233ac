// quillon-cli's argument parser; see cli_args.h.
#include "app/cli/cli_args.h"

#include <algorithm>

#include "app/lookup/domain_helpers.h"

namespace quillon {
namespace {

TCliArgs Usage(std::string error) {
  TCliArgs a;
  a.action = TCliArgs::Action::UsageError;
  a.error = std::move(error);
  return a;
}

// 1 to kMaxJobs in decimal digits, else 0. The digits are counted before
// they are added up, so no text can overflow.
int ParseJobs(const std::string& text) {
  if (text.empty() || text.size() > 3) return 0;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= kMaxJobs ? n : 0;
}

bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

}  // namespace

bool TCliArgs::Has(const std::string& option) const {
  return std::find(options.begin(), options.end(), option) != options.end();
}

std::string TCliArgs::Value(const std::string& option) const {
  const auto it = values.find(option);
  return it == values.end() ? std::string() : it->second;
}

TCliArgs ParseCliArgs(const std::vector<std::string>& args,
                      std::span<const TCliCommandInfo> commands) {
  const std::string jobsError = "-j needs a number from 1 to " + std::to_string(kMaxJobs);
  const std::string shardError =
      "--shard needs K/N with 0 <= K < N <= " + std::to_string(kMaxShards);
  size_t i = 0;
  int jobs = kDefaultJobs;
  bool jobsGiven = false;
  std::optional<TShard> shard;
  // Global options come before the command.
  while (i < args.size() && IsOption(args[i])) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "--version") {
      if (args.size() != 1) return Usage(arg + " takes no argument");
      TCliArgs a;
      a.action = arg == "--version" ? TCliArgs::Action::Version : TCliArgs::Action::Help;
      return a;
    }
    if (arg == "--shard" || arg.rfind("--shard=", 0) == 0) {
      std::string text;
      if (arg == "--shard") {
        if (i + 1 >= args.size()) return Usage(shardError);
        text = args[i + 1];
        i += 2;
      } else {
        text = arg.substr(8);
        i += 1;
      }
      if (shard) return Usage("--shard given twice");
      shard = ParseShard(text);
      if (!shard) return Usage(shardError);
      continue;
    }
    std::string value;
    if (arg == "-j") {
      if (i + 1 >= args.size()) return Usage(jobsError);
      value = args[i + 1];
      i += 2;
    } else if (arg.rfind("-j", 0) == 0) {
      value = arg.substr(2);
      i += 1;
    } else {
      return Usage("unknown option '" + arg + "'");
    }
    jobs = ParseJobs(value);
    if (jobs == 0) return Usage(jobsError);
    jobsGiven = true;
  }
  if (i >= args.size()) return Usage("missing command");

  TCliArgs a;
  a.action = TCliArgs::Action::Run;
  a.command = args[i++];
  a.jobs = jobs;
  a.shard = shard;
  const auto info = std::find_if(commands.begin(), commands.end(),
                                 [&](const TCliCommandInfo& c) { return a.command == c.name; });
  if (info == commands.end()) return Usage("unknown command '" + a.command + "'");

  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (!info->takesName) {
    // Only its own flags (`info --json`), each once.
    for (const std::string& arg : rest) {
      const auto flag = std::find_if(info->options.begin(), info->options.end(),
                                     [&](const TCliOption& o) { return o.name == arg; });
      if (flag == info->options.end() || flag->takesValue) {
        std::string only;
        for (const TCliOption& o : info->options) only += (only.empty() ? "" : ", ") + o.name;
        return Usage(a.command + " takes no argument" +
                     (only.empty() ? "" : " (options: " + only + ")"));
      }
      if (a.Has(arg)) return Usage(arg + " given twice");
      a.options.push_back(arg);
    }
    if (jobsGiven) return Usage("-j applies to a list of names (" + a.command + " has none)");
    if (shard) return Usage("--shard applies to a list of names (" + a.command + " has none)");
    return a;
  }
  // Options first, in any order, then the NAME (or `-`), then the command's
  // further words. An unknown dashed word is an error, except as the last
  // argument, where it is the NAME (a name may start with a dash).
  const auto option = [&](const std::string& arg) -> const TCliOption* {
    for (const TCliOption& o : info->options)
      if (o.name == arg || (o.name == "@" && arg.size() > 1 && arg[0] == '@')) return &o;
    return nullptr;
  };
  const std::string oneName = a.command + " takes exactly one NAME";
  bool named = false;
  for (size_t k = 0; k < rest.size(); ++k) {
    const std::string& arg = rest[k];
    const bool last = k + 1 == rest.size();
    if (named) {
      if (a.list || a.words.size() >= info->extraWords) return Usage(oneName);
      a.words.push_back(arg);
      continue;
    }
    if (arg == "-") {
      if (!last) return Usage("'-' must be the last argument");
      a.list = named = true;
      continue;
    }
    if (const TCliOption* o = option(arg)) {
      if (a.Has(o->name)) return Usage(o->name + " given twice");
      a.options.push_back(o->name);
      if (!o->takesValue) continue;
      std::string value;
      if (o->name == "@") {
        value = arg.substr(1);
      } else {
        if (last) return Usage(o->name + " needs a value");
        value = rest[++k];
      }
      if (info->nameOption && o->name == info->nameOption) {
        a.name = LowerAsciiLetters(value);
        named = true;
      }
      a.values[o->name] = std::move(value);
      continue;
    }
    if (IsOption(arg) && !last) return Usage("unknown option '" + arg + "' for " + a.command);
    a.name = LowerAsciiLetters(arg);
    named = true;
  }
  if (!named) return Usage(oneName);
  if (!a.list && jobsGiven) return Usage("-j applies to a list of names (NAME -)");
  if (!a.list && shard) return Usage("--shard applies to a list of names (NAME -)");
  return a;
}

}  // namespace quillon
