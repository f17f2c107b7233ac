// The report as one JSON object: host, address, cycles, started (RFC 3339),
// the hops with their addresses (name and origin AS, or null) and figures
// (times null for a hop that never answered), and the verdict.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include "app/trace/report_heading.h"
#include "app/trace/report_model.h"

namespace quillon {

nlohmann::json ReportJson(const TReportHeading& heading, const TReportModel& model,
                          const TAddressInfos& infos);

}  // namespace quillon
