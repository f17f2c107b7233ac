// What the probes of a report run came to, cycle by cycle, and the report
// built from it: one line per hop from the first to the end of the path, with
// the addresses that answered and the hop's figures, and how the path ended.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/trace/hop_statistics.h"

namespace quillon {

struct TProbeOutcome {
  enum class Kind : uint8_t { Lost, TtlExpired, EchoReply, Unreachable };
  Kind kind = Kind::Lost;
  std::string address;     // who answered; empty when lost
  double roundTripMs = 0;  // when answered
};

// One finished cycle: [0] is the probe with time-to-live 1, and so on for as
// many as the cycle sent.
using TCycleOutcomes = std::vector<TProbeOutcome>;

enum class TPathEnd {
  Reached,      // the destination answered: its hop is the last
  Unreachable,  // a destination-unreachable answer ended the path
  NotReached,   // neither: the last line is the hop after the last that answered
};

struct THopLine {
  int hop = 0;
  // Every address that answered this hop's probes, in the order they first
  // did; empty for a hop that never answered (shown as ???).
  std::vector<std::string> addresses;
  THopStatistics statistics;
};

struct TReportModel {
  std::vector<THopLine> hops;
  TPathEnd end = TPathEnd::NotReached;
  // For Unreachable: the address that reported it (the last hop's).
  std::string unreachableFrom;
};

// The destination's hop is the lowest time-to-live whose probe got an echo
// reply in any cycle; an unreachable answer at a lower time-to-live ends the
// path there instead. With neither, the hops up to the last that answered
// are followed by one line for the next (unless that would pass `maxHops`),
// or by the line of hop 1 alone when none answered.
TReportModel BuildReportModel(std::span<const TCycleOutcomes> cycles, int maxHops);

}  // namespace quillon
