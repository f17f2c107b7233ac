#include "app/trace/report_model.h"

#include <algorithm>
#include <optional>

namespace quillon {
namespace {

using Kind = TProbeOutcome::Kind;

// The lowest time-to-live (from 1) whose probe came to `kind` in any cycle.
std::optional<int> LowestWith(std::span<const TCycleOutcomes> cycles, Kind kind) {
  std::optional<int> lowest;
  for (const TCycleOutcomes& cycle : cycles)
    for (size_t i = 0; i < cycle.size(); ++i)
      if (cycle[i].kind == kind && (!lowest || static_cast<int>(i) + 1 < *lowest))
        lowest = static_cast<int>(i) + 1;
  return lowest;
}

THopLine LineOf(std::span<const TCycleOutcomes> cycles, int hop) {
  THopLine line;
  line.hop = hop;
  std::vector<std::optional<double>> times;
  for (const TCycleOutcomes& cycle : cycles) {
    if (static_cast<size_t>(hop) > cycle.size()) continue;  // not sent in that cycle
    const TProbeOutcome& probe = cycle[static_cast<size_t>(hop) - 1];
    if (probe.kind == Kind::Lost) {
      times.push_back(std::nullopt);
      continue;
    }
    times.push_back(probe.roundTripMs);
    if (std::find(line.addresses.begin(), line.addresses.end(), probe.address) ==
        line.addresses.end())
      line.addresses.push_back(probe.address);
  }
  line.statistics = HopStatisticsOf(times);
  return line;
}

}  // namespace

TReportModel BuildReportModel(std::span<const TCycleOutcomes> cycles, int maxHops) {
  TReportModel model;
  const std::optional<int> destination = LowestWith(cycles, Kind::EchoReply);
  const std::optional<int> unreachable = LowestWith(cycles, Kind::Unreachable);
  int last;
  if (unreachable && (!destination || *unreachable < *destination)) {
    model.end = TPathEnd::Unreachable;
    last = *unreachable;
  } else if (destination) {
    model.end = TPathEnd::Reached;
    last = *destination;
  } else {
    model.end = TPathEnd::NotReached;
    int answered = 0;
    for (const TCycleOutcomes& cycle : cycles)
      for (size_t i = 0; i < cycle.size(); ++i)
        if (cycle[i].kind != Kind::Lost) answered = std::max(answered, static_cast<int>(i) + 1);
    last = std::min(answered + 1, std::max(maxHops, 1));
  }
  for (int hop = 1; hop <= last; ++hop) model.hops.push_back(LineOf(cycles, hop));
  if (model.end == TPathEnd::Unreachable) {
    for (const TCycleOutcomes& cycle : cycles) {
      const size_t at = static_cast<size_t>(last) - 1;
      if (at < cycle.size() && cycle[at].kind == Kind::Unreachable) {
        model.unreachableFrom = cycle[at].address;
        break;
      }
    }
  }
  return model;
}

}  // namespace quillon
