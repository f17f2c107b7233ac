// quillon-cli's JSON output; see json_output.h.
#include "app/cli/json_output.h"

#include <nlohmann/json.hpp>

namespace quillon {

std::string JsonLine(const nlohmann::json& value) {
  // No indentation, non-ASCII left as UTF-8, invalid UTF-8 replaced rather
  // than thrown about: a server's bytes must not end the run.
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string JsonLine(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void PrintJson(std::FILE* out, const nlohmann::json& value) {
  const std::string line = JsonLine(value) + "\n";
  std::fwrite(line.data(), 1, line.size(), out);
}

void PrintJson(std::FILE* out, const nlohmann::ordered_json& value) {
  const std::string line = JsonLine(value) + "\n";
  std::fwrite(line.data(), 1, line.size(), out);
}

}  // namespace quillon
