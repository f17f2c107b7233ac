#include "net/tcp/tcp_connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/socket/error_text.h"
#include "net/tcp/tcp_client.h"
#include "net/tcp/tcp_exceptions.h"
#include "tests/support/support.h"
#include "tests/tcp/tcp_test_util.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using test::Capture;
using test::EventLog;
using test::MillisSince;
using test::TcpServer;

// Sends each part with a short pause between them, then waits for the client
// to close (at most 3 s).
TcpServer::Script SendParts(std::vector<std::string> parts, bool thenClose = true) {
  return [parts, thenClose](int fd) {
    for (const auto& p : parts) {
      test::SendAll(fd, p);
      std::this_thread::sleep_for(20ms);
    }
    if (!thenClose) test::RecvUntilClose(fd, 3000);
  };
}

void Open(TIdTCPClient& client, const TcpServer& server) {
  client.SetHost("127.0.0.1");
  client.SetPort(server.port());
  client.OpenConnection();
}

template <typename E>
void ExpectThrowWithMessage(const std::function<void()>& f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

TEST(ReceiveLine, EndsOnLfAndCrLfKeepsOtherCrAndNeedsAnEnd) {
  struct Case {
    std::vector<std::string> parts;
    std::vector<std::string> lines;  // expected before the end of data
    std::string leftOver;            // queued when the close is seen
  };
  const Case cases[] = {
      {{"abc\ndef"}, {"abc"}, "def"},     {{"abc\r\n"}, {"abc"}, ""},
      {{"abc\r\r\n"}, {"abc\r"}, ""},     {{"abc\r"}, {}, "abc\r"},
      {{"\n\r\nx\n"}, {"", "", "x"}, ""}, {{"ab", "c\r", "\nd", "e\n"}, {"abc", "de"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.parts.front());
    TcpServer server(SendParts(c.parts));
    TIdTCPClient client;
    Open(client, server);
    for (const auto& want : c.lines) {
      EXPECT_EQ(client.ReceiveLine(), want);
      EXPECT_FALSE(client.LineTimedOut);
    }
    if (!c.leftOver.empty()) {
      // No terminator before the close: empty text, the bytes stay queued.
      EXPECT_EQ(client.ReceiveLine(), "");
      EXPECT_TRUE(client.LineTimedOut);
      EXPECT_EQ(client.InputQueue.ToString(), c.leftOver);
    }
    ExpectThrowWithMessage<EIdConnClosedGracefully>([&] { client.ReceiveLine(); },
                                                    "La connexion s'est terminée proprement.");
  }
}

TEST(ReceiveLine, OtherTerminatorSplitAcrossReceivesIsFound) {
  TcpServer server(SendParts({"abc\r", "\nxyz|", "|", "tail||"}));
  TIdTCPClient client;
  Open(client, server);
  EXPECT_EQ(client.ReceiveLine("\r\n"), "abc");
  EXPECT_EQ(client.ReceiveLine("||"), "xyz");
  EXPECT_EQ(client.ReceiveLine("||"), "tail");
}

TEST(ReceiveLine, LongLinesSplitOrRaise) {
  {
    TcpServer server(SendParts({"abcdefgh\n"}));
    TIdTCPClient client;
    client.MaxLineAction = maSplit;
    client.MaxLineLength = 4;
    Open(client, server);
    EXPECT_EQ(client.ReceiveLine(), "abcd");
    EXPECT_TRUE(client.LineWasSplit);
    EXPECT_EQ(client.ReceiveLine(), "efgh");
    EXPECT_FALSE(client.LineWasSplit);
  }
  {
    TcpServer server(SendParts({"abcdefgh\n"}));
    TIdTCPClient client;
    Open(client, server);
    ExpectThrowWithMessage<EIdReadLnMaxLineLengthExceeded>(
        [&] { client.ReceiveLine("\n", UseDefaultTimeout, 4); },
        "Longueur de ligne maximum dépassée.");
    EXPECT_EQ(client.InputQueue.ToString(), "abcdefgh\n");
  }
  {
    // The limit counts a CR before the LF: 16384 bytes + LF is accepted,
    // 16384 bytes + CR LF is not.
    const std::string body(16384, 'x');
    TcpServer server(SendParts({body + "\n" + body + "\r\n"}));
    TIdTCPClient client;
    Open(client, server);
    EXPECT_EQ(client.ReceiveLine(), body);
    EXPECT_THROW(client.ReceiveLine(), EIdReadLnMaxLineLengthExceeded);
  }
  {
    // Without a terminator the queue may not grow past the limit either.
    TcpServer server(SendParts({std::string(100, 'y')}, false));
    TIdTCPClient client;
    Open(client, server);
    EXPECT_THROW(client.ReceiveLine("\n", UseDefaultTimeout, 50), EIdReadLnMaxLineLengthExceeded);
  }
}

TEST(ReceiveLine, SilentPeerAndTimeOuts) {
  TcpServer server(SendParts({"partial"}, false));
  TIdTCPClient client;
  client.ReadTimeout = 200;
  Open(client, server);
  auto start = std::chrono::steady_clock::now();
  ExpectThrowWithMessage<EIdReadTimeout>([&] { client.ReceiveLine(); }, "Délai de lecture");
  EXPECT_GE(MillisSince(start), 180);
  EXPECT_LT(MillisSince(start), 2000);
  // An explicit time-out ends the line read without raising.
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.ReceiveLine("\n", 100), "");
  EXPECT_TRUE(client.LineTimedOut);
  EXPECT_GE(MillisSince(start), 90);
  EXPECT_EQ(client.InputQueue.ToString(), "partial");
  EXPECT_TRUE(client.IsConnected());
}

TEST(ReceiveLine, NoReadTimeoutWaitsForLateData) {
  TcpServer server([](int fd) {
    std::this_thread::sleep_for(300ms);
    test::SendAll(fd, "late\n");
  });
  TIdTCPClient client;
  client.ReadTimeout = 0;
  Open(client, server);
  EXPECT_EQ(client.ReceiveLine(), "late");
}

TEST(ReceiveLine, ResetByPeerRaisesSocketError10054) {
  TcpServer server([](int fd) {
    test::SendAll(fd, "x");
    std::this_thread::sleep_for(50ms);
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  });
  TIdTCPClient client;
  Open(client, server);
  try {
    client.ReceiveLine();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10054);
    EXPECT_EQ(std::string(e.what()), SocketErrorMessage(10054));
  }
  EXPECT_EQ(client.InputQueue.ToString(), "x");
}

