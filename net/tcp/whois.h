// The whois client (RFC 3912): connects to a whois server on TCP port 43,
// sends the query as one line and returns everything the server sends until
// it closes the connection.
#pragma once

#include <cstddef>
#include <string>

#include "net/tcp/tcp_client.h"

namespace quillon {

class TIdWhois : public TIdTCPClient {
 public:
  // The most that one answer may hold; a longer one raises EIdReplyTooLong.
  static constexpr size_t MaxAnswerBytes = 16u << 20;

  TIdWhois();

  // The answer's bytes unchanged. A query holding CR, LF or NUL is refused
  // with EIdWhoisInvalidQuery before connecting. Once connected, the
  // connection is always closed before returning or raising.
  std::string QueryWhois(const std::string& query);
};

}  // namespace quillon
