// The on-disk cache of bootstrap registries; see rdap_cache.h.
#include "app/rdap/rdap_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "app/rdap/rdap_document.h"

namespace quillon {

namespace {

constexpr const char* kMagic = "quillon-rdap-cache ";
// Nothing is kept longer than this, whatever a server says.
constexpr int64_t kLongestMaxAge = 30LL * 24 * 3600;

// Digits only, without overflow; nothing otherwise.
std::optional<int64_t> ParseCount(const std::string& digits) {
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string DefaultRdapCacheDir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/quillon";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/quillon";
  return {};
}

int64_t MaxAgeSeconds(const std::string& cacheControl, int64_t fallback) {
  std::string lower = cacheControl;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  size_t at = 0;
  while ((at = lower.find("max-age", at)) != std::string::npos) {
    // A directive of its own (not s-maxage or a longer name).
    const bool starts = at == 0 || lower[at - 1] == ',' || lower[at - 1] == ' ';
    size_t p = at + 7;
    at = p;
    if (!starts) continue;
    while (p < lower.size() && lower[p] == ' ') ++p;
    if (p >= lower.size() || lower[p] != '=') continue;
    ++p;
    while (p < lower.size() && lower[p] == ' ') ++p;
    if (p < lower.size() && lower[p] == '"') ++p;
    size_t end = p;
    while (end < lower.size() && lower[end] >= '0' && lower[end] <= '9') ++end;
    const std::optional<int64_t> seconds = ParseCount(lower.substr(p, end - p));
    if (!seconds) return fallback;
    return std::min(*seconds, kLongestMaxAge);
  }
  return fallback;
}

std::optional<std::string> TRdapCache::ReadFresh(const std::string& name, int64_t now) const {
  if (dir_.empty()) return std::nullopt;
  const std::string path = dir_ + "/" + name;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 || bytes.size() + static_cast<size_t>(n) > kRdapMaxDocument + 64) {
      ok = false;
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  const size_t magic = std::char_traits<char>::length(kMagic);
  const size_t eol = bytes.find('\n');
  if (eol == std::string::npos || bytes.compare(0, magic, kMagic) != 0) return std::nullopt;
  const std::optional<int64_t> expires = ParseCount(bytes.substr(magic, eol - magic));
  if (!expires || *expires <= now) return std::nullopt;
  return bytes.substr(eol + 1);
}

bool TRdapCache::Store(const std::string& name, const std::string& content, int64_t expires) const {
  if (dir_.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec) return false;
  std::string temp = dir_ + "/." + name + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  const std::string bytes = kMagic + std::to_string(expires) + "\n" + content;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), (dir_ + "/" + name).c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace quillon
