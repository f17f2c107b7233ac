// The HTTP/1.1 client: one request/response exchange over a TCP connection,
// with redirects, keep-alive, chunked / Content-Length / until-close bodies,
// cookies, and every non-success status raised as EIdHTTPProtocolException.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/http/cookie_manager.h"
#include "net/http/header_info.h"
#include "net/http/http_head.h"
#include "net/http/string_stream.h"
#include "net/http/uri.h"
#include "net/tcp/io_handler.h"
#include "net/tcp/secure_io_handler.h"
#include "net/tcp/streams.h"
#include "net/tcp/tcp_client.h"
#include "net/tcp/tcp_exceptions.h"

namespace quillon {

// A non-success status: the message is the status line, ReplyErrorCode the
// status code, ReplyBody the error page.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
 public:
  EIdHTTPProtocolException(int code, std::string statusLine, std::string body)
      : EIdProtocolReplyError(code, std::move(statusLine)), ReplyBody(std::move(body)) {}
  int ReplyCode() const { return ReplyErrorCode; }
  std::string ReplyBody;
};

QUILLON_EXCEPTION(EIdUnknownProtocol, EIdException);
// A body read until the close whose secure connection ended without the
// peer's notice: it may have been cut short on the way.
QUILLON_EXCEPTION(EIdHTTPBodyCutShort, EIdException);

namespace msg {
inline constexpr const char* kIOHandlerPropInvalid = "Valeur IOHandler incorrecte";
inline constexpr const char* kUndefinedSituation = "Undefined situation";
inline constexpr const char* kMethodRequiresHttp11 = "This request method is supported in HTTP 1.1";
inline constexpr const char* kChunkStarted = "Opération Chunk démarrée";
inline constexpr const char* kBodyCutShort =
    "Corps de réponse HTTP tronqué : la connexion sécurisée s'est terminée sans notification.";
}  // namespace msg

enum TIdHTTPMethod : int { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TIdHTTPOption : unsigned {
  hoInProcessAuth = 1,
  hoKeepOrigProtocol = 2,
  hoForceEncodeParams = 4
};
using TIdHTTPOptions = unsigned;  // a set of TIdHTTPOption bits
enum TIdHTTPProtocolVersion : int { pv1_0, pv1_1 };
enum class TIdHTTPRouteKind { DirectPlain, DirectSecure, ProxyPlain, ProxySecure };
enum class TIdHTTPNextStep { FollowUrl, Finish, Undetermined, ReadThenFollow, RetryWithAuth };

class TIdCustomHTTP;

class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  explicit TIdHTTPRequest(TIdCustomHTTP* client) : Client(client) {}

  std::string TargetUrl;
  TIdHTTPMethod RequestMethod = hmGet;
  TIdStream* BodySource = nullptr;  // not owned
  TIdHTTPRouteKind RouteKind = TIdHTTPRouteKind::DirectPlain;
  TIdCustomHTTP* Client;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  explicit TIdHTTPResponse(TIdCustomHTTP* client) : Client(client) {}

  // Computed from the status line on each use.
  int32_t StatusCode();
  // Computed from the status line, the connection and the Connection headers.
  bool KeepConnection();

  std::string StatusLine;
  int ServerVersion = 0;             // 0 for "1.0", 1 for "1.1"
  // The body's framing leaves the connection unfit for another exchange
  // (both Transfer-Encoding and Content-Length, or read until close).
  bool CloseAfterExchange = false;
  TIdStream* ContentSink = nullptr;  // not owned
  TIdCustomHTTP* Client;

 private:
  int32_t statusCode_ = -1;
  bool keepConnection_ = false;
};

class TIdHTTPProtocol {
 public:
  explicit TIdHTTPProtocol(TIdCustomHTTP* client)
      : Client(client),
        Request(std::make_unique<TIdHTTPRequest>(client)),
        Response(std::make_unique<TIdHTTPResponse>(client)) {}

  TIdCustomHTTP* Client;
  std::unique_ptr<TIdHTTPRequest> Request;
  std::unique_ptr<TIdHTTPResponse> Response;
};

using TIdHTTPRedirectEvent =
    std::function<void(TIdBaseComponent* Sender, std::string& dest, int& NumRedirect, bool& Handled,
                       TIdHTTPMethod& VMethod)>;
// Asked whether a 401 (or 407) can be retried; Handled starts true when the
// client could answer the challenge with what it has.
using TIdAuthorizationEvent =
    std::function<void(TIdBaseComponent* Sender, TIdAuthentication* Authentication, bool& Handled)>;

