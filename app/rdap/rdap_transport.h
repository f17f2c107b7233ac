// The socket transport under rdap's TLS: interruptible and bounded in time
// and bytes like the other lookups', it also resolves the host name inside
// that bound (on a thread of its own, which a time-out or an interruption
// leaves behind), connects the names of a test world to their addresses, and
// turns resolution and connect failures into English lines naming the host.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/lookup/interruptible.h"

namespace quillon {

// Host name → address text; raises on failure (EIdSocketError for the
// system resolver's failures).
using TRdapResolve = std::function<std::string(const std::string& host)>;

class TRdapTransport : public TInterruptibleIOHandler {
 public:
  // `resolve` empty: the socket stack's resolver.
  TRdapTransport(const std::atomic<bool>& interrupted, std::map<std::string, std::string> hosts,
                 TRdapResolve resolve);

  // As the base's, remembering the bound for the resolution.
  void Arm(std::chrono::milliseconds limit, size_t maxBytes);
  void Disarm();

  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                 int boundPortMin, int boundPortMax, int timeout) override;

  // Milliseconds left of the bound armed (none armed: a very large number).
  int64_t MsLeft() const;
  // Waits `duration` in slices, ending at once with EOperationInterrupted.
  void Pause(std::chrono::milliseconds duration);

 private:
  // The address of `host`, waiting for it in slices: EOperationInterrupted
  // or EOperationLimitExceeded end the wait, ERdapError a failed resolution.
  std::string Resolve(const std::string& host);

  const std::atomic<bool>& interrupted_;
  std::map<std::string, std::string> hosts_;
  TRdapResolve resolve_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
};

}  // namespace quillon
