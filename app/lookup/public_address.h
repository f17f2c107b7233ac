// The fetch of the machine's public address: an HTTP GET of the service URL
// whose whole body is the address, bounded in time (connect and reads
// together) and in size, and interruptible.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace quillon {

class TIdHTTP;
class TInterruptibleIOHandler;

class TPublicAddressFetcher {
 public:
  explicit TPublicAddressFetcher(const std::atomic<bool>& interrupted);
  ~TPublicAddressFetcher();
  TPublicAddressFetcher(const TPublicAddressFetcher&) = delete;
  TPublicAddressFetcher& operator=(const TPublicAddressFetcher&) = delete;

  // The body as received. Raises on any failure: connect, time-out, an
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