class TIdCustomHTTP : public TIdTCPClient {
 public:
  TIdCustomHTTP();
  ~TIdCustomHTTP() override;

  // Setting the host or port also sets that part of CurrentUri.
  void SetHost(const std::string& host) override;
  void SetPort(int port) override;
  void FireDisconnected() override;

  // The body of a GET as one text.
  std::string GetBody(const std::string& url);
  void GetInto(const std::string& url, TIdStream* sink);
  // One exchange; `sink` receives the body, `source` is sent after the head
  // of a POST or PUT. Neither is owned.
  virtual void PerformRequest(TIdHTTPMethod method, const std::string& url, TIdStream* sink,
                              TIdStream* source);

  TIdHTTPRequest& Request() { return *protocol_->Request; }
  TIdHTTPResponse& Response() { return *protocol_->Response; }
  int32_t ResponseCode() { return Response().StatusCode(); }
  TIdURI& CurrentUri() { return *currentUri_; }
  TIdProxyConnectionInfo& ProxyParams() { return *proxyParams_; }
  // A manager attached by the caller stays theirs; one made by the client on
  // the first response (AllowCookies) is owned by it.
  TIdCookieManager* CookieManager() const { return cookieManager_; }
  void SetCookieManager(TIdCookieManager* manager);
  bool UsingSecureHandler() const;

  int32_t AuthRetries = 3;
  bool AllowCookies = true;
  bool HandleRedirects = false;
  TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
  int32_t RedirectMaximum = 15;
  TIdHTTPOptions HTTPOptions = hoForceEncodeParams;
  // Off: as the window's exchange has always done, every 3xx but 304 and any
  // status with a Location header is a redirect. On: only 301, 302, 303,
  // 307 and 308 carrying a Location are; any other status is taken for what
  // it is (a 404 with a Location fails, a 3xx without one fails too).
  bool FollowRedirectCodesOnly = false;
  TIdHTTPRedirectEvent OnRedirect;
  TIdAuthorizationEvent OnAuthorization;
  TIdAuthorizationEvent OnProxyAuthorization;

  // The largest body kept (0: no limit); a longer one raises
  // EIdHTTPBodyTooLarge. The body of an error or redirect keeps at most
  // MaxErrorBodySize bytes.
  int64_t MaxBodySize = int64_t{1} << 30;
  static constexpr int64_t MaxErrorBodySize = 1 << 20;

  int32_t RedirectsSoFar = 0;
  int32_t AuthTries = 0;
  int32_t ProxyAuthTries = 0;

 protected:
  void PrepareTarget(TIdHTTPRequest& request);
  TIdHTTPRouteKind ChooseRoute(TIdHTTPRequest& request);
  void OpenAndSend(TIdHTTPProtocol& protocol);
  void OpenTunnel(TIdHTTPProtocol& protocol);
  void EnsureConnected(TIdHTTPResponse& response);
  void WriteRequest(TIdHTTPRequest& request, bool withCookies);
  std::string RequestLine(const TIdHTTPRequest& request) const;
  void ReadResponseHead(TIdHTTPResponse& response);
  void ReadHeaderBlock(TIdHTTPResponse& response, TIdHeadLimit& limit);
  void TakeCookies(TIdHTTPResponse& response);
  TIdHTTPNextStep DecideNextStep(TIdHTTPProtocol& protocol);
  // strict: a body cut short by the peer raises instead of ending early.
  void ReadBody(TIdHTTPProtocol& protocol, bool strict);
  // Whether a body follows the head of `response` (RFC 7230 section 3.3.3).
  static bool ResponseHasBody(const TIdHTTPRequest& request, TIdHTTPResponse& response);
  void DrainBody(TIdHTTPProtocol& protocol);
  [[noreturn]] void FailWithBody(TIdHTTPProtocol& protocol);
  bool AskAuthorization(TIdHTTPProtocol& protocol, bool proxy);
  // A line of the head or of the chunk framing; a close before its end
  // raises EIdConnClosedGracefully.
  std::string ReadLine(int maximum = -1);

 private:
  std::unique_ptr<TIdHTTPProtocol> protocol_;
  std::unique_ptr<TIdURI> currentUri_;
  std::unique_ptr<TIdProxyConnectionInfo> proxyParams_;
  TIdCookieManager* cookieManager_ = nullptr;
  bool reusedConnection_ = false;  // the last request went over a kept connection
  std::unique_ptr<TIdCookieManager> ownedCookieManager_;
};

// The published component.
class TIdHTTP : public TIdCustomHTTP {};

}  // namespace quillon
