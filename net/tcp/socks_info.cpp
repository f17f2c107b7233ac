#include "net/tcp/socks_info.h"

#include "net/tcp/tcp_exceptions.h"

namespace quillon {

void TIdSocksInfo::MakeSocksConnection(const std::string&, int) const {
  if (Version == svNoSocks) return;
  // The SOCKS handshakes are not part of this program; carrying on would
  // send the application's bytes to the proxy itself.
  throw EIdSocksNotSupported(msg::kSocksNotSupported);
}

}  // namespace quillon
