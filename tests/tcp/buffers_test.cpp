#include "net/tcp/buffers.h"

#include <gtest/gtest.h>

#include <string>

#include "net/tcp/tcp_exceptions.h"

namespace quillon {
namespace {

TEST(SimpleBuffer, TakesFromTheFrontAndReportsEachTake) {
  TIdSimpleBuffer b;
  size_t taken = 0;
  b.OnBytesTaken = [&](TIdSimpleBuffer*, size_t n) { taken += n; };
  b.Append("hello world", 11);
  EXPECT_EQ(b.TakeText(6), "hello ");
  EXPECT_EQ(b.ToString(), "world");
  b.DropFront(5);
  EXPECT_EQ(b.Length(), 0u);
  EXPECT_EQ(taken, 11u);
}

TEST(SimpleBuffer, TakingMoreThanQueuedRaisesAndKeepsTheBytes) {
  TIdSimpleBuffer simple;
  TIdManagedBuffer managed;
  for (TIdSimpleBuffer* b : {&simple, static_cast<TIdSimpleBuffer*>(&managed)}) {
    b->Append("abc", 3);
    try {
      b->TakeText(4);
      FAIL() << "no exception";
    } catch (const EIdNotEnoughDataInBuffer& e) {
      EXPECT_STREQ(e.what(), "Pas suffisamment de données en mémoire tampon.");
    }
    EXPECT_THROW(b->DropFront(4), EIdNotEnoughDataInBuffer);
    EXPECT_EQ(b->ToString(), "abc");
  }
}

TEST(ManagedBuffer, CountsTakenBytesAndCompactsPastTheThreshold) {
  TIdManagedBuffer b;
  std::string all;
  for (int i = 0; i < 50000; ++i) all.push_back(static_cast<char>('a' + i % 26));
  b.Append(all.data(), all.size());
  size_t at = 0;
  bool compacted = false;
  while (at + 1000 < all.size()) {
    const size_t before = b.ConsumedBytes();
    EXPECT_EQ(b.TakeText(1000), all.substr(at, 1000));
    at += 1000;
    if (b.ConsumedBytes() < before) compacted = true;
    EXPECT_LT(b.ConsumedBytes(), TIdManagedBuffer::CompactThreshold);
    ASSERT_EQ(b.Length(), all.size() - at);
    ASSERT_EQ(std::string(b.UnreadStart(), 10), all.substr(at, 10));
  }
  EXPECT_TRUE(compacted);
  // Appending after takes keeps the order.
  b.Append("XYZ", 3);
  EXPECT_EQ(b.TakeText(b.Length()), all.substr(at) + "XYZ");
  EXPECT_EQ(b.ConsumedBytes(), 0u);  // taking everything empties it
}

TEST(MemoryStream, GrowsWithZerosCutsAndKeepsThePosition) {
  TIdMemoryStream s;
  s.Write("abc", 3);
  s.SetSize(6);
  EXPECT_EQ(s.Position(), 3);
  EXPECT_EQ(s.ToString(), std::string("abc\0\0\0", 6));
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  char out[4] = {};
  s.SetPosition(0);
  EXPECT_EQ(s.Read(out, 4), 2u);
  EXPECT_EQ(std::string(out, 2), "ab");
}

}  // namespace
}  // namespace quillon
