// The bootstrap registries kept on disk between runs: one file each, its
// expiry time on the first line, written atomically (a temporary file, then
// a rename). A cache that cannot be read or written is not an error: the
// caller fetches the file again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

// $XDG_CACHE_HOME/quillon (an absolute XDG_CACHE_HOME only), else
// $HOME/.cache/quillon; empty when neither can be told.
std::string DefaultRdapCacheDir();

// The seconds of a "Cache-Control: max-age=N" value; `fallback` when the
// header has none or it cannot be read.
int64_t MaxAgeSeconds(const std::string& cacheControl, int64_t fallback);

class TRdapCache {
 public:
  explicit TRdapCache(std::string dir) : dir_(std::move(dir)) {}

  // The content stored under `name` while it has not expired at `now`
  // (seconds since 1970); nothing when absent, expired or unreadable.
  std::optional<std::string> ReadFresh(const std::string& name, int64_t now) const;
  // Best effort: false when it could not be stored.
  bool Store(const std::string& name, const std::string& content, int64_t expires) const;

 private:
  std::string dir_;
};

}  // namespace quillon
