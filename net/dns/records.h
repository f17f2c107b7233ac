// The records of a DNS reply: one object per resource record, of the class
// that its TYPE selects, each reading its own RDATA (RFC 1035 section 3.3),
// held in order by the TQueryResult collection with the reply's question.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "net/dns/query_types.h"

namespace quillon {

class TQueryResult;

class TResultRecord {
 public:
  explicit TResultRecord(TQueryResult* collection) : collection_(collection) {}
  TResultRecord(const TResultRecord&) = delete;
  TResultRecord& operator=(const TResultRecord&) = delete;
  virtual ~TResultRecord() = default;

  virtual const char* ClassName() const { return "TResultRecord"; }
  // Copies the fields that the class knows from `source`; a source of
  // another family raises EIdConvertError.
  virtual void Assign(const TResultRecord& source);
  // Reads the RDATA starting at `start` of `message`, the reply cut right
  // after this record's RDATA (names may point back anywhere before).
  virtual void ParseRdata(std::span<const uint8_t> message, size_t start);

  TQueryResult* Collection() const { return collection_; }

  TQueryRecordTypes Kind = qtA;
  uint16_t ClassCode = 0;
  std::string OwnerName;
  uint32_t TtlSeconds = 0;
  std::string RawData;
  int32_t RawDataLength = 0;

 protected:
  [[noreturn]] void RefuseAssign(const TResultRecord& source) const;

 private:
  friend class TQueryResult;
  TQueryResult* collection_;
};

// A record whose RDATA starts with an IPv4 address.
class TRDATARecord : public TResultRecord {
 public:
  using TResultRecord::TResultRecord;
  const char* ClassName() const override { return "TRDATARecord"; }
  void Assign(const TResultRecord& source) override;
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  std::string AddressText;
};

class TARecord : public TRDATARecord {
 public:
  using TRDATARecord::TRDATARecord;
  const char* ClassName() const override { return "TARecord"; }
};

// A record whose RDATA is one name (CNAME; NS and PTR below).
class TNAMERecord : public TResultRecord {
 public:
  using TResultRecord::TResultRecord;
  const char* ClassName() const override { return "TNAMERecord"; }
  void Assign(const TResultRecord& source) override;
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  std::string TargetName;
};

class TNSRecord : public TNAMERecord {
 public:
  using TNAMERecord::TNAMERecord;
  const char* ClassName() const override { return "TNSRecord"; }
};

class TPTRRecord : public TNAMERecord {
 public:
  using TNAMERecord::TNAMERecord;
  const char* ClassName() const override { return "TPTRRecord"; }
};

class TMXRecord : public TResultRecord {
 public:
  using TResultRecord::TResultRecord;
  const char* ClassName() const override { return "TMXRecord"; }
  void Assign(const TResultRecord& source) override;
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  std::string Exchange;
  uint16_t MxPreference = 0;
};

class TSOARecord : public TResultRecord {
 public:
  using TResultRecord::TResultRecord;
  const char* ClassName() const override { return "TSOARecord"; }
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  uint32_t SerialNumber = 0;
  uint32_t MinimumSeconds = 0;
  uint32_t RefreshSeconds = 0;
  uint32_t RetrySeconds = 0;
  std::string PrimaryServer;
  std::string ResponsibleMailbox;
  uint32_t ExpireSeconds = 0;
};

// A record made of character-strings (TXT).
class TTextRecord : public TResultRecord {
 public:
  using TResultRecord::TResultRecord;
  const char* ClassName() const override { return "TTextRecord"; }
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  std::vector<std::string> Strings;
};

class THINFORecord : public TTextRecord {
 public:
  using TTextRecord::TTextRecord;
  const char* ClassName() const override { return "THINFORecord"; }
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  std::string CpuText;
  std::string OsText;
};

class TMINFORecord : public TResultRecord {
 public:
  using TResultRecord::TResultRecord;
  const char* ClassName() const override { return "TMINFORecord"; }
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  std::string ResponsibleMailbox;
  std::string ErrorsMailbox;
};

class TWKSRecord : public TResultRecord {
 public:
  using TResultRecord::TResultRecord;
  const char* ClassName() const override { return "TWKSRecord"; }
  void ParseRdata(std::span<const uint8_t> message, size_t start) override;

  std::string AddressText;
  uint16_t ProtocolNumber = 0;
  std::string ServiceBits;
};

// The records of one reply, in the order the server sent them (answers,
// authority, additional), and the reply's question. Owns its records.
class TQueryResult {
 public:
  TQueryResult() = default;
  TQueryResult(const TQueryResult&) = delete;
  TQueryResult& operator=(const TQueryResult&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Raises std::out_of_range for an index outside 0..Count()-1.
  TResultRecord& Item(int index) const;
  TResultRecord& operator[](int index) const { return Item(index); }
  // Destroys every record; the question stays.
  void Clear() { items_.clear(); }
  // Destroys one record and removes it from the collection.
  void Delete(int index);

  // Creates a record of class T appended to the collection.
  template <class T>
  T& Add() {
    auto record = std::make_unique<T>(this);
    T& ref = *record;
    items_.push_back(std::move(record));
    return ref;
  }
  void Reserve(size_t count) { items_.reserve(count); }
  // A record of the class that a TYPE code selects, appended.
  TResultRecord& AddForType(uint16_t type);

  // Replaces the records and the question by those of `other`, which is
  // left empty.
  void TakeFrom(TQueryResult& other);

  std::string QuestionName;
  uint16_t QuestionClass = 0;
  uint16_t QuestionType = 0;

 private:
  std::vector<std::unique_ptr<TResultRecord>> items_;
};

}  // namespace quillon
