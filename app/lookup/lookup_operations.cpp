// The lookup operations and the ICMP reply report; see lookup_operations.h.
#include "app/lookup/lookup_operations.h"

#include "app/lookup/idn.h"

#include "net/dns/records.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {

std::string NormaliseLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

TLookupOperations::TLookupOperations(TLookupView& view) : view_(view) {
  // The window's settings of its components.
  IdWhois1.SetIOHandler(&WhoisTransport);
  IdWhois1.SetHost(WhoisServerFor("com"));
  IdWhois1.SetPort(43);
  IdWhois1.ReadTimeout = 5000;
  IdWhois1.MaxLineAction = maException;

  IdDNSResolver1.Port = 53;
  IdDNSResolver1.ReceiveTimeout = 5000;
  IdDNSResolver1.QueryRecords = TQueryType{qtMX};
  IdDNSResolver1.SetActive(true);

  IdIcmpClient.OnReply = [this](TIdBaseComponent* sender, const TReplyStatus& status) {
    IdIcmpClientReply(sender, status);
  };

  IdIPWatch1.HistoryEnabled = false;
  IdIPWatch1.HistoryFilename = "iphist.dat";
  IdIPWatch1.SetActive(false);
}

TLookupOperations::~TLookupOperations() {
  try {
    IdWhois1.SetIOHandler(nullptr);
  } catch (...) {
    // Nothing to report while going away.
  }
}

void TLookupOperations::Interrupt() {
  interrupted_.store(true);
  IdDNSResolver1.WakeWait();
  WhoisTransport.WakeWait();
  PublicAddress.Interrupt();
}

void TLookupOperations::CheckInterrupted() const {
  if (interrupted_.load()) throw EOperationInterrupted("Interrupted");
}

void TLookupOperations::Clear() {
  if (!interrupted_.load()) view_.ClearText();
}
void TLookupOperations::Append(const std::string& line) {
  if (!interrupted_.load()) view_.AppendLine(line);
}
void TLookupOperations::Replace(const std::string& text) {
  if (!interrupted_.load()) view_.ReplaceText(text);
}
void TLookupOperations::Caption(TInfoLabel label, const std::string& caption) {
  if (!interrupted_.load()) view_.SetCaption(label, caption);
}
void TLookupOperations::Colour(TInfoLabel label, TColour colour) {
  if (!interrupted_.load()) view_.SetColour(label, colour);
}

void TLookupOperations::RunOperation(int code, const std::string& hostText) {
  failed_ = false;
  try {
    CheckInterrupted();
    Clear();
    switch (code) {
      case opWhois:
        Whois(hostText);
        break;
      case opDnsMx:
        DnsMx(hostText);
        break;
      case opPing:
        Ping(hostText);
        break;
      case opTraceRoute:
        TraceRoute(hostText);
        break;
      case opLocalInfo:
        LocalInfo();
        break;
      default:
        break;
    }
  } catch (...) {
    // Interrupted (the window is closing), or a failure outside the
    // operations' own handling: the run simply ends.
  }
}

void TLookupOperations::Whois(const std::string& hostText) {
  // Names go out as A-labels; the server choice and the query use that form.
  std::string wireName;
  try {
    wireName = ToWireName(hostText);
  } catch (const EIdnNameRefused&) {
    failed_ = true;
    Append(kErrorWhois);
    return;
  }
  IdWhois1.SetHost(WhoisServerOf(domaineext(wireName)));
  IdWhois1.SetPort(WhoisPort);
  const std::string query = Trim(nowww(wireName));
  try {
    const std::string answer = IdWhois1.QueryWhois(query);
    CheckInterrupted();
    Replace(NormaliseLineBreaks(answer));
  } catch (...) {
    failed_ = true;
    Append(kErrorWhois);
  }
  try {
    if (IdWhois1.IsConnected()) IdWhois1.CloseConnection();
  } catch (...) {
    // The answer or the error line is written already.
  }
  CheckInterrupted();
}

void TLookupOperations::DnsMx(const std::string& hostText) {
  IdDNSResolver1.Host = getdns(ResolvConfPath);
  IdDNSResolver1.Port = DnsPort;
  IdDNSResolver1.QueryRecords = TQueryType{qtMX};
  try {
    IdDNSResolver1.RunQuery(Trim(nowww(ToWireName(hostText))));
  } catch (...) {
    CheckInterrupted();
    failed_ = true;
    Append(kErrorNoMx + hostText);
    return;
  }
  Append("Found DNS entry for " + hostText);
  const TQueryResult& results = IdDNSResolver1.Results();
  bool found = false;
  for (int i = 0; i < results.Count(); ++i) {
    const TResultRecord& record = results[i];
    if (record.Kind != qtMX) continue;
    const auto* mx = dynamic_cast<const TMXRecord*>(&record);
    if (!mx) continue;  // the resolver gives the MX kind to MX records only
    found = true;
    Append("Found #" + std::to_string(i + 1) + ": " + mx->Exchange);
  }
  if (!found) Append("but no MX entry !");
}

bool TLookupOperations::PrepareIcmp(int ttl) {
  try {
    IdIcmpClient.SetPacketTtl(ttl);
    return true;
  } catch (...) {
    CheckInterrupted();
    failed_ = true;
    Append(kErrorIcmpNotAllowed);
    return false;
  }
}

