#include "app/trace/trace_report.h"

#include "app/lookup/idn.h"
#include "app/trace/hop_lookups.h"
#include "app/trace/origin_lookup.h"
#include "app/trace/probe_cycles.h"
#include "net/icmp/echo_prober.h"
#include "net/icmp/icmp_client.h"
#include "net/socket/stack.h"

namespace quillon {
namespace {

// The probes of the run on an ICMP socket, to one address.
class TProberTransport final : public TProbeTransport {
 public:
  TProberTransport(TIdEchoProber& prober, std::string address)
      : prober_(prober), address_(std::move(address)) {}
  bool Send(int ttl, uint16_t sequence) override {
    return prober_.SendProbe(address_, ttl, sequence);
  }
  std::optional<TEchoAnswer> Receive(int timeoutMs) override {
    return prober_.ReceiveAnswer(timeoutMs);
  }

 private:
  TIdEchoProber& prober_;
  const std::string address_;
};

THopLookupSettings LookupSettingsOf(const TTraceReportOptions& options) {
  THopLookupSettings settings;
  if (!options.numeric && options.hostNameOf)
    settings.nameOf = [nameOf = options.hostNameOf](
                          const std::string& address) -> std::optional<std::string> {
      std::string name = nameOf(address);
      if (name.empty() || name == address) return std::nullopt;
      return name;
    };
  if (options.asn) {
    settings.originAsOf = options.originAsOf;
    if (!settings.originAsOf)
      settings.originAsOf = [server = TDnsServer{getdns(options.resolvConfPath), options.dnsPort},
                             interrupted = options.interrupted](const std::string& address) {
        return LookUpOriginAs(address, server, interrupted);
      };
  }
  return settings;
}

}  // namespace

TTraceReport RunTraceReport(const std::string& hostText, const TTraceReportOptions& options) {
  TTraceReport report;
  report.heading.host = hostText;
  // The prober, a component, brings the socket stack up first.
  TIdEchoProber prober;
  try {
    report.heading.address = SharedStack().ResolveHostName(ToWireName(hostText), options.family);
  } catch (...) {
    report.outcome = TTraceReport::Outcome::HostNotFound;
    return report;
  }
  // Every run takes the next identifier of the process's series, so that
  // runs at once in a list never take each other's answers.
  prober.SetIdentifier(TIdIcmpClient::NextIdentifier());
  if (options.concurrent) prober.SocketKind = TIdRawSocketKind::PreferDatagram;
  try {
    prober.Open(AddressFamilyOf(report.heading.address));
  } catch (...) {
    report.outcome = TTraceReport::Outcome::NotAllowed;
    return report;
  }

  THopLookups lookups(LookupSettingsOf(options));
  TProbeCycleSettings settings;
  settings.cycles = options.cycles;
  settings.interval = options.interval;
  settings.maxHops = options.maxHops;
  settings.wait = options.wait;
  settings.interrupted = options.interrupted;
  settings.onNewAddress = [&lookups](const std::string& address) { lookups.Add(address); };
  TProberTransport transport(prober, report.heading.address);
  report.heading.started = std::chrono::system_clock::now();
  // A socket that fails under the run ends it: the report of the cycles done.
  const TProbeCycleRun run = RunProbeCycles(transport, settings);
  // The report waits for the lookups still out, unless Ctrl-C comes first.
  report.interrupted = run.interrupted || !lookups.WaitAll(options.interrupted);
  if (report.interrupted) lookups.Abandon();
  report.heading.cycles = static_cast<int>(run.done.size());
  report.model = BuildReportModel(run.done, options.maxHops);
  report.infos = lookups.Results();
  return report;
}

}  // namespace quillon
