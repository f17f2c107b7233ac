// What the rdap command says when an exchange fails: one plain English line
// naming what failed and where ("cannot resolve rdap.example: temporary
// failure in name resolution"), never the text of an exception of the
// network layers (those stay in French inside the exceptions).
#pragma once

#include <cstddef>
#include <exception>
#include <string>

namespace quillon {

// The English words for a socket library error number ("connection
// refused"); a number without words gives "error N".
std::string EnglishSocketError(int code);

// The error number inside a socket failure's French text ("Erreur de socket
// # 10061 ..."), as a connecting thread hands it on; 0 when there is none.
int SocketErrorCodeIn(const std::string& text);

// A size for people: "4 MiB", "100 KiB" or "1000 bytes".
std::string SizeText(size_t bytes);

// What went wrong in an exchange with `host`, for a failure raised below the
// rdap command (HTTP, TLS, sockets, limits). `maxBytes` and `timeoutMs` are
// the request's bounds, named when they were passed.
std::string DescribeExchangeFailure(const std::exception& failure, const std::string& host,
                                    size_t maxBytes, int timeoutMs);

}  // namespace quillon
