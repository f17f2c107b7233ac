// quillon-cli: the window's five operations for terminals and scripts. The
// name gets the edit box's lower-casing, the same operation runs, and the
// lines it writes into the text area are printed as they are written. With
// `-` for the name, every name of standard input runs the same way, several
// at once (cli_list.h).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_args.h"
#include "app/cli_commands.h"
#include "app/cli_list.h"

namespace {

using namespace quillon;

constexpr const char* kUsage =
    "Usage: quillon-cli COMMAND [NAME]\n"
    "       quillon-cli [-j N] COMMAND -\n"
    "Network information from the command line.\n"
    "\n"
    "Commands:\n"
    "  whois NAME   ask the whois server of NAME's top-level domain\n"
    "  mx NAME      list the mail exchangers of NAME's domain\n"
    "  ping HOST    send four ICMP echo requests to HOST\n"
    "  trace HOST   trace the route to HOST\n"
    "  info         show the on-line state, public and local address\n"
    "  --help       show this help\n"
    "  --version    show the version\n"
    "\n"
    "Lists: with - for the name, whois, mx, ping and trace read names from\n"
    "standard input, one per line (blank lines and lines starting with # are\n"
    "skipped) and work on up to N at once (-j N, 1 to 256, default 16). Each\n"
    "name's lines follow a line '== NAME' and end with an empty line, in input\n"
    "order. On a terminal, standard error shows the progress.\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed (for a list: at least one\n"
    "name did), 2 usage error, 130 a list interrupted by Ctrl-C.\n";

// The commands: name, whether it takes a NAME (or `-`), the options it
// accepts before it, and how it is bound to them. `info` has its own path.
struct TCliCommand {
  TCliCommandInfo info;
  TNameCommand (*bind)(const TCliArgs& args);
};

// A ping or trace list runs many echo clients at once in this process.
TPingOptions PingOptionsOf(const TCliArgs& args) {
  return TPingOptions{.concurrent = args.list};
}

const TCliCommand kCommands[] = {
    {{"whois", true, {}}, [](const TCliArgs&) -> TNameCommand { return RunWhois; }},
    {{"mx", true, {}}, [](const TCliArgs&) -> TNameCommand { return RunMx; }},
    {{"ping", true, {}},
     [](const TCliArgs& args) -> TNameCommand {
       return [options = PingOptionsOf(args)](const std::string& name, std::FILE* out) {
         return RunPing(name, options, out);
       };
     }},
    {{"trace", true, {}},
     [](const TCliArgs& args) -> TNameCommand {
       return [options = PingOptionsOf(args)](const std::string& name, std::FILE* out) {
         return RunTrace(name, options, out);
       };
     }},
    {{"info", false, {}}, nullptr},
};

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  gInterrupted.store(true);
}

int RunListFromStandardInput(const TNameCommand& command, int jobs) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  TListOptions options;
  options.jobs = jobs;
  options.progress = ::isatty(STDERR_FILENO) ? stderr : nullptr;
  options.interrupted = &gInterrupted;
  return RunList(STDIN_FILENO, stdout, command, options);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quillon-cli: %s (try --help)\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<TCliCommandInfo> known;
  for (const auto& c : kCommands) known.push_back(c.info);
  const TCliArgs args = ParseCliArgs(std::vector<std::string>(argv + 1, argv + argc), known);
  switch (args.action) {
    case TCliArgs::Action::UsageError:
      return UsageError(args.error);
    case TCliArgs::Action::Help:
      std::fputs(kUsage, stdout);
      return 0;
    case TCliArgs::Action::Version:
      std::puts("quillon-cli 1.1");
      return 0;
    case TCliArgs::Action::Run:
      break;
  }
  try {
    if (args.command == "info") return RunInfo(stdout);
    TNameCommand command;
    for (const auto& c : kCommands)
      if (args.command == c.info.name) command = c.bind(args);
    if (args.list) return RunListFromStandardInput(command, args.jobs);
    return command(args.name, stdout);
  } catch (...) {
    // The components could not even be set up (no socket library).
    std::fputs("quillon-cli: cannot start the network components\n", stderr);
    return 1;
  }
}
