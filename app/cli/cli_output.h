// quillon-cli's standard output: a stream over a descriptor whose writes go
// on after a signal and across short writes, and which keeps the first
// failure, so that a write that fails (a full disk, a closed pipe) is
// reported once and turns the exit status to 1 instead of passing unseen.
#pragma once

#include <cstdio>
#include <string>

namespace quillon {

class TCheckedOutput {
 public:
  // Writes to `fd`, which stays open (it belongs to the caller).
  explicit TCheckedOutput(int fd);
  ~TCheckedOutput();
  TCheckedOutput(const TCheckedOutput&) = delete;
  TCheckedOutput& operator=(const TCheckedOutput&) = delete;

  // The stream; nullptr when it could not be made (out of memory).
  std::FILE* file() const { return file_; }
  // Flushes what is buffered; the errno value of the first write that
  // failed, 0 when every byte went out.
  int Finish();

 private:
  static long Write(void* cookie, const char* data, size_t size);

  int fd_;
  int error_ = 0;
  std::FILE* file_ = nullptr;
};

// The line that reports a failed write (without its LF), in plain English:
// "quillon-cli: cannot write the output: no space left on device".
std::string WriteFailureLine(int error);

}  // namespace quillon
