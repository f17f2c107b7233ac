#include "net/http/uri.h"

#include <gtest/gtest.h>

#include "net/socket/text_helpers.h"

namespace quillon {
namespace {

struct UriCase {
  const char* text;
  const char* protocol;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* path;
  const char* document;
  const char* params;
  const char* bookmark;
};

TEST(UriTest, ParseTable) {
  const UriCase cases[] = {
      {"http://u:p@h:81/a/b/c.d?x=1#f", "http", "u", "p", "h", "81", "/a/b/", "c.d", "?x=1", "f"},
      {"http://h", "http", "", "", "h", "", "/", "", "", ""},
      {"http://h:8080", "http", "", "", "h", "8080", "/", "", "", ""},
      {"http://h/a?x=/y", "http", "", "", "h", "", "/", "a", "?x=/y", ""},
      {"http://h/a/b=c", "http", "", "", "h", "", "/a/", "b", "=c", ""},
      {"http://u@h/", "http", "u", "", "h", "", "/", "", "", ""},
      {"http://:p@h/", "http", "", "", "h", "", "/", "", "", ""},
      {"http://h/d#f?q", "http", "", "", "h", "", "/", "d", "?q", "f"},
      {"http://h/d?q#f", "http", "", "", "h", "", "/", "d", "?q", "f"},
      {"c.d?x", "", "", "", "", "", "", "c.d", "?x", ""},
      {"../up/c.d", "", "", "", "", "", "../up/", "c.d", "", ""},
      {"http:\\\\h\\a", "http", "", "", "h", "", "/", "a", "", ""},
      {"https://h:443/x/", "https", "", "", "h", "443", "/x/", "", "", ""},
      {"", "", "", "", "", "", "", "", "", ""},
      {"?only#frag", "", "", "", "", "", "", "", "?only", "frag"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TIdURI uri(c.text);
    EXPECT_EQ(uri.Protocol, c.protocol);
    EXPECT_EQ(uri.Username, c.user);
    EXPECT_EQ(uri.Password, c.password);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Port, c.port);
    EXPECT_EQ(uri.Path, c.path);
    EXPECT_EQ(uri.Document, c.document);
    EXPECT_EQ(uri.Params, c.params);
    EXPECT_EQ(uri.Bookmark, c.bookmark);
  }
}

// A scheme counts only at the start of the text; an IPv6 literal host keeps
// its brackets and its port follows them.
TEST(UriTest, SchemeOnlyAtTheStartAndBracketedHosts) {
  const UriCase cases[] = {
      {"/next?to=https://elsewhere/x", "", "", "", "", "", "/", "next", "?to=https://elsewhere/x",
       ""},
      {"next?u=a://b", "", "", "", "", "", "", "next", "?u=a://b", ""},
      {"1http://h/a", "", "", "", "", "", "1http://h/", "a", "", ""},
      {"://h/a", "", "", "", "", "", "://h/", "a", "", ""},
      {"svn+ssh.2-x://h/a", "svn+ssh.2-x", "", "", "h", "", "/", "a", "", ""},
      {"https://[2001:db8::1]:8443/a/b?c", "https", "", "", "[2001:db8::1]", "8443", "/a/", "b",
       "?c", ""},
      {"http://[::1]/", "http", "", "", "[::1]", "", "/", "", "", ""},
      {"http://u:p@[fe80::1%25eth0]:80/x", "http", "u", "p", "[fe80::1%25eth0]", "80", "/", "x",
       "", ""},
      // No closing bracket: split at the first colon as any other host.
      {"http://[::1/x", "http", "", "", "[", ":1", "/", "x", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TIdURI uri(c.text);
    EXPECT_EQ(uri.Protocol, c.protocol);
    EXPECT_EQ(uri.Username, c.user);
    EXPECT_EQ(uri.Password, c.password);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Port, c.port);
    EXPECT_EQ(uri.Path, c.path);
    EXPECT_EQ(uri.Document, c.document);
    EXPECT_EQ(uri.Params, c.params);
    EXPECT_EQ(uri.Bookmark, c.bookmark);
  }
  EXPECT_EQ(TIdURI("https://[2001:db8::1]:8443/a/b?c").ComposeUri(false, false),
            "https://[2001:db8::1]:8443/a/b?c");
  EXPECT_EQ(UnbracketedHost("[2001:db8::1]"), "2001:db8::1");
  EXPECT_EQ(UnbracketedHost("h.test"), "h.test");
}

TEST(UriTest, BackslashesBecomeSlashesInFullText) {
  TIdURI uri("http:\\\\h\\a");
  EXPECT_EQ(uri.URI, "http://h/a");
}

TEST(UriTest, ComposeAndPlain) {
  TIdURI uri("http://u:p@h:81/a/b/c.d?x=1#f");
  EXPECT_EQ(uri.ComposeUri(false, false), "http://h:81/a/b/c.d?x=1");
  EXPECT_EQ(uri.ComposeUri(true, true), "http://u:p@h:81/a/b/c.d?x=1#f");
  EXPECT_EQ(uri.ComposeUri(true, false), "http://u:p@h:81/a/b/c.d?x=1");
  uri.Password.clear();
  EXPECT_EQ(uri.ComposeUri(true, false), "http://u@h:81/a/b/c.d?x=1");
  uri.Password = "p";
  EXPECT_EQ(uri.PlainUri(), "http://h:81/a/b/c.d?x=1");
  EXPECT_EQ(uri.URI, "http://u:p@h:81/a/b/c.d?x=1#f");
}

TEST(UriTest, ComposeRaisesOnMissingParts) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {{"/a/b", "Le champ protocole est vide"}, {"http:///a", "Le champ hôte est vide"}};
  for (const auto& c : cases) {
    TIdURI uri(c.text);
    try {
      uri.ComposeUri(false, false);
      ADD_FAILURE() << c.text;
    } catch (const EIdURIException& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

// Relative targets are resolved against the current one by merging paths.
TEST(UriTest, MergePathOfRelativeTargets) {
  const struct {
    const char* base;
    const char* relative;
    const char* merged;
  } cases[] = {{"/a/b/", "c/", "/a/b/c/"},
               {"/a/b/", "../", "/a/"},
               {"/a/b/", "/x/", "/x/"},
               {"/a/b/", "", "/a/b/"}};
  for (const auto& c : cases) {
    TIdURI rel(c.relative);
    EXPECT_EQ(MergePath(c.base, rel.Path, "/"), c.merged) << c.base << " + " << c.relative;
  }
}

}  // namespace
}  // namespace quillon
