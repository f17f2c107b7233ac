#include "app/dns/dns_command.h"

#include <charconv>
#include <chrono>
#include <cmath>

#include <nlohmann/json.hpp>

#include "app/dns/reverse_name.h"
#include "app/lookup/domain_helpers.h"
#include "app/lookup/idn.h"
#include "net/dns/dns_exchange.h"
#include "net/dns/dns_presentation.h"
#include "net/socket/component.h"
#include "net/socket/stack.h"
#include "net/socket/text_helpers.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

// Socket library codes the failure line puts in words.
constexpr int kConnectionRefused = 10061;
constexpr int kNetworkUnreachable = 10051;
constexpr int kHostUnreachable = 10065;

class TDnsRun {
 public:
  TDnsRun(const TDnsAsk& ask, const TDnsCommandOptions& options, std::FILE* out)
      : ask_(ask), options_(options), out_(out) {}

  int Run();
  // The one "Error DNS:" line (or JSON object); always 1.
  int Fail(const std::string& reason);

 private:
  // The server's address, or nothing once the failure is written.
  std::optional<std::string> ServerAddress();
  std::string SocketFailure(int code, const std::string& address) const;
  int Print(const TDnsMessage& m, const std::string& address, long long ms);

  const TDnsAsk& ask_;
  const TDnsCommandOptions& options_;
  std::FILE* out_;
};

int TDnsRun::Fail(const std::string& reason) {
  if (options_.output == TDnsOutput::Json && options_.printJson) {
    options_.printJson(out_, {{"name", ask_.name}, {"type", DnsTypeName(ask_.type)},
                              {"error", reason}});
  } else {
    std::fprintf(out_, "Error DNS: %s\n", reason.c_str());
  }
  return 1;
}

std::optional<std::string> TDnsRun::ServerAddress() {
  const std::string server =
      options_.server.empty() ? getdns(options_.resolvConf) : options_.server;
  if (server.empty()) {
    Fail("no nameserver in " + options_.resolvConf);
    return std::nullopt;
  }
  if (TIdStack::IsIPLiteral(server)) return SharedStack().ResolveHostName(server);
  // A host name is found as ping finds a host: IPv4 when it has an IPv4
  // address, else IPv6.
  try {
    return SharedStack().ResolveHostName(ToWireName(server));
  } catch (const EIdException&) {
    Fail("cannot find the server " + server);
    return std::nullopt;
  }
}

std::string TDnsRun::SocketFailure(int code, const std::string& address) const {
  const std::string where = address + " port " + std::to_string(options_.port);
  switch (code) {
    case kConnectionRefused:
      return "connection refused by " + where;
    case kNetworkUnreachable:
    case kHostUnreachable:
      return "no route to " + address;
    default:
      return "the question to " + where + " failed (socket error " + std::to_string(code) + ")";
  }
}

