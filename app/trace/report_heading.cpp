#include "app/trace/report_heading.h"

#include <ctime>

namespace quillon {
namespace {

std::tm Local(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  return local;
}

}  // namespace

std::string LocalTimeText(std::chrono::system_clock::time_point at) {
  const std::tm local = Local(at);
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local));
}

std::string Rfc3339Text(std::chrono::system_clock::time_point at) {
  const std::tm local = Local(at);
  char buffer[64];
  const size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S%z", &local);
  if (n < 2) return {};
  // strftime's offset is +HHMM; RFC 3339 wants +HH:MM.
  return std::string(buffer, n - 2) + ":" + std::string(buffer + n - 2, 2);
}

}  // namespace quillon
