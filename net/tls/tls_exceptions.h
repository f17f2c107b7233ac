// Failures of the TLS layer. Every message names what failed and the host it
// failed for, e.g. "certificate verify failed for rdap.example.test: ...".
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

// The socket failed during the handshake: its socket library error number.
class EIdSSLSocketError : public EIdSSLError {
 public:
  EIdSSLSocketError(int code, std::string message)
      : EIdSSLError(std::move(message)), SocketErrorCode(code) {}
  int SocketErrorCode;
};

}  // namespace quillon
