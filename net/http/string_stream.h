// A stream that writes into a std::string which the caller then takes
// without a copy: GetBody's sink. Large buffers are marked for transparent
// huge pages, so that filling hundreds of MiB does not fault page by page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/socket/exceptions.h"
#include "net/tcp/streams.h"

namespace quillon {

class TIdStringStream : public TIdStream {
 public:
  int64_t Size() const override { return static_cast<int64_t>(text_.size()); }
  void SetSize(int64_t size) override;
  int64_t Position() const override { return static_cast<int64_t>(position_); }
  void SetPosition(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;

  // Room for `total` bytes without moving them again.
  void Reserve(size_t total);
  // The bytes written; the stream is empty afterwards.
  std::string Take();

 private:
  std::string text_;
  size_t position_ = 0;
};

QUILLON_EXCEPTION(EIdHTTPBodyTooLarge, EIdException);

namespace msg {
inline constexpr const char* kBodyTooLarge = "Corps de réponse HTTP trop grand.";
}  // namespace msg

// Passes everything to another stream but raises EIdHTTPBodyTooLarge when a
// write would take it more than `limit` bytes past where it stood when the
// limit was set (the part that fits is written first). Growth asked in
// advance is cut at the limit.
class TIdLimitedStream : public TIdStream {
 public:
  TIdLimitedStream(TIdStream& inner, int64_t limit)
      : inner_(inner), end_(inner.Position() + limit) {}

  int64_t Size() const override { return inner_.Size(); }
  void SetSize(int64_t size) override { inner_.SetSize(size < end_ ? size : end_); }
  int64_t Position() const override { return inner_.Position(); }
  void SetPosition(int64_t position) override { inner_.SetPosition(position); }
  size_t Read(void* buffer, size_t count) override { return inner_.Read(buffer, count); }
  size_t Write(const void* buffer, size_t count) override;

  // Raises when `count` more bytes would pass the limit.
  void Check(int64_t count) const;
  // How many more bytes the limit lets in.
  int64_t Room() const { return end_ - inner_.Position(); }
  TIdStream& Inner() { return inner_; }

 private:
  TIdStream& inner_;
  int64_t end_;
};

}  // namespace quillon
