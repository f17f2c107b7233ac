// The five lookup operations and the ICMP reply report, written once against
// the lookup view: local information, whois, DNS MX, ping and trace route.
// Owns the window's network components with the window's settings. Runs on
// one thread at a time (the worker); Interrupt may come from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "app/lookup/domain_helpers.h"
#include "app/lookup/interruptible.h"
#include "app/lookup/lookup_events.h"
#include "app/lookup/lookup_view.h"
#include "app/lookup/lookup_worker.h"
#include "app/lookup/public_address.h"
#include "app/lookup/public_address_lookup.h"
#include "app/lookup/public_address_sources.h"
#include "net/socket/address_text.h"
#include "net/tcp/whois.h"
#include "net/thread/ip_watch.h"

namespace quillon {

// The longest that one whois exchange (connect, query, whole answer) may take.
inline constexpr std::chrono::milliseconds kWhoisTimeLimit{30000};

// Lines the operations write.
inline constexpr const char* kErrorWhois = "Error Whois";
inline constexpr const char* kErrorNoMx = "Error: No MX Found for domain ";
inline constexpr const char* kErrorHostNotFound = "Error: Host not found for domain ";
inline constexpr const char* kErrorIcmpNotAllowed = "Error: not allowed to send ICMP echo requests";
// Followed by what failed, in the system's words ("too many open files").
inline constexpr const char* kErrorIcmpSocket = "Error: cannot open an ICMP socket: ";
// The socket layer's number for a refusal (EPERM, EACCES).
inline constexpr int kSocketAccessDenied = 10013;

// The system's text of a socket layer's error number, in lower case ("too
// many open files"); "socket error N" for a number without one.
std::string SocketFailureReason(int code);

// CR LF, lone CR and lone LF each become one LF.
std::string NormaliseLineBreaks(const std::string& text);

class TLookupOperations final : public TOperationRunner {
 public:
  explicit TLookupOperations(TLookupView& view);
  ~TLookupOperations() override;

  // Clears the text area, then runs operation `code` (0 to 4; any other
  // code runs nothing more). Never throws.
  void RunOperation(int code, const std::string& hostText) override;
  // Ends the running operation soon; everything it would still write is
  // dropped. For good: later runs end at once.
  void Interrupt() override;

  // True when the last operation wrote its failure line ("Offline" for
  // local information).
  bool LastOperationFailed() const { return failed_; }
  // True once Interrupt was called.
  bool Interrupted() const { return interrupted_.load(); }

  void LocalInfo();
  void Whois(const std::string& hostText);
  void DnsMx(const std::string& hostText);
  void Ping(const std::string& hostText);
  void TraceRoute(const std::string& hostText);
  // OnReply of the ICMP client: one line per reply, counts echo replies and
  // tells a trace route when to stop.
  void IdIcmpClientReply(TIdBaseComponent* sender, const TReplyStatus& status);

  // Where things are looked up; fixed in the program, changed by tests.
  std::function<std::string(std::string_view topLevelLabel)> WhoisServerOf = WhoisServerFor;
  int WhoisPort = 43;
  std::string ResolvConfPath = kResolvConfPath;
  int DnsPort = 53;
  std::function<std::string(const std::string& address)> HostNameOf = ip2dns;
  // The public-address sources asked by local information (the faces set
  // the configured list; see public_address_sources.h).
  std::vector<TPublicAddressSource> PublicAddressSources = DefaultPublicAddressSources();
  // The address family ping and trace route use: Id_PF_UNSPEC takes the
  // host's (IPv4 when a name has any IPv4 address, else IPv6); Id_PF_INET or
  // Id_PF_INET6 allows that family only (quillon-cli -4 / -6).
  int IcmpFamily = Id_PF_UNSPEC;
  std::chrono::milliseconds PublicAddressTimeLimit = kPublicAddressTimeLimit;
  std::chrono::milliseconds WhoisTimeLimit = kWhoisTimeLimit;
  // Receives what the operations find, beside the lines (quillon-cli
  // --json); nullptr: nobody.
  TLookupEvents* Events = nullptr;
  // Local information waits for every source (up to the limit), so that
  // LastPublicAddress says what each did (quillon-cli info --json).
  bool PublicAddressWaitAll = false;
  // What the sources of the last local information gave.
  const TPublicAddressResult& LastPublicAddress() const { return lastPublicAddress_; }

  // Shared state of the ping and trace route (worker's thread only).
  std::string LastReplyAddress;
  uint32_t ReplyCount = 0;
  uint32_t ReplyTimeTotal = 0;

 private:
  // The view, silenced once interrupted.
  void Clear();
  void Append(const std::string& line);
  void Replace(const std::string& text);
  void Caption(TInfoLabel label, const std::string& caption);
  void Colour(TInfoLabel label, TColour colour);
  void CheckInterrupted() const;
  // The events, silenced once interrupted as the view is.
  TLookupEvents* Event() const { return interrupted_.load() ? nullptr : Events; }
  void ReportFailure(TLookupFailure failure, int dnsStatus = 0);
  // False (after writing the permission line, or the socket failure line
  // with its reason) when the ICMP socket cannot be opened with this
  // time-to-live.
  bool PrepareIcmp(int ttl);
  // Sends one echo request; on failure writes the host-not-found line and
  // answers false.
  bool SendOneEcho(const std::string& hostText);
  // Resolves the host once for the whole ping or trace, so that the echo
  // requests do not ask the resolver again each time; on failure writes the
  // host-not-found line and answers false. An IPv6 address switches the ICMP
  // client to ICMPv6 (which may write the permission line and answer false).
  bool ResolveIcmpHost(const std::string& hostText);

  TLookupView& view_;
  std::atomic<bool> interrupted_{false};
  bool failed_ = false;
  TPublicAddressResult lastPublicAddress_;

 public:
  // The window's components. The transports come first: the clients that
  // use them go away before them.
  TInterruptibleIOHandler WhoisTransport{interrupted_};
  TIdWhois IdWhois1;
  TInterruptibleResolver IdDNSResolver1{interrupted_};
  TInterruptibleIcmpClient IdIcmpClient{interrupted_};
  TIdIPWatch IdIPWatch1;
  TPublicAddressLookup PublicAddress;
};

}  // namespace quillon