TEST(ReceiveExact, CloseBeforeTheCountRaisesAndKeepsTheBytes) {
  TcpServer server(SendParts({"abcdef"}));
  TIdTCPClient client;
  Open(client, server);
  char buf[10];
  ExpectThrowWithMessage<EIdConnClosedGracefully>([&] { client.ReceiveExact(buf, 10); },
                                                  "La connexion s'est terminée proprement.");
  EXPECT_EQ(client.InputQueue.ToString(), "abcdef");
  EXPECT_FALSE(client.IsConnected());
}

TEST(ReceiveExact, ReadsAcrossReceivesAndInt32) {
  TcpServer server(SendParts({"ab", "cd", std::string("\x00\x00\x01\x02", 4)}));
  TIdTCPClient client;
  Open(client, server);
  char buf[4];
  client.ReceiveExact(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(client.ReceiveInt32(true), 258);
}

TEST(ReceiveAll, ReturnsEverythingWithWorkEventsAndOneDisconnect) {
  std::string payload;
  for (int i = 0; i < 100000; ++i) payload.push_back(static_cast<char>(i * 7));
  TcpServer server([&payload](int fd) {
    for (size_t at = 0; at < payload.size(); at += 10000) {
      test::SendAll(fd, payload.substr(at, 10000));
      std::this_thread::sleep_for(2ms);
    }
  });
  TIdTCPClient client;
  EventLog log;
  log.Attach(client);
  Open(client, server);
  log.statuses.clear();
  EXPECT_EQ(client.ReceiveAll(), payload);
  ASSERT_GE(log.work.size(), 4u);
  EXPECT_EQ(log.work.front(), "begin r 0");
  EXPECT_EQ(log.work[log.work.size() - 2], "work r 100000");
  EXPECT_EQ(log.work.back(), "end r");
  int last = 0;
  for (size_t i = 1; i + 1 < log.work.size(); ++i) {
    const int total = std::stoi(log.work[i].substr(7));
    EXPECT_GT(total, last);  // running totals
    last = total;
  }
  EXPECT_EQ(log.Kinds(), std::vector<TIdStatus>{hsDisconnected});
  EXPECT_FALSE(client.IsConnected());
}

TEST(ReceiveAll, SilentPeerRaisesReadTimeoutAndLimitRaises) {
  {
    TcpServer server(SendParts({"some"}, false));
    TIdTCPClient client;
    client.ReadTimeout = 150;
    Open(client, server);
    EXPECT_THROW(client.ReceiveAll(), EIdReadTimeout);
  }
  {
    TcpServer server(SendParts({std::string(5000, 'z')}, false));
    TIdTCPClient client;
    Open(client, server);
    ExpectThrowWithMessage<EIdReplyTooLong>([&] { client.ReceiveAllUpTo(1000); },
                                            "Réponse trop longue : plus de 1000 octets reçus.");
  }
}

TEST(ReceiveToStream, UntilCloseTrimsTheAdvanceGrowth) {
  TcpServer server(SendParts({std::string(60, 'q')}));
  TIdTCPClient client;
  Open(client, server);
  TIdMemoryStream stream;
  client.ReceiveToStream(stream, 100, true);
  EXPECT_EQ(stream.Size(), 60);
  EXPECT_EQ(stream.ToString(), std::string(60, 'q'));
}

TEST(ReceiveToStream, LengthPrefixAndShortData) {
  {
    TcpServer server(SendParts({std::string("\0\0\0\5hel", 7), "loEXTRA"}));
    TIdTCPClient client;
    Open(client, server);
    TIdMemoryStream stream;
    client.ReceiveToStream(stream);
    EXPECT_EQ(stream.ToString(), "hello");
    EXPECT_EQ(client.ReceiveAvailable(), "EXTRA");
  }
  {
    // A huge announced length is not allocated up front; the close raises
    // and the stream holds what came.
    TcpServer server(SendParts({std::string("\x7f\xff\xff\xff", 4) + "0123456789"}));
    TIdTCPClient client;
    Open(client, server);
    TIdMemoryStream stream;
    EXPECT_THROW(client.ReceiveToStream(stream), EIdConnClosedGracefully);
    EXPECT_EQ(stream.ToString(), "0123456789");
  }
}

TEST(Send, LinesTextIntsAndStreamsReachThePeerUnchanged) {
  Capture got;
  TcpServer server([&got](int fd) { got.Set(test::RecvUntilClose(fd, 3000)); });
  TIdTCPClient client;
  Open(client, server);
  client.SendLine("");
  client.SendLine("hello");
  client.SendText("");
  client.SendInt32(0x01020304, true);
  TIdMemoryStream stream;
  stream.Write("0123456789", 10);
  client.SendBufferSize = 3;
  client.SendStream(stream, true, true, 0);
  client.CloseConnection();
  std::string want = "\r\nhello\r\n";
  want += std::string("\x01\x02\x03\x04\0\0\0\x0a", 8);
  want += "0123456789";
  EXPECT_EQ(got.Get(), want);
}

TEST(Send, WriteBufferingFlushesByThresholdAndAtTheEnd) {
  Capture got;
  TcpServer server([&got](int fd) { got.Set(test::RecvUntilClose(fd, 3000)); });
  TIdTCPClient client;
  EventLog log;
  log.Attach(client);
  Open(client, server);
  client.WorkBegin(wmWrite, 0);  // makes every real send visible as OnWork
  client.StartWriteBuffering(10);
  client.SendText("abcd");
  EXPECT_EQ(log.work, std::vector<std::string>{"begin w 0"});
  client.SendText("efghijkl");  // 12 queued: the first 10 go out
  EXPECT_EQ(log.work.back(), "work w 10");
  EXPECT_EQ(client.PendingWrites->ToString(), "kl");
  client.SendText("mn");
  client.DiscardWrites();
  EXPECT_TRUE(client.WriteBuffering());
  client.SendText("op");
  client.FinishWriteBuffering();
  EXPECT_EQ(log.work.back(), "work w 12");
  EXPECT_FALSE(client.WriteBuffering());
  client.SendText("now");  // unbuffered again
  client.WorkEnd(wmWrite);
  client.CloseConnection();
  EXPECT_EQ(got.Get(), "abcdefghijopnow");
}

TEST(Send, LostConnectionShowsAtFlushAndBufferIsFreed) {
  TcpServer server([](int fd) {
    std::this_thread::sleep_for(50ms);  // after the client's connect has finished
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  });
  TIdTCPClient client;
  Open(client, server);
  std::this_thread::sleep_for(200ms);  // the reset has arrived
  client.StartWriteBuffering(0);
  client.SendText("queued");  // buffered: nothing noticed yet
  try {
    client.FinishWriteBuffering();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_TRUE(e.SocketErrorCode == 10054 || e.SocketErrorCode == 10058) << e.SocketErrorCode;
  }
  EXPECT_FALSE(client.WriteBuffering());
  EXPECT_FALSE(client.IsConnected());
}

TEST(Connection, WithoutConnectionReadsAndWritesRaiseNotConnected) {
  TIdTCPConnection conn;
  ExpectThrowWithMessage<EIdNotConnected>([&] { conn.SendText("x"); }, "Non connecté");
  ExpectThrowWithMessage<EIdNotConnected>([&] { conn.ReceiveLine(); }, "Non connecté");
  EXPECT_EQ(conn.ReceiveAvailable(), "");
  EXPECT_FALSE(conn.IsConnected());
  conn.CloseConnection();  // never raises when already closed
}

TEST(Connection, OpenTwiceRefusedAndReopenAfterClose) {
  TcpServer server(SendParts({"one\n"}));
  TIdTCPClient client;
  Open(client, server);
  ExpectThrowWithMessage<EIdAlreadyConnected>([&] { client.OpenConnection(); }, "Déjà connecté.");
  EXPECT_EQ(client.ReceiveLine(), "one");
  client.CloseConnection();
  EXPECT_EQ(client.IOHandler(), nullptr);
  client.OpenConnection();  // a fresh socket, an empty queue
  EXPECT_EQ(client.InputQueue.Length(), 0u);
  EXPECT_EQ(client.ReceiveLine(), "one");
  EXPECT_EQ(server.accepted(), 2);
}

TEST(Connection, AsciiFilterClearsTheTopBit) {
  TcpServer server(SendParts({"\xC1\xE2z\n"}));
  TIdTCPClient client;
  client.ASCIIFilter = true;
  Open(client, server);
  EXPECT_EQ(client.ReceiveLine(), "Abz");
}

TEST(Connection, InterceptTransformsBothDirections) {
  Capture got;
  TcpServer server([&got](int fd) {
    test::SendAll(fd, "abc\n");
    got.Set(test::RecvLine(fd, 3000));
  });
  TIdConnectionIntercept upper;
  const auto shift = [](TIdStream& s) {
    auto& m = dynamic_cast<TIdMemoryStream&>(s);
    for (size_t i = 0; i < m.Length(); ++i)
      if (m.Memory()[i] >= 'a' && m.Memory()[i] <= 'z') m.Memory()[i] -= 32;
  };
  upper.OnReceive = [&](TIdConnectionIntercept*, TIdStream& s) { shift(s); };
  upper.OnSend = [&](TIdConnectionIntercept*, TIdStream& s) { shift(s); };
  int connects = 0;
  upper.OnConnect = [&](TIdConnectionIntercept*) { ++connects; };
  TIdTCPClient client;
  client.Intercept = &upper;
  Open(client, server);
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(client.ReceiveLine(), "ABC");
  client.SendLine("xyz");
  EXPECT_EQ(got.Get(), "XYZ\r\n");
}

TEST(NumberedReply, SingleAndMultiLineRepliesAndChecks) {
  Capture got;
  TcpServer server([&got](int fd) {
    test::SendAll(fd, "\r\n220 ready\r\n");
    got.Set(test::RecvLine(fd, 3000));
    test::SendAll(fd, "250-first\r\n250-second\r\n250 last\r\n550-no\r\n550 way\r\n");
    test::RecvUntilClose(fd, 3000);
  });
  TIdTCPClient client;
  Open(client, server);
  EXPECT_EQ(client.ReceiveReply(), 220);
  EXPECT_EQ(client.LastReply.TextCode(), "220");
  EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"ready"});
  EXPECT_EQ(client.SendCommand("HELO x", {250}), 250);
  EXPECT_EQ(got.Get(), "HELO x\r\n");
  EXPECT_EQ(client.LastReply.Text, (std::vector<std::string>{"first", "second", "last"}));
  try {
    client.ReceiveReply({250});
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyErrorCode, 550);
    EXPECT_EQ(std::string(e.what()), "no\r\nway");
  }
}

