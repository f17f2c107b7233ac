// Socket error texts, the start-up/unload window and the errno translation.
#include <gtest/gtest.h>

#include <netdb.h>
#include <cerrno>

#include "net/socket/error_text.h"
#include "net/socket/exceptions.h"
#include "net/socket/platform.h"

namespace quillon {
namespace {

TEST(ErrorText, TemplateHoldsCodeCrLfAndText) {
  struct Case {
    int code;
    const char* message;
  } cases[] = {
      {10061, "Erreur de socket # 10061\r\nConnexion refusée."},
      {10035, "Erreur de socket # 10035\r\nL'opération risquerait de bloquer. "},
      {10066, "Erreur de socket # 10066\r\nRépertoire non vide"},
      {11001, "Erreur de socket # 11001\r\nHôte non trouvé."},
      {10091, "Erreur de socket # 10091\r\n"},
      {0, "Erreur de socket # 0\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(SocketErrorMessage(c.code), c.message) << c.code;
}

TEST(ErrorText, EveryTranslatedErrnoHasAText) {
  const int errnos[] = {EINTR,           EBADF,           EACCES,       EPERM,        EFAULT,
                        EINVAL,          EMFILE,          EAGAIN,       EINPROGRESS,  EALREADY,
                        ENOTSOCK,        EDESTADDRREQ,    EMSGSIZE,     EPROTOTYPE,   ENOPROTOOPT,
                        EPROTONOSUPPORT, ESOCKTNOSUPPORT, EOPNOTSUPP,   EPFNOSUPPORT, EAFNOSUPPORT,
                        EADDRINUSE,      EADDRNOTAVAIL,   ENETDOWN,     ENETUNREACH,  ENETRESET,
                        ECONNABORTED,    ECONNRESET,      ENOBUFS,      EISCONN,      ENOTCONN,
                        ESHUTDOWN,       EPIPE,           ETOOMANYREFS, ETIMEDOUT,    ECONNREFUSED,
                        ELOOP,           ENAMETOOLONG,    EHOSTDOWN,    EHOSTUNREACH, ENOTEMPTY};
  for (int e : errnos) {
    const int code = platform::TranslateErrno(e);
    EXPECT_TRUE((code >= 10004 && code <= 10066)) << e;
    EXPECT_STRNE(SocketErrorTextOf(code), "") << e;
  }
}

TEST(ErrorText, TranslationTable) {
  struct Case {
    int errnoValue, code;
  } cases[] = {{EINTR, 10004},        {EBADF, 10009},        {EACCES, 10013},
               {EINVAL, 10022},       {EWOULDBLOCK, 10035},  {EMSGSIZE, 10040},
               {EADDRINUSE, 10048},   {ECONNABORTED, 10053}, {ECONNRESET, 10054},
               {EPIPE, 10058},        {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
               {EHOSTUNREACH, 10065}, {ENOTSOCK, 10038},     {0, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(platform::TranslateErrno(c.errnoValue), c.code) << c.errnoValue;
  // An errno with no socket counterpart keeps its identity out of the table.
  EXPECT_EQ(platform::TranslateErrno(ENOENT), platform::kUntranslatedBase + ENOENT);
  EXPECT_STREQ(SocketErrorTextOf(platform::kUntranslatedBase + ENOENT), "");

  EXPECT_EQ(platform::TranslateResolverError(EAI_NONAME, 0), 11001);
  EXPECT_EQ(platform::TranslateResolverError(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(platform::TranslateResolverError(EAI_FAIL, 0), 11003);
  EXPECT_EQ(platform::TranslateResolverError(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(SocketLibrary, StartsOnceAndRefusesCallsAfterUnload) {
  TWSAData data;
  ASSERT_EQ(StartSocketLibrary(0x0202, data), 0);
  EXPECT_TRUE(SocketLibraryLoaded());
  TWSAData again;
  EXPECT_EQ(StartSocketLibrary(0x0202, again), 0);
  EXPECT_EQ(again.wVersion, 0) << "a second start-up must not run the start-up again";

  UnloadSocketLibrary();
  UnloadSocketLibrary();  // a second release does nothing
  try {
    RequireSocketLibrary("recv");
    FAIL() << "a call after unload must raise";
  } catch (const EIdWS2StubError& e) {
    EXPECT_EQ(e.SystemErrorCode, 10093);
    EXPECT_EQ(e.BaseText, "Erreur d'appel de la fonction recv de la bibliothèque Winsock2");
    EXPECT_EQ(std::string(e.what()), e.BaseText + ": " + e.SystemErrorText);
  }
  ASSERT_EQ(StartSocketLibrary(0x0202, data), 0);
  EXPECT_NO_THROW(RequireSocketLibrary("recv"));
}

TEST(SocketLibrary, LoadFailureNamesTheLibrary) {
  UnloadSocketLibrary();
  platform::FaultInjector::FailNth(platform::Call::LibraryStart, 1, ENOENT);
  TWSAData data;
  try {
    StartSocketLibrary(0x0202, data);
    FAIL();
  } catch (const EIdWS2StubError& e) {
    EXPECT_EQ(e.BaseText, "Erreur de chargement de la bibliothèque (WS2_32.DLL) Winsock2");
    EXPECT_EQ(e.SystemErrorCode, ENOENT);
    EXPECT_FALSE(e.SystemErrorText.empty());
  }
  platform::FaultInjector::Reset();
  EXPECT_EQ(StartSocketLibrary(0x0202, data), 0);
}

TEST(StubError, MessageWithoutSystemCodeIsTheBaseText) {
  EIdWS2StubError e(0, "ignored", "base");
  EXPECT_STREQ(e.what(), "base");
}

}  // namespace
}  // namespace quillon
