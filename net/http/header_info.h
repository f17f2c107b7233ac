// Typed views of HTTP message headers: one field per well-known header and
// the wire-form lines, linked by BuildHeaderLines (fields to lines, for a
// request) and ReadHeaderFields (lines to fields, for a response).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/http/authentication.h"
#include "net/http/header_list.h"
#include "net/socket/text_helpers.h"

namespace quillon {

class TIdEntityHeaderInfo {
 public:
  TIdEntityHeaderInfo();
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;
  virtual ~TIdEntityHeaderInfo() = default;

  virtual void ReadHeaderFields();
  virtual void BuildHeaderLines();
  virtual void ResetFields();
  // Copies the entity fields and the header lines.
  virtual void Assign(const TIdEntityHeaderInfo& source);

  int64_t ContentLength() const { return ContentLength_; }
  // Also records whether a length was given (value >= 0).
  void SetContentLength(int64_t value) {
    ContentLength_ = value;
    ContentLengthGiven = value >= 0;
  }

  std::string CacheControl;
  std::string Connection;
  std::string ContentEncoding;
  std::string ContentLanguage;
  int64_t ContentRangeEnd = 0;
  int64_t ContentRangeStart = 0;
  std::string ContentType;
  std::string ContentVersion;
  TIdHeaderList CustomHeaders;
  TDateTime Date = 0;
  TDateTime Expires = 0;
  TDateTime LastModified = 0;
  std::string Pragma;
  TIdHeaderList HeaderLines;
  bool ContentLengthGiven = false;

 protected:
  // The constructor's reset, which every class runs from its own constructor
  // (a virtual call in a base constructor would not reach the derived one).
  void ResetEntityFields();
  void ReadEntityFields();
  void BuildEntityLines();

 private:
  int64_t ContentLength_ = -1;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdRequestHeaderInfo();

  void ReadHeaderFields() override;
  void BuildHeaderLines() override;
  void ResetFields() override;
  // From another request: only the request's own settings; from any other
  // header set: the entity fields.
  void Assign(const TIdEntityHeaderInfo& source) override;

  std::string Accept;
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string Host;
  std::string From;
  std::string Password;
  std::string Referer;
  std::string UserAgent;
  std::string Username;
  std::string ProxyConnection;
  bool BasicAuthentication = false;
  std::unique_ptr<TIdAuthentication> Authenticator;

 private:
  void ResetRequestFields();
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdResponseHeaderInfo();

  void ReadHeaderFields() override;
  void ResetFields() override;

  std::string Location;
  std::string Server;
  std::string ProxyConnection;
  TIdHeaderList WWWAuthenticate;
  TIdHeaderList ProxyAuthenticate;

 private:
  void ResetResponseFields();
};

class TIdProxyConnectionInfo {
 public:
  TIdProxyConnectionInfo() = default;
  TIdProxyConnectionInfo(const TIdProxyConnectionInfo&) = delete;
  TIdProxyConnectionInfo& operator=(const TIdProxyConnectionInfo&) = delete;

  void Assign(const TIdProxyConnectionInfo& source);
  void Clear();
  // Adds "Proxy-Authorization" to `headers` when credentials are set.
  void SetHeaders(TIdHeaderList& headers);

  const std::string& ProxyServer() const { return ProxyServer_; }
  int ProxyPort() const { return ProxyPort_; }
  // A different server (other than in letter case) or port discards the
  // authenticator made for the previous one.
  void SetProxyServer(const std::string& value);
  void SetProxyPort(int value);

  std::string ProxyUsername;
  std::string ProxyPassword;
  bool BasicAuthentication = false;
  std::unique_ptr<TIdAuthentication> Authenticator;

 private:
  std::string ProxyServer_;
  int ProxyPort_ = 0;
};

}  // namespace quillon
