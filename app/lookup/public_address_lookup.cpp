// The public address from several sources; see public_address_lookup.h.
#include "app/lookup/public_address_lookup.h"

#include <condition_variable>
#include <system_error>
#include <thread>

#include "app/lookup/public_address_agreement.h"
#include "app/lookup/public_address_answer.h"

namespace quillon {

using Clock = std::chrono::steady_clock;

struct TPublicAddressLookup::TRunState {
  explicit TRunState(size_t sources) : tally(sources), outcomes(sources), in(sources, false) {}
  std::mutex lock;  // guards everything below
  std::condition_variable changed;
  TAddressTally tally;
  std::vector<TSourceOutcome> outcomes;
  std::vector<bool> in;
  bool open = true;       // answers are still taken
  bool interrupted = false;
};

// One source's thread: joined once the source has finished; a source that
// has not finished by then is left running on its own (see the header).
class TPublicAddressLookup::TSourceThread {
 public:
  TSourceThread(std::shared_ptr<TSourceControl> control, std::thread thread)
      : control_(std::move(control)), thread_(std::move(thread)) {}
  ~TSourceThread() {
    if (!thread_.joinable()) return;
    if (control_->WaitFinished(Clock::now()))
      thread_.join();
    else
      thread_.detach();
  }
  TSourceThread(const TSourceThread&) = delete;
  TSourceThread& operator=(const TSourceThread&) = delete;
  TSourceControl& Control() { return *control_; }

 private:
  std::shared_ptr<TSourceControl> control_;
  std::thread thread_;
};

namespace {

std::chrono::milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

}  // namespace

TPublicAddressLookup::TPublicAddressLookup() = default;

TPublicAddressLookup::~TPublicAddressLookup() {
  // Stopped sources end within a fraction of a second; only one inside the
  // system's name lookup is left behind.
  Reap(Clock::now() + kSourceStopGrace);
}

void TPublicAddressLookup::JoinStoppedSources() {
  Reap(Clock::now() + kSourceStopGrace);
}

void TPublicAddressLookup::Reap(Clock::time_point until) {
  for (auto& t : pending_) t->Control().WaitFinished(until);
  pending_.clear();
}

void TPublicAddressLookup::Interrupt() {
  interrupted_.store(true);
  std::lock_guard guard(runLock_);
  if (!current_) return;
  std::lock_guard runGuard(current_->lock);
  current_->interrupted = true;
  current_->changed.notify_all();
}

TPublicAddressResult TPublicAddressLookup::Run(const std::vector<TPublicAddressSource>& sources,
                                               std::chrono::milliseconds limit, bool waitAll) {
  TPublicAddressResult result;
  result.sources.resize(sources.size());
  if (sources.empty() || interrupted_.load()) return result;
  Reap(Clock::now() + kSourceStopGrace);

  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + limit;
  auto run = std::make_shared<TRunState>(sources.size());
  {
    std::lock_guard guard(runLock_);
    current_ = run;
  }
  std::vector<std::unique_ptr<TSourceThread>> threads;
  threads.reserve(sources.size());
  // One source's outcome, taken while the run is open.
  const auto record = [run, start](size_t i, TSourceReading reading) {
    std::lock_guard guard(run->lock);
    if (!run->open || run->in[i]) return;
    // Nothing but an address ever counts, whatever an asker returns.
    if (!reading.address.empty() && !IsDottedIPv4(reading.address))
      reading = {{}, "not an IPv4 address"};
    if (reading.address.empty() && reading.error.empty()) reading.error = "failed";
    run->in[i] = true;
    run->outcomes[i] = {reading.address, reading.address.empty() ? reading.error : "",
                        Since(start)};
    run->tally.Add(i, reading.address);
    run->changed.notify_all();
  };
  for (size_t i = 0; i < sources.size(); ++i) {
    auto control = std::make_shared<TSourceControl>(deadline);
    try {
      std::thread thread([record, control, source = sources[i], ask = Ask, i] {
        TSourceReading reading;
        try {
          reading = ask(source, *control);
        } catch (...) {
          reading = {{}, "failed"};  // askers do not throw; nothing leaves the thread
        }
        record(i, std::move(reading));
        control->MarkFinished();
      });
      threads.push_back(std::make_unique<TSourceThread>(std::move(control), std::move(thread)));
    } catch (const std::system_error&) {
      record(i, {{}, "failed"});  // no thread to be had: that source fails
    }
  }

  {
    std::unique_lock guard(run->lock);
    run->changed.wait_until(guard, deadline, [&] {
      // interrupted_ too: an interruption just before this run was current.
      return run->interrupted || interrupted_.load() ||
             (waitAll ? run->tally.AllIn() : run->tally.Decided());
    });
    run->open = false;
    result.address = run->tally.Shown();
    const auto end = Since(start);
    for (size_t i = 0; i < sources.size(); ++i) {
      result.sources[i] = run->outcomes[i];
      if (!run->in[i]) result.sources[i] = {{}, kNoAnswerInTime, end};
    }
  }
  {
    std::lock_guard guard(runLock_);
    current_.reset();
  }
  // The sources still out are stopped; the run does not wait for them (an
  // exchange ends within a fraction of a second, a name lookup when the
  // system's resolver gives up). They are joined later, by Reap.
  for (auto& t : threads) {
    t->Control().Stop();
    pending_.push_back(std::move(t));
  }
  return result;
}

}  // namespace quillon
