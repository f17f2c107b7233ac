// The TLS transport; see ssl_io_handler.h. OpenSSL reads and writes through a
// BIO whose callbacks call the wrapped transport, so every wait of the
// handshake and of a read goes through the transport's own wait (time-outs,
// interruption) and a socket failure keeps its socket error number. Every
// OpenSSL call goes through the run-time binding (openssl_library.h), which
// the first TLS connect loads.
#include "net/tls/ssl_io_handler.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "net/socket/error_text.h"
#include "net/socket/platform.h"
#include "net/tls/openssl_library.h"
#include "net/tls/tls_exceptions.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

// A deadline for the BIO's reads; none means the transport waits forever.
struct Deadline {
  bool set = false;
  Clock::time_point at;
  int MsLeft() const {
    if (!set) return WaitForever;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
  }
};

thread_local Deadline tDeadline;

bool IsIpLiteral(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// OpenSSL, for the code that runs only once a session exists (the BIO's
// callbacks, the deleters): the library is loaded by then.
const TOpenSslLibrary& Ossl() {
  return TOpenSslLibrary::Process();
}

// The text of the oldest queued OpenSSL error, "error" when there is none.
std::string OpenSslReason() {
  const unsigned long code = Ossl().ERR_peek_error();
  const char* reason = code != 0 ? Ossl().ERR_reason_error_string(code) : nullptr;
  return reason != nullptr ? reason : "error";
}

}  // namespace

struct TIdSSLIOHandlerSocketOpenSSL::Glue {
  static TIdSSLIOHandlerSocketOpenSSL& Self(BIO* bio) {
    return *static_cast<TIdSSLIOHandlerSocketOpenSSL*>(Ossl().BIO_get_data(bio));
  }

  // No exception may cross OpenSSL's C frames: a transport exception is kept
  // and raised again once the OpenSSL call has returned.
  static int Read(BIO* bio, char* out, int length) {
    Ossl().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    TIdSSLIOHandlerSocketOpenSSL& self = Self(bio);
    try {
      if (!self.transport_.WaitReadable(tDeadline.MsLeft())) {
        self.timedOut_ = true;
        Ossl().BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
        return -1;
      }
      const long n = self.transport_.ReceiveInto(out, static_cast<size_t>(length));
      if (n > 0) return static_cast<int>(n);
      if (n == 0) {
        self.sawEof_ = true;
        return 0;
      }
      self.socketFailed_ = true;
      self.socketError_ = platform::LastError();
    } catch (...) {
      self.pending_ = std::current_exception();
    }
    return -1;
  }

  static int Write(BIO* bio, const char* in, int length) {
    Ossl().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    TIdSSLIOHandlerSocketOpenSSL& self = Self(bio);
    try {
      const long n = self.transport_.SendFrom(in, static_cast<size_t>(length));
      if (n > 0) return static_cast<int>(n);
      if (n == 0) {
        self.sawEof_ = true;
      } else {
        self.socketFailed_ = true;
        self.socketError_ = platform::LastError();
      }
    } catch (...) {
      self.pending_ = std::current_exception();
    }
    return -1;
  }

  static long Control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

  static int Create(BIO* bio) {
    Ossl().BIO_set_init(bio, 1);
    return 1;
  }

  static BIO_METHOD* Method() {
    static BIO_METHOD* method = [] {
      BIO_METHOD* m = Ossl().BIO_meth_new(Ossl().BIO_get_new_index() | BIO_TYPE_SOURCE_SINK,
                                          "quillon transport");
      if (m != nullptr) {
        Ossl().BIO_meth_set_read(m, Read);
        Ossl().BIO_meth_set_write(m, Write);
        Ossl().BIO_meth_set_ctrl(m, Control);
        Ossl().BIO_meth_set_create(m, Create);
      }
      return m;
    }();
    return method;
  }
};

