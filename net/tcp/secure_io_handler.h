// The seam for an encrypting transport: the HTTP client only asks whether its
// I/O handler is one, switches it between pass-through (bytes as they are,
// for http) and encrypting (TLS negotiated on connect, for https), and asks
// whether a connection ended without the peer's notice.
#pragma once

#include "net/tcp/io_handler.h"

namespace quillon {

class TIdSSLIOHandlerSocket : public TIdIOHandler {
 public:
  virtual void SetPassThrough(bool passThrough) = 0;
  virtual bool PassThrough() const = 0;
  // Whether the last connection's peer closed it without announcing the end
  // of its data (no TLS close_notify), so that data read until the close may
  // have been cut short by someone in between. Cleared by the next connect.
  virtual bool EndedWithoutCloseNotice() const { return false; }
};

}  // namespace quillon
