// The public address from several sources asked at once, each on a thread
// of its own, chosen by the agreement rule within a time limit; interruptible
// from another thread. A run returns as soon as its choice is made; the
// sources still out are stopped and joined later. One still inside the
// system's name lookup by then (that call cannot be cut short) is left to
// finish on its own thread: it owns everything it uses, and its answer is
// dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/lookup/public_address_ask.h"
#include "app/lookup/public_address_sources.h"

namespace quillon {

struct TSourceOutcome {
  std::string address;  // empty when the source failed or did not answer in time
  std::string error;    // plain English, when `address` is empty
  std::chrono::milliseconds ms{0};  // from the start of the run to its answer or the end
};

struct TPublicAddressResult {
  std::string address;                  // the address to show; empty: "Offline"
  std::vector<TSourceOutcome> sources;  // in list order
};

// How long stopped sources get to end when the next run starts or the
// lookup goes (past it, they can only be in the system's name lookup).
inline constexpr std::chrono::milliseconds kSourceStopGrace{200};

class TPublicAddressLookup {
 public:
  TPublicAddressLookup();
  ~TPublicAddressLookup();
  TPublicAddressLookup(const TPublicAddressLookup&) = delete;
  TPublicAddressLookup& operator=(const TPublicAddressLookup&) = delete;

  // Asks every source at once. Returns as soon as two agree (with
  // `waitAll`: once every source is in), every source is in, `limit` has
  // passed, or the lookup is interrupted; the sources still out are then
  // stopped and get "no answer in time". The address is the same with or
  // without `waitAll`: the first agreement stands.
  TPublicAddressResult Run(const std::vector<TPublicAddressSource>& sources,
                           std::chrono::milliseconds limit, bool waitAll);

  // From any thread, for good: a run in progress returns at once, later
  // runs ask nothing.
  void Interrupt();

  // Waits (a short grace at most) for the sources that past runs stopped,
  // and joins them: their sockets are closed then (a run does not wait for
  // them). Also done by the next run and by the destructor.
  void JoinStoppedSources();

  // How each source is asked (replaced by tests).
  TSourceAsker Ask = AskSource;

 private:
  struct TRunState;
  class TSourceThread;
  // Joins the sources of past runs that have ended by `until`; those still
  // in the system's name lookup then are left to it.
  void Reap(std::chrono::steady_clock::time_point until);

  std::atomic<bool> interrupted_{false};
  // Sources stopped at the end of a run, still ending (owner's thread only).
  std::vector<std::unique_ptr<TSourceThread>> pending_;
  std::mutex runLock_;  // guards current_
  std::shared_ptr<TRunState> current_;
};

}  // namespace quillon
