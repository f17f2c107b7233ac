// One HTTP exchange: target, route, request head, response head, next step
// (follow, finish, fail) and body (RFC 7230 section 3.3.3).
#include "net/http/http.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "net/http/string_stream.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
  return UpperCase(a) == UpperCase(b);
}

// Restores a value when the scope ends, however it ends.
template <typename T>
class Restore {
 public:
  explicit Restore(T& place) : place_(place), saved_(place) {}
  ~Restore() { place_ = saved_; }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  T& place_;
  T saved_;
};

constexpr int32_t kBodyReceiveSize = 256 * 1024;

// Room for an announced count of bytes in a string sink, reserved up front
// (address space only until written) so that a large body is not moved while
// it grows; bounded, since the count comes from the peer, and never past what
// the sink's limit lets in (an error page keeps far less than a document).
void ReserveFor(TIdLimitedStream& sink, int64_t count) {
  constexpr int64_t kMaxReserve = int64_t{1} << 30;
  if (auto* text = dynamic_cast<TIdStringStream*>(&sink.Inner())) {
    const int64_t room = std::min({count, kMaxReserve, std::max<int64_t>(sink.Room(), 0)});
    text->Reserve(static_cast<size_t>(text->Position() + room));
  }
}

bool IsRedirectCode(int32_t code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// Interim responses (RFC 9110 section 15.2) announce the final one and are
// skipped; 101 ends the exchange, as the protocol would change.
bool IsInterim(int32_t code) {
  return code >= 100 && code <= 199 && code != 101;
}

}  // namespace

// ---- response --------------------------------------------------------------

int32_t TIdHTTPResponse::StatusCode() {
  statusCode_ = StatusCodeOf(StatusLine);
  return statusCode_;
}

bool TIdHTTPResponse::KeepConnection() {
  if (StatusLine.size() >= 8) {
    const std::string version = UpperCase(StatusLine.substr(5, 3));
    if (version == "1.0") ServerVersion = 0;
    if (version == "1.1") ServerVersion = 1;
  }
  Client->CheckDisconnected(false, false);
  keepConnection_ = Client->IsConnected();
  if (keepConnection_ && CloseAfterExchange) keepConnection_ = false;
  if (keepConnection_) {
    const std::string connection = UpperCase(Trim(Connection));
    const std::string proxyConnection = UpperCase(Trim(ProxyConnection));
    if (Client->ProtocolVersion == pv1_0) {
      keepConnection_ = connection == "KEEP-ALIVE" || proxyConnection == "KEEP-ALIVE";
    } else {
      keepConnection_ = connection != "CLOSE" && proxyConnection != "CLOSE";
    }
  }
  return keepConnection_;
}

// ---- client ----------------------------------------------------------------

TIdCustomHTTP::TIdCustomHTTP()
    : protocol_(std::make_unique<TIdHTTPProtocol>(this)),
      currentUri_(std::make_unique<TIdURI>()),
      proxyParams_(std::make_unique<TIdProxyConnectionInfo>()) {
  SetPort(80);
}

TIdCustomHTTP::~TIdCustomHTTP() = default;

void TIdCustomHTTP::SetHost(const std::string& host) {
  TIdTCPClient::SetHost(host);
  currentUri_->Host = host;
}

void TIdCustomHTTP::SetPort(int port) {
  TIdTCPClient::SetPort(port);
  currentUri_->Port = std::to_string(port);
}

void TIdCustomHTTP::FireDisconnected() {
  TIdTCPClient::FireDisconnected();
  // A basic authenticator that has given its value is done with; the next
  // request builds a fresh one from the request's settings.
  auto& authenticator = protocol_->Request->Authenticator;
  if (authenticator && authenticator->CurrentStep >= 1) authenticator.reset();
  if (proxyParams_->Authenticator) proxyParams_->Authenticator->Reset();
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
  if (manager == cookieManager_) return;
  cookieManager_ = manager;
  if (ownedCookieManager_ && ownedCookieManager_.get() != manager) ownedCookieManager_.reset();
}

