#include "app/trace/hop_statistics.h"

#include <algorithm>
#include <cmath>

#include "net/socket/text_helpers.h"

namespace quillon {

THopStatistics HopStatisticsOf(std::span<const std::optional<double>> roundTripsMs) {
  THopStatistics s;
  s.sent = static_cast<int>(roundTripsMs.size());
  int answered = 0;
  double sum = 0;
  TRoundTrips t;
  for (const std::optional<double>& rtt : roundTripsMs) {
    if (!rtt) {
      ++s.lost;
      continue;
    }
    t.bestMs = answered == 0 ? *rtt : std::min(t.bestMs, *rtt);
    t.worstMs = answered == 0 ? *rtt : std::max(t.worstMs, *rtt);
    t.lastMs = *rtt;
    sum += *rtt;
    ++answered;
  }
  if (answered == 0) return s;
  t.avgMs = sum / answered;
  // Deviations from the mean, summed in a second pass: no cancellation
  // between large sums of squares.
  double squares = 0;
  for (const std::optional<double>& rtt : roundTripsMs)
    if (rtt) squares += (*rtt - t.avgMs) * (*rtt - t.avgMs);
  t.stdevMs = answered > 1 ? std::sqrt(squares / (answered - 1)) : 0.0;
  s.times = t;
  return s;
}

std::string FormatLoss(const THopStatistics& statistics) {
  return Sprintf("%.1f%%", statistics.LossPercent());
}

}  // namespace quillon
