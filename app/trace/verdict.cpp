#include "app/trace/verdict.h"

#include <cstdint>

namespace quillon {
namespace {

std::string HopText(const THopLine& line) {
  const std::string address = line.addresses.empty() ? "???" : line.addresses.front();
  return "hop " + std::to_string(line.hop) + " (" + address + ")";
}

// lost/sent of `hop` is at least half of lost/sent of `destination`, in
// whole numbers so that no rounding decides.
bool LosesHalfAsMuch(const THopStatistics& hop, const THopStatistics& destination) {
  return 2 * int64_t{hop.lost} * destination.sent >= int64_t{destination.lost} * hop.sent;
}

std::string ReachedVerdict(const std::string& host, const TReportModel& model) {
  const THopLine& destination = model.hops.back();
  if (destination.statistics.lost == 0) {
    std::vector<int> lossy;
    for (const THopLine& line : model.hops)
      if (line.statistics.lost > 0) lossy.push_back(line.hop);
    if (lossy.empty()) return "no loss to " + host;
    std::string hops = lossy.size() == 1 ? "hop " : "hops ";
    for (size_t i = 0; i < lossy.size(); ++i)
      hops += (i == 0 ? "" : ", ") + std::to_string(lossy[i]);
    return "no loss to " + host + " (" + hops + (lossy.size() == 1 ? " answers" : " answer") +
           " only some probes: a reply limit, not loss on the path)";
  }
  // Walk back from the destination while each hop loses at least half as much.
  size_t from = model.hops.size() - 1;
  while (from > 0 && LosesHalfAsMuch(model.hops[from - 1].statistics, destination.statistics))
    --from;
  return FormatLoss(destination.statistics) + " loss to " + host + ", from " +
         HopText(model.hops[from]);
}

}  // namespace

std::string Verdict(const std::string& host, const TReportModel& model) {
  switch (model.end) {
    case TPathEnd::Reached:
      if (!model.hops.empty()) return ReachedVerdict(host, model);
      break;
    case TPathEnd::Unreachable:
      if (!model.hops.empty())
        return host + " not reached; hop " + std::to_string(model.hops.back().hop) + " (" +
               model.unreachableFrom + ") reports destination network unreachable";
      break;
    case TPathEnd::NotReached:
      break;
  }
  for (auto line = model.hops.rbegin(); line != model.hops.rend(); ++line)
    if (!line->addresses.empty()) return host + " not reached; last answer from " + HopText(*line);
  return host + " not reached; no hop answered";
}

}  // namespace quillon
