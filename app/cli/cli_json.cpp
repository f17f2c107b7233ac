// quillon-cli --json; see cli_json.h.
#include "app/cli/cli_json.h"

#include "app/cli/json_output.h"
#include "app/lookup/lookup_worker.h"

namespace quillon {
namespace {

using json = nlohmann::ordered_json;

// The operations' lines go nowhere: the object says it all.
class TSilentView final : public TLookupView {
 public:
  void ClearText() override {}
  void AppendLine(const std::string&) override {}
  void ReplaceText(const std::string&) override {}
  void SetCaption(TInfoLabel, const std::string&) override {}
  void SetColour(TInfoLabel, TColour) override {}
};

// The replier's name as data: null where the line shows the address again
// (no reverse name).
json NameOf(const std::string& name, const std::string& address) {
  if (name.empty() || name == address) return nullptr;
  return name;
}

// The components could not even be set up: the object still comes, so
// that a list has one per name.
int PrintSetupFailure(const char* command, const std::string& name, std::FILE* out) {
  PrintJson(out, json{{"command", command},
                      {"name", name},
                      {"error", "cannot start the network components"}});
  std::fflush(out);
  return 1;
}

int RunOperationJson(int code, const char* command, const std::string& name,
                     const TPingOptions& ping, std::FILE* out) {
  TJsonReport report(command, name);
  int status;
  bool interrupted = false;
  try {
    TSilentView view;
    status = RunLookupOperation(code, name, ping, view, &report, &interrupted);
  } catch (...) {
    return PrintSetupFailure(command, name, out);
  }
  PrintJson(out, report.Finish(status != 0, interrupted));
  std::fflush(out);
  return status;
}

}  // namespace

TJsonReport::TJsonReport(std::string command, const std::string& name)
    : object_(json::object()), command_(std::move(command)) {
  object_["command"] = command_;
  object_["name"] = name;
}

void TJsonReport::SetFollow() {
  follow_ = true;
  object_["follow"] = true;
  object_["chain"] = json::array();
}

void TJsonReport::WhoisAsked(const std::string& server, int port, const std::string& query) {
  if (follow_) {
    object_["chain"].push_back({{"server", server}, {"port", port}, {"query", query}});
    return;
  }
  object_["server"] = server;
  object_["port"] = port;
  object_["query"] = query;
}

void TJsonReport::WhoisAnswered(const std::string& answer) {
  if (follow_ && !object_["chain"].empty())
    object_["chain"].back()["answer"] = answer;
  else
    object_["answer"] = answer;
}

void TJsonReport::MxAsked(const std::string& domain, const std::string& server) {
  object_["domain"] = domain;
  object_["server"] = server.empty() ? json(nullptr) : json(server);
}

void TJsonReport::MxExchanger(const std::string& host, uint16_t preference) {
  object_["exchangers"].push_back({{"host", host}, {"preference", preference}});
}

void TJsonReport::EchoTarget(const std::string& address) {
  object_["address"] = address;
}

void TJsonReport::EchoReported(const TReplyStatus& status, int ttl, const std::string& name) {
  const bool trace = command_ == "trace";
  ++reported_;
  json entry = json::object();
  if (trace)
    entry["ttl"] = ttl;
  else
    entry["seq"] = reported_;
  const char* from = trace ? "address" : "from";
  switch (status.Outcome) {
    case roEchoReply:
    case roTtlExpired:
      entry[from] = status.SourceAddress;
      entry["name"] = NameOf(name, status.SourceAddress);
      entry["ms"] = status.RoundTripMs;
      if (status.Outcome == roEchoReply) {
        ++received_;
        totalMs_ += status.RoundTripMs;
        if (trace) object_["reached"] = true;
      } else if (!trace) {
        entry["time_exceeded"] = true;
      }
      break;
    case roTimedOut:
      entry["timeout"] = true;
      break;
    case roUnreachable:
      entry[from] = status.SourceAddress;
      entry["unreachable"] = UnreachableKind(status);
      break;
    case roError:
      entry[from] = status.SourceAddress;
      entry["error"] = "unknown reply";
      break;
  }
  object_[trace ? "hops" : "replies"].push_back(std::move(entry));
}

void TJsonReport::Failed(TLookupFailure failure, int dnsStatus) {
  failedReported_ = true;
  std::string text = FailureText(failure, dnsStatus);
  if (follow_ && !object_["chain"].empty()) {
    json& last = object_["chain"].back();
    last["error"] = text;
    text = last["server"].get<std::string>() + ": " + text;
  }
  object_["error"] = text;
  if (failure == TLookupFailure::DnsStatus) object_["status"] = DnsStatusName(dnsStatus);
}

json TJsonReport::Finish(bool failed, bool interrupted) {
  // The lists are there even when empty (a failure before any entry).
  const char* list = command_ == "mx" ? "exchangers" : command_ == "ping" ? "replies"
                     : command_ == "trace"                                ? "hops"
                                                                          : nullptr;
  if (list && !object_.contains(list)) object_[list] = json::array();
  if (command_ == "trace" && !object_.contains("reached")) object_["reached"] = false;
  if (interrupted && !object_.contains("error")) {
    object_["error"] = kJsonInterrupted;
    // A server asked and cut short has neither answer nor error yet.
    if (follow_ && !object_["chain"].empty() && !object_["chain"].back().contains("answer"))
      object_["chain"].back()["error"] = kJsonInterrupted;
  } else if (failed && !failedReported_ && !object_.contains("error")) {
    object_["error"] = command_ + " failed";
  }
  // The summary of a ping that ran to its end, as its last lines give it.
  if (command_ == "ping" && !object_.contains("error")) {
    object_["sent"] = reported_;
    object_["received"] = received_;
    object_["lost"] = reported_ - received_;
    object_["avg_ms"] = received_ == 0 ? json(nullptr) : json(totalMs_ / received_);
  }
  return object_;
}

int RunWhoisJson(const std::string& name, std::FILE* out) {
  return RunOperationJson(opWhois, "whois", name, {}, out);
}

int RunMxJson(const std::string& name, std::FILE* out) {
  return RunOperationJson(opDnsMx, "mx", name, {}, out);
}

int RunPingJson(const std::string& name, const TPingOptions& options, std::FILE* out) {
  return RunOperationJson(opPing, "ping", name, options, out);
}

int RunTraceJson(const std::string& name, const TPingOptions& options, std::FILE* out) {
  return RunOperationJson(opTraceRoute, "trace", name, options, out);
}

int RunWhoisFollowJson(const std::string& name, std::FILE* out, TWhoisFollowSettings settings) {
  TJsonReport report("whois", name);
  report.SetFollow();
  settings.Events = &report;
  int status;
  try {
    status = RunWhoisFollow(name, nullptr, settings);
  } catch (...) {
    return PrintSetupFailure("whois", name, out);
  }
  const bool interrupted = settings.Interrupted && settings.Interrupted->load();
  PrintJson(out, report.Finish(status != 0, interrupted));
  std::fflush(out);
  return status;
}

}  // namespace quillon
