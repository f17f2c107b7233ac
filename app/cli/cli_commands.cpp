// quillon-cli's commands over the lookup operations; see cli_commands.h.
#include "app/cli/cli_commands.h"

#include "app/cli/cli_run_stop.h"
#include "app/cli/cli_view.h"
#include "app/lookup/lookup_operations.h"

namespace quillon {
namespace {

// Runs one operation on components of its own, attached to the calling
// thread's stop while it runs.
int RunOperation(int code, const std::string& name, const TPingOptions& ping, std::FILE* out,
                 TCliView& view) {
  TLookupOperations operations(view);
  operations.IcmpFamily = ping.family;
  if (ping.concurrent) {
    operations.IdIcmpClient.SetIdentifier(TIdIcmpClient::NextIdentifier());
    operations.IdIcmpClient.SocketKind = TIdRawSocketKind::PreferDatagram;
  }
  {
    const TRunStopAttachment attachment(operations);
    operations.RunOperation(code, name);
  }
  std::fflush(out);
  return operations.LastOperationFailed() ? 1 : 0;
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
