// Feeds untrusted bytes to the connection's line reader and numbered-reply
// reader through an in-memory transport that hands them out in small blocks.
// The first four bytes choose the line limit, the limit action, the
// terminator and the block size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "net/socket/byte_reader.h"
#include "net/tcp/tcp_connection.h"
#include "net/tcp/tcp_exceptions.h"

namespace {

using namespace quillon;

// A transport over a block of memory: each receive hands out at most
// `chunk` bytes; the end of the block is the peer's close.
class MemoryIOHandler : public TIdIOHandler {
 public:
  MemoryIOHandler(std::span<const uint8_t> data, size_t chunk) : data_(data), chunk_(chunk) {}
  void CloseHandler() override { open_ = false; }
  bool HasSocket() override { return open_; }
  bool WaitReadable(int) override { return true; }
  long ReceiveInto(void* buffer, size_t length) override {
    if (!open_) throw EIdClosedSocket("closed");
    const size_t n = std::min({length, chunk_, data_.size() - at_});
    if (n) std::memcpy(buffer, data_.data() + at_, n);
    at_ += n;
    return static_cast<long>(n);
  }
  long SendFrom(const void*, size_t length) override { return static_cast<long>(length); }

 private:
  std::span<const uint8_t> data_;
  size_t chunk_;
  size_t at_ = 0;
  bool open_ = true;
};

void ReadLines(std::span<const uint8_t> body, int maxLength, TIdMaxLineAction action,
               const std::string& terminator, size_t chunk) {
  MemoryIOHandler handler(body, chunk);
  TIdTCPConnection conn;
  conn.SetIOHandler(&handler);
  conn.MaxLineLength = maxLength;
  conn.MaxLineAction = action;
  for (int i = 0; i < 100000; ++i) {
    std::string line;
    try {
      line = conn.ReceiveLine(terminator);
    } catch (const EIdException&) {
      break;  // the end of data, or a line too long
    }
    if (conn.LineWasSplit) {
      if (line.size() != static_cast<size_t>(maxLength)) std::abort();
    } else if (!conn.LineTimedOut &&
               line.find(terminator.empty() ? "\n" : terminator) != std::string::npos) {
      std::abort();  // a terminator left inside a line
    }
    if (maxLength > 0 && line.size() > static_cast<size_t>(maxLength) + 1) std::abort();
  }
}

void ReadReplies(std::span<const uint8_t> body, size_t chunk) {
  MemoryIOHandler handler(body, chunk);
  TIdTCPConnection conn;
  conn.SetIOHandler(&handler);
  conn.MaxLineLength = 200;
  for (int i = 0; i < 10000; ++i) {
    try {
      conn.ReceiveReply({});
    } catch (const EIdException&) {
      break;
    }
    const std::string& code = conn.LastReply.TextCode();
    if (code.size() > 4) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(std::span<const uint8_t>(data, size));
  if (in.remaining() < 4) return 0;
  const int maxLength = in.readU8() % 64;  // 0 = no limit
  const TIdMaxLineAction action = (in.readU8() & 1) ? maSplit : maException;
  static const char* const kTerminators[] = {"", "\n", "\r\n", "||", "ab"};
  const std::string terminator = kTerminators[in.readU8() % 5];
  const size_t chunk = 1 + in.readU8() % 16;
  const std::span<const uint8_t> body = in.readBytes(in.remaining());
  ReadLines(body, maxLength, action, terminator, chunk);
  ReadReplies(body, chunk);
  return 0;
}
