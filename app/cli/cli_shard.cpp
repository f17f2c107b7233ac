// Shards of a list; see cli_shard.h.
#include "app/cli/cli_shard.h"

namespace quillon {
namespace {

// Decimal digits only, at most 5 of them (kMaxShards has 5), so the value
// cannot overflow; nothing for anything else.
std::optional<uint32_t> Digits(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

}  // namespace

uint64_t NameHash(std::string_view name) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char byte : name) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::optional<TShard> ParseShard(std::string_view text) {
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto index = Digits(text.substr(0, slash));
  const auto count = Digits(text.substr(slash + 1));
  if (!index || !count || *count == 0 || *count > kMaxShards || *index >= *count)
    return std::nullopt;
  return TShard{*index, *count};
}

}  // namespace quillon
