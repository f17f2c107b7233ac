#include "net/tcp/buffers.h"

#include <cstring>

#include "net/tcp/tcp_exceptions.h"

namespace quillon {

void TIdSimpleBuffer::CheckAvailable(size_t count) const {
  if (count > Length()) throw EIdNotEnoughDataInBuffer(msg::kNotEnoughData);
}

void TIdSimpleBuffer::DropFront(size_t count) {
  CheckAvailable(count);
  const size_t left = Length() - count;
  if (left) std::memmove(Memory(), Memory() + count, left);
  size_ = origin_ + left;
  position_ = position_ > origin_ + count ? position_ - count : origin_;
  if (OnBytesTaken) OnBytesTaken(this, count);
}

std::string TIdSimpleBuffer::TakeText(size_t count) {
  CheckAvailable(count);
  std::string text(Memory(), count);
  DropFront(count);
  return text;
}

void TIdManagedBuffer::DropFront(size_t count) {
  CheckAvailable(count);
  if (count == Length()) {
    Clear();
  } else {
    origin_ += count;
    if (position_ < origin_) position_ = origin_;
    if (origin_ >= CompactThreshold) {
      const size_t left = size_ - origin_;
      std::memmove(data_.get(), data_.get() + origin_, left);
      position_ -= origin_;
      origin_ = 0;
      size_ = left;
    }
  }
  if (OnBytesTaken) OnBytesTaken(this, count);
}

}  // namespace quillon
