// Header sets: the order in which request header lines are written, and how
// the fields of a response are read from its header lines.
#include "net/http/header_info.h"

#include <cstdint>

#include "net/socket/exceptions.h"

namespace quillon {

namespace {

// Integer conversion that raises the usual conversion error on anything that
// is not a number within range.
int64_t StrToInt64Strict(std::string_view text) {
  const int64_t a = StrToInt64Def(text, 0);
  const int64_t b = StrToInt64Def(text, 1);
  if (a != b) {
    throw EIdConvertError("'" + std::string(text) + "' n'est pas une valeur entière correcte.");
  }
  return a;
}

void SetIfNotEmpty(TIdHeaderList& lines, std::string_view name, const std::string& value) {
  if (!value.empty()) lines.SetValueOf(name, value);
}

}  // namespace

// ---- entity ----------------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
  HeaderLines.FoldWidth = 1024;
  ResetEntityFields();
}

void TIdEntityHeaderInfo::ResetEntityFields() {
  Connection.clear();
  ContentEncoding.clear();
  ContentLanguage.clear();
  ContentLength_ = -1;
  ContentRangeEnd = 0;
  ContentRangeStart = 0;
  ContentType = "text/html";
  ContentVersion.clear();
  Date = 0;
  Expires = 0;
  LastModified = 0;
  HeaderLines.Clear();
}

void TIdEntityHeaderInfo::ResetFields() {
  ResetEntityFields();
}

void TIdEntityHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  if (&source == this) return;
  HeaderLines.Lines = source.HeaderLines.Lines;
  ContentEncoding = source.ContentEncoding;
  ContentLanguage = source.ContentLanguage;
  ContentLength_ = source.ContentLength_;
  ContentRangeEnd = source.ContentRangeEnd;
  ContentRangeStart = source.ContentRangeStart;
  ContentType = source.ContentType;
  ContentVersion = source.ContentVersion;
  Date = source.Date;
  Expires = source.Expires;
  LastModified = source.LastModified;
}

void TIdEntityHeaderInfo::ReadHeaderFields() {
  ReadEntityFields();
}

void TIdEntityHeaderInfo::ReadEntityFields() {
  Connection = HeaderLines.ValueOf("Connection");
  ContentVersion = HeaderLines.ValueOf("Content-Version");
  ContentEncoding = HeaderLines.ValueOf("Content-Encoding");
  ContentLanguage = HeaderLines.ValueOf("Content-Language");
  ContentType = HeaderLines.ValueOf("Content-Type");
  SetContentLength(StrToInt64Def(Trim(HeaderLines.ValueOf("Content-Length")), -1));
  Date = InternetDateToLocal(HeaderLines.ValueOf("Date"));
  LastModified = InternetDateToLocal(HeaderLines.ValueOf("Last-Modified"));

  // "Expires" as a number of seconds from now (any size; a negative number
  // other than -1 lies in the past), otherwise as a date.
  const std::string expires = HeaderLines.ValueOf("Expires");
  const int32_t seconds = StrToIntDef(expires, -1);
  if (seconds != -1) {
    Expires = NowLocal() + static_cast<double>(seconds) / 86400.0;
  } else {
    Expires = InternetDateToLocal(expires);
  }
  Pragma = HeaderLines.ValueOf("Pragma");
}

void TIdEntityHeaderInfo::BuildHeaderLines() {
  BuildEntityLines();
}

void TIdEntityHeaderInfo::BuildEntityLines() {
  HeaderLines.Clear();
  SetIfNotEmpty(HeaderLines, "Connection", Connection);
  SetIfNotEmpty(HeaderLines, "Content-Version", ContentVersion);
  SetIfNotEmpty(HeaderLines, "Content-Encoding", ContentEncoding);
  SetIfNotEmpty(HeaderLines, "Content-Language", ContentLanguage);
  SetIfNotEmpty(HeaderLines, "Content-Type", ContentType);
  if (ContentLength_ >= 0) HeaderLines.SetValueOf("Content-Length", std::to_string(ContentLength_));
  SetIfNotEmpty(HeaderLines, "Cache-control", CacheControl);
  if (Date > 0) HeaderLines.SetValueOf("Date", FormatInternetDate(Date, false));
  if (Expires > 0) HeaderLines.SetValueOf("Expires", FormatInternetDate(Expires, false));
  SetIfNotEmpty(HeaderLines, "Pragma", Pragma);
  for (const auto& line : CustomHeaders.Lines) HeaderLines.Add(line);
}

// ---- request ---------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo() {
  // Request lines go out whole: folding is obsolete (RFC 7230 section
  // 3.2.4) and a server may reject it or read a continuation as a header of
  // its own, so a long value (a Cookie line) stays on one line.
  HeaderLines.FoldOnSet = false;
  ResetRequestFields();
}

void TIdRequestHeaderInfo::ResetRequestFields() {
  Accept = "text/html, */*";
  AcceptCharSet.clear();
  UserAgent = "Mozilla/3.0 (compatible; Quillon)";
  BasicAuthentication = false;
}

void TIdRequestHeaderInfo::ResetFields() {
  ResetRequestFields();
  ResetEntityFields();
}

void TIdRequestHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  const auto* request = dynamic_cast<const TIdRequestHeaderInfo*>(&source);
  if (request == nullptr) {
    TIdEntityHeaderInfo::Assign(source);
    return;
  }
  if (request == this) return;
  Accept = request->Accept;
  AcceptCharSet = request->AcceptCharSet;
  AcceptEncoding = request->AcceptEncoding;
  AcceptLanguage = request->AcceptLanguage;
  From = request->From;
  Password = request->Password;
  Referer = request->Referer;
  UserAgent = request->UserAgent;
  Username = request->Username;
  BasicAuthentication = request->BasicAuthentication;
}