int TDnsRun::Run() {
  // A component keeps the socket stack up while the server is looked up.
  const TIdComponent stackOwner;
  const std::optional<std::string> address = ServerAddress();
  if (!address) return 1;

  TDnsQuestion question{ask_.name, ask_.type, kDnsClassIN};
  try {
    question.name = ToWireName(ask_.name);
  } catch (const EIdException&) {
    return Fail(ask_.name + " is not a valid domain name");
  }
  TDnsExchangeOptions exchange;
  exchange.tcp = options_.tcp;
  exchange.udpTry = options_.udpTry;
  exchange.tcpLimit = options_.tcpLimit;
  exchange.interrupted = options_.interrupted;
  if (options_.pacer)
    exchange.beforeSend = [pacer = options_.pacer, stop = options_.interrupted] {
      pacer->Wait(stop);
    };
  const Clock::time_point start = Clock::now();
  TDnsMessage reply;
  try {
    reply = AskDns({*address, options_.port}, question, exchange);
  } catch (const EDnsNoAnswer&) {
    return Fail("no answer from " + *address);
  } catch (const EDnsInterrupted&) {
    return Fail("interrupted");
  } catch (const EIdSocketError& e) {
    return Fail(SocketFailure(e.SocketErrorCode, *address));
  } catch (const EIdDnsResolverError&) {
    // The only refusal before anything is sent: a name that cannot be
    // written (an empty label, a label over 63 bytes, a name over 255).
    return Fail(ask_.name + " is not a valid domain name");
  } catch (const EIdException&) {
    return Fail("the question to " + *address + " failed");
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return Print(reply, *address, ms.count());
}

int TDnsRun::Print(const TDnsMessage& m, const std::string& address, long long ms) {
  constexpr uint16_t kAny = 255;
  bool found = false;
  for (const TDnsRecord& r : m.answers) found = found || r.type == ask_.type || ask_.type == kAny;
  const std::string missing = "No " + DnsTypeName(ask_.type) + " record for " + ask_.name + " (" +
                              DnsRcodeName(m.rcode) + ")";
  if (options_.output == TDnsOutput::Json && options_.printJson) {
    nlohmann::json answer = nlohmann::json::array();
    for (const TDnsRecord& r : m.answers)
      answer.push_back({{"name", AbsoluteDnsName(r.owner)},
                        {"ttl", r.ttl},
                        {"class", DnsClassName(r.rclass)},
                        {"type", DnsTypeName(r.type)},
                        {"data", DnsRdataText(m, r)}});
    options_.printJson(out_, {{"name", ask_.name},
                              {"type", DnsTypeName(ask_.type)},
                              {"server", address},
                              {"status", DnsRcodeName(m.rcode)},
                              {"flags", DnsFlagNames(m.flags)},
                              {"answer", std::move(answer)},
                              {"time_ms", ms}});
    return found ? 0 : 1;
  }
  std::string text;
  for (const TDnsRecord& r : m.answers) {
    text += options_.output == TDnsOutput::Short ? DnsRdataText(m, r) : DnsRecordLine(m, r);
    text += '\n';
  }
  if (!found) text += missing + '\n';
  std::fwrite(text.data(), 1, text.size(), out_);
  return found ? 0 : 1;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The name shown and asked: one final dot dropped ("." stays the root).
std::string WithoutFinalDot(std::string name) {
  if (name.size() > 1 && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace

int RunDns(const TDnsAsk& ask, const TDnsCommandOptions& options, std::FILE* out) {
  TDnsAsk plain = ask;
  plain.name = WithoutFinalDot(ask.name);
  TDnsRun run(plain, options, out);
  const int status = run.Run();
  std::fflush(out);
  return status;
}

int RunDnsLine(const std::string& line, const TDnsCommandOptions& options, std::FILE* out) {
  const std::vector<std::string> words = Words(line);
  TDnsAsk ask{words.empty() ? line : WithoutFinalDot(words[0]), options.type};
  if (words.size() == 2) {
    if (const auto type = DnsTypeFromText(words[1])) return RunDns({ask.name, *type}, options, out);
    return TDnsRun(ask, options, out).Fail(words[1] + " is not a record type");
  }
  if (words.size() != 1) return TDnsRun(ask, options, out).Fail("a line holds NAME or NAME TYPE");
  return RunDns(ask, options, out);
}

std::optional<int> ParseDnsPort(const std::string& text) {
  int port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || text[0] == '+' ||
      port < 1 || port > 65535)
    return std::nullopt;
  return port;
}

std::optional<double> ParseDnsRate(const std::string& text) {
  double rate = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(rate) ||
      rate <= 0 || rate > 1e6)
    return std::nullopt;
  return rate;
}

std::string CheckDnsWords(const std::optional<std::string>& typeOption,
                          const std::vector<std::string>& words,
                          const std::optional<std::string>& reverseAddress,
                          const std::optional<std::string>& port,
                          const std::optional<std::string>& rate, bool shortOutput, bool json) {
  for (const std::string* type : {typeOption ? &*typeOption : nullptr,
                                  words.empty() ? nullptr : &words[0]})
    if (type && !DnsTypeFromText(*type)) return "dns: unknown type '" + *type + "'";
  if (reverseAddress) {
    if (typeOption || !words.empty()) return "dns: -x takes no TYPE (it asks for PTR)";
    if (!ReverseDnsName(*reverseAddress))
      return "dns: -x needs an IPv4 or IPv6 address, not '" + *reverseAddress + "'";
  }
  if (typeOption && !words.empty()) return "dns: TYPE given twice";
  if (port && !ParseDnsPort(*port)) return "dns: -p needs a port from 1 to 65535";
  if (rate && !ParseDnsRate(*rate))
    return "dns: --rate needs a number of questions per second above 0";
  if (shortOutput && json) return "dns: --short and --json do not go together";
  return {};
}

}  // namespace quillon
