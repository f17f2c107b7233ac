// Reading a public-address answer; see public_address_answer.h.
#include "app/lookup/public_address_answer.h"

#include <algorithm>

#include "net/socket/text_helpers.h"

namespace quillon {

bool IsDottedIPv4(std::string_view text) {
  int parts = 0;
  while (true) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

std::optional<std::string> AddressFromText(std::string_view text) {
  if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
    text.remove_suffix(2);
  else if (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '\t'))
    text.remove_suffix(1);
  if (!IsDottedIPv4(text)) return std::nullopt;
  return std::string(text);
}

namespace {

std::string RcodeName(int rcode) {
  switch (rcode) {
    case kDnsFormErr:
      return "FORMERR";
    case kDnsServFail:
      return "SERVFAIL";
    case kDnsNxDomain:
      return "NXDOMAIN";
    case kDnsNotImp:
      return "NOTIMP";
    case kDnsRefused:
      return "REFUSED";
    default:
      return std::to_string(rcode);
  }
}

}  // namespace

TDnsQuestion PublicAddressQuestion(const TPublicAddressSource& source) {
  TDnsQuestion question;
  question.name = source.name;
  question.type = source.kind == TSourceKind::DnsA ? kDnsTypeA : kDnsTypeTXT;
  question.qclass = source.kind == TSourceKind::DnsChaos ? kDnsClassCH : kDnsClassIN;
  return question;
}

TSourceReading ReadPublicAddressAnswer(const TDnsMessage& message, const TDnsQuestion& question) {
  if (message.Truncated()) return {{}, "truncated answer"};
  if (message.rcode != kDnsNoError) return {{}, "DNS status " + RcodeName(message.rcode)};
  const std::string name = LowerCase(question.name);
  const char* type = question.type == kDnsTypeA ? "A" : "TXT";
  // Only records of the name, type and class asked count; an address must
  // be the only one given (the same one twice is still one).
  std::vector<std::string> addresses;
  bool ofThisType = false;
  bool otherClass = false;
  bool unreadable = false;
  try {
    for (const TDnsRecord& record : message.answers) {
      if (LowerCase(record.owner) != name || record.type != question.type) continue;
      if (record.rclass != question.qclass) {
        otherClass = true;
        continue;
      }
      ofThisType = true;
      std::optional<std::string> address;
      if (question.type == kDnsTypeA) {
        const auto rdata = message.Rdata(record);
        if (rdata.size() == 4)
          address = Sprintf("%u.%u.%u.%u", rdata[0], rdata[1], rdata[2], rdata[3]);
      } else {
        // One string that is the address; a record of several strings is
        // no address, however they would join.
        const std::vector<std::string> strings = DnsTxtStrings(message, record);
        if (strings.size() == 1) address = AddressFromText(strings[0]);
      }
      if (!address) {
        unreadable = true;
        continue;
      }
      if (std::find(addresses.begin(), addresses.end(), *address) == addresses.end())
        addresses.push_back(*address);
    }
  } catch (const EDnsMalformedMessage&) {
    return {{}, "malformed answer"};
  }
  if (addresses.size() == 1) return {addresses[0], {}};
  if (addresses.size() > 1) return {{}, "several addresses in the answer"};
  if (unreadable) return {{}, "not an IPv4 address"};
  if (otherClass && !ofThisType) return {{}, "answer of another class"};
  return {{}, std::string("no ") + type + " record for " + question.name};
}

}  // namespace quillon
