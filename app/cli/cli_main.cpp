// quillon-cli: the window's five operations for terminals and scripts, with
// whois referrals and RDAP beside them. The name gets the edit box's
// lower-casing, the same operation runs, and the lines it writes into the text
// area are printed as they are written. With `-` for the name, every name of
// standard input runs the same way, several at once (cli_list.h).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/cli_list.h"
#include "app/cli/json_output.h"
#include "app/dns/dns_command.h"
#include "app/dns/reverse_name.h"
#include "app/rdap/rdap_lookup.h"
#include "app/whois/whois_follow.h"
#include "net/dns/dns_message.h"
#include "net/dns/dns_presentation.h"
#include "net/socket/error_text.h"
#include "net/socket/stack.h"

namespace {

using namespace quillon;

constexpr const char* kUsage =
    "Usage: quillon-cli COMMAND [OPTIONS] NAME\n"
    "       quillon-cli [-j N] COMMAND [OPTIONS] -\n"
    "Network information from the command line.\n"
    "\n"
    "Commands:\n"
    "  whois NAME   ask the whois server of NAME's top-level domain\n"
    "  whois --follow NAME\n"
    "               the same, then follow the answers' referrals (at most 3)\n"
    "               from server to server; whois.iana.org first for top-level\n"
    "               domains without a server of their own; each answer under\n"
    "               a line '% whois server: HOST'\n"
    "  mx NAME      list the mail exchangers of NAME's domain\n"
    "  ping HOST    send four ICMP echo requests to HOST\n"
    "  trace HOST   trace the route to HOST\n"
    "               ping and trace take -4 or -6 before HOST to use only\n"
    "               IPv4 or only IPv6 (default: IPv4 when HOST has an IPv4\n"
    "               address, else IPv6)\n"
    "  rdap [--json] NAME|ADDRESS\n"
    "               registration data of a domain or an IP network over RDAP\n"
    "               (https); --json prints the server's JSON document\n"
    "  dns [@SERVER] [-p PORT] [-t TYPE] [--tcp] [--short | --json] NAME [TYPE]\n"
    "  dns [@SERVER] [-p PORT] [--tcp] [--short | --json] -x ADDRESS\n"
    "               ask SERVER (default: the first nameserver of\n"
    "               /etc/resolv.conf) for NAME's records of TYPE (A, AAAA, CAA,\n"
    "               CNAME, DNSKEY, DS, HTTPS, MX, NAPTR, NS, PTR, SOA, SRV,\n"
    "               SSHFP, SVCB, TLSA, TXT or TYPEnnn; default A) and print the\n"
    "               answer as dig +noall +answer does; -x asks for the PTR\n"
    "               record of an address; UDP (then TCP when truncated) or\n"
    "               --tcp; --short prints only the data, --json one object\n"
    "  info [--json]\n"
    "               show the on-line state, public and local address; the\n"
    "               public address is asked of several sources at once\n"
    "               (QUILLON_PUBLIC_ADDRESS_SOURCES, or [public-address]\n"
    "               sources in quillon.conf); --json prints one object with\n"
    "               what each source answered\n"
    "  --help       show this help\n"
    "  --version    show the version\n"
    "\n"
    "Lists: with - for the name, whois, mx, ping, trace, rdap and dns read names\n"
    "from standard input, one per line (blank lines and lines starting with #\n"
    "are skipped) and work on up to N at once (-j N, 1 to 256, default 16).\n"
    "Each name's lines follow a line '== NAME' and end with an empty line, in\n"
    "input order. On a terminal, standard error shows the progress. For dns a\n"
    "line may be 'NAME TYPE'; with --json each name gives one JSON line and no\n"
    "heading; --rate QPS caps the questions sent per second over the run.\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed (for a list: at least one\n"
    "name did), 2 usage error, 130 a list interrupted by Ctrl-C.\n";

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  gInterrupted.store(true);
}

// The commands: name, whether it takes a NAME (or `-`), the options it
// accepts before it, how it is bound to them, and the rules between its
// options that the parser cannot know (empty text when they hold, else the
// usage error). `info` has its own path.
struct TCliCommand {
  TCliCommandInfo info;
  TNameCommand (*bind)(const TCliArgs& args);
  std::string (*check)(const TCliArgs& args) = nullptr;
};

std::string CheckFamily(const TCliArgs& args) {
  if (args.Has("-4") && args.Has("-6")) return args.command + ": -4 and -6 do not go together";
  return {};
}

// A ping or trace list runs many echo clients at once in this process.
TPingOptions PingOptionsOf(const TCliArgs& args) {
  TPingOptions options{.concurrent = args.list};
  if (args.Has("-4")) options.family = Id_PF_INET;
  if (args.Has("-6")) options.family = Id_PF_INET6;
  return options;
}

