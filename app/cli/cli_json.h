// quillon-cli --json for whois (and whois --follow), mx, ping and trace: the
// same operation runs, its lines go nowhere, and what it reports beside
// them (TLookupEvents) becomes one JSON object, printed on one line when the
// operation ends. The exit status is the one the lines would give. The
// objects are described in docs/json.md and docs/schema/.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "app/cli/cli_commands.h"
#include "app/lookup/lookup_events.h"
#include "app/whois/whois_follow.h"

namespace quillon {

// The error of a run stopped by Ctrl-C (list) before it ended.
inline constexpr const char* kJsonInterrupted = "interrupted";

// Builds the object of one command from the events of one run. `command`
// is "whois", "mx", "ping" or "trace"; `name` as the command got it.
class TJsonReport final : public TLookupEvents {
 public:
  TJsonReport(std::string command, const std::string& name);

  void WhoisAsked(const std::string& server, int port, const std::string& query) override;
  void WhoisAnswered(const std::string& answer) override;
  void MxAsked(const std::string& domain, const std::string& server) override;
  void MxExchanger(const std::string& host, uint16_t preference) override;
  void EchoTarget(const std::string& address) override;
  void EchoReported(const TReplyStatus& status, int ttl, const std::string& name) override;
  void Failed(TLookupFailure failure, int dnsStatus) override;

  // `follow`: whois answers go into "chain", one entry per server asked.
  void SetFollow();
  // The object once the run has ended: `failed` as the exit status says,
  // `interrupted` when it was stopped before the end.
  nlohmann::ordered_json Finish(bool failed, bool interrupted);

 private:
  nlohmann::ordered_json object_;
  std::string command_;
  bool follow_ = false;
  bool failedReported_ = false;
  // ping and trace: requests reported, echo replies and their total time.
  uint32_t reported_ = 0;
  uint32_t received_ = 0;
  uint64_t totalMs_ = 0;
};

int RunWhoisJson(const std::string& name, std::FILE* out);
int RunWhoisFollowJson(const std::string& name, std::FILE* out, TWhoisFollowSettings settings);
int RunMxJson(const std::string& name, std::FILE* out);
int RunPingJson(const std::string& name, const TPingOptions& options, std::FILE* out);
int RunTraceJson(const std::string& name, const TPingOptions& options, std::FILE* out);

}  // namespace quillon
