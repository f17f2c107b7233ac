// English failure lines of the rdap command; see rdap_failure.h.
#include "app/rdap/rdap_failure.h"

#include <cstring>
#include <new>
#include <string_view>

#include "app/lookup/interruptible.h"
#include "app/lookup/printable_text.h"
#include "app/rdap/rdap_document.h"
#include "net/http/http.h"
#include "net/http/http_head.h"
#include "net/http/string_stream.h"
#include "net/socket/platform.h"
#include "net/tcp/tcp_exceptions.h"
#include "net/tls/tls_exceptions.h"

namespace quillon {

namespace {

struct TErrorWords {
  int code;
  const char* words;
};

constexpr TErrorWords kSocketErrors[] = {
    {10004, "interrupted"},
    {10013, "permission denied"},
    {10024, "too many open files"},
    {10035, "resource temporarily unavailable"},
    {10048, "address already in use"},
    {10049, "cannot assign the requested address"},
    {10050, "network is down"},
    {10051, "network is unreachable"},
    {10052, "connection dropped by the network"},
    {10053, "connection aborted"},
    {10054, "connection reset by peer"},
    {10055, "out of buffer space"},
    {10057, "not connected"},
    {10058, "connection already shut down"},
    {10060, "connection timed out"},
    {10061, "connection refused"},
    {10064, "host is down"},
    {10065, "no route to host"},
    {11001, "host not found"},
    {11002, "temporary failure in name resolution"},
    {11003, "name resolution failed"},
};

template <typename T>
const T* As(const std::exception& e) {
  return dynamic_cast<const T*>(&e);
}

// A server's words (a status line's reason), kept short and printable.
std::string ServerWords(std::string_view text) {
  return PrintableText(text.substr(0, 80));
}

}  // namespace

std::string EnglishSocketError(int code) {
  for (const TErrorWords& e : kSocketErrors)
    if (e.code == code) return e.words;
  // Numbers that the socket layer passes on untranslated carry errno.
  if (code > platform::kUntranslatedBase && code < platform::kUntranslatedBase + 4096) {
    char buffer[128];
    return ::strerror_r(code - platform::kUntranslatedBase, buffer, sizeof buffer);
  }
  return "error " + std::to_string(code);
}

int SocketErrorCodeIn(const std::string& text) {
  const size_t mark = text.find("# ");
  if (mark == std::string::npos) return 0;
  int code = 0;
  size_t at = mark + 2;
  for (; at < text.size() && at < mark + 8 && text[at] >= '0' && text[at] <= '9'; ++at)
    code = code * 10 + (text[at] - '0');
  return at > mark + 2 ? code : 0;
}

std::string SizeText(size_t bytes) {
  if (bytes != 0 && bytes % (size_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes != 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::string DescribeExchangeFailure(const std::exception& failure, const std::string& rawHost,
                                    size_t maxBytes, int timeoutMs) {
  const std::string host = PrintableText(rawHost);
  const std::string tooLarge = "answer from " + host + " larger than " + SizeText(maxBytes);
  const std::string cutShort = host + " closed the connection before the answer was complete";

  if (As<ERdapError>(failure) != nullptr) return PrintableText(failure.what());
  if (const auto* limit = As<EOperationLimitExceeded>(failure)) {
    if (std::string_view(limit->what()) == "Too many bytes") return tooLarge;
    return "no complete answer from " + host + " within " +
           (timeoutMs % 1000 == 0 ? std::to_string(timeoutMs / 1000) + " s"
                                  : std::to_string(timeoutMs) + " ms");
  }
  if (As<EIdConnectTimeout>(failure) != nullptr)
    return "no complete answer from " + host + " within " +
           (timeoutMs % 1000 == 0 ? std::to_string(timeoutMs / 1000) + " s"
                                  : std::to_string(timeoutMs) + " ms");
  if (As<EIdHTTPBodyTooLarge>(failure) != nullptr) return tooLarge;
  if (const auto* status = As<EIdHTTPProtocolException>(failure)) {
    std::string reason = status->what();
    // The status line: version, code, reason; only the reason is the server's.
    for (int field = 0; field < 2 && !reason.empty(); ++field) {
      const size_t blank = reason.find(' ');
      reason = blank == std::string::npos ? std::string() : reason.substr(blank + 1);
    }
    return host + " answered " + std::to_string(status->ReplyCode()) +
           (reason.empty() ? "" : " " + ServerWords(reason));
  }
  if (As<EIdHTTPBodyCutShort>(failure) != nullptr)
    return "answer from " + host + " cut short: the connection ended without TLS close_notify";
  if (As<EIdHTTPInvalidFraming>(failure) != nullptr ||
      As<EIdHTTPInvalidChunkSize>(failure) != nullptr)
    return "answer from " + host + " is not valid HTTP (body framing)";
  if (As<EIdHTTPHeaderTooLarge>(failure) != nullptr ||
      As<EIdReadLnMaxLineLengthExceeded>(failure) != nullptr)
    return "answer from " + host + " has a header too large";
  if (As<EIdConnClosedGracefully>(failure) != nullptr) return cutShort;
  if (As<EIdReadTimeout>(failure) != nullptr) return "no answer from " + host + " in time";
  if (const auto* tls = As<EIdSSLSocketError>(failure))
    return "TLS handshake with " + host + " failed: " + EnglishSocketError(tls->SocketErrorCode);
  // The TLS layer's own texts are English and name the host.
  if (As<EIdSSLError>(failure) != nullptr) return PrintableText(failure.what());
  if (const auto* socket = As<EIdSocketError>(failure))
    return "connection to " + host + " failed: " + EnglishSocketError(socket->SocketErrorCode);
  if (const auto* connect = As<EIdConnectException>(failure)) {
    const int code = SocketErrorCodeIn(connect->what());
    return "cannot connect to " + host + (code != 0 ? ": " + EnglishSocketError(code) : "");
  }
  if (As<EIdURIException>(failure) != nullptr || As<EIdUnknownProtocol>(failure) != nullptr ||
      As<EIdConvertError>(failure) != nullptr)
    return "unusable address in the answer from " + host;
  if (As<std::bad_alloc>(failure) != nullptr) return "out of memory";
  // A success whose connection was already gone ("Undefined situation").
  if (As<EIdNotConnected>(failure) != nullptr ||
      std::string_view(failure.what()) == msg::kUndefinedSituation)
    return cutShort;
  return "exchange with " + host + " failed";
}

}  // namespace quillon
