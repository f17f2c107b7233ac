// The hook through which a connection's bytes could be transformed on their
// way in and out (and told of connects and disconnects). Intercepts chain:
// each may pass the bytes on to a further one. The program installs none.
#pragma once

#include <functional>

#include "net/socket/component.h"
#include "net/tcp/streams.h"

namespace quillon {

class TIdConnectionIntercept : public TIdBaseComponent {
 public:
  using TNotifyEvent = std::function<void(TIdConnectionIntercept* sender)>;
  using TStreamEvent = std::function<void(TIdConnectionIntercept* sender, TIdStream& stream)>;

  virtual void Connect(TIdBaseComponent* connection);
  virtual void Disconnect();
  // A received block: the chained intercept first, then OnReceive; the
  // stream is rewound afterwards.
  virtual void Receive(TIdStream& stream);
  // An outgoing block: OnSend first, rewind, then the chained intercept.
  virtual void Send(TIdStream& stream);

  TNotifyEvent OnConnect;
  TNotifyEvent OnDisconnect;
  TStreamEvent OnReceive;
  TStreamEvent OnSend;
  // The next intercept of the chain (not owned).
  TIdConnectionIntercept* Intercept = nullptr;
  TIdBaseComponent* Connection = nullptr;
};

}  // namespace quillon
