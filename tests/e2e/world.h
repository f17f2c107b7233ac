// The end-to-end world seen from a test: brings it up with
// scripts/e2e-world.sh (removed again by the destructor, or by the script's
// watchdog when the test process dies), runs programs inside its client
// namespace with their output lines time-stamped, and reads the whois log.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quillon::e2e {

// One run of a program: exit status, stdout lines (LF removed) with the
// time each arrived after the start, and stderr.
struct RunResult {
  int status = -1;
  std::vector<std::string> lines;
  std::vector<std::chrono::milliseconds> arrivals;
  std::string errors;
  std::chrono::milliseconds elapsed{0};
};

// One whois connection as the server saw it.
struct WhoisHit {
  std::string localAddress;  // the address the client connected to
  std::string bytes;         // everything the client sent
};

class World {
 public:
  // Brings up a world named after `prefix` and this process; ok() tells
  // whether that worked, error() why not.
  explicit World(const std::string& prefix);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  // A fact printed by the script (CLIENT_ADDR, DEST_ADDR, STATE ...).
  std::string fact(const std::string& key) const;
  // The whois host name → its address in the world.
  const std::map<std::string, std::string>& whoisServers() const { return whois_; }

  // Runs argv inside the client namespace, with at most `limit`. Settings
  // (XDG_CONFIG_HOME) are the world's own unless `env` names them.
  RunResult Exec(const std::vector<std::string>& argv, std::chrono::seconds limit,
                 const std::map<std::string, std::string>& env = {}) const;
  // Connections logged by the whois servers since the world came up. A
  // server logs a connection once the client has closed it, which can be a
  // moment after the client has ended: waits up to 3 s for `expected`.
  std::vector<WhoisHit> WhoisHits(size_t expected = 0) const;
  // Ends the world's web server (for the off-line case).
  bool StopWebServer() const;
  // Sets how the what-is-my-address service at `address` (a WHOAMI_* fact)
  // behaves: "answer", "silent", "refuse", "lie ADDRESS" or "portal"; waits
  // (up to 3 s) until it is in force.
  bool SetWhoami(const std::string& address, const std::string& mode) const;

 private:
  std::string name_;
  bool ok_ = false;
  std::string error_;
  std::map<std::string, std::string> facts_;
  std::map<std::string, std::string> whois_;
};

// The host of the world's hosted public-address page (/misc/ip.php).
std::string PublicHost();
// Paths of the programs under test; empty when not built.
std::string CliPath();
std::string WhoisServerPath();
std::string WorldScript();

// Text of a sequence of lines, for failure messages.
std::string Show(const std::vector<std::string>& lines);

// Expected lines: "<ms>" in a pattern stands for a decimal number, every
// other character is literal. Returns an empty text when `lines` match
// `patterns` one to one (the numbers found are appended to `numbers`), or a
// description of the first difference.
std::string MatchLines(const std::vector<std::string>& lines,
                       const std::vector<std::string>& patterns,
                       std::vector<long>* numbers = nullptr);

// Splits a text at CR LF, lone CR and lone LF (one line per break; a last
// line without a break counts when not empty).
std::vector<std::string> SplitAnyBreak(const std::string& text);

}  // namespace quillon::e2e
