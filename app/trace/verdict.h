// The report's last line: what the figures of the hops say about the path
// to the destination, in one sentence that tells loss on the path from a
// router that merely answers only some of the probes sent to it.
#pragma once

#include <string>

#include "app/trace/report_model.h"

namespace quillon {

// The verdict without its "Verdict: " prefix, `host` as typed:
//   no loss to HOST
//   no loss to HOST (hop K answers only some probes: a reply limit, not loss
//     on the path)          ("hops K1, K2 answer" for several)
//   X% loss to HOST, from hop K (ADDRESS)
//   HOST not reached; hop K (ADDRESS) reports destination network unreachable
//   HOST not reached; last answer from hop K (ADDRESS)
//   HOST not reached; no hop answered
// K of the loss verdict is the lowest hop from which every hop up to the
// destination lost at least half of the destination's share of probes.
std::string Verdict(const std::string& host, const TReportModel& model);

}  // namespace quillon