bool TIdCustomHTTP::UsingSecureHandler() const {
  // A secure handler in pass-through carries plain http: cookies marked
  // secure must not go out over it.
  const auto* secure = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler());
  return secure != nullptr && !secure->PassThrough();
}

std::string TIdCustomHTTP::GetBody(const std::string& url) {
  TIdStringStream stream;
  GetInto(url, &stream);
  return stream.Take();
}

void TIdCustomHTTP::GetInto(const std::string& url, TIdStream* sink) {
  PerformRequest(hmGet, url, sink, nullptr);
}

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, const std::string& url, TIdStream* sink,
                                   TIdStream* source) {
  TIdHTTPProtocol& p = *protocol_;
  TIdHTTPRequest& request = *p.Request;
  TIdHTTPResponse& response = *p.Response;
  const int64_t mark = sink != nullptr ? sink->Position() : 0;
  AuthTries = 0;
  ProxyAuthTries = 0;
  request.TargetUrl = url;
  request.RequestMethod = method;
  request.BodySource = source;
  response.ContentSink = sink;

  const auto resetSink = [&] {
    if (sink != nullptr) {
      sink->SetPosition(mark);
      sink->SetSize(mark);
    }
  };
  const auto closeUnlessKept = [&] {
    if (!response.KeepConnection()) CloseConnection();
  };

  try {
    bool done = false;
    bool retriedOnNewConnection = false;
    while (!done) {
      ++RedirectsSoFar;
      const std::string passTarget = request.TargetUrl;
      PrepareTarget(request);
      try {
        OpenAndSend(p);
        ReadResponseHead(response);
      } catch (const EIdException& e) {
        // A kept-alive connection that the server closed meanwhile fails
        // before any response comes; an idempotent request is sent once
        // more on a new connection (RFC 7230 section 6.3.1).
        const bool closedUnderUs = dynamic_cast<const EIdConnClosedGracefully*>(&e) != nullptr ||
                                   dynamic_cast<const EIdSocketError*>(&e) != nullptr;
        if (!closedUnderUs || !reusedConnection_ || retriedOnNewConnection ||
            request.RequestMethod == hmPost || request.RequestMethod == hmConnect) {
          throw;
        }
        retriedOnNewConnection = true;
        CloseConnection();
        --RedirectsSoFar;
        request.TargetUrl = passTarget;
        continue;
      }
      switch (DecideNextStep(p)) {
        case TIdHTTPNextStep::FollowUrl: {
          resetSink();
          // A challenge answered over a connection the server closed is
          // tried again: its tries keep counting, or a server that closes
          // after every 401 would be asked forever.
          const int32_t code = response.StatusCode();
          if (code != 401 && code != 407) {
            AuthTries = 0;
            ProxyAuthTries = 0;
          }
          break;
        }
        case TIdHTTPNextStep::Finish:
          done = true;
          break;
        case TIdHTTPNextStep::Undetermined:
          throw EIdException(msg::kUndefinedSituation);
        case TIdHTTPNextStep::ReadThenFollow:
          ReadBody(p, true);
          resetSink();
          AuthTries = 0;
          ProxyAuthTries = 0;
          break;
        case TIdHTTPNextStep::RetryWithAuth:
          --RedirectsSoFar;
          request.TargetUrl = url;
          break;
      }
    }
  } catch (const EIdHTTPProtocolException&) {
    // The error body has been read: the connection can serve again if kept.
    try {
      closeUnlessKept();
    } catch (...) {
    }
    throw;
  } catch (...) {
    // Any other failure may leave part of a response unread, which the next
    // exchange would take for its own: the connection is not reused.
    try {
      CloseConnection();
    } catch (...) {
    }
    throw;
  }
  closeUnlessKept();
  RedirectsSoFar = 0;
}

