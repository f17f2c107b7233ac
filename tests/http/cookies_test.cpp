#include "net/http/cookie_manager.h"

#include <gtest/gtest.h>

#include <thread>

namespace quillon {
namespace {

std::string HeaderFor(TIdCookieManager& m, const std::string& url, bool secure = false) {
  return m.CookieHeaderFor(TIdURI(url), secure);
}

TEST(CookieTest, ParseFields) {
  TIdCookieRFC2109 c;
  c.ParseCookieText("SID=a=b; Path=\"/x/\"; domain=.b.c; secure; Comment=hi; version=1; sid=zz");
  EXPECT_EQ(c.CookieName, "SID");
  EXPECT_EQ(c.Value, "a=b");
  EXPECT_EQ(c.Path, "/x/");
  EXPECT_EQ(c.Domain, ".b.c");
  EXPECT_TRUE(c.Secure);
  EXPECT_EQ(c.Comment, "hi");
  EXPECT_EQ(c.Version, "1");
  EXPECT_EQ(c.MaxAge, -1);
  EXPECT_EQ(c.InternalVersion(), 0);  // no expiry: Netscape form
  EXPECT_EQ(c.ClientForm(), "SID=a=b");
  EXPECT_EQ(c.ServerForm(), "SID=a=b; path=/x/; domain=.b.c; secure; comment=hi; version=1");
}

TEST(CookieTest, ExpiresKeepsKindAndGivesMaxAge) {
  TIdCookieRFC2109 c;
  c.ParseCookieText("a=1; expires=" + FormatInternetDate(NowLocal() + 1.0, false) + "; path=/");
  EXPECT_EQ(c.InternalVersion(), 1);
  EXPECT_EQ(c.MaxAge, -1);  // MAX-AGE absent resets the computed value
  EXPECT_EQ(c.ServerForm(), "a=1; path=/");
  TIdCookieRFC2109 m;
  m.ParseCookieText("a=1; max-age=3600");
  EXPECT_EQ(m.MaxAge, 3600);
  EXPECT_NEAR(InternetDateToLocal(m.Expires()), NowLocal() + 1.0 / 24, 2.0 / 86400);
}

TEST(CookieTest, Rfc2965Ports) {
  const struct {
    const char* text;
    std::vector<int> ports;
  } cases[] = {{"a=1", {80}},
               {"a=1; Port", {80}},
               {"a=1; Port=\"\"", {80}},
               {"a=1; port=\"81,8080\"", {81, 8080}},
               {"a=1; Port=81", {}}};
  for (const auto& c : cases) {
    TIdCookieRFC2965 cookie;
    cookie.ParseCookieText(c.text);
    EXPECT_EQ(cookie.PortList, c.ports) << c.text;
  }
  TIdCookieRFC2965 d;
  d.ParseCookieText("a=1; Discard; CommentURL=http://x/");
  EXPECT_TRUE(d.Discard);
  EXPECT_EQ(d.CommentURL, "http://x/");
  try {
    TIdCookieRFC2965 bad;
    bad.ParseCookieText("a=1; Port=\"8x\"");
    FAIL();
  } catch (const EIdConvertError& e) {
    EXPECT_STREQ(e.what(), "'8x' n'est pas une valeur entière correcte.");
  }
  d.SetPort(1, 443);
  EXPECT_EQ(d.PortList, (std::vector<int>{80, 443}));
  for (long bad : {-1L, 3L}) {
    try {
      d.SetPort(bad, 1);
      FAIL();
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), "Index out of range.");
    }
  }
}

TEST(CookieTest, AcceptsHost) {
  const struct {
    const char* domain;
    const char* host;
    bool accepted;
  } cases[] = {{".b.c", "a.b.c", true},       {"b.c", "a.b.c", false},
               {"b.c", "b.c", true},          {"a.b.c", "a.b.c", true},
               {".x.c", "a.b.c", false},      {"10.0.0.1", "10.0.0.1", true},
               {".0.0.1", "10.0.0.1", false}, {".B.C", "a.b.c", false}};
  for (const auto& c : cases) {
    TIdNetscapeCookie cookie;
    cookie.Domain = c.domain;
    EXPECT_EQ(cookie.AcceptsHost(c.host), c.accepted) << c.domain << " from " << c.host;
  }
}

