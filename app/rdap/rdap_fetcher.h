// One https GET of rdap: the HTTP client over TLS over rdap's transport,
// bounded in time (resolution, connect, handshake and reads together), in
// bytes and in redirects (https only), with every failure turned into an
// ERdapError whose text is an English line naming the host.
#pragma once

#include <atomic>
#include <string>

#include "app/rdap/rdap_document.h"
#include "app/rdap/rdap_lookup.h"
#include "app/rdap/rdap_transport.h"
#include "net/http/http.h"
#include "net/tls/ssl_io_handler.h"

namespace quillon {

// True when `url` starts with https:// (in any letter case).
bool IsHttps(const std::string& url);

// A status that is not success: the code, and the line for it naming the host.
class ERdapStatusError : public ERdapError {
 public:
  ERdapStatusError(int code, const std::string& line) : ERdapError(line), Code(code) {}
  int Code;
};

struct TFetched {
  std::string body;
  std::string url;   // where it finally came from
  std::string host;  // that URL's host, as it is named in failure lines
  std::string cacheControl;
};

class TRdapFetcher {
 public:
  explicit TRdapFetcher(const TRdapOptions& options);
  ~TRdapFetcher();
  TRdapFetcher(const TRdapFetcher&) = delete;
  TRdapFetcher& operator=(const TRdapFetcher&) = delete;

  // Raises ERdapError (ERdapStatusError for a status), or
  // EOperationInterrupted when the lookup is interrupted. A 429 whose
  // Retry-After is at most 10 s, and within what is left of the request's
  // time, is waited out and the request made once more; any other 429 fails
  // with "rate limited by HOST (retry after N s)".
  TFetched Get(const std::string& url, const std::string& accept);

  // The longest Retry-After waited out.
  static constexpr int64_t kMaxRetryAfterSeconds = 10;

 private:
  std::string GetOnce(const std::string& url);
  void CloseQuietly();
  std::string FinalUrl();
  std::string HostOf(const std::string& url) const;

  const TRdapOptions& options_;
  std::atomic<bool> notInterrupted_{false};
  TRdapTransport transport_;
  TIdSSLIOHandlerSocketOpenSSL tls_;
  TIdHTTP http_;
};

}  // namespace quillon
