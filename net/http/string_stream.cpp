// String stream with huge-page hints (Linux madvise MADV_HUGEPAGE on the
// 2 MiB-aligned part of a large buffer; ignored where unsupported).
#include "net/http/string_stream.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

void AdviseHugePages(const char* data, size_t size) {
  if (size < 2 * kHugePage) return;
  const auto begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t start = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (begin + size) & ~(kHugePage - 1);
  if (end > start) {
    // Only a hint: a failure leaves ordinary pages.
    (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  }
}

}  // namespace

void TIdStringStream::Reserve(size_t total) {
  if (total <= text_.capacity()) return;
  text_.reserve(total);
  AdviseHugePages(text_.data(), text_.capacity());
}

void TIdStringStream::SetSize(int64_t size) {
  const size_t want = size < 0 ? 0 : static_cast<size_t>(size);
  if (want > text_.capacity()) Reserve(std::max(want, text_.capacity() * 2));
  text_.resize(want);
  position_ = std::min(position_, want);
}

void TIdStringStream::SetPosition(int64_t position) {
  position_ = position < 0 ? 0 : std::min(static_cast<size_t>(position), text_.size());
}

size_t TIdStringStream::Read(void* buffer, size_t count) {
  const size_t n = std::min(count, text_.size() - position_);
  if (n > 0) std::memcpy(buffer, text_.data() + position_, n);
  position_ += n;
  return n;
}

size_t TIdStringStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  const char* bytes = static_cast<const char*>(buffer);
  // Overwrite what lies after the position, append the rest.
  const size_t over = std::min(count, text_.size() - position_);
  if (over > 0) std::memcpy(text_.data() + position_, bytes, over);
  const size_t rest = count - over;
  if (rest > 0) {
    if (text_.capacity() - text_.size() < rest) {
      Reserve(std::max(text_.size() + rest, text_.capacity() * 2));
    }
    text_.append(bytes + over, rest);
  }
  position_ += count;
  return count;
}

std::string TIdStringStream::Take() {
  position_ = 0;
  return std::move(text_);
}

void TIdLimitedStream::Check(int64_t count) const {
  if (count > end_ - inner_.Position()) throw EIdHTTPBodyTooLarge(msg::kBodyTooLarge);
}

size_t TIdLimitedStream::Write(const void* buffer, size_t count) {
  // What fits is written before raising: an error page keeps its first part.
  const int64_t room = std::max<int64_t>(end_ - inner_.Position(), 0);
  if (static_cast<int64_t>(count) > room) {
    inner_.Write(buffer, static_cast<size_t>(room));
    throw EIdHTTPBodyTooLarge(msg::kBodyTooLarge);
  }
  return inner_.Write(buffer, count);
}

}  // namespace quillon
