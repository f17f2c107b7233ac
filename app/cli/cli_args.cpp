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

TCliArgs ParseCliArgs(const std::vector<std::string>& args,
                      std::span<const TCliCommandInfo> commands) {
  const std::string jobsError = "-j needs a number from 1 to " + std::to_string(kMaxJobs);
  size_t i = 0;
  int jobs = kDefaultJobs;
  bool jobsGiven = false;
  // Global options come before the command.
  while (i < args.size() && IsOption(args[i])) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "--version") {
      if (args.size() != 1) return Usage(arg + " takes no argument");
      TCliArgs a;
      a.action = arg == "--version" ? TCliArgs::Action::Version : TCliArgs::Action::Help;
      return a;
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
  const auto info = std::find_if(commands.begin(), commands.end(),
                                 [&](const TCliCommandInfo& c) { return a.command == c.name; });
  if (info == commands.end()) return Usage("unknown command '" + a.command + "'");

  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (!info->takesName) {
    if (!rest.empty()) return Usage(a.command + " takes no argument");
    if (jobsGiven) return Usage("-j applies to a list of names (" + a.command + " has none)");
    return a;
  }
  const auto known = [&](const std::string& arg) {
    return std::find(info->options.begin(), info->options.end(), arg) != info->options.end();
  };
  // Everything before the last argument must be one of the command's options.
  for (size_t k = 0; k + 1 < rest.size(); ++k) {
    if (rest[k] == "-") return Usage("'-' must be the last argument");
    if (!IsOption(rest[k])) return Usage(a.command + " takes exactly one NAME");
    if (!known(rest[k])) return Usage("unknown option '" + rest[k] + "' for " + a.command);
    if (a.Has(rest[k])) return Usage(rest[k] + " given twice");
    a.options.push_back(rest[k]);
  }
  if (rest.empty() || known(rest.back())) return Usage(a.command + " takes exactly one NAME");
  if (rest.back() == "-") {
    a.list = true;
  } else {
    if (jobsGiven) return Usage("-j applies to a list of names (NAME -)");
    a.name = LowerAsciiLetters(rest.back());
  }
  return a;
}

}  // namespace quillon
