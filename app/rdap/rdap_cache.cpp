// The on-disk cache of bootstrap registries; see rdap_cache.h. The cache
// decides where every later lookup goes, so only files that this user wrote,
// in a folder no one else can write into, are believed.
#include "app/rdap/rdap_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>

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

// A descriptor closed with the scope.
class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool Ours(const struct stat& st) {
  return st.st_uid == ::geteuid();
}

bool WritableByOthers(const struct stat& st) {
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// The cache folder itself (not a link to one), when it belongs to us; -1
// otherwise. `tighten`: a folder of ours that others could write into is
// closed to them first; without it such a folder is not used.
int OpenOwnFolder(const std::string& dir, bool tighten) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  const bool usable = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && Ours(st) &&
                      (!WritableByOthers(st) || (tighten && ::fchmod(fd, 0700) == 0));
  if (!usable) {
    ::close(fd);
    return -1;
  }
  return fd;
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
  const TFd folder(OpenOwnFolder(dir_, false));
  if (!folder.ok()) return std::nullopt;
  const TFd fd(::openat(folder.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !Ours(st) ||
      WritableByOthers(st)) {
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 || bytes.size() + static_cast<size_t>(n) > kRdapMaxDocument + 64) return std::nullopt;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  const size_t magic = std::char_traits<char>::length(kMagic);
  const size_t eol = bytes.find('\n');
  if (eol == std::string::npos || bytes.compare(0, magic, kMagic) != 0) return std::nullopt;
  const std::optional<int64_t> expires = ParseCount(bytes.substr(magic, eol - magic));
  // An expiry further ahead than anything this program writes was not
  // written by it, or by a clock that has since been set back.
  if (!expires || *expires <= now || *expires - now > kLongestMaxAge) return std::nullopt;
  return bytes.substr(eol + 1);
}

bool TRdapCache::Store(const std::string& name, const std::string& content, int64_t expires) const {
  if (dir_.empty()) return false;
  std::error_code ec;
  const std::filesystem::path dir(dir_);
  if (dir.has_parent_path()) std::filesystem::create_directories(dir.parent_path(), ec);
  if (ec) return false;
  if (::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) return false;
  const TFd folder(OpenOwnFolder(dir_, true));
  if (!folder.ok()) return false;

  // A temporary file of our own beside the target, renamed over it once
  // whole; all relative to the folder checked above.
  std::random_device random;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = "." + name + "." + std::to_string(random() & 0xFFFFFFu);
    fd = ::openat(folder.get(), temp.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  const TFd file(fd);
  const std::string bytes = kMagic + std::to_string(expires) + "\n" + content;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == bytes.size() && ::fsync(file.get()) == 0;
  if (!written || ::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str()) != 0) {
    ::unlinkat(folder.get(), temp.c_str(), 0);
    return false;
  }
  return true;
}

}  // namespace quillon
