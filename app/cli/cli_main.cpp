// quillon-cli: the window's five operations for terminals and scripts, with
// whois referrals and RDAP beside them. The name gets the edit box's
// lower-casing, the same operation runs, and the lines it writes into the text
// area are printed as they are written. With `-` for the name, every name of
// standard input runs the same way, several at once (cli_list.h).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/cli_json.h"
#include "app/cli/cli_list.h"
#include "app/cli/cli_output.h"
#include "app/cli/cli_run_stop.h"
#include "app/cli/cli_trace_report.h"
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
    "       quillon-cli [-j N] [--shard K/N] COMMAND [OPTIONS] -\n"
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
    "  trace --report [-c COUNT] [-i SECONDS] [-m MAXHOPS] [-W SECONDS] [-n]\n"
    "               [--asn] [--json] [-4|-6] HOST\n"
    "               loss and delay per hop over COUNT cycles (default 10, 1 to\n"
    "               1000), each sending one probe per time-to-live at once,\n"
    "               SECONDS apart (-i, default 1, 0.01 to 3600); at most\n"
    "               MAXHOPS hops (-m, default 30, up to 64); a probe without\n"
    "               a reply within -W SECONDS (default 2, 0.01 to 60) is lost;\n"
    "               then a verdict; -n no reverse names; --asn the origin AS\n"
    "               of each hop (Team Cymru, through /etc/resolv.conf's\n"
    "               nameserver); --json one object; Ctrl-C prints the report\n"
    "               of the cycles done so far\n"
    "  rdap [--json] [--no-follow] NAME|ADDRESS|ASnnn\n"
    "               registration data of a domain, an IP network or an AS\n"
    "               number over RDAP (https); for a domain, then the\n"
    "               registrar's record the registry links to (not with\n"
    "               --no-follow); a domain whose top-level domain has no RDAP\n"
    "               service gets whois --follow instead; --json prints the\n"
    "               servers' JSON documents\n"
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
    "  whois, mx, ping and trace take --json before NAME: one JSON object\n"
    "               per run on one line instead of the text lines\n"
    "  --help       show this help\n"
    "  --version    show the version\n"
    "\n"
    "Lists: with - for the name, whois, mx, ping, trace, rdap and dns read names\n"
    "from standard input, one per line (blank lines and lines starting with #\n"
    "are skipped) and work on up to N at once (-j N, 1 to 256, default 16).\n"
    "Each name's lines follow a line '== NAME' and end with an empty line, in\n"
    "input order. On a terminal, standard error shows the progress. For dns a\n"
    "line may be 'NAME TYPE'; --rate QPS caps the questions sent per second\n"
    "over the run. With --json (not rdap) each name gives one JSON line and\n"
    "no heading (JSON Lines). --shard K/N (0 <= K < N <= 65536) runs only the\n"
    "names whose hash (FNV-1a 64 of the name as read, modulo N) is K: N runs\n"
    "cover every name once.\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed (for a list: at least one\n"
    "name did) or the output could not be written, 2 usage error, 130 a list\n"
    "or trace --report interrupted by Ctrl-C; trace --report exits 0 whenever\n"
    "it prints a report.\n";

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  gInterrupted.store(true);
}

// `whois --follow NAME`, also run by `rdap` for top-level domains without
// RDAP.
int WhoisFollow(const std::string& name, std::FILE* out) {
  TWhoisFollowSettings settings;
  // A list that stops (Ctrl-C, output lost) ends the exchanges in flight.
  settings.Interrupted = &ThisThreadStopFlag();
  return RunWhoisFollow(name, out, settings);
}

// Ctrl-C sets gInterrupted instead of ending the program; the calls it cuts
// short go on by themselves where they can (SA_RESTART).
void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
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

std::string CheckTrace(const TCliArgs& args) {
  if (std::string error = CheckFamily(args); !error.empty()) return error;
  TTraceReportOptions report;
  bool json = false;
  return TraceReportOptionsOf(args, report, json);
}

// trace, or trace --report, whose Ctrl-C prints the report of the cycles
// done so far.
TNameCommand BindTrace(const TCliArgs& args) {
  const TPingOptions ping = PingOptionsOf(args);
  if (!args.Has("--report")) {
    const auto run = args.Has("--json") ? RunTraceJson : RunTrace;
    return [ping, run](const std::string& name, std::FILE* out) { return run(name, ping, out); };
  }
  TTraceReportOptions report;
  bool json = false;
  TraceReportOptionsOf(args, report, json);
  report.family = ping.family;
  report.concurrent = ping.concurrent;
  const bool list = args.list;
  if (!list) CatchInterrupt();
  return [report, json, list](const std::string& name, std::FILE* out) {
    TTraceReportOptions run = report;
    // A list that stops (Ctrl-C, output lost) ends the runs in flight, each
    // with the report of its cycles done; alone, Ctrl-C does.
    run.interrupted = list ? &ThisThreadStopFlag() : &gInterrupted;
    return RunTraceReportCommand(name, run, json, out);
  };
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
  options.printJson = &PrintJson;
  const bool reverse = args.Has("-x");
  const bool list = args.list;
  return [options, reverse, list](const std::string& name, std::FILE* out) {
    if (list) {
      TDnsCommandOptions run = options;
      // A list that stops (Ctrl-C, output lost) ends the questions in flight.
      run.interrupted = &ThisThreadStopFlag();
      return RunDnsLine(name, run, out);
    }
    if (reverse) return RunDns({*ReverseDnsName(name), kDnsTypePTR}, options, out);
    return RunDns({name, options.type}, options, out);
  };
}

