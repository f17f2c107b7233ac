// quillon-cli's commands over the lookup operations; see cli_commands.h.
#include "app/cli/cli_commands.h"

#include "app/cli/cli_run_stop.h"
#include "app/cli/cli_view.h"
#include "app/lookup/lookup_operations.h"
#include "app/lookup/public_address_sources.h"

#include <nlohmann/json.hpp>

namespace quillon {

int RunLookupOperation(int code, const std::string& name, const TPingOptions& ping,
                       TLookupView& view, TLookupEvents* events, bool* interrupted) {
  TLookupOperations operations(view);
  operations.IcmpFamily = ping.family;
  operations.Events = events;
  if (ping.concurrent) {
    operations.IdIcmpClient.SetIdentifier(TIdIcmpClient::NextIdentifier());
    operations.IdIcmpClient.SocketKind = TIdRawSocketKind::PreferDatagram;
  }
  {
    const TRunStopAttachment attachment(operations);
    operations.RunOperation(code, name);
  }
  if (interrupted) *interrupted = operations.Interrupted();
  return operations.LastOperationFailed() ? 1 : 0;
}

namespace {

int RunOperation(int code, const std::string& name, const TPingOptions& ping, std::FILE* out,
                 TCliView& view) {
  const int status = RunLookupOperation(code, name, ping, view);
  std::fflush(out);
  return status;
}

int RunOperation(int code, const std::string& name, const TPingOptions& ping, std::FILE* out) {
  TCliView view(out);
  return RunOperation(code, name, ping, out, view);
}

}  // namespace

int RunWhois(const std::string& name, std::FILE* out) {
  return RunOperation(opWhois, name, {}, out);
}

int RunMx(const std::string& name, std::FILE* out) {
  return RunOperation(opDnsMx, name, {}, out);
}

int RunPing(const std::string& name, const TPingOptions& options, std::FILE* out) {
  return RunOperation(opPing, name, options, out);
}

int RunTrace(const std::string& name, const TPingOptions& options, std::FILE* out) {
  return RunOperation(opTraceRoute, name, options, out);
}

int RunInfo(std::FILE* out, bool json) {
  TCliView view(out);
  TLookupOperations operations(view);
  operations.PublicAddressSources = ConfiguredPublicAddressSources(stderr, "quillon-cli");
  operations.PublicAddressWaitAll = json;
  {
    const TRunStopAttachment attachment(operations);
    operations.RunOperation(opLocalInfo, "");
  }
  const int status = operations.LastOperationFailed() ? 1 : 0;
  if (!json) {
    std::fprintf(out, "%s\t%s\n%s\t%s\n", view.Caption(TInfoLabel::Online).c_str(),
                 view.Caption(TInfoLabel::IP1).c_str(), view.Caption(TInfoLabel::Local).c_str(),
                 view.Caption(TInfoLabel::IP2).c_str());
    std::fflush(out);
    return status;
  }
  // Keys in the order a reader expects them; server bytes that are not
  // UTF-8 (there are none in an address) could not break the line.
  using Json = nlohmann::ordered_json;
  const TPublicAddressResult& result = operations.LastPublicAddress();
  Json sources = Json::array();
  for (size_t i = 0; i < result.sources.size(); ++i) {
    const TSourceOutcome& outcome = result.sources[i];
    Json entry;
    entry["source"] = operations.PublicAddressSources[i].entry;
    if (!outcome.address.empty())
      entry["address"] = outcome.address;
    else
      entry["error"] = outcome.error;
    entry["ms"] = outcome.ms.count();
    sources.push_back(std::move(entry));
  }
  const std::string& address = view.Caption(TInfoLabel::IP1);
  Json object;
  object["online"] = status == 0;
  object["public"] = address.empty() ? Json(nullptr) : Json(address);
  object["local"] = view.Caption(TInfoLabel::IP2);
  object["sources"] = std::move(sources);
  const std::string line =
      object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
  return status;
}

}  // namespace quillon
