// quillon-cli's commands over the lookup operations; see cli_commands.h.
#include "app/cli/cli_commands.h"

#include "app/cli/cli_run_stop.h"
#include "app/cli/cli_view.h"
#include "app/lookup/lookup_operations.h"

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

int RunInfo(std::FILE* out) {
  TCliView view(out);
  const int status = RunOperation(opLocalInfo, "", {}, out, view);
  std::fprintf(out, "%s\t%s\n%s\t%s\n", view.Caption(TInfoLabel::Online).c_str(),
               view.Caption(TInfoLabel::IP1).c_str(), view.Caption(TInfoLabel::Local).c_str(),
               view.Caption(TInfoLabel::IP2).c_str());
  std::fflush(out);
  return status;
}

}  // namespace quillon