std::optional<std::string> ValueOf(const TCliArgs& args, const char* option) {
  if (!args.Has(option)) return std::nullopt;
  return args.Value(option);
}

std::string CheckDns(const TCliArgs& args) {
  return CheckDnsWords(ValueOf(args, "-t"), args.words, ValueOf(args, "-x"), ValueOf(args, "-p"),
                       ValueOf(args, "--rate"), args.Has("--short"), args.Has("--json"));
}

// dns: the options once for the run (CheckDns has passed); a list hands each
// line (NAME or NAME TYPE) to RunDnsLine.
TNameCommand BindDns(const TCliArgs& args) {
  TDnsCommandOptions options;
  options.server = args.Value("@");
  if (args.Has("-p")) options.port = *ParseDnsPort(args.Value("-p"));
  if (args.Has("-t")) options.type = *DnsTypeFromText(args.Value("-t"));
  if (!args.words.empty()) options.type = *DnsTypeFromText(args.words[0]);
  options.tcp = args.Has("--tcp");
  if (args.Has("--short")) options.output = TDnsOutput::Short;
  if (args.Has("--json")) options.output = TDnsOutput::Json;
  if (args.Has("--rate"))
    options.pacer = std::make_shared<TDnsPacer>(*ParseDnsRate(args.Value("--rate")));
  options.interrupted = &gInterrupted;
  options.printJson = &PrintJson;
  const bool reverse = args.Has("-x");
  const bool list = args.list;
  return [options, reverse, list](const std::string& name, std::FILE* out) {
    if (list) return RunDnsLine(name, options, out);
    if (reverse) return RunDns({*ReverseDnsName(name), kDnsTypePTR}, options, out);
    return RunDns({name, options.type}, options, out);
  };
}

const TCliCommand kCommands[] = {
    {{"whois", true, {"--follow"}},
     [](const TCliArgs& args) -> TNameCommand {
       if (!args.Has("--follow")) return RunWhois;
       return [](const std::string& name, std::FILE* out) {
         TWhoisFollowSettings settings;
         // Ctrl-C during a list ends the exchanges in flight.
         settings.Interrupted = &gInterrupted;
         return RunWhoisFollow(name, out, settings);
       };
     }},
    {{"mx", true, {}}, [](const TCliArgs&) -> TNameCommand { return RunMx; }},
    {{"ping", true, {"-4", "-6"}},
     [](const TCliArgs& args) -> TNameCommand {
       return [options = PingOptionsOf(args)](const std::string& name, std::FILE* out) {
         return RunPing(name, options, out);
       };
     },
     CheckFamily},
    {{"trace", true, {"-4", "-6"}},
     [](const TCliArgs& args) -> TNameCommand {
       return [options = PingOptionsOf(args)](const std::string& name, std::FILE* out) {
         return RunTrace(name, options, out);
       };
     },
     CheckFamily},
    {{"rdap", true, {"--json"}},
     [](const TCliArgs& args) -> TNameCommand {
       TRdapOptions options = DefaultRdapOptions();
       options.json = args.Has("--json");
       // Ctrl-C during a list ends the lookups in flight.
       options.interrupted = &gInterrupted;
       return [options](const std::string& name, std::FILE* out) {
         return RunRdap(name, options, out);
       };
     }},
    {{"dns",
      true,
      {{"@", true}, {"-p", true}, {"-t", true}, {"--tcp"}, {"--short"}, {"--json"},
       {"-x", true}, {"--rate", true}},
      1,
      "-x"},
     BindDns,
     CheckDns},
    {{"info", false, {"--json"}}, nullptr},
};

int RunListFromStandardInput(const TNameCommand& command, int jobs, bool headings) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  TListOptions options;
  options.jobs = jobs;
  options.progress = ::isatty(STDERR_FILENO) ? stderr : nullptr;
  options.interrupted = &gInterrupted;
  options.headings = headings;
  return RunList(STDIN_FILENO, stdout, command, options);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quillon-cli: %s (try --help)\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const TSocketLibraryRelease socketLibrary;
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
  const TCliCommand* chosen = nullptr;
  for (const auto& c : kCommands)
    if (args.command == c.info.name) chosen = &c;
  if (chosen->check)
    if (const std::string error = chosen->check(args); !error.empty()) return UsageError(error);
  try {
    if (args.command == "info") return RunInfo(stdout, args.Has("--json"));
    const TNameCommand command = chosen->bind(args);
    // JSON Lines: one object per name, without headings or empty lines.
    const bool jsonLines = args.command == "dns" && args.Has("--json");
    if (args.list) return RunListFromStandardInput(command, args.jobs, !jsonLines);
    return command(args.name, stdout);
  } catch (...) {
    // The components could not even be set up (no socket library).
    std::fputs("quillon-cli: cannot start the network components\n", stderr);
    return 1;
  }
}
