// quillon-cli trace --report; see cli_trace_report.h.
#include "app/cli/cli_trace_report.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "app/cli/cli_list.h"
#include "app/cli/json_output.h"
#include "app/lookup/lookup_operations.h"
#include "app/trace/probe_cycles.h"
#include "app/trace/report_json.h"
#include "app/trace/report_text.h"

namespace quillon {
namespace {

constexpr int kMaxIntervalSeconds = 3600;
constexpr int kMaxWaitSeconds = 60;

// A whole number from `low` to `high` in decimal digits, else nothing. The
// digits are counted before they are added up, so no text can overflow.
std::optional<int> ParseWhole(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < low || n > high) return std::nullopt;
  return n;
}

// Seconds as "S", "S.F" or ".F" (at most 5 digits before the point and 6
// after it), from `low` to `high` microseconds, else nothing.
std::optional<std::chrono::microseconds> ParseSeconds(const std::string& text, int64_t low,
                                                      int64_t high) {
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  if (whole.size() > 5 || fraction.size() > 6 || (whole.empty() && fraction.empty()))
    return std::nullopt;
  if (point != std::string::npos && fraction.empty()) return std::nullopt;
  int64_t us = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    us = us * 10 + (c - '0');
  }
  us *= 1000000;
  int64_t scale = 100000;
  for (char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
    us += (c - '0') * scale;
    scale /= 10;
  }
  if (us < low || us > high) return std::nullopt;
  return std::chrono::microseconds(us);
}

}  // namespace

std::string TraceReportOptionsOf(const TCliArgs& args, TTraceReportOptions& options, bool& json) {
  const std::string me = args.command + ": ";
  if (!args.Has("--report")) {
    for (const char* option : kTraceReportOptions)
      if (args.Has(option)) return me + option + " goes with --report";
    return {};
  }
  if (args.Has("-c")) {
    const auto n = ParseWhole(args.Value("-c"), 1, kMaxCycles);
    if (!n) return me + "-c needs a number of cycles from 1 to " + std::to_string(kMaxCycles);
    options.cycles = *n;
  }
  if (args.Has("-i")) {
    const auto s = ParseSeconds(args.Value("-i"), 10000, int64_t{kMaxIntervalSeconds} * 1000000);
    if (!s)
      return me + "-i needs seconds from 0.01 to " + std::to_string(kMaxIntervalSeconds);
    options.interval = *s;
  }
  if (args.Has("-m")) {
    const auto n = ParseWhole(args.Value("-m"), 1, kMaxHops);
    if (!n) return me + "-m needs a number of hops from 1 to " + std::to_string(kMaxHops);
    options.maxHops = *n;
  }
  if (args.Has("-W")) {
    const auto s = ParseSeconds(args.Value("-W"), 10000, int64_t{kMaxWaitSeconds} * 1000000);
    if (!s) return me + "-W needs seconds from 0.01 to " + std::to_string(kMaxWaitSeconds);
    options.wait = *s;
  }
  options.numeric = args.Has("-n");
  options.asn = args.Has("--asn");
  json = args.Has("--json");
  return {};
}

int RunTraceReportCommand(const std::string& name, const TTraceReportOptions& options, bool json,
                          std::FILE* out) {
  const TTraceReport report = RunTraceReport(name, options);
  switch (report.outcome) {
    case TTraceReport::Outcome::HostNotFound:
      std::fprintf(out, "%s%s\n", kErrorHostNotFound, name.c_str());
      std::fflush(out);
      return 1;
    case TTraceReport::Outcome::NotAllowed:
      std::fprintf(out, "%s\n", kErrorIcmpNotAllowed);
      std::fflush(out);
      return 1;
    case TTraceReport::Outcome::Done:
      break;
  }
  if (json) {
    PrintJson(out, ReportJson(report.heading, report.model, report.infos));
  } else {
    for (const std::string& line :
         ReportLines(report.heading, report.model, report.infos, options.asn)) {
      std::fwrite(line.data(), 1, line.size(), out);
      std::fputc('\n', out);
    }
  }
  std::fflush(out);
  return report.interrupted ? kListExitInterrupted : 0;
}

}  // namespace quillon
