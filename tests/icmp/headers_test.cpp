// The Internet checksum and the byte layout of the 52-byte echo request.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "net/icmp/echo_request.h"
#include "net/icmp/icmp_headers.h"

namespace quillon {
namespace {

// Sums the message's words in network order and folds: 0xFFFF when the
// checksum inside it is right.
uint16_t NetworkOrderSum(const std::vector<uint8_t>& m) {
  uint32_t sum = 0;
  for (size_t i = 0; i < m.size(); i += 2)
    sum += uint32_t{m[i]} << 8 | (i + 1 < m.size() ? m[i + 1] : 0u);
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum = (sum >> 16) + (sum & 0xFFFF);
  return static_cast<uint16_t>(sum);
}

TEST(InternetChecksum, KnownValuesInNetworkOrder) {
  struct Case {
    std::vector<uint8_t> message;
    std::array<uint8_t, 2> expected;  // as stored in memory
  };
  const Case cases[] = {
      // RFC 1071 section 3 example: words 0001 f203 f4f5 f6f7 sum to ddf2.
      {{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, {0x22, 0x0d}},
      {{}, {0xff, 0xff}},
      {{0xff, 0xff}, {0x00, 0x00}},
      // Carries folded: ffff + ffff + 0002 = 20000, folded to 0002.
      {{0xff, 0xff, 0xff, 0xff, 0x00, 0x02}, {0xff, 0xfd}},
      // Odd length: the last byte is the high half of a zero-padded word.
      {{0x01, 0x02, 0x03}, {0xfb, 0xfd}},
  };
  for (const auto& c : cases) {
    const uint16_t v = InternetChecksum(c.message);
    std::array<uint8_t, 2> stored;
    std::memcpy(stored.data(), &v, 2);
    EXPECT_EQ(stored, c.expected) << "message of " << c.message.size() << " bytes";
  }
}

TEST(EchoRequest, ByteExactLayout) {
  std::array<uint8_t, 1024> area;
  area.fill(0xCC);
  ASSERT_EQ(BuildEchoRequest(area, "abc", 0x1234, 3489, 0xA1B2C3D4u), 52u);
  const std::vector<uint8_t> r(area.begin(), area.begin() + 52);
  EXPECT_EQ(r[0], 8);
  EXPECT_EQ(r[1], 0);
  // Identifier and sequence in little-endian order: 3489 = 0x0DA1 → A1 0D.
  EXPECT_EQ(r[4], 0x34);
  EXPECT_EQ(r[5], 0x12);
  EXPECT_EQ(r[6], 0xA1);
  EXPECT_EQ(r[7], 0x0D);
  const std::vector<uint8_t> ticks(r.begin() + 8, r.begin() + 12);
  EXPECT_EQ(ticks, (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}));
  for (size_t i = 12; i < 20; ++i) EXPECT_EQ(r[i], 0) << "offset " << i;
  EXPECT_EQ(std::string(r.begin() + 20, r.begin() + 23), "abc");
  EXPECT_EQ(std::string(r.begin() + 23, r.end()), std::string(29, 'E'));
  EXPECT_EQ(NetworkOrderSum(r), 0xFFFF);
  EXPECT_EQ(area[52], 0xCC) << "nothing written past the request";
}

TEST(EchoRequest, DataIsCutOrPaddedTo32Bytes) {
  const std::string forty = "0123456789abcdefghijABCDEFGHIJ!@#$%^&*()";
  ASSERT_EQ(forty.size(), 40u);
  struct Case {
    std::string data;
    std::string expected;
  };
  const Case cases[] = {
      {"", std::string(32, 'E')},
      {forty, forty.substr(0, 32)},
      {std::string(32, 'x'), std::string(32, 'x')},
      {std::string("a\0b", 3), std::string("a\0b", 3) + std::string(29, 'E')},
  };
  for (const auto& c : cases) {
    std::array<uint8_t, 52> area{};
    BuildEchoRequest(area, c.data, 1, 2, 3);
    EXPECT_EQ(std::string(area.begin() + 20, area.end()), c.expected);
    EXPECT_EQ(NetworkOrderSum({area.begin(), area.end()}), 0xFFFF);
  }
}

TEST(EchoRequest, AreaTooSmallIsRefused) {
  std::array<uint8_t, 51> area{};
  EXPECT_THROW(BuildEchoRequest(area, "", 1, 2, 3), std::length_error);
}

}  // namespace
}  // namespace quillon
