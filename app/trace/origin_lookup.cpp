#include "app/trace/origin_lookup.h"

#include "app/trace/origin_txt.h"

namespace quillon {

std::optional<uint32_t> LookUpOriginAs(const std::string& address, const TDnsServer& server,
                                       const std::atomic<bool>* interrupted) {
  const std::optional<std::string> name = OriginQueryName(address);
  if (!name || server.address.empty()) return std::nullopt;
  TDnsExchangeOptions options;
  options.interrupted = interrupted;
  const TDnsMessage reply = AskDns(server, {*name, kDnsTypeTXT, kDnsClassIN}, options);
  if (reply.rcode != 0) return std::nullopt;
  for (const TDnsRecord& record : reply.answers)
    if (record.type == kDnsTypeTXT && record.rclass == kDnsClassIN)
      return OriginAsOf(DnsTxtStrings(reply, record));
  return std::nullopt;
}

}  // namespace quillon
