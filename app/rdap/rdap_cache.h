// The bootstrap registries kept on disk between runs: one file each, its
// expiry time on the first line, written atomically (a temporary file, then
// a rename) into a folder made 0700. A cache that cannot be read, written or
// trusted is not an error: the caller fetches the file again.
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
  // (seconds since 1970); nothing when absent, expired, unreadable, expiring
  // more than 30 days ahead, or when the file or the folder is not ours or
  // can be written by others.
  std::optional<std::string> ReadFresh(const std::string& name, int64_t now) const;
  // Best effort: false when it could not be stored. A folder of ours that
  // others could write into is closed to them first; one that is not ours
  // is not used.
  bool Store(const std::string& name, const std::string& content, int64_t expires) const;

 private:
  std::string dir_;
};

}  // namespace quillon
