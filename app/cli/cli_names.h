// The names of a list, read from a file descriptor (standard input): one per
// line, blank lines and lines starting with '#' skipped, surrounding blanks
// (a CR before the LF included) trimmed, lower-cased as a single name (or,
// for a command that takes `NAME TYPE` lines, the first word lower-cased and
// the others kept, one blank between them). Reads in slices so that the
// caller can stop between them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// A longer line is cut there, the rest of it dropped: no name comes close.
inline constexpr size_t kMaxListLine = 4096;

// The name one line stands for; nothing for a blank or comment line. A
// line holding a NUL byte gives a name with that byte (which the list
// refuses), whatever else is around it. With `words`, only the first word
// is lower-cased and the further words are kept as given, one blank between
// them.
std::optional<std::string> NameOfLine(std::string_view line, bool words = false);

class TNameReader {
 public:
  explicit TNameReader(int fd, bool words = false) : fd_(fd), words_(words) {}

  enum class Got {
    Name,     // `name` holds the next name
    Waiting,  // nothing complete arrived within the wait
    End,      // end of input (or a read failure)
  };
  Got Next(std::string& name, int waitMs);

 private:
  // The next complete line of what was read, if any.
  bool TakeLine(std::string& line);

  int fd_;
  bool words_;
  std::string pending_;
  size_t start_ = 0;  // where the unread part of pending_ begins
  bool ended_ = false;
  bool dropping_ = false;  // inside the rest of a line that was cut
};

}  // namespace quillon
