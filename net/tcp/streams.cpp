#include "net/tcp/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "net/socket/text_helpers.h"
#include "net/tcp/tcp_exceptions.h"

namespace quillon {

void TIdMemoryStream::EnsureCapacity(size_t total) {
  if (total <= capacity_) return;
  size_t grown = std::max<size_t>(capacity_ + capacity_ / 2, 4096);
  if (grown < total) grown = total;
  auto fresh = std::make_unique_for_overwrite<char[]>(grown);
  if (size_ > origin_) std::memcpy(fresh.get(), data_.get() + origin_, size_ - origin_);
  size_ -= origin_;
  position_ -= origin_;
  origin_ = 0;
  data_ = std::move(fresh);
  capacity_ = grown;
}

void TIdMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  const size_t want = static_cast<size_t>(size);
  const size_t now = Length();
  if (want > now) {
    EnsureCapacity(origin_ + want);
    std::memset(data_.get() + size_, 0, want - now);
  }
  size_ = origin_ + want;
  if (position_ > size_) position_ = size_;
}

void TIdMemoryStream::SetPosition(int64_t position) {
  if (position < 0) position = 0;
  position_ = origin_ + std::min(static_cast<size_t>(position), Length());
}

size_t TIdMemoryStream::Read(void* buffer, size_t count) {
  const size_t n = std::min(count, size_ - position_);
  if (n) std::memcpy(buffer, data_.get() + position_, n);
  position_ += n;
  return n;
}

size_t TIdMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  const size_t rel = position_ - origin_;
  EnsureCapacity(origin_ + rel + count);
  std::memcpy(data_.get() + origin_ + rel, buffer, count);
  position_ = origin_ + rel + count;
  size_ = std::max(size_, position_);
  return count;
}

void TIdMemoryStream::Clear() {
  origin_ = size_ = position_ = 0;
}

void TIdMemoryStream::Append(const void* buffer, size_t count) {
  if (count == 0) return;
  std::memcpy(ReserveTail(count), buffer, count);
  CommitTail(count);
}

char* TIdMemoryStream::ReserveTail(size_t count) {
  EnsureCapacity(size_ + count);
  return data_.get() + size_;
}

void TIdMemoryStream::CommitTail(size_t count) {
  if (count > capacity_ - size_) throw std::length_error("CommitTail past the reserved room");
  size_ += count;
}

TIdFileStream::TIdFileStream(const std::string& fileName) {
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw EIdFileNotFound(Sprintf(msg::kFileNotFound, fileName.c_str()));
}

TIdFileStream::~TIdFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TIdFileStream::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return 0;
  return st.st_size;
}

void TIdFileStream::SetSize(int64_t) {
  throw std::logic_error("file stream is read-only");
}

void TIdFileStream::SetPosition(int64_t position) {
  position_ = std::max<int64_t>(position, 0);
}

size_t TIdFileStream::Read(void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, count, position_);
    if (n >= 0) {
      position_ += n;
      return static_cast<size_t>(n);
    }
    if (errno != EINTR) return 0;
  }
}

size_t TIdFileStream::Write(const void*, size_t) {
  throw std::logic_error("file stream is read-only");
}

}  // namespace quillon
