// The figures of one hop over the cycles of a report: probes sent and lost,
// and the last, average, best and worst round-trip time with its standard
// deviation over the probes that were answered.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace quillon {

struct TRoundTrips {
  double lastMs = 0;
  double avgMs = 0;
  double bestMs = 0;
  double worstMs = 0;
  // The sample standard deviation (divided by n - 1): the spread the hop's
  // times are likely to have, not only that of these few. 0 for one answer.
  double stdevMs = 0;
};

struct THopStatistics {
  int sent = 0;
  int lost = 0;
  std::optional<TRoundTrips> times;  // none when no probe was answered

  double LossPercent() const { return sent == 0 ? 0.0 : 100.0 * lost / sent; }
};

// The figures of a hop's probes in cycle order: the round-trip time of each
// answered probe, nothing for a lost one.
THopStatistics HopStatisticsOf(std::span<const std::optional<double>> roundTripsMs);

// A loss as the report writes it: one decimal and "%" ("20.0%").
std::string FormatLoss(const THopStatistics& statistics);

}  // namespace quillon