const TCliCommand kCommands[] = {
    {{"whois", true, {"--follow", "--json"}},
     [](const TCliArgs& args) -> TNameCommand {
       const bool json = args.Has("--json");
       if (!args.Has("--follow")) return json ? RunWhoisJson : RunWhois;
       if (!json) return WhoisFollow;
       return [](const std::string& name, std::FILE* out) {
         TWhoisFollowSettings settings;
         // A list that stops (Ctrl-C, output lost) ends the exchanges in flight.
         settings.Interrupted = &ThisThreadStopFlag();
         return RunWhoisFollowJson(name, out, settings);
       };
     }},
    {{"mx", true, {"--json"}},
     [](const TCliArgs& args) -> TNameCommand { return args.Has("--json") ? RunMxJson : RunMx; }},
    {{"ping", true, {"-4", "-6", "--json"}},
     [](const TCliArgs& args) -> TNameCommand {
       const auto run = args.Has("--json") ? RunPingJson : RunPing;
       return [options = PingOptionsOf(args), run](const std::string& name, std::FILE* out) {
         return run(name, options, out);
       };
     },
     CheckFamily},
    {{"trace",
      true,
      {"-4", "-6", "--report", {"-c", true}, {"-i", true}, {"-m", true}, {"-W", true}, "-n",
       "--asn", "--json"}},
     BindTrace,
     CheckTrace},
    {{"rdap", true, {"--json", "--no-follow"}},
     [](const TCliArgs& args) -> TNameCommand {
       TRdapOptions options = DefaultRdapOptions();
       options.json = args.Has("--json");
       options.noFollow = args.Has("--no-follow");
       // Top-level domains without RDAP: exactly what whois --follow does.
       options.whoisFallback = WhoisFollow;
       return [options](const std::string& name, std::FILE* out) {
         TRdapOptions run = options;
         // A list that stops (Ctrl-C, output lost) ends the lookups in flight.
         run.interrupted = &ThisThreadStopFlag();
         return RunRdap(name, run, out);
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

// With --json every command but rdap prints one object on one line per
// name, so a list of them is JSON Lines without headings. rdap prints the
// servers' documents as they were served (several lines, and two documents
// when it follows the registrar), so its blocks keep their headings.
bool JsonLines(const TCliArgs& args) {
  return args.Has("--json") && args.command != "rdap";
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quillon-cli: %s (try --help)\n", message.c_str());
  return 2;
}

int RunListFromStandardInput(const TNameCommand& command, const TCliArgs& args, std::FILE* out) {
  CatchInterrupt();
  TListOptions options;
  options.jobs = args.jobs;
  options.progress = ::isatty(STDERR_FILENO) ? stderr : nullptr;
  options.outputOnTerminal = ::isatty(STDOUT_FILENO) == 1;
  options.interrupted = &gInterrupted;
  options.headings = !JsonLines(args);
  options.shard = args.shard;
  // dns lines hold NAME TYPE.
  options.words = args.command == "dns";
  // JSON Lines: a refused line is an object as well.
  if (!options.headings)
    options.writeRefusal = [command = args.command](const std::string& line, std::FILE* to) {
      nlohmann::json refusal;
      if (command != "dns") refusal["command"] = command;
      refusal["name"] = line;
      refusal["error"] = "the name holds a NUL byte";
      PrintJson(to, refusal);
    };
  return RunList(STDIN_FILENO, out, command, options);
}

int Run(const TCliArgs& args, std::FILE* out) {
  switch (args.action) {
    case TCliArgs::Action::UsageError:
      return UsageError(args.error);
    case TCliArgs::Action::Help:
      std::fputs(kUsage, out);
      return 0;
    case TCliArgs::Action::Version:
      std::fputs("quillon-cli 1.1\n", out);
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
    if (args.command == "info") return RunInfo(out, args.Has("--json"));
    const TNameCommand command = chosen->bind(args);
    if (args.list) return RunListFromStandardInput(command, args, out);
    return command(args.name, out);
  } catch (...) {
    // The components could not even be set up (no socket library).
    std::fputs("quillon-cli: cannot start the network components\n", stderr);
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const TSocketLibraryRelease socketLibrary;
  // A closed pipe shows as a failed write (EPIPE), reported like any other,
  // instead of ending the program silently.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<TCliCommandInfo> known;
  for (const auto& c : kCommands) known.push_back(c.info);
  const TCliArgs args = ParseCliArgs(std::vector<std::string>(argv + 1, argv + argc), known);
  TCheckedOutput output(STDOUT_FILENO);
  if (!output.file()) {
    std::fputs("quillon-cli: cannot set up the output\n", stderr);
    return 1;
  }
  const int status = Run(args, output.file());
  if (const int error = output.Finish(); error != 0) {
    std::fprintf(stderr, "%s\n", WriteFailureLine(error).c_str());
    return 1;
  }
  return status;
}
