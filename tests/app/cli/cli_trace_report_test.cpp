// trace --report's options as the command line gives them: the values read
// (counts, seconds to the microsecond), the defaults, and every usage error
// (out of range, malformed, or given without --report).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/cli/cli_args.h"
#include "app/cli/cli_trace_report.h"

namespace quillon {
namespace {

using std::chrono::microseconds;

// The trace command as quillon-cli knows it.
const TCliCommandInfo kTrace{"trace",
                             true,
                             {"-4", "-6", "--report", {"-c", true}, {"-i", true}, {"-m", true},
                              {"-W", true}, "-n", "--asn", "--json"}};

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    const size_t end = line.find(' ', at);
    words.push_back(line.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return words;
}

// The usage error of `line` (empty when it is fine), `options` filled.
std::string Read(const std::string& line, TTraceReportOptions& options, bool& json) {
  const TCliArgs args = ParseCliArgs(Words(line), std::span(&kTrace, 1));
  if (args.action != TCliArgs::Action::Run) return args.error;
  return TraceReportOptionsOf(args, options, json);
}

TEST(TraceReportOptions, ValuesAndDefaults) {
  const struct {
    const char* line;
    int cycles;
    microseconds interval;
    int maxHops;
    microseconds wait;
    bool numeric, asn, json;
  } cases[] = {
      {"trace --report host", 10, microseconds(1000000), 30, microseconds(2000000), false, false,
       false},
      {"trace --report -c 200 -i 0.05 -m 64 -W 0.5 -n --asn --json host", 200,
       microseconds(50000), 64, microseconds(500000), true, true, true},
      // Options after --report in any order, and before it too.
      {"trace -W 1.25 --report -n -c 1 -i .01 host", 1, microseconds(10000), 30,
       microseconds(1250000), true, false, false},
      {"trace --report -c 1000 -i 3600 -m 1 -W 60 host", 1000, microseconds(3600000000), 1,
       microseconds(60000000), false, false, false},
      {"trace --report -i 0.010000 -W 0.010000 host", 10, microseconds(10000), 30,
       microseconds(10000), false, false, false},
      {"trace --report -c 0010 -i 00002.5 host", 10, microseconds(2500000), 30,
       microseconds(2000000), false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TTraceReportOptions options;
    bool json = false;
    ASSERT_EQ(Read(c.line, options, json), "");
    EXPECT_EQ(options.cycles, c.cycles);
    EXPECT_EQ(options.interval, c.interval);
    EXPECT_EQ(options.maxHops, c.maxHops);
    EXPECT_EQ(options.wait, c.wait);
    EXPECT_EQ(options.numeric, c.numeric);
    EXPECT_EQ(options.asn, c.asn);
    EXPECT_EQ(json, c.json);
  }
}

TEST(TraceReportOptions, UsageErrors) {
  const char* wrong[] = {
      // Report options without --report (--json alone is the plain trace's).
      "trace -c 5 host", "trace -i 1 host", "trace -m 5 host", "trace -W 1 host",
      "trace --asn host", "trace -n host",
      // Out of range or malformed.
      "trace --report -c 0 host", "trace --report -c 1001 host", "trace --report -c abc host",
      "trace --report -c 5x host", "trace --report -c -1 host", "trace --report -c 99999 host",
      "trace --report -i 0.009 host", "trace --report -i 0 host", "trace --report -i 1. host",
      "trace --report -i . host", "trace --report -i 1e3 host", "trace --report -i 3600.5 host",
      "trace --report -i 0.0000001 host", "trace --report -i 123456 host",
      "trace --report -i 1,5 host", "trace --report -i +1 host", "trace --report -m 0 host",
      "trace --report -m 65 host", "trace --report -W 0 host", "trace --report -W 61 host",
      "trace --report -W abc host", "trace --report -W host",
  };
  for (const char* line : wrong) {
    TTraceReportOptions options;
    bool json = false;
    EXPECT_NE(Read(line, options, json), "") << line;
  }
  TTraceReportOptions options;
  bool json = false;
  EXPECT_EQ(Read("trace --json host", options, json), "") << "the plain trace's JSON";
  EXPECT_EQ(Read("trace host", options, json), "");
}

}  // namespace
}  // namespace quillon
