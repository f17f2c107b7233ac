// The connection's byte queues: a memory stream that hands out bytes from its
// front (TIdSimpleBuffer) and the input queue that takes from the front by
// advancing an offset, moving the unread bytes only now and then
// (TIdManagedBuffer), so that reading many short lines stays linear.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "net/tcp/streams.h"

namespace quillon {

class TIdSimpleBuffer : public TIdMemoryStream {
 public:
  using TBytesTakenEvent = std::function<void(TIdSimpleBuffer* sender, size_t count)>;

  // Drops the first `count` bytes; more than the size raises
  // EIdNotEnoughDataInBuffer. Calls OnBytesTaken afterwards.
  virtual void DropFront(size_t count);
  // The first `count` bytes as text, dropped from the buffer.
  std::string TakeText(size_t count);

  TBytesTakenEvent OnBytesTaken;

 protected:
  void CheckAvailable(size_t count) const;
};

class TIdManagedBuffer : public TIdSimpleBuffer {
 public:
  static constexpr size_t CompactThreshold = 32768;

  // Taking everything empties the buffer; otherwise the taken bytes are only
  // counted, and moved out once CompactThreshold of them have gathered.
  void DropFront(size_t count) override;
  size_t ConsumedBytes() const { return origin_; }
  const char* UnreadStart() const { return Memory(); }
};

}  // namespace quillon
