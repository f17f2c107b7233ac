#include "net/tcp/intercept.h"

namespace quillon {

void TIdConnectionIntercept::Connect(TIdBaseComponent* connection) {
  Connection = connection;
  if (Intercept) Intercept->Connect(connection);
  if (OnConnect) OnConnect(this);
}

void TIdConnectionIntercept::Disconnect() {
  if (Intercept) Intercept->Disconnect();
  if (OnDisconnect) OnDisconnect(this);
  Connection = nullptr;
}

void TIdConnectionIntercept::Receive(TIdStream& stream) {
  if (Intercept) Intercept->Receive(stream);
  if (OnReceive) OnReceive(this, stream);
  stream.SetPosition(0);
}

void TIdConnectionIntercept::Send(TIdStream& stream) {
  if (OnSend) OnSend(this, stream);
  stream.SetPosition(0);
  if (Intercept) Intercept->Send(stream);
}

}  // namespace quillon