TEST(CookieManagerTest, StoreAndSend) {
  TIdCookieManager m;
  m.StoreCookie("SID=abc; path=/; domain=.b.c", "a.b.c");
  EXPECT_EQ(HeaderFor(m, "http://a.b.c/"), "SID=abc");
  EXPECT_EQ(HeaderFor(m, "http://a.b.c/deep/er/x.html?q"), "SID=abc");
  EXPECT_EQ(HeaderFor(m, "http://other.test/"), "");
  // A domain that merely contains the cookie's domain gets nothing.
  EXPECT_EQ(HeaderFor(m, "http://a.b.c.evil.test/"), "");

  m.StoreCookie("SID=xyz; path=/; domain=.b.c", "a.b.c");
  EXPECT_EQ(HeaderFor(m, "http://a.b.c/"), "SID=xyz");
  EXPECT_EQ(m.CookieCollection().Count(), 1u);

  m.StoreCookie("SID=apart; path=/", "a.b.c");  // stored under a.b.c itself
  EXPECT_EQ(m.CookieCollection().Count(), 2u);
  EXPECT_EQ(HeaderFor(m, "http://a.b.c/"), "SID=xyz; SID=apart");
}

TEST(CookieManagerTest, RejectedAndUnsent) {
  TIdCookieManager m;
  m.StoreCookie("nopath=1", "h.test");  // stored, never sent
  EXPECT_EQ(m.CookieCollection().Count(), 1u);
  EXPECT_EQ(HeaderFor(m, "http://h.test/"), "");
  m.StoreCookie("x=1; path=/; domain=.other.test", "h.test");  // foreign domain
  m.StoreCookie("empty=; path=/", "h.test");                   // stored, empty value unsent
  EXPECT_EQ(m.CookieCollection().Count(), 2u);
  EXPECT_EQ(HeaderFor(m, "http://h.test/"), "");

  m.OnNewCookie = [](TIdCookieManager*, TIdNetscapeCookie* c, bool& accept) {
    accept = c->CookieName != "veto";
  };
  m.StoreCookie("veto=1; path=/", "h.test");
  m.StoreCookie("ok=1; path=/", "h.test");
  EXPECT_EQ(HeaderFor(m, "http://h.test/"), "ok=1");
}

TEST(CookieManagerTest, SecureAndPathOrder) {
  TIdCookieManager m;
  m.StoreCookie("s=1; path=/; secure", "h.test");
  EXPECT_EQ(HeaderFor(m, "http://h.test/"), "");
  EXPECT_EQ(HeaderFor(m, "https://h.test/", true), "s=1");

  TIdCookieManager p;
  p.StoreCookie("a=1; path=/", "h.test");
  p.StoreCookie("b=2; path=/a/", "h.test");
  p.StoreCookie("c=3; path=/login", "h.test");
  EXPECT_EQ(HeaderFor(p, "http://h.test/a/x"), "b=2; a=1");
  EXPECT_EQ(HeaderFor(p, "http://h.test/x"), "a=1");
  EXPECT_EQ(HeaderFor(p, "http://h.test/login"), "c=3; a=1");
  p.StoreCookie("d=4; path=/", "h.test");
  EXPECT_EQ(HeaderFor(p, "http://h.test/"), "d=4; a=1");
}

// A cookie path covers the same path and the paths below it, segment by
// segment: "/a" matches "/a" and "/a/b" but not "/ab".
TEST(CookieManagerTest, PathMatchesOnSegmentBoundaries) {
  const struct {
    const char* cookiePath;
    const char* url;
    bool sent;
  } cases[] = {
      {"/a", "http://h.test/a", true},       {"/a", "http://h.test/a/b", true},
      {"/a", "http://h.test/a/", true},      {"/a", "http://h.test/ab", false},
      {"/a", "http://h.test/abc/d", false},  {"/a/", "http://h.test/a/b", true},
      {"/a/", "http://h.test/a", false},     {"/", "http://h.test/anything", true},
      {"/a/b", "http://h.test/a/bc", false}, {"/a/b", "http://h.test/a/b?q=1", true},
  };
  for (const auto& c : cases) {
    TIdCookieManager m;
    m.StoreCookie(std::string("k=v; path=") + c.cookiePath, "h.test");
    EXPECT_EQ(HeaderFor(m, c.url), c.sent ? "k=v" : "") << c.cookiePath << " for " << c.url;
  }
}