void TLookupOperations::Ping(const std::string& hostText) {
  ReplyCount = 0;
  ReplyTimeTotal = 0;
  IdIcmpClient.Host = hostText;
  IdIcmpClient.SetIPVersion(IcmpFamily == Id_PF_INET6 ? Id_PF_INET6 : Id_PF_INET);
  if (!PrepareIcmp(50)) return;
  IdIcmpClient.ReceiveTimeout = 5000;
  LastReplyAddress.clear();
  IdIcmpClient.Tag.store(2);
  Append("Ping for " + hostText);
  Append("");
  if (!ResolveIcmpHost(hostText)) return;
  for (int i = 0; i < 4; ++i) {
    CheckInterrupted();
    if (!SendOneEcho(hostText)) return;
    LastReplyAddress.clear();
  }
  Append(" ");
  Append(Sprintf("Packages : sent = 4, receipt = %d, lost = %d", static_cast<int>(ReplyCount),
                 4 - static_cast<int>(ReplyCount)));
  // With no reply counted there is no average to form.
  if (ReplyCount == 0)
    Append("Average = n/a");
  else
    Append("Average = " + std::to_string(ReplyTimeTotal / ReplyCount) + " ms");
}

bool TLookupOperations::ResolveIcmpHost(const std::string& hostText) {
  try {
    IdIcmpClient.Host = SharedStack().ResolveHostName(ToWireName(hostText), IcmpFamily);
  } catch (...) {
    CheckInterrupted();
    failed_ = true;
    Append(kErrorHostNotFound + hostText);
    return false;
  }
  const int family = AddressFamilyOf(IdIcmpClient.Host);
  if (family == IdIcmpClient.IPVersion()) return true;
  IdIcmpClient.SetIPVersion(family);
  return PrepareIcmp(IdIcmpClient.PacketTtl());
}

bool TLookupOperations::SendOneEcho(const std::string& hostText) {
  try {
    IdIcmpClient.SendEcho("", 0);
    return true;
  } catch (...) {
    CheckInterrupted();
    failed_ = true;
    Append(kErrorHostNotFound + hostText);
    return false;
  }
}

void TLookupOperations::TraceRoute(const std::string& hostText) {
  ReplyCount = 0;
  ReplyTimeTotal = 0;
  IdIcmpClient.Host = hostText;
  IdIcmpClient.ReceiveTimeout = 5000;
  IdIcmpClient.SetIPVersion(IcmpFamily == Id_PF_INET6 ? Id_PF_INET6 : Id_PF_INET);
  if (!PrepareIcmp(0)) return;
  IdIcmpClient.Tag.store(0);
  // Each trace starts afresh: a first reply from the address that ended the
  // previous trace is reported, not taken as the end.
  LastReplyAddress.clear();
  Append("Trace Route for " + hostText);
  Append("");
  if (!ResolveIcmpHost(hostText)) return;
  for (int probe = 0; probe < 51; ++probe) {
    CheckInterrupted();
    if (!PrepareIcmp(IdIcmpClient.PacketTtl() + 1)) return;
    if (IdIcmpClient.Tag.load() == 1) return;
    if (!SendOneEcho(hostText)) return;
  }
  LastReplyAddress.clear();
}

void TLookupOperations::IdIcmpClientReply(TIdBaseComponent* sender, const TReplyStatus& status) {
  auto* client = dynamic_cast<TIdIcmpClient*>(sender);
  if (!client) return;
  if (status.SourceAddress == LastReplyAddress) {
    client->Tag.store(1);
    return;
  }
  LastReplyAddress = status.SourceAddress;
  const int roundTrip = static_cast<int>(status.RoundTripMs);
  switch (status.Outcome) {
    case roEchoReply:
      if (client->Tag.load() != 2) Append("");
      Append(Sprintf("response from host %s in %d ms.\t[%s]", status.SourceAddress.c_str(),
                     roundTrip, HostNameOf(status.SourceAddress).c_str()));
      ReplyTimeTotal += status.RoundTripMs;
      ++ReplyCount;
      break;
    case roError:
      Append("Unknown error.");
      break;
    case roTimedOut:
      Append("Timed out.");
      break;
    case roUnreachable:
      Append(Sprintf("Host %s reports destination network unreachable.",
                     status.SourceAddress.c_str()));
      break;
    case roTtlExpired:
      Append(Sprintf("%d :\t%s\tin %d ms\t[%s]", client->PacketTtl(), status.SourceAddress.c_str(),
                     roundTrip, HostNameOf(status.SourceAddress).c_str()));
      break;
  }
}

void TLookupOperations::LocalInfo() {
  lastPublicAddress_ = {};
  Colour(TInfoLabel::Online, kOnlineGreen);
  std::string publicAddress;
  if (IdIPWatch1.NetworkUp()) {
    publicAddress = IdIPWatch1.CurrentAddress();
    Caption(TInfoLabel::IP1, publicAddress);
  } else {
    // Every source at once; only a dotted IPv4 address ever comes back.
    lastPublicAddress_ =
        PublicAddress.Run(PublicAddressSources, PublicAddressTimeLimit, PublicAddressWaitAll);
    CheckInterrupted();
    publicAddress = lastPublicAddress_.address;
    if (!publicAddress.empty()) {
      Caption(TInfoLabel::IP1, publicAddress);
    } else {
      failed_ = true;
      Caption(TInfoLabel::Online, "Offline");
      Caption(TInfoLabel::IP1, "");
      Colour(TInfoLabel::Online, kOfflineRed);
    }
  }
  if (!publicAddress.empty()) Caption(TInfoLabel::Online, "Online");
  Caption(TInfoLabel::Local, "Local");
  std::string localAddress;
  try {
    localAddress = IdIPWatch1.QueryLocalAddress();
  } catch (...) {
    // No local address: the label shows empty text.
  }
  Caption(TInfoLabel::IP2, localAddress);
}

}  // namespace quillon
