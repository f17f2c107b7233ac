// The buffered byte stream over a connected I/O handler: received bytes are
// queued and handed out as lines, exact counts, streams or everything until
// the peer closes; writes go out at once or gather in a write buffer;
// numbered replies ("250 OK") are read and checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/socket/component.h"
#include "net/socket/stack.h"
#include "net/tcp/buffers.h"
#include "net/tcp/intercept.h"
#include "net/tcp/io_handler.h"
#include "net/tcp/rfc_reply.h"
#include "net/tcp/streams.h"

namespace quillon {

enum TIdMaxLineAction : int { maException = 0, maSplit = 1 };

using TIdNotifyEvent = std::function<void(TIdBaseComponent* Sender)>;

class TIdTCPConnection : public TIdComponent {
 public:
  // The longest multi-line numbered reply that ReceiveReply gathers.
  static constexpr size_t MaxReplyBytes = 1 << 20;

  TIdTCPConnection();
  ~TIdTCPConnection() override;

  // The transport; none until one is installed (TIdTCPClient creates its own).
  TIdIOHandler* IOHandler() const { return ioHandler_; }
  // Installs a handler that the caller keeps owning (it must outlive its
  // use here); a handler that the connection owned is freed first.
  void SetIOHandler(TIdIOHandler* handler);
  bool OwnsIOHandler() const { return ownedIOHandler_ != nullptr; }

  virtual void FireDisconnected();
  virtual void ResetInput();
  virtual std::string ReceiveAll();
  virtual void CheckDisconnected(bool raise, bool ignoreQueue = false);
  virtual void ProbeForClose(bool raise);
  virtual int CheckReply(int code, const std::vector<int>& allowed);
  virtual bool IsConnected();
  virtual void CloseConnection();
  virtual void DropSocket();
  // Reads a numbered reply into LastReply; returns its code after CheckReply.
  virtual int ReceiveReply(const std::vector<int>& allowed = {});
  // Raise EIdProtocolReplyError (an override may raise its own class).
  virtual void RaiseReplyError();
  virtual void RaiseReplyError(int code, const std::string& text);
  // > 0 bytes queued, 0 closed, -1 time-out (when not raising).
  virtual int FillInputQueue(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout);
  // An empty terminator stands for LF, with which CR LF also ends a line.
  // maximum -1: MaxLineLength; 0: no limit. When the peer closes before a
  // terminator comes, or an explicit time-out runs out, the result is empty
  // with LineTimedOut set and the bytes stay queued.
  virtual std::string ReceiveLine(const std::string& terminator = "\n",
                                  int timeout = UseDefaultTimeout, int maximum = -1);
  virtual int SendCommand(const std::string& line, const std::vector<int>& allowed = {});
  virtual void SendText(const std::string& text);
  virtual void SendLine(const std::string& text);
  // count 0: up to the end of the stream.
  virtual void SendStream(TIdStream& stream, bool fromStart = true, bool lengthPrefix = false,
                          int64_t count = 0);
  virtual int64_t SendFileContents(const std::string& fileName, bool allowTransmit = true);

  std::string ReceiveLineRetrying(int attempts);
  std::string ReceiveAvailable();
  void ReceiveExact(void* buffer, size_t count);
  int32_t ReceiveInt32(bool convert = true);
  // count -1 without untilClose: a 4-byte big-endian length comes first.
  void ReceiveToStream(TIdStream& stream, int64_t count = -1, bool untilClose = false);
  // ReceiveAll that raises EIdReplyTooLong once more than `limit` bytes came.
  std::string ReceiveAllUpTo(size_t limit);
  void SendBytes(const void* buffer, size_t count, bool now = false);
  void SendInt32(int32_t value, bool convert = true);
  // threshold <= 0: flush only on request or at the end.
  void StartWriteBuffering(int32_t threshold = 0);
  void FinishWriteBuffering();
  void FlushWrites(int64_t count = -1);
  void DiscardWrites();
  bool WriteBuffering() const { return PendingWrites != nullptr; }

  bool ASCIIFilter = false;
  TIdConnectionIntercept* Intercept = nullptr;  // not owned; the program sets none
  int32_t MaxLineLength = 16384;
  TIdMaxLineAction MaxLineAction = maException;
  int32_t ReadTimeout = 0;
  int32_t RecvBufferSize = 32768;
  int32_t SendBufferSize = 32768;
  TIdNotifyEvent OnDisconnected;

  bool PeerClosed = false;
  TIdRFCReply ServerGreeting;
  TIdManagedBuffer InputQueue;
  TIdRFCReply LastReply;
  bool LineWasSplit = false;
  bool LineTimedOut = false;
  TIdSimpleBuffer ReceiveScratch;
  std::unique_ptr<TIdSimpleBuffer> PendingWrites;
  int32_t PendingWriteThreshold = 0;

 protected:
  // Installs a handler that the connection owns from now on.
  void InstallOwnedIOHandler(std::unique_ptr<TIdIOHandler> handler);
  void FreeOwnedIOHandler();

 private:
  // Fills the queue until it holds `count` bytes; a close first raises
  // EIdConnClosedGracefully (the queued bytes stay).
  void EnsureQueued(size_t count);
  void AppendQueued(std::string& text);
  void SendNow(const char* data, size_t count);

  TIdIOHandler* ioHandler_ = nullptr;
  std::unique_ptr<TIdIOHandler> ownedIOHandler_;
};

}  // namespace quillon
