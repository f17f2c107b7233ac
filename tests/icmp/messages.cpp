#include "tests/icmp/messages.h"

#include <arpa/inet.h>

#include <array>
#include <cstring>

namespace quillon::test {

std::vector<uint8_t> WithIpHeader(const std::vector<uint8_t>& icmp, const std::string& source,
                                  uint8_t ttl, size_t headerLength) {
  std::array<uint8_t, 20> h{};
  h[0] = static_cast<uint8_t>(0x40 | (headerLength / 4 & 0x0F));
  const size_t total = headerLength + icmp.size();
  h[2] = static_cast<uint8_t>(total >> 8);
  h[3] = static_cast<uint8_t>(total);
  h[8] = ttl;
  h[9] = 1;
  in_addr a{};
  ::inet_pton(AF_INET, source.c_str(), &a);
  std::memcpy(h.data() + 12, &a, 4);
  std::vector<uint8_t> m(h.begin(), h.end());
  m.resize(headerLength, 0);  // options, all zero
  m.insert(m.end(), icmp.begin(), icmp.end());
  return m;
}

std::vector<uint8_t> EchoMessage(const EchoFields& f, size_t dataSize) {
  std::vector<uint8_t> m = {f.type,
                            0,
                            0,
                            0,
                            static_cast<uint8_t>(f.identifier),
                            static_cast<uint8_t>(f.identifier >> 8),
                            static_cast<uint8_t>(f.sequence),
                            static_cast<uint8_t>(f.sequence >> 8)};
  m.resize(8 + dataSize, 'E');
  return m;
}

std::vector<uint8_t> ErrorMessage(uint8_t type, uint8_t code, const EchoFields& quoted,
                                  size_t quotedHeaderLength, size_t quotedBytes) {
  std::vector<uint8_t> m = {type, code, 0, 0, 0, 0, 0, 0};
  EchoFields request = quoted;
  request.type = 8;
  std::vector<uint8_t> inner =
      WithIpHeader(EchoMessage(request), "198.18.0.1", 1, quotedHeaderLength);
  inner.resize(quotedHeaderLength + quotedBytes);
  m.insert(m.end(), inner.begin(), inner.end());
  return m;
}

std::vector<uint8_t> WithIp6Header(const std::vector<uint8_t>& icmp, const std::string& source,
                                   uint8_t hopLimit, uint8_t nextHeader) {
  std::vector<uint8_t> m(40, 0);
  m[0] = 0x60;
  m[4] = static_cast<uint8_t>(icmp.size() >> 8);
  m[5] = static_cast<uint8_t>(icmp.size());
  m[6] = nextHeader;
  m[7] = hopLimit;
  in6_addr a{};
  ::inet_pton(AF_INET6, source.c_str(), &a);
  std::memcpy(m.data() + 8, &a, 16);
  m.insert(m.end(), icmp.begin(), icmp.end());
  return m;
}

std::vector<uint8_t> Error6Message(uint8_t type, uint8_t code, const EchoFields& quoted,
                                   size_t quotedBytes, uint8_t quotedNextHeader) {
  std::vector<uint8_t> m = {type, code, 0, 0, 0, 0, 0, 0};
  EchoFields request = quoted;
  request.type = 128;
  std::vector<uint8_t> inner =
      WithIp6Header(EchoMessage(request), "2001:db8:1::1", 1, quotedNextHeader);
  inner.resize(40 + quotedBytes);
  m.insert(m.end(), inner.begin(), inner.end());
  return m;
}

}  // namespace quillon::test
