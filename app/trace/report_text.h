// The report as text: the heading, the column line, one line per hop (and
// one more per further address of a hop), and the verdict.
#pragma once

#include <string>
#include <vector>

#include "app/trace/report_heading.h"
#include "app/trace/report_model.h"

namespace quillon {

// The lines without line ends. With `asn` an AS column comes before Host.
std::vector<std::string> ReportLines(const TReportHeading& heading, const TReportModel& model,
                                     const TAddressInfos& infos, bool asn);

// A hop address as the Host column shows it: "NAME (ADDRESS)", or ADDRESS
// without a name.
std::string HostField(const std::string& address, const TAddressInfos& infos);
// "AS64500", or "AS???" when the origin is not known.
std::string AsField(const std::string& address, const TAddressInfos& infos);

}  // namespace quillon
