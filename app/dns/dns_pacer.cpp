#include "app/dns/dns_pacer.h"

#include <algorithm>
#include <thread>

namespace quillon {

TDnsPacer::TDnsPacer(double qps)
    : gap_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / qps))) {}

void TDnsPacer::Wait(const std::atomic<bool>* interrupted) {
  Clock::time_point slot;
  {
    // Each caller takes the next slot in turn; slots are never bunched up
    // after an idle spell beyond the one that is due now.
    const std::lock_guard lock(mutex_);
    slot = std::max(Clock::now(), next_);
    next_ = slot + gap_;
  }
  constexpr auto kSlice = std::chrono::milliseconds(100);
  for (;;) {
    if (interrupted && interrupted->load()) return;
    const auto now = Clock::now();
    if (now >= slot) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(slot - now, kSlice));
  }
}

}  // namespace quillon
