// The lookup operations and the ICMP reply report; see lookup_operations.h.
#include "app/lookup/lookup_operations.h"

#include <cerrno>
#include <cstring>

#include "app/lookup/idn.h"
#include "net/dns/records.h"
#include "net/socket/platform.h"
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

std::string SocketFailureReason(int code) {
  int error = 0;
  if (code >= platform::kUntranslatedBase) {
    error = code - platform::kUntranslatedBase;
  } else if (code == 10024) {
    error = EMFILE;  // shared with ENFILE; the process's own limit is the usual one
  } else if (code == 10055) {
    error = ENOBUFS;  // shared with ENOMEM
  } else {
    for (int e = 1; e < 256 && error == 0; ++e)
      if (platform::TranslateErrno(e) == code) error = e;
  }
  if (error == 0) return "socket error " + std::to_string(code);
  std::string text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
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
  // The window's resolver is active from the start; here its socket is
  // opened by the first MX lookup instead, so that operations that never
  // ask DNS (every name of a ping list) hold no descriptor for it.

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

void TLookupOperations::ReportFailure(TLookupFailure failure, int dnsStatus) {
  if (TLookupEvents* e = Event()) e->Failed(failure, dnsStatus);
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
  std::string server;
  std::string query;
  if (const auto address = AddressLiteral(hostText)) {
    // An address has no labels to choose by or to cut: it goes as it is to
    // the server of names without one of their own.
    server = WhoisServerOf("");
    query = *address;
  } else {
    // Names go out as A-labels; the server choice and the query use that form.
    std::string wireName;
    try {
      wireName = ToWireName(hostText);
    } catch (const EIdnNameRefused&) {
      failed_ = true;
      Append(kErrorWhois);
      ReportFailure(TLookupFailure::NameRefused);
      return;
    }
    server = WhoisServerOf(domaineext(wireName));
    query = Trim(nowww(wireName));
  }
  IdWhois1.SetHost(server);
  IdWhois1.SetPort(WhoisPort);
  if (TLookupEvents* e = Event()) e->WhoisAsked(IdWhois1.Host(), WhoisPort, query);
  // However the server trickles its answer, the whole exchange ends in time:
  // past the limit it fails as a silent server does.
  WhoisTransport.Arm(WhoisTimeLimit, 0);
  try {
    const std::string answer = NormaliseLineBreaks(IdWhois1.QueryWhois(query));
    CheckInterrupted();
    Replace(answer);
    if (TLookupEvents* e = Event()) e->WhoisAnswered(answer);
  } catch (...) {
    failed_ = true;
    Append(kErrorWhois);
    ReportFailure(WhoisFailureOf(std::current_exception()));
  }
  WhoisTransport.Disarm();
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
  // Cleared, so that a failure shows by it whether a reply was read.
  IdDNSResolver1.Header().FlagWord = 0;
  std::string domain;
  try {
    domain = Trim(nowww(ToWireName(hostText)));
    if (TLookupEvents* e = Event()) e->MxAsked(domain, IdDNSResolver1.Host);
    IdDNSResolver1.RunQuery(domain);
  } catch (...) {
    CheckInterrupted();
    failed_ = true;
    Append(kErrorNoMx + hostText);
    int status = 0;
    const TLookupFailure failure =
        DnsFailureOf(std::current_exception(), IdDNSResolver1, domain, status);
    ReportFailure(failure, status);
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
    if (TLookupEvents* e = Event()) e->MxExchanger(mx->Exchange, mx->MxPreference);
  }
  if (!found) Append("but no MX entry !");
}

bool TLookupOperations::PrepareIcmp(int ttl) {
  int code = 0;
  try {
    IdIcmpClient.SetPacketTtl(ttl);
    return true;
  } catch (const EIdSocketError& e) {
    code = e.SocketErrorCode;
  } catch (...) {
    // Opening the socket failed (EIdInvalidSocket): the number is the one
    // its failed call left.
    code = SharedStack().LastErrorCode();
  }
  CheckInterrupted();
  failed_ = true;
  // Only a refusal says that the rights are missing; out of descriptors or
  // buffers is another fault, named as such.
  if (code == kSocketAccessDenied) {
    Append(kErrorIcmpNotAllowed);
    ReportFailure(TLookupFailure::IcmpNotAllowed);
  } else {
    Append(kErrorIcmpSocket + SocketFailureReason(code));
    ReportFailure(TLookupFailure::IcmpSocketFailed);
  }
  return false;
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
    ReportFailure(HostFailureOf(std::current_exception()));
    return false;
  }
  if (TLookupEvents* e = Event()) e->EchoTarget(IdIcmpClient.Host);
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
    ReportFailure(TLookupFailure::EchoFailed);
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
  std::string name;  // the replier's name, on the lines that show it
  switch (status.Outcome) {
    case roEchoReply:
      if (client->Tag.load() != 2) Append("");
      name = HostNameOf(status.SourceAddress);
      Append(Sprintf("response from host %s in %d ms.\t[%s]", status.SourceAddress.c_str(),
                     roundTrip, name.c_str()));
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
      name = HostNameOf(status.SourceAddress);
      Append(Sprintf("%d :\t%s\tin %d ms\t[%s]", client->PacketTtl(), status.SourceAddress.c_str(),
                     roundTrip, name.c_str()));
      break;
  }
  if (TLookupEvents* e = Event()) e->EchoReported(status, client->PacketTtl(), name);
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
