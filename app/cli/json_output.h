// quillon-cli's JSON output: one value per line (JSON Lines in a list), text
// from servers kept safe: control characters escaped, bytes that are not
// UTF-8 replaced by U+FFFD, so that every line is valid JSON.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace quillon {

// The value as one line of JSON, without the line end.
std::string JsonLine(const nlohmann::json& value);
// The same for an object whose members keep the order they were added in.
std::string JsonLine(const nlohmann::ordered_json& value);

// Writes the value and a line end to `out`.
void PrintJson(std::FILE* out, const nlohmann::json& value);
void PrintJson(std::FILE* out, const nlohmann::ordered_json& value);

}  // namespace quillon
