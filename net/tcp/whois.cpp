#include "net/tcp/whois.h"

#include "net/tcp/tcp_exceptions.h"

namespace quillon {

TIdWhois::TIdWhois() {
  SetHost("whois.internic.net");
  SetPort(43);
}

std::string TIdWhois::QueryWhois(const std::string& query) {
  // The query goes out as one line: a line end or NUL inside it would send
  // further lines (or a truncated one) to the server.
  if (query.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw EIdWhoisInvalidQuery(msg::kWhoisInvalidQuery);
  return OpenExchangeClose([&] {
    SendLine(query);
    return ReceiveAllUpTo(MaxAnswerBytes);
  });
}

}  // namespace quillon
