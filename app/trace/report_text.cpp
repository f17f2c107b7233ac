#include "app/trace/report_text.h"

#include <algorithm>

#include "app/trace/verdict.h"
#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

// Column widths: Hop right-aligned in 3, two blanks, Host left-aligned in 28
// (AS first, left-aligned in 8 and two blanks), then the figures right-aligned.
// A longer host widens the Host column, so that the figures stay aligned.
constexpr const char* kColumns = "%7s%6s%7s%7s%7s%7s%7s";
constexpr size_t kHostWidth = 28;
constexpr size_t kAsWidth = 8;

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string HostField(const std::string& address, const TAddressInfos& infos) {
  const auto info = infos.find(address);
  if (info == infos.end() || !info->second.name) return address;
  return *info->second.name + " (" + address + ")";
}

std::string AsField(const std::string& address, const TAddressInfos& infos) {
  const auto info = infos.find(address);
  if (info == infos.end() || !info->second.asn) return "AS???";
  return "AS" + std::to_string(*info->second.asn);
}

std::vector<std::string> ReportLines(const TReportHeading& heading, const TReportModel& model,
                                     const TAddressInfos& infos, bool asn) {
  std::vector<std::string> lines;
  lines.push_back("Report for " + heading.host + " (" + heading.address + "), " +
                  std::to_string(heading.cycles) + " cycles, started " +
                  LocalTimeText(heading.started));
  const std::string asHeading = asn ? Padded("AS", kAsWidth) + "  " : "";
  size_t hostWidth = kHostWidth;
  for (const THopLine& hop : model.hops)
    if (!hop.addresses.empty())
      hostWidth = std::max(hostWidth, HostField(hop.addresses.front(), infos).size());
  lines.push_back("Hop  " + asHeading + Padded("Host", hostWidth) +
                  Sprintf(kColumns, "Loss%", "Sent", "Last", "Avg", "Best", "Worst", "StDev"));
  // Further addresses sit under the Host column.
  const std::string indent(5 + asHeading.size(), ' ');
  for (const THopLine& hop : model.hops) {
    const THopStatistics& s = hop.statistics;
    std::string line = Sprintf("%3d  ", hop.hop);
    if (hop.addresses.empty()) {
      if (asn) line += Padded("AS???", kAsWidth) + "  ";
      line += Padded("???", hostWidth) + Sprintf("%7s%6d", FormatLoss(s).c_str(), s.sent);
      lines.push_back(line);
      continue;
    }
    const std::string& first = hop.addresses.front();
    if (asn) line += Padded(AsField(first, infos), kAsWidth) + "  ";
    line += Padded(HostField(first, infos), hostWidth) +
            Sprintf("%7s%6d", FormatLoss(s).c_str(), s.sent);
    if (s.times)
      line += Sprintf("%7.1f%7.1f%7.1f%7.1f%7.1f", s.times->lastMs, s.times->avgMs,
                      s.times->bestMs, s.times->worstMs, s.times->stdevMs);
    lines.push_back(line);
    for (size_t i = 1; i < hop.addresses.size(); ++i)
      lines.push_back(indent + HostField(hop.addresses[i], infos));
  }
  lines.push_back("Verdict: " + Verdict(heading.host, model));
  return lines;
}

}  // namespace quillon
