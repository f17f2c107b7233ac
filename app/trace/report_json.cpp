#include "app/trace/report_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "app/trace/verdict.h"

namespace quillon {
namespace {

// Times to the microsecond and the loss to one decimal, as the text has it.
// Divided last, so that the result is the double nearest to the decimal.
double Rounded(double value, double scale) {
  return std::round(value * scale) / scale;
}

nlohmann::json AddressJson(const std::string& address, const TAddressInfos& infos) {
  nlohmann::json a = {{"address", address}, {"name", nullptr}, {"asn", nullptr}};
  const auto info = infos.find(address);
  if (info != infos.end()) {
    if (info->second.name) a["name"] = *info->second.name;
    if (info->second.asn) a["asn"] = *info->second.asn;
  }
  return a;
}

}  // namespace

nlohmann::json ReportJson(const TReportHeading& heading, const TReportModel& model,
                          const TAddressInfos& infos) {
  nlohmann::json hops = nlohmann::json::array();
  for (const THopLine& line : model.hops) {
    const THopStatistics& s = line.statistics;
    nlohmann::json addresses = nlohmann::json::array();
    for (const std::string& address : line.addresses)
      addresses.push_back(AddressJson(address, infos));
    nlohmann::json hop = {{"hop", line.hop},
                          {"addresses", std::move(addresses)},
                          {"sent", s.sent},
                          {"lost", s.lost},
                          {"loss_pct", Rounded(s.LossPercent(), 10)}};
    const auto time = [&](double TRoundTrips::*field) -> nlohmann::json {
      if (!s.times) return nullptr;
      return Rounded((*s.times).*field, 1000);
    };
    hop["last_ms"] = time(&TRoundTrips::lastMs);
    hop["avg_ms"] = time(&TRoundTrips::avgMs);
    hop["best_ms"] = time(&TRoundTrips::bestMs);
    hop["worst_ms"] = time(&TRoundTrips::worstMs);
    hop["stdev_ms"] = time(&TRoundTrips::stdevMs);
    hops.push_back(std::move(hop));
  }
  return {{"host", heading.host},
          {"address", heading.address},
          {"cycles", heading.cycles},
          {"started", Rfc3339Text(heading.started)},
          {"hops", std::move(hops)},
          {"verdict", Verdict(heading.host, model)}};
}

}  // namespace quillon