void TIdCustomHTTP::PrepareTarget(TIdHTTPRequest& request) {
  TIdURI& current = *currentUri_;
  const TIdURI u(request.TargetUrl);
  if (!u.Username.empty()) {
    request.Username = u.Username;
    request.Password = u.Password;
  }
  current.Username = request.Username;
  current.Password = request.Password;
  current.Path = MergePath(current.Path, u.Path, "/");
  current.Document = u.Document;
  current.Params = u.Params;
  if (!u.Host.empty()) current.Host = u.Host;
  // A location without protocol and host is relative to the current target
  // and keeps its protocol, so that a relative redirect from an https page is
  // not followed over plain http; anything else without protocol is http.
  if (!u.Protocol.empty())
    current.Protocol = u.Protocol;
  else if (!u.Host.empty() || current.Protocol.empty())
    current.Protocol = "http";
  if (!u.Port.empty()) {
    current.Port = u.Port;
  } else {
    // A URL that names its host without a port means its protocol's default
    // port, whatever port the previous target had; only a URL without a host
    // (a relative one) keeps the previous port.
    const int32_t port = u.Host.empty() ? StrToIntDef(current.Port, 0) : 0;
    if (port == 0 || port == 80 || port == 443) {
      if (SameNoCase(current.Protocol, "http")) {
        current.Port = "80";
      } else if (SameNoCase(current.Protocol, "https")) {
        current.Port = "443";
      } else {
        throw EIdUnknownProtocol("");
      }
    }
  }
  request.TargetUrl = current.Path + current.Document + current.Params;
  if (request.RequestMethod == hmOptions && u.Document == "*")
    request.TargetUrl = std::string(1, '*');

  const TIdHTTPMethod m = request.RequestMethod;
  if ((m == hmOptions || m == hmTrace || m == hmPut || m == hmDelete) && ProtocolVersion != pv1_1) {
    throw EIdException(msg::kMethodRequiresHttp11);
  }
  if (m == hmPost || m == hmPut) {
    request.SetContentLength(request.BodySource != nullptr ? request.BodySource->Size() : 0);
  } else {
    request.SetContentLength(-1);
  }
  request.Host = current.Port == "80" ? current.Host : current.Host + ":" + current.Port;
}

TIdHTTPRouteKind TIdCustomHTTP::ChooseRoute(TIdHTTPRequest& /*request*/) {
  const TIdURI& current = *currentUri_;
  const bool https = SameNoCase(current.Protocol, "HTTPS");
  auto* secure = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler());
  const std::string proxy = proxyParams_->ProxyServer();
  if (proxy.empty()) {
    const int port = StrToInt(current.Port);
    // The connection goes to an IPv6 literal without the brackets that the
    // URL and the Host header keep.
    const std::string host = UnbracketedHost(current.Host);
    if (!SameNoCase(Host(), host) || Port() != port) {
      if (IsConnected()) CloseConnection();
      TIdTCPClient::SetHost(host);
      SetPort(port);
    }
    if (https) {
      if (secure == nullptr) throw EIdIOHandlerPropInvalid(msg::kIOHandlerPropInvalid);
      secure->SetPassThrough(false);
      return TIdHTTPRouteKind::DirectSecure;
    }
    if (secure != nullptr) secure->SetPassThrough(true);
    return TIdHTTPRouteKind::DirectPlain;
  }
  if (!SameNoCase(Host(), proxy) || Port() != proxyParams_->ProxyPort()) {
    if (IsConnected()) CloseConnection();
    // The target stays in CurrentUri: set the connection's own host and port.
    TIdTCPClient::SetHost(proxy);
    TIdTCPClient::SetPort(proxyParams_->ProxyPort());
  }
  if (https) {
    if (IOHandler() == nullptr) return TIdHTTPRouteKind::ProxySecure;
    if (secure == nullptr) throw EIdIOHandlerPropInvalid(msg::kIOHandlerPropInvalid);
    secure->SetPassThrough(true);
    return TIdHTTPRouteKind::ProxySecure;
  }
  if (secure != nullptr) secure->SetPassThrough(true);
  return TIdHTTPRouteKind::ProxyPlain;
}

