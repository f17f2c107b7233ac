// Names of a list; see cli_names.h.
#include "app/cli/cli_names.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "app/lookup/domain_helpers.h"
#include "net/socket/text_helpers.h"

namespace quillon {

std::optional<std::string> NameOfLine(std::string_view line, bool words) {
  if (line.find('\0') != std::string_view::npos) {
    // Trimming takes NUL for a blank: here it stays, even at either end, so
    // that the list refuses the line instead of running another name.
    const auto blank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
    while (!line.empty() && blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && blank(line.back())) line.remove_suffix(1);
    if (!line.empty() && line[0] == '#') return std::nullopt;
    return LowerAsciiLetters(line);
  }
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == '#') return std::nullopt;
  if (!words) return LowerAsciiLetters(trimmed);
  // Words after the name (dns: `NAME TYPE`) are kept as given, one blank
  // between them; only the name is lower-cased.
  const size_t end = trimmed.find_first_of(" \t");
  std::string name = LowerAsciiLetters(std::string_view(trimmed).substr(0, end));
  for (size_t i = end; i != std::string::npos && i < trimmed.size();) {
    const size_t start = trimmed.find_first_not_of(" \t", i);
    if (start == std::string::npos) break;
    i = trimmed.find_first_of(" \t", start);
    name += ' ';
    name.append(trimmed, start, i == std::string::npos ? std::string::npos : i - start);
  }
  return name;
}

bool TNameReader::TakeLine(std::string& line) {
  for (;;) {
    const size_t end = pending_.find('\n', start_);
    if (end == std::string::npos) {
      // Keep only the unfinished line; at most one read's worth is moved.
      pending_.erase(0, start_);
      start_ = 0;
      if (pending_.size() <= kMaxListLine) return false;
      if (dropping_) {
        pending_.clear();
        return false;
      }
      line = pending_.substr(0, kMaxListLine);
      pending_.clear();
      dropping_ = true;
      return true;
    }
    const bool dropped = dropping_;
    dropping_ = false;
    line.assign(pending_, start_, std::min(end - start_, kMaxListLine));
    start_ = end + 1;
    if (!dropped) return true;
  }
}

TNameReader::Got TNameReader::Next(std::string& name, int waitMs) {
  std::string line;
  for (;;) {
    while (TakeLine(line)) {
      if (auto n = NameOfLine(line, words_)) {
        name = std::move(*n);
        return Got::Name;
      }
    }
    if (ended_) {
      // A last line without its LF still counts.
      const bool dropped = dropping_;
      dropping_ = false;
      line.assign(pending_, start_);
      pending_.clear();
      start_ = 0;
      if (!dropped) {
        if (auto n = NameOfLine(line, words_)) {
          name = std::move(*n);
          return Got::Name;
        }
      }
      return Got::End;
    }
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return Got::Waiting;
    std::array<char, 64 * 1024> buffer;
    const ssize_t n = ready < 0 ? -1 : ::read(fd_, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) return Got::Waiting;
    if (n <= 0) {
      ended_ = true;
      continue;
    }
    pending_.append(buffer.data(), static_cast<size_t>(n));
  }
}

}  // namespace quillon
