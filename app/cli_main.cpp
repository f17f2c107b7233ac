// quillon-cli: the window's five operations for terminals and scripts. The
// name gets the edit box's lower-casing, the same operation runs, and the
// lines it writes into the text area are printed as they are written.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/cli_view.h"
#include "app/domain_helpers.h"
#include "app/lookup_operations.h"
#include "net/socket/error_text.h"
#include "app/whois_follow.h"
#include "app/rdap_lookup.h"

namespace {

constexpr const char* kUsage =
    "Usage: quillon-cli COMMAND [-4|-6] [NAME]\n"
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
    "  info         show the on-line state, public and local address\n"
    "  rdap NAME|ADDRESS [--json]\n"
    "               registration data of a domain or an IP network over RDAP\n"
    "               (https); --json prints the server's JSON document\n"
    "  --help       show this help\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed, 2 usage error.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quillon-cli: %s (try --help)\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillon;
  const TSocketLibraryRelease socketLibrary;
  if (argc < 2) return UsageError("missing command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    if (argc != 2) return UsageError("--help takes no argument");
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    if (argc != 2) return UsageError("--version takes no argument");
    std::puts("quillon-cli 1.1");
    return 0;
  }

  if (command == "whois" && argc >= 3 && std::strcmp(argv[2], "--follow") == 0) {
    if (argc != 4) return UsageError("whois --follow takes exactly one NAME");
    try {
      return RunWhoisFollow(argv[3], stdout);
    } catch (...) {
      std::fputs("quillon-cli: cannot start the network components\n", stderr);
      return 1;
    }
  }

  if (command == "rdap") {
    TRdapOptions options = DefaultRdapOptions();
    std::string name;
    for (int i = 2; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--json" && !options.json) {
        options.json = true;
      } else if (name.empty() && !arg.empty() && arg[0] != '-') {
        name = LowerAsciiLetters(arg);
      } else {
        return UsageError("rdap takes one NAME or ADDRESS and --json");
      }
    }
    if (name.empty()) return UsageError("rdap takes one NAME or ADDRESS");
    return RunRdap(name, options, stdout);
  }

  int code = -1;
  if (command == "whois")
    code = opWhois;
  else if (command == "mx")
    code = opDnsMx;
  else if (command == "ping")
    code = opPing;
  else if (command == "trace")
    code = opTraceRoute;
  else if (command == "info")
    code = opLocalInfo;
  else
    return UsageError("unknown command '" + command + "'");

  std::string host;
  int family = Id_PF_UNSPEC;
  if (code == opLocalInfo) {
    if (argc != 2) return UsageError("info takes no argument");
  } else {
    int at = 2;
    if ((code == opPing || code == opTraceRoute) && argc > 2 && argv[2][0] == '-') {
      const std::string option = argv[2];
      if (option == "-4")
        family = Id_PF_INET;
      else if (option == "-6")
        family = Id_PF_INET6;
      else
        return UsageError(command + ": unknown option '" + option + "'");
      at = 3;
    }
    if (argc != at + 1) return UsageError(command + " takes exactly one NAME");
    host = LowerAsciiLetters(argv[at]);
  }

  try {
    TCliView view(stdout);
    TLookupOperations operations(view);
    operations.IcmpFamily = family;
    operations.RunOperation(code, host);
    if (code == opLocalInfo) {
      std::printf("%s\t%s\n%s\t%s\n", view.Caption(TInfoLabel::Online).c_str(),
                  view.Caption(TInfoLabel::IP1).c_str(), view.Caption(TInfoLabel::Local).c_str(),
                  view.Caption(TInfoLabel::IP2).c_str());
    }
    std::fflush(stdout);
    return operations.LastOperationFailed() ? 1 : 0;
  } catch (...) {
    // The components could not even be set up (no socket library).
    std::fputs("quillon-cli: cannot start the network components\n", stderr);
    return 1;
  }
}