void TIdCustomHTTP::OpenAndSend(TIdHTTPProtocol& protocol) {
  TIdHTTPRequest& request = *protocol.Request;
  request.RouteKind = ChooseRoute(request);
  if (request.RouteKind == TIdHTTPRouteKind::ProxyPlain)
    request.TargetUrl = currentUri_->PlainUri();
  switch (request.RouteKind) {
    case TIdHTTPRouteKind::DirectPlain:
      if (ProtocolVersion == pv1_0 && request.Connection.empty()) request.Connection = "keep-alive";
      break;
    case TIdHTTPRouteKind::ProxyPlain:
      if (ProtocolVersion == pv1_0 && request.Connection.empty()) {
        request.ProxyConnection = "keep-alive";
      }
      break;
    case TIdHTTPRouteKind::DirectSecure:
    case TIdHTTPRouteKind::ProxySecure:
      request.Connection.clear();
      break;
  }
  if (request.RouteKind == TIdHTTPRouteKind::ProxySecure) {
    OpenTunnel(protocol);
  } else {
    EnsureConnected(*protocol.Response);
  }
  WriteRequest(request, true);
  if ((request.RequestMethod == hmPost || request.RequestMethod == hmPut) &&
      request.BodySource != nullptr) {
    SendStream(*request.BodySource, true, false, 0);
  }
}

void TIdCustomHTTP::OpenTunnel(TIdHTTPProtocol& protocol) {
  TIdHTTPProtocol tunnel(this);
  TIdHTTPRequest& request = *tunnel.Request;
  request.UserAgent = protocol.Request->UserAgent;
  request.Host = protocol.Request->Host;
  request.SetContentLength(protocol.Request->ContentLength());
  request.Pragma = "no-cache";
  request.ProxyConnection = "keep-alive";
  request.RequestMethod = hmConnect;
  request.TargetUrl = currentUri_->Host + ":" + currentUri_->Port;
  TIdMemoryStream sink;
  tunnel.Response->ContentSink = &sink;
  TIdHTTPResponse& response = *tunnel.Response;
  // Each pass either fails, answers a proxy challenge (bounded by
  // AuthRetries) or follows a redirect: a fixed number of passes is enough.
  const int maxPasses = AuthRetries + RedirectMaximum + 2;
  for (int pass = 0;; ++pass) {
    if (pass >= maxPasses) throw EIdException(msg::kUndefinedSituation);
    EnsureConnected(response);
    WriteRequest(request, false);
    response.StatusLine = ReceiveLine("\n", UseDefaultTimeout, -1);
    if (response.StatusLine.empty()) {
      response.StatusLine = "HTTP/1.0 200 OK";
      response.Connection = "close";
    } else {
      TIdHeadLimit limit;
      limit.Count(response.StatusLine.size());
      ReadHeaderBlock(response, limit);
      TakeCookies(response);
    }
    if (response.StatusCode() == 200) break;
    DecideNextStep(tunnel);
  }
  // Here the secure layer would start encrypting over the tunnel; without
  // it the request cannot go on.
  auto* secure = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler());
  if (secure == nullptr) throw EIdIOHandlerPropInvalid(msg::kIOHandlerPropInvalid);
  secure->SetPassThrough(false);
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPResponse& response) {
  if (!response.KeepConnection()) CloseConnection();
  ProbeForClose(false);
  reusedConnection_ = IsConnected();
  if (!reusedConnection_) OpenConnection(ReadTimeout);
}

std::string TIdCustomHTTP::RequestLine(const TIdHTTPRequest& request) const {
  static constexpr const char* kKeywords[] = {"HEAD ",  "GET ", "POST ",   "OPTIONS ",
                                              "TRACE ", "PUT ", "DELETE ", "CONNECT "};
  const auto index = static_cast<size_t>(request.RequestMethod);
  const char* keyword = index < std::size(kKeywords) ? kKeywords[index] : "GET ";
  return keyword + request.TargetUrl + " HTTP/" + (ProtocolVersion == pv1_0 ? "1.0" : "1.1");
}

