// Bootstrap registries, cached and shared; see rdap_registry.h.
#include "app/rdap/rdap_registry.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#include "app/lookup/interruptible.h"
#include "app/lookup/printable_text.h"
#include "app/rdap/rdap_bootstrap.h"
#include "app/rdap/rdap_cache.h"
#include "app/rdap/rdap_fetcher.h"

namespace quillon {

namespace {

constexpr int64_t kDefaultMaxAge = 24 * 3600;

// A name for the cache file of a registry fetched from `base`: the IANA
// files under their own names, any other source apart from them.
std::string CacheName(const std::string& base, const std::string& file) {
  if (base == TRdapOptions().bootstrapBase) return file;
  uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : base) hash = (hash ^ c) * 1099511628211ULL;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(hex) + "-" + file;
}

// The cache when fresh, else a fetch, checked and kept.
std::string ReadOrFetch(TRdapFetcher& fetcher, const TRdapOptions& options,
                        const std::string& file, const std::string& cacheName) {
  const TRdapCache cache(options.cacheDir);
  const int64_t now = RdapNow(options);
  if (std::optional<std::string> cached = cache.ReadFresh(cacheName, now)) {
    // A damaged cache file is fetched again rather than trusted.
    try {
      CheckBootstrapRegistry(*cached);
      return *cached;
    } catch (const ERdapError&) {
    }
  }
  TFetched fetched = fetcher.Get(options.bootstrapBase + file, "application/json");
  try {
    CheckBootstrapRegistry(fetched.body);
  } catch (const ERdapError& e) {
    throw ERdapError(std::string(e.what()) + " from " + PrintableText(fetched.host));
  }
  cache.Store(cacheName, fetched.body, now + MaxAgeSeconds(fetched.cacheControl, kDefaultMaxAge));
  return fetched.body;
}

// One registry being read or fetched, and its outcome for those waiting.
struct TFlight {
  bool done = false;
  std::string registry;
  std::exception_ptr failure;
};

// The registries in flight in this process, by cache name.
struct TFlights {
  std::mutex lock;
  std::condition_variable landed;
  std::map<std::string, std::shared_ptr<TFlight>> byName;
};

TFlights& Flights() {
  static TFlights* flights = new TFlights;  // never destroyed: workers may outlive statics
  return *flights;
}

// A failure of its own for each lookup that receives it: one exception
// object rethrown in several threads would be caught, read and released by
// all of them at once, its count of holders kept where nothing checks it.
std::exception_ptr CopyOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ERdapStatusError& e) {
    return std::make_exception_ptr(ERdapStatusError(e.Code, e.what()));
  } catch (const ERdapError& e) {
    return std::make_exception_ptr(ERdapError(e.what()));
  } catch (const EOperationInterrupted& e) {
    return std::make_exception_ptr(EOperationInterrupted(e.what()));
  } catch (const std::bad_alloc&) {
    return std::make_exception_ptr(std::bad_alloc());
  } catch (const std::exception& e) {
    return std::make_exception_ptr(std::runtime_error(e.what()));
  } catch (...) {
    return std::make_exception_ptr(std::runtime_error("unknown failure"));
  }
}

}  // namespace

int64_t RdapNow(const TRdapOptions& options) {
  if (options.clock) return options.clock();
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string BootstrapRegistry(TRdapFetcher& fetcher, const TRdapOptions& options,
                              const std::string& file) {
  const std::string cacheName = CacheName(options.bootstrapBase, file);
  TFlights& flights = Flights();
  std::shared_ptr<TFlight> flight;
  {
    std::unique_lock guard(flights.lock);
    const auto it = flights.byName.find(cacheName);
    if (it != flights.byName.end()) {
      // Another lookup is at it: its outcome is ours, whatever it is.
      const std::shared_ptr<TFlight> theirs = it->second;
      while (!theirs->done) {
        if (options.interrupted != nullptr && options.interrupted->load())
          throw EOperationInterrupted("Interrupted");
        flights.landed.wait_for(guard, std::chrono::milliseconds(kWaitSliceMs));
      }
      if (theirs->failure) std::rethrow_exception(CopyOf(theirs->failure));
      return theirs->registry;
    }
    flight = std::make_shared<TFlight>();
    flights.byName.emplace(cacheName, flight);
  }
  std::string registry;
  std::exception_ptr failure;
  try {
    registry = ReadOrFetch(fetcher, options, file, cacheName);
  } catch (...) {
    failure = std::current_exception();
  }
  {
    std::lock_guard guard(flights.lock);
    flight->registry = registry;
    if (failure) flight->failure = CopyOf(failure);
    flight->done = true;
    flights.byName.erase(cacheName);
  }
  flights.landed.notify_all();
  if (failure) std::rethrow_exception(failure);
  return registry;
}

}  // namespace quillon
