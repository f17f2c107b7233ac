#include "net/dns/records.h"

#include <stdexcept>

#include "net/dns/dns_error.h"
#include "net/dns/dns_names.h"
#include "net/socket/byte_reader.h"
#include "net/socket/exceptions.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

// Fixed-size RDATA fields; one that lies past the message refuses the reply.
uint16_t Be16At(std::span<const uint8_t> message, size_t& position) {
  try {
    ByteReader reader(message);
    reader.seek(position);
    const uint16_t value = reader.readBe16();
    position += 2;
    return value;
  } catch (const ByteReaderShort&) {
    RaiseMalformedReply();
  }
}

uint32_t Be32At(std::span<const uint8_t> message, size_t& position) {
  try {
    ByteReader reader(message);
    reader.seek(position);
    const uint32_t value = reader.readBe32();
    position += 4;
    return value;
  } catch (const ByteReaderShort&) {
    RaiseMalformedReply();
  }
}

// The first four bytes of RDATA as dotted decimal; empty when there are fewer.
std::string AddressOf(const std::string& rawData) {
  if (rawData.size() < 4) return {};
  ByteReader reader(AsBytes(rawData));
  const uint32_t a = reader.readBe32();
  return Sprintf("%d.%d.%d.%d", static_cast<int>(a >> 24), static_cast<int>(a >> 16 & 0xFF),
                 static_cast<int>(a >> 8 & 0xFF), static_cast<int>(a & 0xFF));
}

}  // namespace

void TResultRecord::Assign(const TResultRecord& source) {
  RefuseAssign(source);
}

void TResultRecord::RefuseAssign(const TResultRecord& source) const {
  throw EIdConvertError(
      Sprintf("Impossible de copier un %s dans un %s", source.ClassName(), ClassName()));
}

void TResultRecord::ParseRdata(std::span<const uint8_t>, size_t) {}

void TRDATARecord::Assign(const TResultRecord& source) {
  if (const auto* a = dynamic_cast<const TARecord*>(&source)) {
    AddressText = a->AddressText;
    return;
  }
  TResultRecord::Assign(source);
}

void TRDATARecord::ParseRdata(std::span<const uint8_t>, size_t) {
  // An RDATA of one to three bytes holds no address: the text stays empty.
  AddressText = AddressOf(RawData);
}

void TNAMERecord::Assign(const TResultRecord& source) {
  if (const auto* n = dynamic_cast<const TNAMERecord*>(&source)) {
    TargetName = n->TargetName;
    return;
  }
  TResultRecord::Assign(source);
}

void TNAMERecord::ParseRdata(std::span<const uint8_t> message, size_t start) {
  TargetName = DecodeName(message, start);
}

void TMXRecord::Assign(const TResultRecord& source) {
  if (const auto* mx = dynamic_cast<const TMXRecord*>(&source)) {
    Exchange = mx->Exchange;
    MxPreference = mx->MxPreference;
    return;
  }
  TResultRecord::Assign(source);
}

void TMXRecord::ParseRdata(std::span<const uint8_t> message, size_t start) {
  MxPreference = Be16At(message, start);
  Exchange = DecodeName(message, start);
}

void TSOARecord::ParseRdata(std::span<const uint8_t> message, size_t start) {
  PrimaryServer = DecodeName(message, start);
  ResponsibleMailbox = DecodeName(message, start);
  SerialNumber = Be32At(message, start);
  RefreshSeconds = Be32At(message, start);
  RetrySeconds = Be32At(message, start);
  ExpireSeconds = Be32At(message, start);
  MinimumSeconds = Be32At(message, start);
}

void TTextRecord::ParseRdata(std::span<const uint8_t> message, size_t start) {
  Strings.clear();
  // Each non-empty string moves at least two bytes on, so this ends.
  for (;;) {
    std::string s = ReadCharacterString(message, start);
    if (s.empty()) break;
    Strings.push_back(std::move(s));
  }
}

void THINFORecord::ParseRdata(std::span<const uint8_t> message, size_t start) {
  TTextRecord::ParseRdata(message, start);
  CpuText = ReadCharacterString(message, start);
  OsText = ReadCharacterString(message, start);
}

void TMINFORecord::ParseRdata(std::span<const uint8_t> message, size_t start) {
  ResponsibleMailbox = DecodeName(message, start);
  ErrorsMailbox = DecodeName(message, start);
}

void TWKSRecord::ParseRdata(std::span<const uint8_t>, size_t) {
  // Only RawData is read; the fields that a short RDATA lacks stay empty.
  AddressText = AddressOf(RawData);
  ProtocolNumber = RawData.size() > 4 ? static_cast<uint8_t>(RawData[4]) : 0;
  ServiceBits = RawData.size() > 5 ? RawData.substr(5) : std::string();
}

TResultRecord& TQueryResult::Item(int index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range(Sprintf("Index de liste hors limites (%d)", index));
  return *items_[static_cast<size_t>(index)];
}

void TQueryResult::Delete(int index) {
  Item(index);
  items_.erase(items_.begin() + index);
}

TResultRecord& TQueryResult::AddForType(uint16_t type) {
  // TYPE 1..16 select their class; the selection repeats every 128 codes
  // (TYPE 129 selects like TYPE 1), any other code gives a plain record.
  switch ((type + 127) % 128 + 1) {
    case 1:
      return Add<TARecord>();
    case 2:
      return Add<TNSRecord>();
    case 5:
      return Add<TNAMERecord>();
    case 6:
      return Add<TSOARecord>();
    case 11:
      return Add<TWKSRecord>();
    case 12:
      return Add<TPTRRecord>();
    case 13:
      return Add<THINFORecord>();
    case 14:
      return Add<TMINFORecord>();
    case 15:
      return Add<TMXRecord>();
    case 16:
      return Add<TTextRecord>();
    default:
      return Add<TResultRecord>();
  }
}

void TQueryResult::TakeFrom(TQueryResult& other) {
  items_ = std::move(other.items_);
  other.items_.clear();
  for (auto& item : items_) item->collection_ = this;
  QuestionName = std::move(other.QuestionName);
  QuestionClass = other.QuestionClass;
  QuestionType = other.QuestionType;
}

}  // namespace quillon
