// quillon-cli trace --report: resolves the host, runs the probe cycles on an
// ICMP socket of its family, looks up the names (and origin AS numbers) of
// the addresses that answer meanwhile, and builds the report of the cycles
// done. Printing it (text or JSON) is the caller's.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/lookup/domain_helpers.h"
#include "app/trace/report_heading.h"
#include "app/trace/report_model.h"
#include "net/socket/address_text.h"

namespace quillon {

struct TTraceReportOptions {
  int cycles = 10;                                // 1 to kMaxCycles
  std::chrono::microseconds interval{1000000};    // between cycle starts
  int maxHops = 30;                               // 1 to kMaxHops
  std::chrono::microseconds wait{2000000};        // for each probe's answer
  bool numeric = false;                           // -n: no reverse names
  bool asn = false;                               // origin AS of every hop address
  int family = Id_PF_UNSPEC;                      // -4 / -6
  // Other runs work in this process at the same time (a list): the socket
  // takes an identifier of its own and prefers the datagram kind.
  bool concurrent = false;
  // Set from outside (Ctrl-C): the report of the cycles done so far.
  const std::atomic<bool>* interrupted = nullptr;
  // The reverse name of an address (the address itself when it has none).
  std::function<std::string(const std::string& address)> hostNameOf = ip2dns;
  // The origin AS of an address, asked when `asn` is set; unset: the
  // origin service through the first nameserver of `resolvConfPath`.
  std::function<std::optional<uint32_t>(const std::string& address)> originAsOf;
  std::string resolvConfPath = kResolvConfPath;
  int dnsPort = 53;
};

struct TTraceReport {
  enum class Outcome {
    Done,          // the report below
    HostNotFound,  // the host has no address (of the family asked for)
    NotAllowed,    // no ICMP socket may be opened
  };
  Outcome outcome = Outcome::Done;
  bool interrupted = false;
  TReportHeading heading;
  TReportModel model;
  TAddressInfos infos;
};

TTraceReport RunTraceReport(const std::string& hostText, const TTraceReportOptions& options);

}  // namespace quillon