void TIdSSLIOHandlerSocketOpenSSL::OpenSslFree::operator()(SSL* ssl) const {
  Ossl().SSL_free(ssl);
}

void TIdSSLIOHandlerSocketOpenSSL::OpenSslFree::operator()(SSL_CTX* ctx) const {
  Ossl().SSL_CTX_free(ctx);
}

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL()
    : ownTransport_(std::make_unique<TIdIOHandlerSocket>()), transport_(*ownTransport_) {
  transport_.OpenHandler();  // the socket handle exists from now on (WakeWait)
}

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL(TIdIOHandlerSocket& transport)
    : transport_(transport) {
  if (transport_.SocketHandle() == nullptr) transport_.OpenHandler();
}

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() {
  try {
    CloseHandler();
  } catch (...) {
    // Closing is best effort while the handler goes away.
  }
}

void TIdSSLIOHandlerSocketOpenSSL::SetPassThrough(bool passThrough) {
  if (passThrough == passThrough_) return;
  // Switching an open connection would mix plain and encrypted bytes; the
  // setting applies from the next connect.
  if (HasSocket()) {
    throw EIdSSLError(passThrough ? "TLS cannot stop on an open connection"
                                  : "TLS cannot start on an open connection");
  }
  passThrough_ = passThrough;
}

std::string TIdSSLIOHandlerSocketOpenSSL::Protocol() const {
  return ssl_ != nullptr ? Ossl().SSL_get_version(ssl_.get()) : "";
}

void TIdSSLIOHandlerSocketOpenSSL::FreeSession() {
  ssl_.reset();
}

void TIdSSLIOHandlerSocketOpenSSL::CloseHandler() {
  if (ssl_ != nullptr && Ossl().SSL_is_init_finished(ssl_.get()) && !sawEof_ && !socketFailed_ &&
      transport_.HasSocket()) {
    // A close_notify tells the peer that the data ended here; it is sent
    // without waiting for the peer's own.
    Ossl().ERR_clear_error();
    tDeadline = Deadline{};
    Ossl().SSL_shutdown(ssl_.get());
    pending_ = nullptr;
  }
  FreeSession();
  // OpenSSL is not loaded for a handler that never started TLS.
  if (ctx_ != nullptr) Ossl().ERR_clear_error();
  transport_.CloseHandler();
}

bool TIdSSLIOHandlerSocketOpenSSL::HasSocket() {
  return transport_.HasSocket();
}

void TIdSSLIOHandlerSocketOpenSSL::OpenHandler() {
  FreeSession();
  transport_.OpenHandler();
}

void TIdSSLIOHandlerSocketOpenSSL::WakeWait() {
  // The handle exists from construction on and is never replaced.
  if (TIdSocketHandle* handle = transport_.SocketHandle()) handle->WakeWaiters();
}

void TIdSSLIOHandlerSocketOpenSSL::ConnectTo(const std::string& host, int port,
                                             const std::string& boundIP, int boundPort,
                                             int boundPortMin, int boundPortMax, int timeout) {
  FreeSession();
  endedWithoutNotice_ = false;
  // OpenSSL is loaded now, at the first connect that needs it, and before
  // anything is sent: where it cannot be, the connect fails at once.
  if (!passThrough_) TOpenSslLibrary::Process().Require();
  const Clock::time_point started = Clock::now();
  transport_.ConnectTo(host, port, boundIP, boundPort, boundPortMin, boundPortMax, timeout);
  if (passThrough_) return;
  // The connect's time limit covers the handshake too.
  int limit = HandshakeTimeout;
  if (timeout > 0) {
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    limit = static_cast<int>(std::max<long long>(timeout - spent, 1));
  }
  StartTls(host, limit);
}

void TIdSSLIOHandlerSocketOpenSSL::RethrowPending() {
  if (pending_) {
    std::exception_ptr e = pending_;
    pending_ = nullptr;
    std::rethrow_exception(e);
  }
}

