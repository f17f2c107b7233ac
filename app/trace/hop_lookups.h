// The reverse names and origin AS numbers of the addresses that answer a
// report's probes, looked up while the cycles run: each address once, on a
// few threads of their own, so that a slow resolver never holds up a probe.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/trace/report_heading.h"

namespace quillon {

struct THopLookupSettings {
  // The reverse name of an address, or nothing when it has none. Unset: no
  // names are looked up (-n).
  std::function<std::optional<std::string>(const std::string& address)> nameOf;
  // The origin AS of an address, or nothing. Unset: none are looked up.
  std::function<std::optional<uint32_t>(const std::string& address)> originAsOf;
  int threads = 4;
};

class THopLookups {
 public:
  explicit THopLookups(THopLookupSettings settings);
  // Waits for the lookups still running, unless Abandon was called.
  ~THopLookups();
  THopLookups(const THopLookups&) = delete;
  THopLookups& operator=(const THopLookups&) = delete;

  // Starts the lookups of `address` unless it was added before.
  void Add(const std::string& address);
  // Waits until every lookup added has ended; false when `interrupted` was
  // set first.
  bool WaitAll(const std::atomic<bool>* interrupted = nullptr);
  // For an interrupted run: lookups not yet started are dropped, and those
  // still running are left to end on their own (a name lookup in the
  // system's resolver cannot be cut short); their results are not waited for.
  void Abandon();
  // What has been found so far.
  TAddressInfos Results() const;

 private:
  struct TShared;
  static void Work(std::shared_ptr<TShared> shared);

  const THopLookupSettings settings_;
  std::shared_ptr<TShared> shared_;
  std::vector<std::thread> threads_;
  bool abandoned_ = false;
};

}  // namespace quillon
