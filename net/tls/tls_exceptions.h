// Failures of the TLS layer. Every message names what failed and, for a
// session, the host it failed for: "certificate verify failed for rdap.example.test: ...".
#pragma once

#include "net/socket/exceptions.h"

namespace quillon {

QUILLON_EXCEPTION(EIdSSLError, EIdException);
// The peer's certificate did not verify (issuer, dates, name or address).
QUILLON_EXCEPTION(EIdSSLCertificateError, EIdSSLError);
// The handshake did not end within its time limit.
QUILLON_EXCEPTION(EIdSSLHandshakeTimeout, EIdSSLError);
// The peer closed the connection during the handshake.
QUILLON_EXCEPTION(EIdSSLConnectionClosed, EIdSSLError);
// OpenSSL cannot be loaded, or lacks a function that the transport calls:
// "the TLS library (libssl.so.3) cannot be loaded". Raised before anything
// is sent.
QUILLON_EXCEPTION(EIdSSLLibraryError, EIdSSLError);

// The socket failed during the handshake: its socket library error number.
class EIdSSLSocketError : public EIdSSLError {
 public:
  EIdSSLSocketError(int code, std::string message)
      : EIdSSLError(std::move(message)), SocketErrorCode(code) {}
  int SocketErrorCode;
};

}  // namespace quillon
