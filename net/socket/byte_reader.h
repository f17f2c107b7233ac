// A bounds-checked cursor over untrusted bytes (DNS replies, ICMP messages,
// HTTP heads). Every read checks what is left and throws when data runs
// short, so nothing else in the code indexes into a packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace quillon {

class ByteReaderShort : public std::out_of_range {
 public:
  ByteReaderShort() : std::out_of_range("byte reader: data runs short") {}
};

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

  size_t size() const { return data_.size(); }
  size_t position() const { return pos_; }
  size_t remaining() const { return data_.size() - pos_; }
  std::span<const uint8_t> bytes() const { return data_; }

  void seek(size_t position) {
    if (position > data_.size()) throw ByteReaderShort();
    pos_ = position;
  }
  void skip(size_t count) { seek(checked(count) + count); }

  uint8_t readU8() { return data_[checked(1)]; }
  uint16_t readBe16() {
    const size_t at = checked(2);
    return static_cast<uint16_t>(data_[at] << 8 | data_[at + 1]);
  }
  uint16_t readLe16() {
    const size_t at = checked(2);
    return static_cast<uint16_t>(data_[at + 1] << 8 | data_[at]);
  }
  uint32_t readBe32() {
    const size_t at = checked(4);
    return uint32_t{data_[at]} << 24 | uint32_t{data_[at + 1]} << 16 |
           uint32_t{data_[at + 2]} << 8 | uint32_t{data_[at + 3]};
  }
  std::span<const uint8_t> readBytes(size_t count) { return data_.subspan(checked(count), count); }

 private:
  // Position of the next `count` bytes, advanced past them; throws if short.
  size_t checked(size_t count) {
    if (count > data_.size() - pos_) throw ByteReaderShort();
    const size_t at = pos_;
    pos_ += count;
    return at;
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

}  // namespace quillon
