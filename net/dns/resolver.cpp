#include "net/dns/resolver.h"

#include <sys/random.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>

#include "net/dns/dns_error.h"
#include "net/dns/dns_names.h"
#include "net/socket/byte_reader.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

constexpr int kHeaderLength = 12;
constexpr uint16_t kRecursionDesired = 0x0100;
constexpr uint16_t kClassIN = 1;
// Datagrams dropped before a query at most; more than this many waiting is
// a flood, and any left over are still filtered by sender and ID.
constexpr int kMaxDiscarded = 256;

const std::array<const char*, 6> kResponseCodeTexts = {
    "Erreur RCode NO",
    "Le serveur DNS signale une erreur de format de requête",
    "Le serveur DNS signale une erreur de serveur de requête",
    "Le serveur DNS signale une erreur de nom de requête",
    "Le serveur DNS signale une erreur de requête non implémentée",
    "Le serveur DNS signale une erreur de requête refusée"};

void PutBe16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value & 0xFF));
}

}  // namespace

TDNSHeader::TDNSHeader() : MessageId(DrawMessageId()) {}

uint16_t TDNSHeader::DrawMessageId() {
  for (;;) {
    uint16_t id = 0;
    if (getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id)) {
      std::random_device device;
      id = static_cast<uint16_t>(device());
    }
    if (id != 0xFFFF) return id;
  }
}

TIdDNSResolver::TIdDNSResolver() {
  Port = 53;
}

void TIdDNSResolver::BuildQuery(const std::string& name) {
  queryText_.clear();
  if (QueryRecords.Empty()) return;
  std::string query;
  PutBe16(query, header_.MessageId);
  PutBe16(query, AllowRecursiveQueries ? kRecursionDesired : 0);
  PutBe16(query, static_cast<uint16_t>(QueryRecords.Count()));
  PutBe16(query, 0);
  PutBe16(query, 0);
  PutBe16(query, 0);
  // Reverse lookups are asked under in-addr.arpa unless the name already is.
  const bool reverse = Pos("in-addr", name) == 0;
  for (int k = 0; k < kQueryRecordTypeCount; ++k) {
    const auto kind = static_cast<TQueryRecordTypes>(k);
    if (!QueryRecords.Contains(kind)) continue;
    EncodeQueryName(query, name, kind == qtPTR && reverse);
    PutBe16(query, QueryTypeCode(kind));
    PutBe16(query, kClassIN);
  }
  header_.FlagWord = AllowRecursiveQueries ? kRecursionDesired : 0;
  header_.QuestionCount = static_cast<uint16_t>(QueryRecords.Count());
  queryText_ = std::move(query);
}

void TIdDNSResolver::RunQuery(const std::string& name) {
  header_.MessageId = TDNSHeader::DrawMessageId();
  BuildQuery(name);
  if (queryText_.empty()) throw EIdDnsResolverError(Sprintf("Nombre de requêtes incorrect %d", 0));
  const std::string serverIp = SharedStack().ResolveHostName(Host);
  DiscardWaitingDatagrams();
  SendTextTo(serverIp, Port, queryText_);
  ParseReply(ReceiveFromServer(serverIp));
}

void TIdDNSResolver::DiscardWaitingDatagrams() {
  TIdSocketHandle& handle = AcquireSocket();
  std::array<uint8_t, 512> scratch;
  std::string ip;
  int port = 0;
  for (int i = 0; i < kMaxDiscarded && handle.WaitReadable(0); ++i)
    SharedStack().CheckSocketResult(
        handle.ReceiveDatagram(scratch.data(), scratch.size(), 0, ip, port));
}

std::string TIdDNSResolver::ReceiveFromServer(const std::string& serverIp) {
  using Clock = std::chrono::steady_clock;
  const int timeout = ReceiveTimeout;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  std::string datagram(static_cast<size_t>(std::max(BufferSize, 0)), '\0');
  for (;;) {
    int wait = timeout;
    if (timeout >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = static_cast<int>(std::max<decltype(left)>(left, 0));
    }
    std::string ip;
    int port = 0;
    const int count = ReceiveBytes(datagram.data(), BufferSize, wait, ip, port);
    if (ip.empty()) return {};  // nothing came in time
    // By address and scope, not by text: resolv.conf may give the zone of a
    // link-local server by index where the reply names its interface.
    if (port == Port && TIdStack::SameAddress(ip, serverIp)) {
      datagram.resize(static_cast<size_t>(count));
      return datagram;
    }
    // Someone else's datagram: ignored, the wait goes on for the time left.
    if (timeout >= 0 && Clock::now() >= deadline) return {};
  }
}