void TIdRequestHeaderInfo::ReadHeaderFields() {
  Accept = HeaderLines.ValueOf("Accept");
  AcceptCharSet = HeaderLines.ValueOf("Accept-Charset");
  AcceptEncoding = HeaderLines.ValueOf("Accept-Encoding");
  AcceptLanguage = HeaderLines.ValueOf("Accept-Language");
  Host = HeaderLines.ValueOf("Host");
  From = HeaderLines.ValueOf("From");
  Referer = HeaderLines.ValueOf("Referer");
  UserAgent = HeaderLines.ValueOf("User-Agent");
  std::string range = HeaderLines.ValueOf("Range");
  if (!range.empty()) {
    SplitOff(range, "=");
    ContentRangeStart = StrToInt64Def(SplitOff(range, "-"), 0);
    ContentRangeEnd = StrToInt64Def(SplitOff(range, " "), 0);
  }
  ReadEntityFields();
}

void TIdRequestHeaderInfo::BuildHeaderLines() {
  BuildEntityLines();
  SetIfNotEmpty(HeaderLines, "Proxy-Connection", ProxyConnection);
  SetIfNotEmpty(HeaderLines, "Host", Host);
  SetIfNotEmpty(HeaderLines, "Accept", Accept);
  SetIfNotEmpty(HeaderLines, "Accept-Charset", AcceptCharSet);
  SetIfNotEmpty(HeaderLines, "Accept-Encoding", AcceptEncoding);
  SetIfNotEmpty(HeaderLines, "Accept-Language", AcceptLanguage);
  SetIfNotEmpty(HeaderLines, "From", From);
  SetIfNotEmpty(HeaderLines, "Referer", Referer);
  SetIfNotEmpty(HeaderLines, "User-Agent", UserAgent);
  if (LastModified > 0) {
    HeaderLines.SetValueOf("If-Modified-Since", FormatInternetDate(LastModified, false));
  }
  if (ContentRangeStart != 0 || ContentRangeEnd != 0) {
    std::string range = "bytes=" + std::to_string(ContentRangeStart) + "-";
    if (ContentRangeEnd != 0) range += std::to_string(ContentRangeEnd);
    HeaderLines.SetValueOf("Range", range);
  }
  if (Authenticator) {
    SetIfNotEmpty(HeaderLines, "Authorization", Authenticator->Authentication());
  } else if (BasicAuthentication) {
    Authenticator = std::make_unique<TIdBasicAuthentication>();
    Authenticator->SetUsername(Username);
    Authenticator->SetPassword(Password);
    SetIfNotEmpty(HeaderLines, "Authorization", Authenticator->Authentication());
  }
}

// ---- response --------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo() {
  ResetResponseFields();
}

void TIdResponseHeaderInfo::ResetResponseFields() {
  Location.clear();
  Server.clear();
  WWWAuthenticate.Clear();
  ProxyAuthenticate.Clear();
}

void TIdResponseHeaderInfo::ResetFields() {
  ResetEntityFields();
  ResetResponseFields();
}

void TIdResponseHeaderInfo::ReadHeaderFields() {
  Location = HeaderLines.ValueOf("Location");
  Server = HeaderLines.ValueOf("Server");
  ProxyConnection = HeaderLines.ValueOf("Proxy-Connection");
  if (HeaderLines.IndexOfHeader("Content-Range") >= 0) {
    // "bytes first-last/length"
    std::string range = HeaderLines.ValueOf("Content-Range");
    SplitOff(range, " ");
    ContentRangeStart = StrToInt64Strict(SplitOff(range, "-"));
    ContentRangeEnd = StrToInt64Strict(SplitOff(range, "/"));
  }
  WWWAuthenticate.Clear();
  HeaderLines.CollectValues("WWW-Authenticate", &WWWAuthenticate);
  ProxyAuthenticate.Clear();
  HeaderLines.CollectValues("Proxy-Authenticate", &ProxyAuthenticate);
  ReadEntityFields();
}

// ---- proxy -----------------------------------------------------------------

void TIdProxyConnectionInfo::Assign(const TIdProxyConnectionInfo& source) {
  if (&source == this) return;
  ProxyPassword = source.ProxyPassword;
  SetProxyPort(source.ProxyPort_);
  SetProxyServer(source.ProxyServer_);
  ProxyUsername = source.ProxyUsername;
  BasicAuthentication = source.BasicAuthentication;
}

void TIdProxyConnectionInfo::Clear() {
  ProxyServer_.clear();
  ProxyUsername.clear();
  ProxyPassword.clear();
  ProxyPort_ = 0;
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& value) {
  if (UpperCase(value) != UpperCase(ProxyServer_)) Authenticator.reset();
  ProxyServer_ = value;
}

void TIdProxyConnectionInfo::SetProxyPort(int value) {
  if (value != ProxyPort_) Authenticator.reset();
  ProxyPort_ = value;
}

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& headers) {
  if (Authenticator) {
    SetIfNotEmpty(headers, "Proxy-Authorization", Authenticator->Authentication());
  } else if (BasicAuthentication) {
    Authenticator = std::make_unique<TIdBasicAuthentication>();
    Authenticator->SetUsername(ProxyUsername);
    Authenticator->SetPassword(ProxyPassword);
    SetIfNotEmpty(headers, "Proxy-Authorization", Authenticator->Authentication());
  }
}

}  // namespace quillon