TEST(NumberedReply, EndlessMultiLineReplyIsCut) {
  TcpServer server([](int fd) {
    const std::string line = "250-" + std::string(1000, 'x') + "\r\n";
    for (int i = 0; i < 2000 && test::SendAll(fd, line); ++i) {
    }
  });
  TIdTCPClient client;
  Open(client, server);
  EXPECT_THROW(client.ReceiveReply(), EIdReplyTooLong);
}

TEST(RFCReply, CodesFollowEachOther) {
  TIdRFCReply r;
  r.SetTextCode("421");
  EXPECT_EQ(r.NumericCode(), 421);
  r.SetTextCode("abc");
  EXPECT_EQ(r.NumericCode(), 0);
  r.SetNumericCode(250);
  EXPECT_EQ(r.TextCode(), "250");
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

TEST(Send, FileContentsByStreamOrByThePlatformAndMissingFile) {
  char path[] = "/tmp/qtcp-fileXXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string body(70000, 'f');
  ASSERT_EQ(::write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
  ::close(fd);
  for (bool transmit : {false, true}) {
    test::Capture got;
    test::TcpServer server([&got](int c) { got.Set(test::RecvUntilClose(c, 3000)); });
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.port());
    client.OpenConnection();
    EXPECT_EQ(client.SendFileContents(path, transmit), 70000);
    client.CloseConnection();
    EXPECT_EQ(got.Get(), body) << transmit;
  }
  ::unlink(path);
  TIdTCPClient client;
  try {
    client.SendFileContents("/nonexistent/qtcp-missing");
    FAIL() << "no exception";
  } catch (const EIdFileNotFound& e) {
    EXPECT_STREQ(e.what(), "Fichier \"/nonexistent/qtcp-missing\" non trouvé");
  }
}

}  // namespace
}  // namespace quillon
