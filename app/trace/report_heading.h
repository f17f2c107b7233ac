// What a report says beside its hops: the host as typed, the address
// probed, the cycles done and when the run started (in local time, and as
// RFC 3339 for JSON), and what was found out about each answering address
// (its reverse name, its origin AS).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace quillon {

struct TReportHeading {
  std::string host;     // as typed
  std::string address;  // the one probed
  int cycles = 0;       // cycles done
  std::chrono::system_clock::time_point started;
};

struct TAddressInfo {
  std::optional<std::string> name;  // none with -n or without a reverse name
  std::optional<uint32_t> asn;      // none without --asn, or when not known
};
using TAddressInfos = std::map<std::string, TAddressInfo>;

// "YYYY-MM-DD HH:MM:SS +ZZZZ" in the local time zone.
std::string LocalTimeText(std::chrono::system_clock::time_point at);
// RFC 3339 in the local time zone: "YYYY-MM-DDTHH:MM:SS+ZZ:ZZ".
std::string Rfc3339Text(std::chrono::system_clock::time_point at);

}  // namespace quillon