void TIdCustomHTTP::WriteRequest(TIdHTTPRequest& request, bool withCookies) {
  request.BuildHeaderLines();
  proxyParams_->SetHeaders(request.HeaderLines);
  if (withCookies && cookieManager_ != nullptr) {
    const std::string cookies = cookieManager_->CookieHeaderFor(*currentUri_, UsingSecureHandler());
    if (!cookies.empty()) request.HeaderLines.SetValueOf("Cookie", cookies);
  }
  StartWriteBuffering();
  try {
    SendLine(RequestLine(request));
    for (const auto& line : request.HeaderLines.Lines) {
      if (!line.empty()) SendLine(line);
    }
    SendLine("");
  } catch (...) {
    DiscardWrites();
    FinishWriteBuffering();
    throw;
  }
  FinishWriteBuffering();
}

std::string TIdCustomHTTP::ReadLine(int maximum) {
  std::string line = ReceiveLine("\n", UseDefaultTimeout, maximum);
  if (LineTimedOut) throw EIdConnClosedGracefully(msg::kConnClosedGracefully);
  return line;
}

void TIdCustomHTTP::ReadResponseHead(TIdHTTPResponse& response) {
  // Interim responses count against the same bounds as the final head.
  TIdHeadLimit limit;
  response.CloseAfterExchange = false;
  do {
    response.StatusLine = ReadLine();
    limit.Count(response.StatusLine.size());
    ReadHeaderBlock(response, limit);
    TakeCookies(response);
  } while (IsInterim(response.StatusCode()));
}

void TIdCustomHTTP::ReadHeaderBlock(TIdHTTPResponse& response, TIdHeadLimit& limit) {
  response.HeaderLines.Clear();
  for (;;) {
    std::string line;
    try {
      line = ReadLine();
    } catch (const EIdConnClosedGracefully&) {
      CloseConnection();
      break;
    }
    if (line.empty()) break;
    limit.Count(line.size());
    response.HeaderLines.Add(std::move(line));
  }
  response.ReadHeaderFields();
}

void TIdCustomHTTP::TakeCookies(TIdHTTPResponse& response) {
  if (cookieManager_ == nullptr && AllowCookies) {
    ownedCookieManager_ = std::make_unique<TIdCookieManager>();
    cookieManager_ = ownedCookieManager_.get();
  }
  if (cookieManager_ == nullptr) return;
  std::vector<std::string> values;
  response.HeaderLines.CollectValues("Set-cookie", &values);
  for (const auto& value : values) {
    cookieManager_->StoreCookie(value, currentUri_->Host, TIdCookieKind::Rfc2109);
  }
  values.clear();
  response.HeaderLines.CollectValues("Set-cookie2", &values);
  for (const auto& value : values) {
    cookieManager_->StoreCookie(value, currentUri_->Host, TIdCookieKind::Rfc2965);
  }
}

TIdHTTPNextStep TIdCustomHTTP::DecideNextStep(TIdHTTPProtocol& protocol) {
  TIdHTTPRequest& request = *protocol.Request;
  TIdHTTPResponse& response = *protocol.Response;
  TIdHTTPNextStep result = TIdHTTPNextStep::Undetermined;
  const int32_t code = response.StatusCode();
  const int32_t digit = code / 100;

  const bool redirect = FollowRedirectCodesOnly
                            ? IsRedirectCode(code) && !response.Location.empty()
                            : (digit == 3 && code != 304) || !response.Location.empty();
  if (redirect) {
    std::string location = response.Location;
    TIdHTTPMethod method = request.RequestMethod;
    bool handled = HandleRedirects;
    int numRedirect = RedirectsSoFar;
    const bool follow = HandleRedirects && RedirectsSoFar < RedirectMaximum;
    if (OnRedirect) OnRedirect(this, location, numRedirect, handled, method);
    if (!handled) FailWithBody(protocol);
    if (follow) {
      result = TIdHTTPNextStep::FollowUrl;
      request.TargetUrl = location;
      request.RequestMethod = method;
    } else {
      result = TIdHTTPNextStep::Finish;
      response.Location = location;
    }
    if (IsConnected()) DrainBody(protocol);
    return result;
  }

  bool needsCredentials = false;
  if (digit != 2) {
    result = TIdHTTPNextStep::FollowUrl;
    if (code == 401) {
      if (AuthTries >= AuthRetries || !AskAuthorization(protocol, false)) {
        if (request.Authenticator) request.Authenticator->Reset();
        FailWithBody(protocol);
      }
      needsCredentials = (HTTPOptions & hoInProcessAuth) != 0;
    } else if (code == 407) {
      if (ProxyAuthTries >= AuthRetries || !AskAuthorization(protocol, true)) {
        if (proxyParams_->Authenticator) proxyParams_->Authenticator->Reset();
        FailWithBody(protocol);
      }
      needsCredentials = (HTTPOptions & hoInProcessAuth) != 0;
    } else {
      FailWithBody(protocol);
    }
  }
  if (IsConnected()) {
    if (needsCredentials) {
      DrainBody(protocol);
      result = TIdHTTPNextStep::RetryWithAuth;
    } else {
      if (code != 204) ReadBody(protocol, true);
      result = TIdHTTPNextStep::Finish;
    }
  }
  return result;
}

