// The proxy setting of a socket transport. Only "no proxy" is supported: its
// proxy step does nothing; any other version is refused when connecting
// rather than talking to a proxy without its handshake.
#pragma once

#include <string>

#include "net/socket/component.h"

namespace quillon {

enum TSocksVersion : int { svNoSocks, svSocks4, svSocks4A, svSocks5 };

class TIdSocksInfo : public TIdBaseComponent {
 public:
  // The step that runs once the socket is connected to the target (`host`,
  // `port` are the final destination). Raises EIdSocksNotSupported for any
  // version other than svNoSocks.
  void MakeSocksConnection(const std::string& host, int port) const;

  TSocksVersion Version = svNoSocks;
  std::string Host;
  int Port = 1080;
  std::string Username;
  std::string Password;
};

}  // namespace quillon
