// The HTTP client's cookie store: takes Set-Cookie / Set-Cookie2 values of
// responses, checks them against the sending host, drops expired cookies and
// builds the Cookie header value of a request.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/http/cookies.h"
#include "net/http/uri.h"
#include "net/socket/component.h"

namespace quillon {

class TIdCookieManager;

using TOnManagerEvent =
    std::function<void(TIdCookieManager* ASender, TIdCookies* ACookieCollection)>;
using TOnNewCookieEvent =
    std::function<void(TIdCookieManager* ASender, TIdNetscapeCookie* ACookie, bool& VAccept)>;

enum class TIdCookieKind { Rfc2109, Rfc2965 };

class TIdCookieManager : public TIdBaseComponent {
 public:
  explicit TIdCookieManager(TOnManagerEvent onCreate = {});
  ~TIdCookieManager() override;

  // A "Set-cookie" value (Rfc2109) or a "Set-cookie2" value (Rfc2965) sent by
  // `host`. A quoted "Port" item that is not a number raises EIdConvertError.
  void StoreCookie(const std::string& text, const std::string& host,
                   TIdCookieKind kind = TIdCookieKind::Rfc2109);
  // The Cookie header value for a request to `uri`; empty when none match.
  std::string CookieHeaderFor(const TIdURI& uri, bool secure);
  void DropExpired();

  TIdCookies& CookieCollection() { return *cookies_; }

  TOnManagerEvent OnCreate;
  TOnManagerEvent OnDestroy;
  TOnNewCookieEvent OnNewCookie;

 private:
  std::unique_ptr<TIdCookies> cookies_;
};

}  // namespace quillon
