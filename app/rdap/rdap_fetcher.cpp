// rdap's https GET; see rdap_fetcher.h.
#include "app/rdap/rdap_fetcher.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "app/lookup/interruptible.h"
#include "app/lookup/domain_helpers.h"
#include "app/lookup/printable_text.h"
#include "app/rdap/rdap_failure.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

constexpr int kMaxRedirects = 5;
// Room for the status line and headers beside the document.
constexpr size_t kHeadRoom = 64 * 1024;

// A port written in a URL: digits naming 1 to 65535, or none at all.
bool UsablePort(const std::string& port) {
  if (port.empty()) return true;
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  const int value = std::stoi(port);
  return value >= 1 && value <= 65535;
}

// A 429: how long the server asks to wait, when it says.
class ERdapRateLimited : public ERdapStatusError {
 public:
  ERdapRateLimited(std::optional<int64_t> after, const std::string& line)
      : ERdapStatusError(429, line), After(after) {}
  std::optional<int64_t> After;
};

// The seconds of a Retry-After value: a count, or an HTTP date from now.
std::optional<int64_t> RetryAfterSeconds(const std::string& value) {
  const std::string text = Trim(value);
  if (text.empty()) return std::nullopt;
  if (text.find_first_not_of("0123456789") == std::string::npos)
    return text.size() > 9 ? int64_t{999999999} : std::stoll(text);
  // An HTTP date (always GMT): the seconds from now until then.
  std::string rest = text;
  const TDateTime at = ParseInternetDate(rest);
  if (at == 0) return std::nullopt;
  const double seconds = std::ceil((at - NowUtc()) * 86400.0 - 1e-6);
  return static_cast<int64_t>(std::clamp(seconds, 0.0, 999999999.0));
}

}  // namespace

bool IsHttps(const std::string& url) {
  return LowerAsciiLetters(url.substr(0, 8)) == "https://";
}

TRdapFetcher::TRdapFetcher(const TRdapOptions& options)
    : options_(options),
      transport_(options.interrupted != nullptr ? *options.interrupted : notInterrupted_,
                 options.hostAddresses, options.resolveHost),
      tls_(transport_) {
  http_.SetIOHandler(&tls_);
  http_.HandleRedirects = true;
  // Only real redirects are followed: a 404 with a Location is a 404.
  http_.FollowRedirectCodesOnly = true;
  // RedirectsSoFar counts requests: one more than the redirects followed.
  http_.RedirectMaximum = kMaxRedirects + 1;
  http_.MaxBodySize = static_cast<int64_t>(options.maxDocument);
  http_.AllowCookies = false;
  http_.OnRedirect = [this](TIdBaseComponent*, std::string& dest, int&, bool&, TIdHTTPMethod&) {
    const TIdURI target(dest);
    const std::string from = PrintableText(http_.CurrentUri().Host);
    // A relative location stays on https; an absolute one must be https.
    if (!target.Protocol.empty() && !IsHttps(dest))
      throw ERdapError("redirect to a URL that is not https: " + PrintableText(dest));
    if (!UsablePort(target.Port) || (!target.Protocol.empty() && target.Host.empty()))
      throw ERdapError("redirect from " + from + " to an unusable URL: " + PrintableText(dest));
  };
}

TRdapFetcher::~TRdapFetcher() {
  try {
    http_.SetIOHandler(nullptr);
  } catch (...) {
    // Nothing to report while going away.
  }
}

void TRdapFetcher::CloseQuietly() {
  try {
    if (http_.IsConnected()) http_.CloseConnection();
  } catch (...) {
    // The fetch's own failure is the one to report.
  }
}

std::string TRdapFetcher::FinalUrl() {
  const TIdURI& u = http_.CurrentUri();
  std::string url = LowerAsciiLetters(u.Protocol) + "://" + u.Host;
  if (!u.Port.empty() && u.Port != "443") url += ":" + u.Port;
  return url + u.Path + u.Document + u.Params;
}

std::string TRdapFetcher::HostOf(const std::string& url) const {
  return TIdURI(url).Host;
}

std::string TRdapFetcher::GetOnce(const std::string& url) {
  // Counts of an exchange that ended in a failure (a 429) start again.
  http_.RedirectsSoFar = 0;
  try {
    return http_.GetBody(url);
  } catch (const EOperationInterrupted&) {
    CloseQuietly();
    throw;
  } catch (const EIdHTTPProtocolException& e) {
    CloseQuietly();
    const std::string host = PrintableText(http_.CurrentUri().Host);
    if (e.ReplyCode() == 429) {
      const std::optional<int64_t> after =
          RetryAfterSeconds(http_.Response().HeaderLines.ValueOf("Retry-After"));
      throw ERdapRateLimited(
          after, "rate limited by " + host +
                     (after ? " (retry after " + std::to_string(*after) + " s)" : std::string()));
    }
    throw ERdapStatusError(e.ReplyCode(),
                           DescribeExchangeFailure(e, http_.CurrentUri().Host,
                                                   options_.maxDocument, options_.requestTimeoutMs));
  } catch (const std::exception& e) {
    CloseQuietly();
    // The host the exchange was with when it failed: after a redirect, the
    // one redirected to.
    std::string host = http_.CurrentUri().Host;
    if (host.empty()) host = HostOf(url);
    throw ERdapError(
        DescribeExchangeFailure(e, host, options_.maxDocument, options_.requestTimeoutMs));
  }
}

TFetched TRdapFetcher::Get(const std::string& url, const std::string& accept) {
  http_.Request().Accept = accept;
  TFetched fetched;
  // One bound for the request, a wait for Retry-After and the request again.
  transport_.Arm(std::chrono::milliseconds(options_.requestTimeoutMs),
                 options_.maxDocument + kHeadRoom);
  try {
    try {
      fetched.body = GetOnce(url);
    } catch (const ERdapRateLimited& e) {
      if (!e.After || *e.After > kMaxRetryAfterSeconds || *e.After * 1000 >= transport_.MsLeft())
        throw;
      transport_.Pause(std::chrono::seconds(*e.After));
      // Bytes of the first answer do not count against the second.
      const int64_t left = transport_.MsLeft();
      transport_.Arm(std::chrono::milliseconds(left), options_.maxDocument + kHeadRoom);
      fetched.body = GetOnce(url);
    }
  } catch (...) {
    transport_.Disarm();
    throw;
  }
  transport_.Disarm();
  fetched.url = FinalUrl();
  fetched.host = http_.CurrentUri().Host;
  // Past the last redirect allowed the client ends without a document.
  if (http_.ResponseCode() / 100 != 2)
    throw ERdapError("too many redirects, the last from " + PrintableText(fetched.host));
  fetched.cacheControl = http_.Response().HeaderLines.ValueOf("Cache-Control");
  return fetched;
}

}  // namespace quillon
