// quillon-cli's checked standard output; see cli_output.h.
#include "app/cli/cli_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillon {

TCheckedOutput::TCheckedOutput(int fd) : fd_(fd) {
  cookie_io_functions_t functions{};
  functions.write = [](void* cookie, const char* data, size_t size) -> ssize_t {
    return Write(cookie, data, size);
  };
  file_ = ::fopencookie(this, "w", functions);
}

TCheckedOutput::~TCheckedOutput() {
  if (file_) std::fclose(file_);
}

int TCheckedOutput::Finish() {
  if (file_) std::fflush(file_);
  return error_;
}

// stdio drops its buffer when a write fails, so a write cut short by a
// signal (EINTR) or taking only part of the bytes is carried on here until
// everything is out; only a real failure reaches stdio, and the first one is
// kept for the report.
long TCheckedOutput::Write(void* cookie, const char* data, size_t size) {
  auto* self = static_cast<TCheckedOutput*>(cookie);
  if (self->error_ != 0) {
    errno = self->error_;
    return -1;
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(self->fd_, data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    self->error_ = n < 0 ? errno : EIO;
    errno = self->error_;
    return -1;
  }
  return static_cast<long>(size);
}

std::string WriteFailureLine(int error) {
  std::string reason = std::strerror(error);
  // The system's text starts with a capital ("No space left on device");
  // inside the line it reads on in lower case.
  if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z')
    reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
  return "quillon-cli: cannot write the output: " + reason;
}

}  // namespace quillon
