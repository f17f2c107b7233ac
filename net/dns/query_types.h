// DNS record kinds that a query can ask for, the set of them held in 32 bits,
// and the mapping between kinds and the TYPE codes of RFC 1035 section 3.2.2.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace quillon {

enum TQueryRecordTypes : uint8_t {
  qtA,
  qtNS,
  qtMD,
  qtMF,
  qtName,
  qtSOA,
  qtMB,
  qtMG,
  qtMR,
  qtNull,
  qtWKS,
  qtPTR,
  qtHINFO,
  qtMINFO,
  qtMX,
  qtTXT,
  qtSTAR
};
constexpr int kQueryRecordTypeCount = qtSTAR + 1;

// The TYPE code sent in a question for a kind.
constexpr uint16_t QueryTypeCode(TQueryRecordTypes kind) {
  return kind == qtSTAR ? uint16_t{255} : static_cast<uint16_t>(kind + 1);
}

// The kind of a record by its TYPE: 1..16 are qtA..qtTXT. Every other TYPE
// (17 and the unknown ones) reports qtSTAR, so that a kind such as qtMX is
// only ever seen on a record that really is of that TYPE.
constexpr TQueryRecordTypes KindOfTypeCode(uint16_t type) {
  return type >= 1 && type <= 16 ? static_cast<TQueryRecordTypes>(type - 1) : qtSTAR;
}

// A set of kinds; bit n stands for ordinal n ({qtMX} is 0x4000).
class TQueryType {
 public:
  constexpr TQueryType() = default;
  constexpr TQueryType(std::initializer_list<TQueryRecordTypes> kinds) {
    for (TQueryRecordTypes k : kinds) Include(k);
  }
  static constexpr TQueryType FromBits(uint32_t bits) {
    TQueryType t;
    t.bits_ = bits & ((1u << kQueryRecordTypeCount) - 1);
    return t;
  }

  constexpr void Include(TQueryRecordTypes kind) { bits_ |= 1u << kind; }
  constexpr void Exclude(TQueryRecordTypes kind) { bits_ &= ~(1u << kind); }
  constexpr bool Contains(TQueryRecordTypes kind) const { return (bits_ >> kind) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr int Count() const {
    int n = 0;
    for (uint32_t b = bits_; b != 0; b &= b - 1) ++n;
    return n;
  }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const TQueryType&) const = default;

 private:
  uint32_t bits_ = 0;
};

}  // namespace quillon