// A domain attribute that is a public suffix would reach every site under
// it: such a cookie is refused; an ordinary registered domain is kept.
TEST(CookieManagerTest, PublicSuffixDomainsAreRefused) {
  const struct {
    const char* cookie;
    const char* host;
    bool stored;
  } cases[] = {
      {"k=v; path=/; domain=.com", "x.com", false},
      {"k=v; path=/; domain=.co.uk", "shop.co.uk", false},
      {"k=v; path=/; domain=.github.io", "me.github.io", false},
      {"k=v; path=/; domain=.example.com", "www.example.com", true},
      {"k=v; path=/; domain=.example.co.uk", "www.example.co.uk", true},
      {"k=v; path=/; domain=.b.c", "a.b.c", true},
      {"k=v; path=/", "localhost", true},
      {"k=v; path=/", "x.com", true},
  };
  for (const auto& c : cases) {
    TIdCookieManager m;
    m.StoreCookie(c.cookie, c.host);
    EXPECT_EQ(m.CookieCollection().Count(), c.stored ? 1u : 0u) << c.cookie << " from " << c.host;
    EXPECT_EQ(HeaderFor(m, std::string("http://") + c.host + "/"), c.stored ? "k=v" : "")
        << c.cookie << " from " << c.host;
  }
}

TEST(CookieManagerTest, Expiry) {
  TIdCookieManager m;
  m.StoreCookie("a=1; max-age=0; path=/", "h.test");
  m.StoreCookie("old=1; path=/; expires=Sun, 06 Nov 1994 08:49:37 GMT", "h.test");
  m.StoreCookie("junk=1; path=/; expires=not a date", "h.test");
  m.StoreCookie("keep=1; path=/; max-age=3600", "h.test");
  EXPECT_EQ(m.CookieCollection().Count(), 4u);
  EXPECT_EQ(HeaderFor(m, "http://h.test/"), "keep=1");
  EXPECT_EQ(m.CookieCollection().Count(), 1u);
}

TEST(CookieManagerTest, ReplacedCookieTakesNewerExpiry) {
  TIdCookieManager m;
  const std::string future = FormatInternetDate(NowLocal() + 1.0, false);
  m.StoreCookie("k=1; path=/; expires=" + future, "h.test");
  m.StoreCookie("k=2; path=/; expires=Sun, 06 Nov 1994 08:49:37 GMT", "h.test");
  EXPECT_EQ(m.CookieCollection().Count(), 1u);
  EXPECT_EQ(HeaderFor(m, "http://h.test/"), "");  // the newer, past expiry applies
  EXPECT_EQ(m.CookieCollection().Count(), 0u);

  m.StoreCookie("k=3; path=/; max-age=3600", "h.test");
  m.StoreCookie("k=4; path=/; expires=" + future, "h.test");
  auto& list = m.CookieCollection().LockCookieListByDomain(TIdCookieAccess::caRead);
  const auto* stored =
      dynamic_cast<TIdCookieRFC2109*>(list.Entries.at(0).Object->Entries.at(0).Object);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->Value, "4");
  EXPECT_EQ(stored->Expires(), future);
  EXPECT_EQ(stored->MaxAge, -1);
  m.CookieCollection().UnlockCookieListByDomain(TIdCookieAccess::caRead);
}

TEST(CookieManagerTest, EventsAndWriterReentry) {
  int created = 0;
  int destroyed = 0;
  {
    TIdCookieManager m([&](TIdCookieManager*, TIdCookies*) { ++created; });
    m.OnDestroy = [&](TIdCookieManager*, TIdCookies* c) {
      destroyed += static_cast<int>(c->Count());
    };
    m.StoreCookie("a=1; path=/", "h.test");
    auto& cookies = m.CookieCollection();
    cookies.LockCookieListByDomain(TIdCookieAccess::caReadWrite);
    cookies.LockCookieListByDomain(TIdCookieAccess::caReadWrite);  // the writer may lock again
    cookies.LockCookieListByDomain(TIdCookieAccess::caRead);
    EXPECT_EQ(cookies.Count(), 1u);
    cookies.UnlockCookieListByDomain(TIdCookieAccess::caRead);
    cookies.UnlockCookieListByDomain(TIdCookieAccess::caReadWrite);
    cookies.UnlockCookieListByDomain(TIdCookieAccess::caReadWrite);
  }
  EXPECT_EQ(created, 1);
  EXPECT_EQ(destroyed, 1);
}

// Several threads storing, expiring and reading at once (run under TSan).
TEST(CookieManagerTest, ConcurrentStoreAndRead) {
  TIdCookieManager m;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&m, t] {
      for (int i = 0; i < 200; ++i) {
        m.StoreCookie("c" + std::to_string(i % 10) + "=" + std::to_string(t) + "; path=/",
                      "h.test");
        if (i % 7 == 0) m.StoreCookie("gone=1; path=/; max-age=0", "h.test");
        const std::string header = m.CookieHeaderFor(TIdURI("http://h.test/"), false);
        EXPECT_NE(header.find("c"), std::string::npos);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(m.CookieCollection().Count(), 10u);
}

}  // namespace
}  // namespace quillon
