// A DNS stub resolver over UDP (RFC 1035 section 4): one query with a
// question per chosen record type, sent to one server, one reply read back,
// checked and turned into result records.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "net/dns/query_types.h"
#include "net/dns/records.h"
#include "net/dns/udp_client.h"

namespace quillon {

// The header of the last query and, once a reply is read, of that reply.
struct TDNSHeader {
  TDNSHeader();
  // A fresh unpredictable ID in 0..65534 (RFC 5452 section 9.2).
  static uint16_t DrawMessageId();

  uint16_t MessageId = 0;
  uint16_t FlagWord = 0;
  uint16_t QuestionCount = 0;
  uint16_t AnswerCount = 0;
  uint16_t AuthorityCount = 0;
  uint16_t AdditionalCount = 0;

  int ResponseCode() const { return FlagWord & 0x0F; }
};

class TIdDNSResolver : public TIdUDPClient {
 public:
  TIdDNSResolver();

  // Builds the query for `name`, sends it to Host:Port, waits ReceiveTimeout
  // for the server's reply and fills Results. Every failure of the exchange
  // or of the reply raises EIdDnsResolverError.
  void RunQuery(const std::string& name);

  // The query for `name` with the current header's MessageId, kept as
  // QueryText(); empty when QueryRecords is empty.
  void BuildQuery(const std::string& name);
  // Checks a reply against the last query and reads its records into
  // Results. Results change only when the whole reply could be read.
  void ParseReply(std::span<const uint8_t> reply);
  void ParseReply(const std::string& reply);

  const TQueryResult& Results() const { return results_; }
  TDNSHeader& Header() { return header_; }
  const std::string& QueryText() const { return queryText_; }

  bool AllowRecursiveQueries = true;
  TQueryType QueryRecords;

 private:
  // Reads any datagrams already waiting, so that none is taken as the
  // answer to the query about to be sent.
  void DiscardWaitingDatagrams();
  // The datagram that serverIp:Port sends within ReceiveTimeout; datagrams
  // from any other sender are dropped. Empty when none came.
  std::string ReceiveFromServer(const std::string& serverIp);

  TDNSHeader header_;
  TQueryResult results_;
  std::string queryText_;
};

}  // namespace quillon
