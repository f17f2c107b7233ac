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
  OpenConnection(UseDefaultTimeout);
  std::string answer;
  try {
    SendLine(query);
    answer = ReceiveAllUpTo(MaxAnswerBytes);
  } catch (...) {
    try {
      CloseConnection();
    } catch (...) {
      // The exchange's own failure is the one to report.
    }
    throw;
  }
  CloseConnection();
  return answer;
}

}  // namespace quillon