bool TIdCustomHTTP::AskAuthorization(TIdHTTPProtocol& protocol, bool proxy) {
  TIdHTTPRequest& request = *protocol.Request;
  TIdHTTPResponse& response = *protocol.Response;
  ++(proxy ? ProxyAuthTries : AuthTries);
  std::unique_ptr<TIdAuthentication>& authenticator =
      proxy ? proxyParams_->Authenticator : request.Authenticator;
  const TIdHeaderList& challenges = proxy ? response.ProxyAuthenticate : response.WWWAuthenticate;
  if (!authenticator) {
    // The one scheme known here is Basic.
    for (const auto& challenge : challenges.Lines) {
      std::string rest = Trim(challenge);
      if (SameNoCase(SplitOff(rest, " "), "Basic")) {
        authenticator = std::make_unique<TIdBasicAuthentication>();
        break;
      }
    }
  }
  const std::string& username = proxy ? proxyParams_->ProxyUsername : request.Username;
  const std::string& password = proxy ? proxyParams_->ProxyPassword : request.Password;
  bool handled = false;
  if (authenticator) {
    authenticator->SetUsername(username);
    authenticator->SetPassword(password);
    // Without in-process retries a "yes" would end the exchange with the
    // challenge page as if it had succeeded: only a handler may decide so.
    handled = !username.empty() && (HTTPOptions & hoInProcessAuth) != 0;
  }
  const TIdAuthorizationEvent& hook = proxy ? OnProxyAuthorization : OnAuthorization;
  if (hook) hook(this, authenticator.get(), handled);
  return handled;
}

void TIdCustomHTTP::FailWithBody(TIdHTTPProtocol& protocol) {
  TIdHTTPResponse& response = *protocol.Response;
  std::string body;
  {
    Restore<int32_t> timeout(ReadTimeout);
    Restore<TIdStream*> sink(response.ContentSink);
    ReadTimeout = 2000;
    TIdStringStream text;
    response.ContentSink = &text;
    try {
      ReadBody(protocol, false);
    } catch (const EIdHTTPBodyTooLarge&) {
      // The page is kept up to the bound; the rest is never read, so the
      // connection cannot serve again.
      CloseConnection();
    }
    body = text.Take();
  }
  throw EIdHTTPProtocolException(response.StatusCode(), response.StatusLine, std::move(body));
}

void TIdCustomHTTP::DrainBody(TIdHTTPProtocol& protocol) {
  TIdHTTPResponse& response = *protocol.Response;
  Restore<int32_t> timeout(ReadTimeout);
  Restore<TIdStream*> sink(response.ContentSink);
  ReadTimeout = 4000;
  TIdStringStream discarded;
  response.ContentSink = &discarded;
  try {
    ReadBody(protocol, false);
  } catch (...) {
    // A redirect's or challenge's body is of no use, but one not read to
    // its end leaves the connection out of step: it is closed.
    try {
      CloseConnection();
    } catch (...) {
    }
  }
}

