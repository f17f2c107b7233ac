#include "app/trace/probe_cycles.h"

#include <algorithm>
#include <set>

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

// The longest single wait, so that an interruption is seen soon.
constexpr std::chrono::milliseconds kWaitSlice{50};

struct TProbe {
  int cycle = 0;
  int ttl = 0;
  Clock::time_point sent;
  bool pending = true;
  TProbeOutcome outcome;
};

class TCycleRunner {
 public:
  TCycleRunner(TProbeTransport& transport, const TProbeCycleSettings& settings)
      : transport_(transport),
        settings_(settings),
        cycles_(std::clamp(settings.cycles, 0, kMaxCycles)),
        maxHops_(std::clamp(settings.maxHops, 1, kMaxHops)),
        pendingInCycle_(static_cast<size_t>(cycles_), 0),
        firstOfCycle_(static_cast<size_t>(cycles_), 0),
        sentInCycle_(static_cast<size_t>(cycles_), 0) {}

  TProbeCycleRun Run();

 private:
  // Sends and receives until the last cycle is done or the run interrupted.
  void Loop(TProbeCycleRun& run);
  bool Interrupted() const { return settings_.interrupted && settings_.interrupted->load(); }
  // The hops the next cycle sends to: the end of the path once known.
  int Limit() const;
  void SendCycle();
  void Take(const TEchoAnswer& answer);
  void TakeQueued();
  // Marks every probe whose wait is over as lost; the time the next one's
  // wait ends, if one is pending.
  std::optional<Clock::time_point> ExpireLate(Clock::time_point now);

  TProbeTransport& transport_;
  const TProbeCycleSettings& settings_;
  const int cycles_;
  const int maxHops_;
  std::vector<TProbe> probes_;  // in sending order; index = sequence - first
  std::vector<int> pendingInCycle_;
  // A cycle's probes lie together in probes_: where they start, how many.
  std::vector<size_t> firstOfCycle_;
  std::vector<int> sentInCycle_;
  size_t oldestPending_ = 0;
  int nextCycle_ = 0;
  size_t pending_ = 0;
  std::optional<int> destination_;
  std::optional<int> unreachable_;
  std::set<std::string> addresses_;
};

int TCycleRunner::Limit() const {
  int limit = maxHops_;
  if (destination_) limit = std::min(limit, *destination_);
  if (unreachable_) limit = std::min(limit, *unreachable_);
  return limit;
}

void TCycleRunner::SendCycle() {
  const int cycle = nextCycle_++;
  const int hops = Limit();
  firstOfCycle_[static_cast<size_t>(cycle)] = probes_.size();
  sentInCycle_[static_cast<size_t>(cycle)] = hops;
  for (int ttl = 1; ttl <= hops; ++ttl) {
    TProbe probe;
    probe.cycle = cycle;
    probe.ttl = ttl;
    const uint16_t sequence =
        static_cast<uint16_t>(settings_.firstSequence + static_cast<uint16_t>(probes_.size()));
    probe.sent = Clock::now();
    const bool sent = transport_.Send(ttl, sequence);
    // A probe the system refused to send is lost at once.
    probe.pending = sent;
    probes_.push_back(probe);
    if (sent) {
      ++pendingInCycle_[static_cast<size_t>(cycle)];
      ++pending_;
    }
    // Answers that came meanwhile are taken now, so that their time is not
    // stretched by the rest of the cycle's sending.
    TakeQueued();
  }
}

void TCycleRunner::Take(const TEchoAnswer& answer) {
  const auto now = Clock::now();
  const size_t index = static_cast<uint16_t>(answer.Sequence - settings_.firstSequence);
  if (index >= probes_.size()) return;  // not a probe of this run
  TProbe& probe = probes_[index];
  if (!probe.pending) return;  // answered already, or lost: a late answer counts for nothing
  if (now - probe.sent > settings_.wait) return;  // ExpireLate will count it lost
  probe.pending = false;
  --pending_;
  --pendingInCycle_[static_cast<size_t>(probe.cycle)];
  probe.outcome.address = answer.SourceAddress;
  probe.outcome.roundTripMs = std::chrono::duration<double, std::milli>(now - probe.sent).count();
  switch (answer.Outcome) {
    case roEchoReply:
      probe.outcome.kind = TProbeOutcome::Kind::EchoReply;
      if (!destination_ || probe.ttl < *destination_) destination_ = probe.ttl;
      break;
    case roUnreachable:
      probe.outcome.kind = TProbeOutcome::Kind::Unreachable;
      if (!unreachable_ || probe.ttl < *unreachable_) unreachable_ = probe.ttl;
      break;
    default:
      probe.outcome.kind = TProbeOutcome::Kind::TtlExpired;
      break;
  }
  if (addresses_.insert(answer.SourceAddress).second && settings_.onNewAddress)
    settings_.onNewAddress(answer.SourceAddress);
}

void TCycleRunner::TakeQueued() {
  while (const std::optional<TEchoAnswer> answer = transport_.Receive(0)) Take(*answer);
}

std::optional<Clock::time_point> TCycleRunner::ExpireLate(Clock::time_point now) {
  // Probes go out in time order, so their waits end in that order too.
  for (; oldestPending_ < probes_.size(); ++oldestPending_) {
    TProbe& probe = probes_[oldestPending_];
    if (!probe.pending) continue;
    const auto end = probe.sent + settings_.wait;
    if (end > now) return end;
    probe.pending = false;
    --pending_;
    --pendingInCycle_[static_cast<size_t>(probe.cycle)];
  }
  return std::nullopt;
}

TProbeCycleRun TCycleRunner::Run() {
  TProbeCycleRun run;
  try {
    Loop(run);
  } catch (...) {
    run.failed = true;
  }
  for (int cycle = 0; cycle < nextCycle_; ++cycle) {
    if (pendingInCycle_[static_cast<size_t>(cycle)] != 0) continue;  // still waiting: not done
    const size_t first = firstOfCycle_[static_cast<size_t>(cycle)];
    TCycleOutcomes outcomes;
    for (size_t i = 0; i < static_cast<size_t>(sentInCycle_[static_cast<size_t>(cycle)]); ++i)
      outcomes.push_back(probes_[first + i].outcome);
    run.done.push_back(std::move(outcomes));
  }
  return run;
}

void TCycleRunner::Loop(TProbeCycleRun& run) {
  const auto start = Clock::now();
  for (;;) {
    if (Interrupted()) {
      run.interrupted = true;
      break;
    }
    auto now = Clock::now();
    const auto nextStart = start + settings_.interval * nextCycle_;
    if (nextCycle_ < cycles_ && now >= nextStart) {
      SendCycle();
      continue;
    }
    std::optional<Clock::time_point> deadline = ExpireLate(now);
    if (nextCycle_ >= cycles_ && pending_ == 0) break;
    if (nextCycle_ < cycles_) deadline = deadline ? std::min(*deadline, nextStart) : nextStart;
    const auto until = std::min(deadline.value_or(now + kWaitSlice), now + kWaitSlice);
    // Rounded up, so that the wait does not end just before its deadline.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    if (const std::optional<TEchoAnswer> answer =
            transport_.Receive(static_cast<int>(std::max<int64_t>(ms, 0)))) {
      Take(*answer);
      TakeQueued();
    }
  }
}

}  // namespace

TProbeCycleRun RunProbeCycles(TProbeTransport& transport, const TProbeCycleSettings& settings) {
  return TCycleRunner(transport, settings).Run();
}

}  // namespace quillon
