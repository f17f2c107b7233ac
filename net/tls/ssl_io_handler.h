// The TLS transport over OpenSSL: wraps a plain transport (the socket handler
// or one of its variants), negotiates TLS 1.2 or 1.3 on connect with SNI and
// verifies the peer's certificate against the system's trust store and the
// host name or address connected to. Verification cannot be switched off.
// OpenSSL is loaded by the first connect that starts TLS; where it cannot be,
// that connect raises EIdSSLLibraryError before anything is sent.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "net/tcp/secure_io_handler.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace quillon {

class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocket {
 public:
  // Over a plain socket handler of its own.
  TIdSSLIOHandlerSocketOpenSSL();
  // Over `transport`, which stays the caller's and must outlive this handler.
  explicit TIdSSLIOHandlerSocketOpenSSL(TIdIOHandlerSocket& transport);
  ~TIdSSLIOHandlerSocketOpenSSL() override;
  TIdSSLIOHandlerSocketOpenSSL(const TIdSSLIOHandlerSocketOpenSSL&) = delete;
  TIdSSLIOHandlerSocketOpenSSL& operator=(const TIdSSLIOHandlerSocketOpenSSL&) = delete;

  void SetPassThrough(bool passThrough) override;
  bool PassThrough() const override { return passThrough_; }

  void CloseHandler() override;
  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                 int boundPortMin, int boundPortMax, int timeout) override;
  bool HasSocket() override;
  void OpenHandler() override;
  bool WaitReadable(int timeoutMs) override;
  long ReceiveInto(void* buffer, size_t length) override;
  long SendFrom(const void* buffer, size_t length) override;

  // From another thread: shuts the socket down, which ends a connect, a
  // handshake or a wait in progress at once (the owner closes it). Goes
  // through the socket handle, under its lock, so that it never reaches a
  // descriptor closed meanwhile and perhaps reused by someone else.
  void WakeWait();

  // The peer ended the session by closing the connection without a
  // close_notify: reads then see an end of data that may not be the end.
  bool EndedWithoutCloseNotice() const override { return endedWithoutNotice_; }

  // Limit of the handshake when the connect is given none (ms; 0: none).
  int HandshakeTimeout = 0;

  // The negotiated protocol ("TLSv1.3"), empty before a handshake.
  std::string Protocol() const;

  TIdIOHandlerSocket& Transport() { return transport_; }

  // Called by the transport glue; not for other users.
  struct Glue;

 private:
  void StartTls(const std::string& host, int timeoutMs);
  void FreeSession();
  [[noreturn]] void FailHandshake();
  void RethrowPending();
  // Raises for a failed read or write that is not a socket failure.
  long MapFailure(int sslError, const char* what);
  // A read reached the end of the session: 0, noting whether the peer said so.
  long EndOfData();

  // Frees OpenSSL's objects (the session frees its BIO).
  struct OpenSslFree {
    void operator()(SSL* ssl) const;
    void operator()(SSL_CTX* ctx) const;
  };

  std::unique_ptr<TIdIOHandlerSocket> ownTransport_;
  TIdIOHandlerSocket& transport_;
  bool passThrough_ = false;
  std::unique_ptr<SSL_CTX, OpenSslFree> ctx_;
  std::unique_ptr<SSL, OpenSslFree> ssl_;
  std::string host_;

  // State shared with the BIO callbacks of the current operation.
  bool timedOut_ = false;      // the BIO's wait ran out
  bool socketFailed_ = false;  // the transport failed; socketError_ holds its code
  int socketError_ = 0;
  bool sawEof_ = false;
  bool endedWithoutNotice_ = false;
  std::exception_ptr pending_;  // thrown by the transport inside a callback
};

}  // namespace quillon
