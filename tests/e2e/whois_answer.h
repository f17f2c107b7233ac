// The answers of the end-to-end world's whois servers: a known text per
// server and query, with every kind of line break (CR LF, lone LF, lone CR)
// and a UTF-8 line, so that a client's line handling shows in its output.
#pragma once

#include <string>

namespace quillon::e2e {

// Queries that start with this make the server send a long answer.
inline constexpr const char* kBigQueryPrefix = "big.";
// Queries that start with this make the server read the query and then say
// nothing until the client gives up (or 10 s pass).
inline constexpr const char* kStallQueryPrefix = "stall.";
inline constexpr int kBigAnswerLines = 4000;

// The answer of `server` (its host name) to `query` (without CR LF).
inline std::string WhoisAnswer(const std::string& server, const std::string& query) {
  std::string a;
  a += "% Quillon test whois server " + server + "\r\n";
  a += "% query: " + query + "\r\n";
  a += "\r\n";
  a += "domain:      " + query + "\n";
  a += "registrar:   Registre d\xC3\xA9mo\r";
  a += "status:      active\r\n";
  if (query.rfind(kBigQueryPrefix, 0) == 0)
    for (int i = 0; i < kBigAnswerLines; ++i)
      a += "remark:      line " + std::to_string(i) + " of a long answer\r\n";
  a += "source:      " + server + "\r\n";
  return a;
}

}  // namespace quillon::e2e
