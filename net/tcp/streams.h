// Byte streams used by the connection: an abstract positioned stream, a
// growable memory stream and a read-only file stream. Sizes and positions are
// 64-bit byte counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

class TIdStream {
 public:
  TIdStream() = default;
  TIdStream(const TIdStream&) = delete;
  TIdStream& operator=(const TIdStream&) = delete;
  virtual ~TIdStream() = default;

  virtual int64_t Size() const = 0;
  // Grows (new bytes are zero) or cuts the stream; the position is kept
  // unless it would lie past the new end.
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  // Reads up to `count` bytes at the position and advances; returns the count.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes at the position (growing the stream) and advances.
  virtual size_t Write(const void* buffer, size_t count) = 0;
};

// A growable block of memory. Unlike std::string it never zero-fills space
// that a receive is about to overwrite (ReserveTail / CommitTail).
class TIdMemoryStream : public TIdStream {
 public:
  TIdMemoryStream() = default;

  int64_t Size() const override { return static_cast<int64_t>(size_ - origin_); }
  void SetSize(int64_t size) override;
  int64_t Position() const override { return static_cast<int64_t>(position_ - origin_); }
  void SetPosition(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;

  // The first byte of the stream (for a managed buffer: the first unread one).
  char* Memory() { return data_.get() + origin_; }
  const char* Memory() const { return data_.get() + origin_; }
  size_t Length() const { return size_ - origin_; }
  void Clear();
  // Appends at the end; the position does not move.
  void Append(const void* buffer, size_t count);
  // Room for `count` bytes after the end, left uninitialised; CommitTail(n)
  // then adds the first n of them to the stream.
  char* ReserveTail(size_t count);
  void CommitTail(size_t count);
  std::string ToString() const { return std::string(Memory(), Length()); }

 protected:
  void EnsureCapacity(size_t total);

  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
  // Absolute offsets into data_: the stream is [origin_, size_), origin_ is
  // 0 except in a managed buffer, where it marks the bytes already taken.
  size_t origin_ = 0;
  size_t size_ = 0;
  size_t position_ = 0;
};

// A file opened for reading (others may read it too).
class TIdFileStream : public TIdStream {
 public:
  // Raises EIdFileNotFound when the file cannot be opened.
  explicit TIdFileStream(const std::string& fileName);
  ~TIdFileStream() override;

  int64_t Size() const override;
  void SetSize(int64_t size) override;
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;

 private:
  int fd_ = -1;
  int64_t position_ = 0;
};

}  // namespace quillon
