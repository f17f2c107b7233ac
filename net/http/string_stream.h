// A stream that writes into a std::string which the caller then takes
// without a copy: GetBody's sink. Large buffers are marked for transparent
// huge pages, so that filling hundreds of MiB does not fault page by page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

}  // namespace quillon