void TIdSSLIOHandlerSocketOpenSSL::StartTls(const std::string& host, int timeoutMs) {
  host_ = host;
  if (host_.size() > 2 && host_.front() == '[' && host_.back() == ']')
    host_ = host_.substr(1, host_.size() - 2);
  if (host_.empty()) throw EIdSSLError("TLS needs a host name to verify");

  Ossl().ERR_clear_error();
  if (ctx_ == nullptr) {
    ctx_.reset(Ossl().SSL_CTX_new(Ossl().TLS_client_method()));
    if (ctx_ == nullptr)
      throw EIdSSLError("TLS cannot start for " + host_ + ": " + OpenSslReason());
    Ossl().SSL_CTX_ctrl(ctx_.get(), SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    Ossl().SSL_CTX_ctrl(ctx_.get(), SSL_CTRL_SET_MAX_PROTO_VERSION, TLS1_3_VERSION, nullptr);
    // The system's trust store, or what SSL_CERT_FILE / SSL_CERT_DIR name.
    Ossl().SSL_CTX_set_default_verify_paths(ctx_.get());
    Ossl().SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
    // Fewer, larger receives for bulk data.
    Ossl().SSL_CTX_ctrl(ctx_.get(), SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
    Ossl().SSL_CTX_set_default_read_buffer_len(ctx_.get(), 64 * 1024);
    Ossl().ERR_clear_error();
  }
  BIO_METHOD* method = Glue::Method();
  ssl_.reset(Ossl().SSL_new(ctx_.get()));
  BIO* bio = method != nullptr ? Ossl().BIO_new(method) : nullptr;
  if (ssl_ == nullptr || bio == nullptr) {
    Ossl().BIO_free(bio);
    FreeSession();
    throw EIdSSLError("TLS cannot start for " + host_ + ": " + OpenSslReason());
  }
  Ossl().BIO_set_data(bio, this);
  Ossl().SSL_set_bio(ssl_.get(), bio, bio);

  bool named;
  if (IsIpLiteral(host_)) {
    named =
        Ossl().X509_VERIFY_PARAM_set1_ip_asc(Ossl().SSL_get0_param(ssl_.get()), host_.c_str()) == 1;
  } else {
    Ossl().SSL_set_hostflags(ssl_.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // SNI (SSL_set_tlsext_host_name, spelt out without its C cast).
    named = Ossl().SSL_ctrl(ssl_.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                            const_cast<char*>(host_.c_str())) == 1 &&
            Ossl().SSL_set1_host(ssl_.get(), host_.c_str()) == 1;
  }
  if (!named) throw EIdSSLError("TLS cannot verify the name " + host_);

  timedOut_ = sawEof_ = socketFailed_ = false;
  pending_ = nullptr;
  tDeadline = Deadline{};
  if (timeoutMs > 0)
    tDeadline = Deadline{true, Clock::now() + std::chrono::milliseconds(timeoutMs)};
  const int result = Ossl().SSL_connect(ssl_.get());
  tDeadline = Deadline{};
  if (result != 1) FailHandshake();
}

void TIdSSLIOHandlerSocketOpenSSL::FailHandshake() {
  RethrowPending();
  const long verify = Ossl().SSL_get_verify_result(ssl_.get());
  std::string reason = OpenSslReason();
  Ossl().ERR_clear_error();
  if (timedOut_) throw EIdSSLHandshakeTimeout("TLS handshake timed out for " + host_);
  if (verify != X509_V_OK) {
    throw EIdSSLCertificateError("certificate verify failed for " + host_ + ": " +
                                 Ossl().X509_verify_cert_error_string(verify));
  }
  if (sawEof_) throw EIdSSLConnectionClosed("connection closed during TLS handshake with " + host_);
  if (socketFailed_) {
    reason = SocketErrorTextOf(socketError_);
    if (reason.empty()) reason = SocketErrorMessage(socketError_);
    throw EIdSSLSocketError(socketError_, "TLS handshake with " + host_ + " failed: " + reason);
  }
  throw EIdSSLError("TLS handshake with " + host_ + " failed: " + reason);
}

long TIdSSLIOHandlerSocketOpenSSL::EndOfData() {
  // A close_notify received means the peer ended its data here; a
  // connection that simply closed could have been cut by anyone on the way.
  if (ssl_ != nullptr && (Ossl().SSL_get_shutdown(ssl_.get()) & SSL_RECEIVED_SHUTDOWN) == 0)
    endedWithoutNotice_ = true;
  return 0;
}

long TIdSSLIOHandlerSocketOpenSSL::MapFailure(int sslError, const char* what) {
  RethrowPending();
  if (sslError == SSL_ERROR_ZERO_RETURN || sawEof_) {
    Ossl().ERR_clear_error();
    return EndOfData();
  }
  if (socketFailed_) {
    Ossl().ERR_clear_error();
    platform::SetLastError(socketError_);
    return -1;
  }
  const std::string reason = OpenSslReason();
  Ossl().ERR_clear_error();
  throw EIdSSLError(std::string("TLS ") + what + " " + host_ + " failed: " + reason);
}

bool TIdSSLIOHandlerSocketOpenSSL::WaitReadable(int timeoutMs) {
  if (passThrough_ || ssl_ == nullptr) return transport_.WaitReadable(timeoutMs);
  if (Ossl().SSL_pending(ssl_.get()) > 0 || sawEof_ || socketFailed_) return true;
  // Readable means decrypted data is ready: records are taken in (a partial
  // one, a session ticket) until application data, a close or the time-out.
  Ossl().ERR_clear_error();
  timedOut_ = false;
  tDeadline = Deadline{};
  if (timeoutMs >= 0)
    tDeadline = Deadline{true, Clock::now() + std::chrono::milliseconds(timeoutMs)};
  unsigned char byte;
  size_t got = 0;
  const int result = Ossl().SSL_peek_ex(ssl_.get(), &byte, 1, &got);
  tDeadline = Deadline{};
  if (result == 1) return true;
  const int error = Ossl().SSL_get_error(ssl_.get(), result);
  RethrowPending();
  if (timedOut_) {
    Ossl().ERR_clear_error();
    return false;
  }
  if (error == SSL_ERROR_ZERO_RETURN) sawEof_ = true;
  // A close or a failure: the receive that follows reports it.
  if (sawEof_ || socketFailed_) return true;
  MapFailure(error, "read from");
  return true;
}

long TIdSSLIOHandlerSocketOpenSSL::ReceiveInto(void* buffer, size_t length) {
  if (passThrough_ || ssl_ == nullptr) return transport_.ReceiveInto(buffer, length);
  if (Ossl().SSL_pending(ssl_.get()) == 0) {
    if (sawEof_) return EndOfData();
    if (socketFailed_) {
      platform::SetLastError(socketError_);
      return -1;
    }
  }
  Ossl().ERR_clear_error();
  size_t got = 0;
  const int result = Ossl().SSL_read_ex(ssl_.get(), buffer, length, &got);
  if (result == 1) return static_cast<long>(got);
  return MapFailure(Ossl().SSL_get_error(ssl_.get(), result), "read from");
}

long TIdSSLIOHandlerSocketOpenSSL::SendFrom(const void* buffer, size_t length) {
  if (passThrough_ || ssl_ == nullptr) return transport_.SendFrom(buffer, length);
  if (length == 0) return 0;
  Ossl().ERR_clear_error();
  size_t sent = 0;
  const int result = Ossl().SSL_write_ex(ssl_.get(), buffer, length, &sent);
  if (result == 1) return static_cast<long>(sent);
  return MapFailure(Ossl().SSL_get_error(ssl_.get(), result), "write to");
}

}  // namespace quillon
