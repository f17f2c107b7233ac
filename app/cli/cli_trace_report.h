// quillon-cli trace --report: its options read from the command line (with
// the rules between them and their ranges), and the command that runs the
// report and prints it, as text or as one JSON object.
#pragma once

#include <cstdio>
#include <string>

#include "app/cli/cli_args.h"
#include "app/trace/trace_report.h"

namespace quillon {

// The options of trace that belong to --report: each takes a value but -n,
// --asn and --report itself.
inline constexpr const char* kTraceReportOptions[] = {"--report", "-c", "-i", "-m",
                                                      "-W",       "-n", "--asn"};

// Reads the report's options of `args` into `options` (and `json`); the
// usage error when one is out of range or given without --report, else
// empty text. Without --report nothing is read.
std::string TraceReportOptionsOf(const TCliArgs& args, TTraceReportOptions& options, bool& json);

// Runs the report for `name` and prints it: 0 when a report was printed,
// 1 after the failure line (the host has no address, no ICMP socket
// allowed), 130 when interrupted (the report of the cycles done printed).
int RunTraceReportCommand(const std::string& name, const TTraceReportOptions& options, bool json,
                          std::FILE* out);

}  // namespace quillon
