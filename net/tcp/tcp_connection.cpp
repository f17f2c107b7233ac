#include "net/tcp/tcp_connection.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/socket/text_helpers.h"
#include "net/tcp/tcp_exceptions.h"

namespace quillon {

namespace {
constexpr int kShutDown = 10058;
constexpr int kAborted = 10053;
constexpr int kReset = 10054;
constexpr char kLF[] = "\n";
// ReceiveToStream sizes the stream for the announced count in advance, but
// never by more than this: the count may come from the peer.
constexpr int64_t kMaxAdvanceGrowth = 1 << 20;

// 0-based offset of `sub` in [block, block+size), or SIZE_MAX.
size_t FindBytes(const std::string& sub, const char* block, size_t size) {
  if (sub.empty() || sub.size() > size) return SIZE_MAX;
  const char first = sub[0];
  if (sub.size() == 1) {
    const void* hit = std::memchr(block, first, size);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - block) : SIZE_MAX;
  }
  const size_t last = size - sub.size();
  size_t at = 0;
  while (at <= last) {
    const void* hit = std::memchr(block + at, first, last - at + 1);
    if (!hit) return SIZE_MAX;
    at = static_cast<size_t>(static_cast<const char*>(hit) - block);
    if (std::memcmp(block + at + 1, sub.data() + 1, sub.size() - 1) == 0) return at;
    ++at;
  }
  return SIZE_MAX;
}

// Text that grows past this size asks for transparent huge pages: filling
// fresh memory costs one page fault per 4 KiB page otherwise, which under
// some hypervisors costs more than receiving the bytes.
constexpr size_t kHugePageAdviceFrom = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

// Doubles the capacity (as append would) and advises huge pages for the
// whole 2 MiB pages inside the new block; untouched capacity costs nothing.
void GrowText(std::string& text, size_t needed) {
  text.reserve(std::max(needed, text.capacity() * 2));
  if (text.capacity() < kHugePageAdviceFrom) return;
  const auto begin = reinterpret_cast<uintptr_t>(text.data());
  const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (begin + text.capacity()) & ~(kHugePage - 1);
  // Only a hint: a kernel without transparent huge pages refuses it.
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

bool SameNoCase(const std::string& a, const std::string& b) {
  return UpperCase(a) == UpperCase(b);
}
}  // namespace

TIdTCPConnection::TIdTCPConnection() {
  // Read progress counts the bytes taken by readers, not bytes received.
  InputQueue.OnBytesTaken = [this](TIdSimpleBuffer*, size_t count) {
    WorkProgress(wmRead, static_cast<int32_t>(std::min<size_t>(count, INT32_MAX)));
  };
}

TIdTCPConnection::~TIdTCPConnection() {
  try {
    DropSocket();
  } catch (...) {
    // Nothing can be reported while the connection goes away.
  }
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  if (handler == ioHandler_) return;
  FreeOwnedIOHandler();
  ioHandler_ = handler;
}

void TIdTCPConnection::InstallOwnedIOHandler(std::unique_ptr<TIdIOHandler> handler) {
  FreeOwnedIOHandler();
  ownedIOHandler_ = std::move(handler);
  ioHandler_ = ownedIOHandler_.get();
}

void TIdTCPConnection::FreeOwnedIOHandler() {
  if (!ownedIOHandler_) return;
  if (ioHandler_ == ownedIOHandler_.get()) ioHandler_ = nullptr;
  ownedIOHandler_.reset();
}

void TIdTCPConnection::FireDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::ResetInput() {
  InputQueue.Clear();
  PeerClosed = false;
}

void TIdTCPConnection::CheckDisconnected(bool raise, bool ignoreQueue) {
  bool disconnected;
  if (PeerClosed || !ioHandler_) {
    disconnected = ioHandler_ != nullptr;
    if (ioHandler_ && ioHandler_->HasSocket()) {
      // The close is noticed once: the socket is gone afterwards.
      DropSocket();
      ReportStatus(hsDisconnected);
      FireDisconnected();
    }
  } else {
    disconnected = !ioHandler_->HasSocket();
  }
  if (disconnected && raise && (InputQueue.Length() == 0 || ignoreQueue))
    throw EIdConnClosedGracefully(msg::kConnClosedGracefully);
}

bool TIdTCPConnection::IsConnected() {
  CheckDisconnected(false, false);
  return ioHandler_ && ioHandler_->HasSocket();
}

void TIdTCPConnection::ProbeForClose(bool raise) {
  FillInputQueue(raise, 1, false);
}

void TIdTCPConnection::DropSocket() {
  if (!ioHandler_) return;
  PeerClosed = true;
  if (Intercept) Intercept->Disconnect();
  ioHandler_->CloseHandler();
}

void TIdTCPConnection::CloseConnection() {
  ReportStatus(hsDisconnecting);
  DropSocket();
  FreeOwnedIOHandler();
  FireDisconnected();
  ReportStatus(hsDisconnected);
}

int TIdTCPConnection::FillInputQueue(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout) {
  if (timeout == UseDefaultTimeout) timeout = ReadTimeout == 0 ? WaitForever : ReadTimeout;
  CheckDisconnected(raiseIfDisconnected, false);
  if (!IsConnected()) {
    if (raiseIfDisconnected) throw EIdNotConnected(msg::kNotConnected);
    return 0;
  }
  TIdStack& stack = SharedStack();
  const size_t want = static_cast<size_t>(std::max<int32_t>(RecvBufferSize, 1));
  long n;
  do {
    if (!ioHandler_->WaitReadable(timeout)) {
      if (raiseOnTimeout) throw EIdReadTimeout(msg::kReadTimeout);
      return -1;
    }
    // Without an intercept the bytes are received straight into the queue's
    // free tail; an intercept works on one receive's block of its own.
    char* block;
    if (!ioHandler_) {
      if (raiseIfDisconnected) throw EIdNotConnected(msg::kNotConnected);
      n = 0;
      block = nullptr;
    } else if (Intercept) {
      ReceiveScratch.Clear();
      block = ReceiveScratch.ReserveTail(want);
      n = ioHandler_->ReceiveInto(block, want);
    } else {
      block = InputQueue.ReserveTail(want);
      n = ioHandler_->ReceiveInto(block, want);
    }
    PeerClosed = n == 0;
    if (n != 0 && stack.CheckSocketResult(n, {kShutDown, kAborted})) {
      n = 0;
      DropSocket();
      // With bytes still queued the failure is swallowed: the connection is
      // simply closed and the bytes can still be read.
      if (InputQueue.Length() == 0) stack.RaiseSocketFailure(stack.LastSocketError.load());
    }
    if (n > 0) {
      size_t got = static_cast<size_t>(n);
      if (Intercept) {
        ReceiveScratch.CommitTail(got);
        ReceiveScratch.SetPosition(0);
        Intercept->Receive(ReceiveScratch);
        got = ReceiveScratch.Length();
        block = ReceiveScratch.Memory();
      }
      if (ASCIIFilter)
        for (size_t i = 0; i < got; ++i) block[i] = static_cast<char>(block[i] & 0x7F);
      if (Intercept)
        InputQueue.Append(block, got);
      else
        InputQueue.CommitTail(got);
      n = static_cast<long>(got);
    }
    CheckDisconnected(raiseIfDisconnected, false);
  } while (n == 0 && IsConnected());
  return static_cast<int>(n);
}

std::string TIdTCPConnection::ReceiveLine(const std::string& terminatorText, int timeout,
                                          int maximum) {
  if (maximum == -1) maximum = MaxLineLength;
  const size_t limit = maximum > 0 ? static_cast<size_t>(maximum) : 0;
  static const std::string lineFeed(kLF);
  const std::string& terminator = terminatorText.empty() ? lineFeed : terminatorText;
  const bool isLineFeed = terminator.size() == 1 && terminator[0] == '\n';
  LineWasSplit = false;
  LineTimedOut = false;
  size_t found = 0;  // 1-based position of the terminator in the unread bytes
  size_t searched = 0;
  for (;;) {
    const size_t size = InputQueue.Length();
    if (size > 0 && size > searched) {
      // Each search starts where the previous one ended, backed up so that a
      // terminator split across two receives is still found.
      const size_t from = searched > terminator.size() - 1 ? searched - (terminator.size() - 1) : 0;
      const size_t hit = FindBytes(terminator, InputQueue.Memory() + from, size - from);
      if (hit != SIZE_MAX) found = from + hit + 1;
      searched = size;
    }
    if (limit != 0 && ((found != 0 && found - 1 > limit) || (found == 0 && searched > limit))) {
      if (MaxLineAction == maException)
        throw EIdReadLnMaxLineLengthExceeded(msg::kMaxLineLengthExceeded);
      LineWasSplit = true;
      return InputQueue.TakeText(limit);
    }
    if (found != 0) break;
    CheckDisconnected(true, true);
    const int n = FillInputQueue(true, timeout, timeout == UseDefaultTimeout);
    // 0: the peer closed before a terminator came; -1: an explicit time-out
    // ran out. Either way the line is not there: the bytes stay queued.
    if (n <= 0) {
      LineTimedOut = true;
      return {};
    }
  }
  size_t length = found - 1;  // the bytes before the terminator
  if (isLineFeed && length >= 1 && InputQueue.Memory()[length - 1] == '\r') --length;
  std::string line(InputQueue.Memory(), length);
  InputQueue.DropFront(found - 1 + terminator.size());
  return line;
}

std::string TIdTCPConnection::ReceiveLineRetrying(int attempts) {
  std::string line;
  for (int i = 0; i < attempts; ++i) {
    line = Trim(ReceiveLine(kLF, UseDefaultTimeout, -1));
    if (!line.empty()) break;
  }
  return line;
}

void TIdTCPConnection::AppendQueued(std::string& text) {
  const size_t n = InputQueue.Length();
  if (n == 0) return;
  if (text.size() + n > text.capacity()) GrowText(text, text.size() + n);
  text.append(InputQueue.Memory(), n);
  InputQueue.DropFront(n);
}

std::string TIdTCPConnection::ReceiveAvailable() {
  std::string text;
  if (IsConnected()) FillInputQueue(false, UseDefaultTimeout, true);
  AppendQueued(text);
  return text;
}

std::string TIdTCPConnection::ReceiveAll() {
  return ReceiveAllUpTo(SIZE_MAX);
}

std::string TIdTCPConnection::ReceiveAllUpTo(size_t limit) {
  WorkBegin(wmRead, 0);
  std::string text;
  try {
    while (IsConnected()) {
      FillInputQueue(false, UseDefaultTimeout, true);
      AppendQueued(text);
      if (text.size() > limit) throw EIdReplyTooLong(Sprintf(msg::kReplyTooLong, limit));
    }
  } catch (...) {
    WorkEnd(wmRead);
    throw;
  }
  WorkEnd(wmRead);
  return text;
}

void TIdTCPConnection::EnsureQueued(size_t count) {
  while (InputQueue.Length() < count) {
    FillInputQueue(true, UseDefaultTimeout, true);
    CheckDisconnected(true, true);
  }
}

void TIdTCPConnection::ReceiveExact(void* buffer, size_t count) {
  if (count == 0 || !buffer) return;
  EnsureQueued(count);
  std::memcpy(buffer, InputQueue.Memory(), count);
  InputQueue.DropFront(count);
}

int32_t TIdTCPConnection::ReceiveInt32(bool convert) {
  uint32_t value = 0;
  ReceiveExact(&value, sizeof value);
  if (convert) value = SharedStack().NetToHost32(value);
  return static_cast<int32_t>(value);
}

void TIdTCPConnection::ReceiveToStream(TIdStream& stream, int64_t count, bool untilClose) {
  if (count == -1 && !untilClose) count = ReceiveInt32(true);
  const int64_t start = stream.Position();
  if (count >= 0 && stream.Size() < start + std::min(count, kMaxAdvanceGrowth)) {
    stream.SetSize(start + std::min(count, kMaxAdvanceGrowth));
    stream.SetPosition(start);
  }
  int64_t remaining = count;
  if (untilClose) {
    remaining = INT32_MAX;
    WorkBegin(wmRead, 0);
  } else {
    WorkBegin(wmRead, static_cast<int32_t>(std::clamp<int64_t>(count, INT32_MIN, INT32_MAX)));
  }
  try {
    const auto moveQueued = [&](size_t n) {
      if (n == 0) return;
      stream.Write(InputQueue.Memory(), n);
      InputQueue.DropFront(n);
      remaining -= static_cast<int64_t>(n);
    };
    if (remaining > 0)
      moveQueued(static_cast<size_t>(std::min<int64_t>(InputQueue.Length(), remaining)));
    const int64_t chunk = std::min<int64_t>(remaining, std::max<int32_t>(RecvBufferSize, 1));
    while (remaining > 0 && IsConnected()) {
      const size_t want = static_cast<size_t>(std::min(remaining, chunk));
      try {
        EnsureQueued(want);
      } catch (const EIdConnClosedGracefully&) {
        if (!untilClose) throw;
        moveQueued(InputQueue.Length());
        continue;
      }
      moveQueued(want);
    }
  } catch (...) {
    WorkEnd(wmRead);
    if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
    throw;
  }
  WorkEnd(wmRead);
  // Removes what was grown in advance when fewer bytes came.
  if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
}

void TIdTCPConnection::SendNow(const char* data, size_t count) {
  TIdStack& stack = SharedStack();
  size_t at = 0;
  while (at < count) {
    if (!ioHandler_) throw EIdNotConnected(msg::kNotConnected);
    const long sent = ioHandler_->SendFrom(data + at, count - at);
    RunGuard(false, false);
    PeerClosed = sent == 0;
    CheckDisconnected(true, false);
    if (stack.CheckSocketResult(sent, {kShutDown, kAborted, kReset})) {
      const int code = stack.LastSocketError.load();
      DropSocket();
      stack.RaiseSocketFailure(code);
    }
    WorkProgress(wmWrite, static_cast<int32_t>(sent));
    at += static_cast<size_t>(sent);
  }
}

void TIdTCPConnection::SendBytes(const void* buffer, size_t count, bool now) {
  if (count == 0 || !buffer) return;
  CheckDisconnected(true, true);
  if (!IsConnected()) throw EIdNotConnected(msg::kNotConnected);
  if (now || !PendingWrites) {
    if (Intercept) {
      TIdSimpleBuffer block;
      block.Append(buffer, count);
      block.SetPosition(0);
      Intercept->Send(block);
      SendNow(block.Memory(), block.Length());
    } else {
      SendNow(static_cast<const char*>(buffer), count);
    }
    return;
  }
  PendingWrites->Append(buffer, count);
  if (PendingWriteThreshold > 0 &&
      PendingWrites->Length() >= static_cast<size_t>(PendingWriteThreshold))
    FlushWrites(PendingWriteThreshold);
}

void TIdTCPConnection::StartWriteBuffering(int32_t threshold) {
  PendingWrites = std::make_unique<TIdSimpleBuffer>();
  PendingWriteThreshold = threshold;
}

void TIdTCPConnection::FlushWrites(int64_t count) {
  if (!PendingWrites || PendingWrites->Length() == 0) return;
  if (count != -1 && count >= 0 && static_cast<size_t>(count) <= PendingWrites->Length()) {
    SendBytes(PendingWrites->Memory(), static_cast<size_t>(count), true);
    PendingWrites->DropFront(static_cast<size_t>(count));
  } else {
    SendBytes(PendingWrites->Memory(), PendingWrites->Length(), true);
    PendingWrites->Clear();
  }
}

void TIdTCPConnection::FinishWriteBuffering() {
  try {
    FlushWrites(-1);
  } catch (...) {
    PendingWrites.reset();
    throw;
  }
  PendingWrites.reset();
}

void TIdTCPConnection::DiscardWrites() {
  if (PendingWrites) PendingWrites->Clear();
}

void TIdTCPConnection::SendText(const std::string& text) {
  if (!text.empty()) SendBytes(text.data(), text.size(), false);
}

void TIdTCPConnection::SendLine(const std::string& text) {
  SendText(text + "\r\n");
}

void TIdTCPConnection::SendInt32(int32_t value, bool convert) {
  uint32_t v = static_cast<uint32_t>(value);
  if (convert) v = SharedStack().HostToNet32(v);
  SendBytes(&v, sizeof v, false);
}

void TIdTCPConnection::SendStream(TIdStream& stream, bool fromStart, bool lengthPrefix,
                                  int64_t count) {
  if (fromStart) stream.SetPosition(0);
  const int64_t end = count != 0 ? stream.Position() + count : stream.Size();
  if (lengthPrefix) SendInt32(static_cast<int32_t>(end - stream.Position()), true);
  WorkBegin(wmWrite,
            static_cast<int32_t>(std::clamp<int64_t>(end - stream.Position(), 0, INT32_MAX)));
  try {
    std::vector<char> chunk(static_cast<size_t>(std::max<int32_t>(SendBufferSize, 1)));
    for (;;) {
      const int64_t want = std::min<int64_t>(end - stream.Position(), chunk.size());
      if (want <= 0) break;
      const size_t got = stream.Read(chunk.data(), static_cast<size_t>(want));
      if (got == 0) throw EIdNoDataToRead(msg::kNoDataToRead);
      SendBytes(chunk.data(), got, false);
    }
  } catch (...) {
    WorkEnd(wmWrite);
    throw;
  }
  WorkEnd(wmWrite);
}

int64_t TIdTCPConnection::SendFileContents(const std::string& fileName, bool allowTransmit) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0)
    throw EIdFileNotFound(Sprintf(msg::kFileNotFound, fileName.c_str()));
  auto* socketHandler = dynamic_cast<TIdIOHandlerSocket*>(ioHandler_);
  auto* posixStack = dynamic_cast<TIdStackPosix*>(&SharedStack());
  if (allowTransmit && !Intercept && socketHandler && socketHandler->SocketHandle() && posixStack)
    return posixStack->SendFileOnSocket(socketHandler->SocketHandle()->SocketId(), fileName);
  TIdFileStream file(fileName);
  SendStream(file, true, false, 0);
  return file.Size();
}

