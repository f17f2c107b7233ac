// Where the public address comes from: the sources (a DNS question to a given
// server, or an HTTP URL), their list syntax, and the list in force (the
// environment variable, else quillon.conf, else the built-in list).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

enum class TSourceKind {
  DnsA,      // dns:NAME@SERVER        type A, the record's address
  DnsTxt,    // dns-txt:NAME@SERVER    type TXT, the string is the address
  DnsChaos,  // dns-chaos:NAME@SERVER  class CH, type TXT
  Http       // http://...             the body is the address
};

struct TPublicAddressSource {
  TSourceKind kind = TSourceKind::Http;
  std::string entry;   // as written in the list, blanks around it removed
  std::string name;    // DNS: the name asked, without a final dot
  std::string server;  // DNS: a host name or an IPv4 address
  int port = 53;       // DNS: the server's port (SERVER:PORT)
  std::string url;     // HTTP
};

inline constexpr const char* kDefaultPublicAddressSources =
    "dns:myip.opendns.com@resolver1.opendns.com, "
    "dns-txt:o-o.myaddr.l.google.com@ns1.google.com, "
    "dns-chaos:whoami.cloudflare@1.1.1.1, "
    "http://api.ipify.org/";
inline constexpr const char* kPublicAddressSourcesVariable = "QUILLON_PUBLIC_ADDRESS_SOURCES";
inline constexpr const char* kPublicAddressSection = "public-address";
inline constexpr const char* kPublicAddressKey = "sources";
// More entries than this are not asked (each source has a thread of its own).
inline constexpr size_t kMaxPublicAddressSources = 16;
inline constexpr size_t kMaxSourceEntry = 1024;

// Reads a comma-separated list; blanks around each entry and empty entries
// are ignored. An entry that cannot be read is left out, and one line naming
// it and saying why (plain English, control bytes shown as \xHH) is added to
// `skipped`.
std::vector<TPublicAddressSource> ParsePublicAddressSources(std::string_view list,
                                                            std::vector<std::string>* skipped);

// The built-in list.
std::vector<TPublicAddressSource> DefaultPublicAddressSources();

// The text of the list in force: `variable` when it is set (even to the
// empty text; nullptr when unset), else `sources` in `[public-address]` of
// the settings file at `confPath`, else the built-in list.
std::string PublicAddressSourcesSetting(const char* variable, const std::string& confPath);

// The sources in force for this process (QUILLON_PUBLIC_ADDRESS_SOURCES,
// quillon.conf, the built-in list). Each entry that cannot be read writes
// one line "PROGRAM: ..." to `warnings`.
std::vector<TPublicAddressSource> ConfiguredPublicAddressSources(std::FILE* warnings,
                                                                 const char* program);

}  // namespace quillon
