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
// Queries that start with this get lines in Latin-1 (not UTF-8), with a NUL
// byte and control characters, as old registries send them.
inline constexpr const char* kLatin1QueryPrefix = "latin1.";
// Those lines, as sent.
inline const std::string kLatin1Lines = std::string("holder:      Soci\xE9t\xE9 G\xE9n\xE9rale\r\n") +
                                        "note:        a" + std::string(1, '\0') +
                                        "b\x01\x1b[31mred\x7f\r\n";

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
  if (query.rfind(kLatin1QueryPrefix, 0) == 0) a += kLatin1Lines;
  a += "source:      " + server + "\r\n";
  return a;
}

}  // namespace quillon::e2e