bool TIdCustomHTTP::ResponseHasBody(const TIdHTTPRequest& request, TIdHTTPResponse& response) {
  const int32_t code = response.StatusCode();
  if (request.RequestMethod == hmHead || code == 204 || code == 304 || (code >= 100 && code < 200))
    return false;
  try {
    const TIdResponseFraming framing = FramingOf(response.HeaderLines);
    return framing.Kind != TIdBodyFraming::Length || framing.Length > 0;
  } catch (const EIdHTTPInvalidFraming&) {
    return true;  // where it would end is unknown
  }
}

void TIdCustomHTTP::ReadBody(TIdHTTPProtocol& protocol, bool strict) {
  TIdHTTPRequest& request = *protocol.Request;
  TIdHTTPResponse& response = *protocol.Response;
  if (response.ContentSink == nullptr) {
    // Nobody takes the body: left unread on a kept connection it would be
    // taken for the start of the next response, so the connection is closed
    // unless the response has no body at all.
    if (ResponseHasBody(request, response)) CloseConnection();
    return;
  }
  const int64_t bodyLimit = strict ? MaxBodySize : MaxErrorBodySize;
  TIdLimitedStream sink(*response.ContentSink,
                        bodyLimit > 0 ? bodyLimit : std::numeric_limits<int64_t>::max() / 2);
  // Bodies are received in large blocks: fewer system calls per byte.
  Restore<int32_t> receiveSize(RecvBufferSize);
  RecvBufferSize = std::max(RecvBufferSize, kBodyReceiveSize);
  // Responses that never carry a body (RFC 7230 section 3.3.3, rule 1).
  const int32_t code = response.StatusCode();
  if (request.RequestMethod == hmHead || code == 204 || code == 304 ||
      (code >= 100 && code < 200)) {
    return;
  }
  const TIdResponseFraming framing = FramingOf(response.HeaderLines);
  if (framing.CloseAfter) response.CloseAfterExchange = true;
  switch (framing.Kind) {
    case TIdBodyFraming::Chunked: {
      ReportStatus(hsStatusText, {msg::kChunkStarted});
      int64_t size = ParseChunkSize(ReadLine(kMaxChunkSizeLine));
      while (size > 0) {
        if (strict) sink.Check(size);
        ReserveFor(sink, size);
        ReceiveToStream(sink, size, false);
        // The data ends with exactly CR LF; anything else means the sizes
        // and the data disagree.
        char end[2];
        ReceiveExact(end, sizeof end);
        if (end[0] != '\r' || end[1] != '\n')
          throw EIdHTTPInvalidFraming(std::string(msg::kInvalidFraming) + "fin de bloc");
        size = ParseChunkSize(ReadLine(kMaxChunkSizeLine));
      }
      // Trailer fields up to the empty line are read and dropped, so that
      // the connection stays in step for the next exchange.
      TIdHeadLimit limit;
      for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) limit.Count(line.size());
      break;
    }
    case TIdBodyFraming::Length:
      if (framing.Length == 0) break;
      if (strict) sink.Check(framing.Length);
      ReserveFor(sink, framing.Length);
      try {
        ReceiveToStream(sink, framing.Length, false);
      } catch (const EIdConnClosedGracefully&) {
        // A body cut short is a failed exchange, not a shorter success; the
        // body of an error or redirect keeps what came.
        if (strict) throw;
      }
      break;
    case TIdBodyFraming::UntilClose: {
      ReceiveToStream(sink, -1, true);
      // Only the close ends such a body, so a close that the TLS peer did
      // not announce leaves it unknown whether the body is whole.
      const auto* secure = dynamic_cast<const TIdSSLIOHandlerSocket*>(IOHandler());
      if (strict && secure != nullptr && !secure->PassThrough() &&
          secure->EndedWithoutCloseNotice()) {
        throw EIdHTTPBodyCutShort(msg::kBodyCutShort);
      }
      break;
    }
  }
}

}  // namespace quillon
