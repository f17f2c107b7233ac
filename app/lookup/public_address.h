// The HTTP fetch of a public-address service: a GET of its URL whose body is
// the address, bounded in time (connect and reads together) and in size, and
// interruptible.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace quillon {

// Local Info's bound: every source has answered or been given up by then.
inline constexpr std::chrono::milliseconds kPublicAddressTimeLimit{3000};
inline constexpr size_t kPublicAddressMaxBody = 64 * 1024;

class TIdHTTP;
class TInterruptibleIOHandler;

class TPublicAddressFetcher {
 public:
  explicit TPublicAddressFetcher(const std::atomic<bool>& interrupted);
  ~TPublicAddressFetcher();
  TPublicAddressFetcher(const TPublicAddressFetcher&) = delete;
  TPublicAddressFetcher& operator=(const TPublicAddressFetcher&) = delete;

  // The body as received (GetBody). Raises on any failure: connect, time-out, an
  // error status, a body over `maxBody` bytes, or the whole exchange taking
  // longer than `limit`.
  std::string Fetch(const std::string& url, std::chrono::milliseconds limit, size_t maxBody);

  // From another thread: ends a connect or read in progress at once.
  void WakeWait();

  TIdHTTP& Client() { return *http_; }

 private:
  std::unique_ptr<TInterruptibleIOHandler> transport_;
  std::unique_ptr<TIdHTTP> http_;
};

}  // namespace quillon
