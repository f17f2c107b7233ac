// The seam for an encrypting transport: the HTTP client only asks whether its
// I/O handler is one and switches it between pass-through (bytes as they are,
// for http) and encrypting (TLS negotiated on connect, for https).
#pragma once

#include "net/tcp/io_handler.h"

namespace quillon {

class TIdSSLIOHandlerSocket : public TIdIOHandler {
 public:
  virtual void SetPassThrough(bool passThrough) = 0;
  virtual bool PassThrough() const = 0;
};

}  // namespace quillon
