// quillon-cli dns: one question of any type to any server on our own
// resolver (net/dns), its answer printed as dig prints it, as dig +short
// does, or as one JSON object; the checks of the command's words.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/dns/dns_pacer.h"

namespace quillon {

enum class TDnsOutput { Lines, Short, Json };

struct TDnsCommandOptions {
  // Address or host name; empty: the first nameserver of /etc/resolv.conf.
  std::string server;
  int port = 53;
  uint16_t type = 1;  // -t (a list line's own type wins)
  bool tcp = false;
  TDnsOutput output = TDnsOutput::Lines;
  std::string resolvConf = "/etc/resolv.conf";
  std::chrono::milliseconds udpTry{2500};
  std::chrono::milliseconds tcpLimit{5000};
  // Set from another thread (SIGINT during a list): the question ends.
  const std::atomic<bool>* interrupted = nullptr;
  // --rate: shared by every name of the run; nullptr for no cap.
  std::shared_ptr<TDnsPacer> pacer;
  // Writes one JSON value and a line end (quillon-cli's JSON writer).
  void (*printJson)(std::FILE* out, const nlohmann::json& value) = nullptr;
};

// What one question is about: the name shown (as typed, lower-cased, without
// its final dot; for -x the reverse name), and its type.
struct TDnsAsk {
  std::string name;
  uint16_t type = 1;
};

// Asks and prints; 0 when the answer holds a record of the type, 1 for the
// "No TYPE record" line and for the "Error DNS:" failures.
int RunDns(const TDnsAsk& ask, const TDnsCommandOptions& options, std::FILE* out);

// A line of a list: `NAME` or `NAME TYPE` (the line's type wins over -t).
// A line that is neither gets one "Error DNS:" line (status 1).
int RunDnsLine(const std::string& line, const TDnsCommandOptions& options, std::FILE* out);

// The checks of the words given to the command, as usage errors (empty when
// they hold): TYPE from -t and after the NAME, not both; -x with an address
// and without a type; a port from 1 to 65535; --rate a number above 0;
// --short and --json not together.
std::string CheckDnsWords(const std::optional<std::string>& typeOption,
                          const std::vector<std::string>& words,
                          const std::optional<std::string>& reverseAddress,
                          const std::optional<std::string>& port,
                          const std::optional<std::string>& rate, bool shortOutput, bool json);

// A port 1-65535 in decimal; nothing for any other text.
std::optional<int> ParseDnsPort(const std::string& text);
// A rate above 0 and at most 1,000,000 questions a second.
std::optional<double> ParseDnsRate(const std::string& text);

}  // namespace quillon