void TIdDNSResolver::ParseReply(const std::string& reply) {
  ParseReply(AsBytes(reply));
}

void TIdDNSResolver::ParseReply(std::span<const uint8_t> reply) {
  if (reply.size() <= 4) throw EIdDnsResolverError("Expiré (TimedOut)");
  ByteReader reader(reply);
  if (reader.readBe16() != header_.MessageId)
    throw EIdDnsResolverError(Sprintf("ID d'en-tête incorrect %d", header_.MessageId));
  header_.FlagWord = reader.readBe16();
  const int rcode = header_.ResponseCode();
  if (rcode != 0)
    throw EIdDnsResolverError(rcode < static_cast<int>(kResponseCodeTexts.size())
                                  ? kResponseCodeTexts[static_cast<size_t>(rcode)]
                                  : "Le serveur a renvoyé une erreur inconnue");
  if (reply.size() < kHeaderLength)
    throw EIdDnsResolverError(
        Sprintf("Le paquet reçu est trop petit (inférieur à 12 octets %d)", 29));
  if (reply.size() < queryText_.size())
    throw EIdDnsResolverError(
        Sprintf("Le paquet reçu est trop petit (inférieur à 12 octets %d)", 30));
  header_.QuestionCount = reader.readBe16();
  header_.AnswerCount = reader.readBe16();
  header_.AuthorityCount = reader.readBe16();
  header_.AdditionalCount = reader.readBe16();

  // The records are read into a fresh collection that replaces Results only
  // once the whole reply has been read.
  TQueryResult fresh;
  fresh.QuestionName = results_.QuestionName;
  fresh.QuestionClass = results_.QuestionClass;
  fresh.QuestionType = results_.QuestionType;
  const uint16_t records =
      static_cast<uint16_t>(header_.AnswerCount + header_.AuthorityCount + header_.AdditionalCount);
  if (records > 0 && reply.size() > kHeaderLength) {
    try {
      size_t p = kHeaderLength;
      // A record takes at least 11 bytes, whatever the counts announce.
      fresh.Reserve(std::min<size_t>(records, reply.size() / 11));
      // Every question is stepped over; the first one is kept.
      for (int q = 0; q < header_.QuestionCount; ++q) {
        std::string qname = DecodeName(reply, p);
        reader.seek(p);
        const uint16_t qtype = reader.readBe16();
        const uint16_t qclass = reader.readBe16();
        p = reader.position();
        if (q == 0) {
          fresh.QuestionName = std::move(qname);
          fresh.QuestionType = qtype;
          fresh.QuestionClass = qclass;
        }
      }
      for (int i = 0; i < records; ++i) {
        std::string owner = DecodeName(reply, p);
        reader.seek(p);
        const uint16_t type = reader.readBe16();
        const uint16_t klass = reader.readBe16();
        const uint32_t ttl = reader.readBe32();
        const uint16_t rdLength = reader.readBe16();
        const size_t rdStart = reader.position();
        const std::span<const uint8_t> rdata = reader.readBytes(rdLength);

        TResultRecord& record = fresh.AddForType(type);
        record.Kind = KindOfTypeCode(type);
        record.ClassCode = klass;
        record.OwnerName = std::move(owner);
        record.TtlSeconds = ttl;
        record.RawData.assign(reinterpret_cast<const char*>(rdata.data()), rdata.size());
        record.RawDataLength = rdLength;
        record.ParseRdata(reply.first(rdStart + rdLength), rdStart);
        p = rdStart + rdLength;
      }
    } catch (const ByteReaderShort&) {
      RaiseMalformedReply();
    }
  }
  results_.TakeFrom(fresh);
}

}  // namespace quillon
