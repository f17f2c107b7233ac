// GetBody against a real server (a private nginx on loopback) compared with
// what curl gets from the same URLs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "net/http/http.h"
#include "tests/http/nginx_server.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

std::string Curl(const std::string& url, const std::string& extra = "") {
  const std::string file = "/tmp/" + test::UniqueName("quillon-curl-");
  test::Run("curl -s " + extra + " -o " + file + " '" + url + "'");
  std::string bytes = test::ReadWholeFile(file);
  std::remove(file.c_str());
  return bytes;
}

TEST(HttpNginxTest, SameBytesAsCurl) {
  if (::access("/usr/sbin/nginx", X_OK) != 0 || test::Run("curl --version") != 0) {
    GTEST_SKIP() << "needs /usr/sbin/nginx and curl";
  }
  test::NginxServer nginx;
  ASSERT_TRUE(nginx.ready()) << nginx.errorLog();
  nginx.WritePatternFile("large.bin", (8 << 20) + 12345);
  nginx.WriteFile("misc/small.txt", "small file\n");

  // The chunked location really answers chunked.
  std::string headers;
  test::Run("curl -s -D - -o /dev/null '" + nginx.url("/chunked/large.bin") + "'", &headers);
  ASSERT_NE(headers.find("Transfer-Encoding: chunked"), std::string::npos) << headers;

  TIdHTTP http;
  for (const char* path : {"/misc/ip.php", "/large.bin", "/chunked/large.bin",
                           "/chunked/misc/small.txt", "/misc/small.txt", "/misc/ip.php"}) {
    SCOPED_TRACE(path);
    const std::string expected = Curl(nginx.url(path));
    ASSERT_FALSE(expected.empty());
    const std::string body = http.GetBody(nginx.url(path));
    EXPECT_EQ(body.size(), expected.size());
    EXPECT_TRUE(body == expected);
    const bool chunked = std::string(path).rfind("/chunked/", 0) == 0;
    EXPECT_EQ(http.Response().HeaderLines.ValueOf("Transfer-Encoding") == "chunked", chunked);
  }
  EXPECT_EQ(http.GetBody(nginx.url("/misc/ip.php")), "127.0.0.1");
  EXPECT_EQ(http.Response().ContentType, "text/plain");

  try {
    http.GetBody(nginx.url("/absent"));
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.ReplyBody, Curl(nginx.url("/absent")));
  }
  // The same client went on over the one kept-alive connection.
  EXPECT_TRUE(http.IsConnected());
}

}  // namespace
}  // namespace quillon
