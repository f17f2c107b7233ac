// Storing, expiring and selecting cookies. A cookie is sent to a host that
// equals its domain or lies below it (RFC 6265 section 5.1.3), on a path that
// equals the cookie's path or lies below it segment by segment (section
// 5.1.4: "/a" covers "/a" and "/a/b", not "/ab"). A cookie whose domain is a
// public suffix is refused (section 5.3, step 5).
#include "net/http/cookie_manager.h"

#include <algorithm>

#include "net/http/public_suffix.h"

namespace quillon {

namespace {

int CompareNoCase(const std::string& a, const std::string& b) {
  const std::string x = UpperCase(a);
  const std::string y = UpperCase(b);
  return x.compare(y);
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The domain of a stored cookie matches the request host when they are
// equal, or when the host ends with the domain and a dot separates the two.
bool DomainMatches(const std::string& domain, const std::string& host) {
  const std::string d = UpperCase(domain);
  const std::string h = UpperCase(host);
  if (d.empty()) return false;
  if (d == h) return true;
  if (d.front() == '.') return EndsWith(h, d);
  return EndsWith(h, "." + d);
}

// The request path lies at or below the cookie's path: it begins with it,
// and either they are equal, the cookie's path ends with "/", or the request
// path goes on with "/".
bool PathMatches(const std::string& cookiePath, const std::string& requestPath) {
  if (cookiePath.empty() || requestPath.compare(0, cookiePath.size(), cookiePath) != 0)
    return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
         requestPath[cookiePath.size()] == '/';
}

// A domain attribute naming a public suffix ("com", ".co.uk") would let one
// site set cookies for every site under it; it is allowed only when it is
// the sending host itself.
bool OnPublicSuffix(const std::string& domain, const std::string& host) {
  std::string bare = domain;
  if (!bare.empty() && bare.front() == '.') bare.erase(0, 1);
  if (UpperCase(bare) == UpperCase(host)) return false;
  return IsPublicSuffix(bare);
}

}  // namespace

TIdCookieManager::TIdCookieManager(TOnManagerEvent onCreate)
    : OnCreate(std::move(onCreate)), cookies_(std::make_unique<TIdCookies>()) {
  if (OnCreate) OnCreate(this, cookies_.get());
}

TIdCookieManager::~TIdCookieManager() {
  try {
    DropExpired();
    if (OnDestroy) OnDestroy(this, cookies_.get());
  } catch (...) {
    // A failing handler or clock must not escape a destructor.
  }
  cookies_->Clear();
}

void TIdCookieManager::StoreCookie(const std::string& text, const std::string& host,
                                   TIdCookieKind kind) {
  std::unique_ptr<TIdNetscapeCookie> cookie;
  if (kind == TIdCookieKind::Rfc2965) {
    cookie = std::make_unique<TIdCookieRFC2965>(cookies_.get());
  } else {
    cookie = std::make_unique<TIdCookieRFC2109>(cookies_.get());
  }
  cookie->ParseCookieText(text);
  if (cookie->Domain.empty()) cookie->Domain = host;
  if (!cookie->AcceptsHost(host)) return;
  if (OnPublicSuffix(cookie->Domain, host)) return;
  bool accept = true;
  if (OnNewCookie) OnNewCookie(this, cookie.get(), accept);
  if (!accept) return;

  TIdCookieLockGuard guard(*cookies_, TIdCookieAccess::caReadWrite);
  TIdDomainList& domains = guard.List();
  long d = domains.IndexOf(cookie->Domain);
  if (d < 0) {
    domains.Add(cookie->Domain, std::make_unique<TIdCookieList>());
    d = static_cast<long>(domains.Count() - 1);
  }
  TIdCookieList& list = *domains.Entries[static_cast<size_t>(d)].Object;
  const long c = list.IndexOf(cookie->CookieName);
  if (c < 0) {
    const std::string name = cookie->CookieName;
    list.Add(name, cookies_->Add(std::move(cookie)));
  } else {
    // The stored cookie takes over the newer one, which is then dropped.
    list.Entries[static_cast<size_t>(c)].Object->Assign(*cookie);
  }
}

void TIdCookieManager::DropExpired() {
  TIdCookieLockGuard guard(*cookies_, TIdCookieAccess::caReadWrite);
  const TDateTime now = NowLocal();
  std::vector<TIdNetscapeCookie*> expired;
  for (auto& domain : guard.List().Entries) {
    auto& list = domain.Object->Entries;
    for (size_t i = list.size(); i-- > 0;) {
      TIdNetscapeCookie* cookie = list[i].Object;
      // "max-age=0" gives an expiry of the current second, which must count
      // as past at once: at or before now is expired.
      if (!cookie->Expires().empty() && InternetDateToLocal(cookie->Expires()) <= now) {
        expired.push_back(cookie);
      }
    }
  }
  for (TIdNetscapeCookie* cookie : expired) cookies_->Destroy(cookie);
}

std::string TIdCookieManager::CookieHeaderFor(const TIdURI& uri, bool secure) {
  DropExpired();
  struct Pick {
    std::string Path;
    std::string Text;
  };
  std::vector<Pick> picked;  // sorted by path; an equal path goes before
  {
    TIdCookieLockGuard guard(*cookies_, TIdCookieAccess::caRead);
    const std::string requestPath = uri.Path + uri.Document;
    for (const auto& domain : guard.List().Entries) {
      if (!DomainMatches(domain.Key, uri.Host)) continue;
      const auto& list = domain.Object->Entries;
      for (size_t i = list.size(); i-- > 0;) {
        const TIdNetscapeCookie* cookie = list[i].Object;
        if (!PathMatches(cookie->Path, requestPath)) continue;
        if (cookie->Secure && !secure) continue;
        if (cookie->Value.empty()) continue;
        const auto at = std::lower_bound(
            picked.begin(), picked.end(), cookie->Path,
            [](const Pick& p, const std::string& path) { return CompareNoCase(p.Path, path) < 0; });
        picked.insert(at, Pick{cookie->Path, cookie->ClientForm()});
      }
    }
  }
  std::string result;
  for (size_t i = picked.size(); i-- > 0;) {
    if (!result.empty()) result += "; ";
    result += picked[i].Text;
  }
  return result;
}

}  // namespace quillon