int TIdTCPConnection::CheckReply(int code, const std::vector<int>& allowed) {
  if (allowed.empty() || std::find(allowed.begin(), allowed.end(), code) != allowed.end())
    return code;
  RaiseReplyError();
  return code;  // only reached when an override chose not to raise
}

void TIdTCPConnection::RaiseReplyError() {
  RaiseReplyError(LastReply.NumericCode(), LastReply.JoinedText());
}

void TIdTCPConnection::RaiseReplyError(int code, const std::string& text) {
  throw EIdProtocolReplyError(code, text);
}

int TIdTCPConnection::ReceiveReply(const std::vector<int>& allowed) {
  std::vector<std::string> lines{ReceiveLineRetrying(INT32_MAX)};
  const std::string& first = lines.front();
  size_t total = first.size();
  if (first.size() > 3 && first[3] == '-') {
    const std::string last = first.substr(0, 3) + " ";
    for (;;) {
      std::string line = ReceiveLine();
      total += line.size();
      if (total > MaxReplyBytes) throw EIdReplyTooLong(Sprintf(msg::kReplyTooLong, MaxReplyBytes));
      const bool end = line.size() < 4 || SameNoCase(line.substr(0, 4), last);
      lines.push_back(std::move(line));
      if (end) break;
    }
  }
  LastReply.Clear();
  std::string code = Trim(lines.front().substr(0, 4));
  if (lines.front().size() > 3 && lines.front()[3] == '-') code = code.substr(0, 3);
  LastReply.SetTextCode(code);
  for (const std::string& line : lines)
    LastReply.Text.push_back(line.size() > 4 ? line.substr(4) : "");
  return CheckReply(LastReply.NumericCode(), allowed);
}

int TIdTCPConnection::SendCommand(const std::string& line, const std::vector<int>& allowed) {
  SendLine(line);
  return ReceiveReply(allowed);
}

}  // namespace quillon
