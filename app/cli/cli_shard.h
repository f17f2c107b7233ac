// Shards of a list: `--shard K/N` keeps the names whose hash falls in shard
// K of N, so that N workers, each given the whole list, cover every name
// exactly once. The hash is fixed (FNV-1a, 64 bits, of the name's bytes) and
// so the same on every machine and in every build.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr uint32_t kMaxShards = 65536;

struct TShard {
  uint32_t index = 0;  // K, 0 <= K < count
  uint32_t count = 1;  // N, 1 <= N <= kMaxShards
};

// FNV-1a 64 of the bytes: offset basis 0xcbf29ce484222325, prime
// 0x100000001b3, each byte XORed in, then the product taken modulo 2^64.
uint64_t NameHash(std::string_view name);

// `name` as a list reads it (blanks around it removed, A to Z lower-cased).
inline uint32_t ShardOf(std::string_view name, uint32_t count) {
  return static_cast<uint32_t>(NameHash(name) % count);
}

// The part of a list's line that is hashed: the name, up to the first blank
// (a dns line `NAME TYPE` goes to the shard of its NAME).
inline std::string_view ShardKey(std::string_view line) {
  return line.substr(0, line.find_first_of(" \t"));
}
inline bool InShard(std::string_view line, const TShard& shard) {
  return ShardOf(ShardKey(line), shard.count) == shard.index;
}

// "K/N" in decimal digits with 0 <= K < N <= kMaxShards; nothing otherwise.
std::optional<TShard> ParseShard(std::string_view text);

}  // namespace quillon
