// The settings file; see quillon_conf.h.
#include "app/lookup/quillon_conf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

// One open file descriptor, closed with its owner.
class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and tells whether that worked (a write error can show here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

enum class TReadOutcome { Read, Missing, Unreadable };

// The whole file, when it is a regular file of at most kConfMaxBytes.
TReadOutcome ReadSmallFile(const std::string& path, std::string& bytes, mode_t* mode = nullptr) {
  bytes.clear();
  const TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return errno == ENOENT ? TReadOutcome::Missing : TReadOutcome::Unreadable;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > static_cast<off_t>(kConfMaxBytes))
    return TReadOutcome::Unreadable;
  if (mode) *mode = st.st_mode & 07777;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return TReadOutcome::Read;
    if (n < 0) {
      if (errno == EINTR) continue;
      return TReadOutcome::Unreadable;
    }
    // The file may grow while it is read.
    if (bytes.size() + static_cast<size_t>(n) > kConfMaxBytes) return TReadOutcome::Unreadable;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

// The lines of `text` without their line ends (LF, or CR LF).
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool SameName(std::string_view a, std::string_view b) {
  return LowerCase(a) == LowerCase(b);
}

// The name of a `[name]` header line (already trimmed), or nothing.
std::optional<std::string> HeaderName(std::string_view trimmed) {
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return std::nullopt;
  return Trim(trimmed.substr(1, trimmed.size() - 2));
}

bool Writable(const TConfEntry& e) {
  const auto clean = [](const std::string& s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
  };
  return !Trim(e.key).empty() && clean(e.key) && clean(e.value) &&
         e.key.find_first_of("=[") == std::string::npos;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string QuillonConfPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/quillon/quillon.conf";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/quillon/quillon.conf";
  return {};
}

bool TQuillonConf::Load(const std::string& path) {
  sections_.clear();
  std::string bytes;
  if (path.empty() || ReadSmallFile(path, bytes) != TReadOutcome::Read) return false;
  Parse(bytes);
  return true;
}

void TQuillonConf::Parse(std::string_view text) {
  sections_.clear();
  sections_.push_back({"", {}});
  for (std::string_view line : Lines(text)) {
    if (line.size() > kConfMaxLine) continue;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
    if (const auto header = HeaderName(trimmed)) {
      sections_.push_back({*header, {}});
      continue;
    }
    const size_t equals = trimmed.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trim(std::string_view(trimmed).substr(0, equals));
    if (key.empty()) continue;
    sections_.back().entries.push_back(
        {std::move(key), Trim(std::string_view(trimmed).substr(equals + 1))});
  }
}

std::optional<std::string> TQuillonConf::Value(std::string_view section,
                                               std::string_view key) const {
  std::optional<std::string> value;
  for (const TConfEntry& e : Section(section))
    if (SameName(e.key, key)) value = e.value;
  return value;
}

std::vector<TConfEntry> TQuillonConf::Section(std::string_view section) const {
  std::vector<TConfEntry> entries;
  for (const TSection& s : sections_)
    if (SameName(s.name, section)) entries.insert(entries.end(), s.entries.begin(), s.entries.end());
  return entries;
}

bool WriteConfSection(const std::string& path, std::string_view section,
                      const std::vector<TConfEntry>& entries) {
  if (path.empty()) return false;
  std::string old;
  mode_t mode = 0600;
  if (ReadSmallFile(path, old, &mode) == TReadOutcome::Unreadable) return false;

  std::string block = "[" + std::string(section) + "]\n";
  for (const TConfEntry& e : entries)
    if (Writable(e)) block += Trim(e.key) + " = " + e.value + "\n";

  // Every line outside the section is kept; the first header of the section
  // gets the new entries, later ones (and their entries) go.
  std::string out;
  bool inSection = false;
  bool placed = false;
  for (std::string_view line : Lines(old)) {
    const std::string trimmed = line.size() > kConfMaxLine ? std::string() : Trim(line);
    if (const auto header = HeaderName(trimmed)) {
      inSection = SameName(*header, section);
      if (inSection && !placed) {
        out += block;
        placed = true;
      }
      if (inSection) continue;
    }
    if (inSection) continue;
    out.append(line);
    out += '\n';
  }
  if (!placed) {
    if (!out.empty() && out != "\n" && out.substr(out.size() - 2) != "\n\n") out += '\n';
    out += block;
  }

  const std::filesystem::path target(path);
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  if (ec) return false;
  std::string temp = path + ".XXXXXX";
  TFileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  const bool written =
      ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), out) && ::fsync(fd.get()) == 0;
  if (!fd.Close() || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace quillon
