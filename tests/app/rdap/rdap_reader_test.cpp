// RDAP without the network: summary lines of documents (complete, oddly
// typed, hostile), bootstrap registry matching, the cache file and the
// Cache-Control reading.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/rdap/rdap_bootstrap.h"
#include "app/rdap/rdap_cache.h"
#include "app/rdap/rdap_document.h"
#include "tests/tls/tls_env.h"

namespace quillon {
namespace {

using Lines = std::vector<std::string>;

// After the domain example of RFC 9083 section 5.3.
constexpr const char* kDomain = R"({
  "objectClassName": "domain", "handle": "XXXX", "ldhName": "xn--fo-5ja.example",
  "unicodeName": "fóo.example", "status": ["locked", "transfer prohibited"],
  "nameservers": [
    {"objectClassName": "nameserver", "handle": "XXXX", "ldhName": "NS1.EXAMPLE.COM"},
    {"objectClassName": "nameserver", "handle": "XXXX", "ldhName": "ns2.example.com"}],
  "secureDNS": {"zoneSigned": true, "delegationSigned": true, "maxSigLife": 604800},
  "events": [
    {"eventAction": "registration", "eventDate": "1990-12-31T23:59:59Z"},
    {"eventAction": "last changed", "eventDate": "1991-12-31T23:59:59Z", "eventActor": "joe"},
    {"eventAction": "expiration", "eventDate": "2030-12-31T23:59:59Z"}],
  "entities": [
    {"objectClassName": "entity", "handle": "XXXX", "roles": ["registrant", "administrative"],
     "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", "Joe User"]]]},
    {"objectClassName": "entity", "handle": "R1", "roles": ["Registrar"],
     "vcardArray": ["vcard", [["version", {}, "text", "4.0"],
                              ["fn", {}, "text", "Example Registrar Inc."]]]}]
})";

// After the IP network example of RFC 9083 section 5.4.
constexpr const char* kNetwork = R"({
  "objectClassName": "ip network", "handle": "XXXX-RIR", "startAddress": "2001:db8::",
  "endAddress": "2001:db8:0:ffff:ffff:ffff:ffff:ffff", "ipVersion": "v6", "name": "NET-RTR-1",
  "type": "DIRECT ALLOCATION", "country": "AU", "parentHandle": "YYYY-RIR",
  "status": ["active"],
  "entities": [{"objectClassName": "entity", "handle": "XXXX", "roles": ["registrant"],
    "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", "Joe User"]]],
    "events": [{"eventAction": "registration", "eventDate": "1999-01-01T00:00:00Z"}]}],
  "events": [{"eventAction": "registration", "eventDate": "2011-12-31T23:59:59Z"}],
  "secureDNS": {"delegationSigned": false}
})";

// Every member present with the wrong type, or half there.
constexpr const char* kOdd = R"({
  "ldhName": 5, "handle": ["x"], "status": ["active", 7, null, ""],
  "entities": [{"roles": "registrar", "vcardArray": ["vcard", [["fn", {}, "text", "No"]]]},
               {"roles": ["registrar"], "vcardArray": "vcard"},
               {"roles": ["registrar"], "vcardArray": ["vcard", [["fn"], ["fn", {}, "text", 9]]]},
               7],
  "events": [{"eventAction": "registration", "eventDate": 1990},
             {"eventAction": "expiration"}, "last changed",
             {"eventAction": 3, "eventDate": "2000"},
             {"eventAction": "EXPIRATION", "eventDate": "2031-01-01T00:00:00Z"}],
  "nameservers": [1, {"ldhName": null}, {"ldhName": "NS.Example"}, []],
  "secureDNS": {"delegationSigned": "yes"},
  "startAddress": "192.0.2.0"
})";

TEST(RdapDocument, SummaryLinesInOrderForEveryShape) {
  struct Case {
    const char* name;
    const char* document;
    TRdapObjectKind kind;
    Lines lines;
  };
  const Case cases[] = {
      {"domain",
       kDomain,
       TRdapObjectKind::Domain,
       {"Domain: xn--fo-5ja.example", "Handle: XXXX", "Status: locked, transfer prohibited",
        "Registrar: Example Registrar Inc.", "Registered: 1990-12-31T23:59:59Z",
        "Expires: 2030-12-31T23:59:59Z", "Last changed: 1991-12-31T23:59:59Z",
        "Name servers: ns1.example.com, ns2.example.com", "DNSSEC: signed"}},
      {"network",
       kNetwork,
       TRdapObjectKind::Network,
       {"Network: 2001:db8:: - 2001:db8:0:ffff:ffff:ffff:ffff:ffff", "Name: NET-RTR-1",
        "Handle: XXXX-RIR", "Status: active", "Registrant: Joe User",
        "Registered: 2011-12-31T23:59:59Z", "DNSSEC: unsigned"}},
      {"odd members skipped",
       kOdd,
       TRdapObjectKind::Domain,
       {"Status: active", "Expires: 2031-01-01T00:00:00Z", "Name servers: ns.example"}},
      // A start without an end is no range.
      {"odd network",
       kOdd,
       TRdapObjectKind::Network,
       {"Status: active", "Expires: 2031-01-01T00:00:00Z", "Name servers: ns.example"}},
      {"empty object", "{}", TRdapObjectKind::Domain, {}},
      {"control characters",
       "{\"handle\": \"a\\u001b[2Jb\\r\\nc\", \"ldhName\": \"x\\u007f\"}",
       TRdapObjectKind::Domain,
       {"Domain: x?", "Handle: a?[2Jb??c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RdapSummaryLines(c.document, c.kind), c.lines);
  }
}

// Whatever a server sends, no character reaches the terminal that moves the
// cursor, starts an escape sequence or reverses what follows.
TEST(RdapDocument, ServerTextCannotSteerTheTerminal) {
  const struct {
    std::string text;
    std::string printed;
  } cases[] = {
      {"plain text", "plain text"},
      {"a\x1b[2Jb\r\n\t\x7f", "a?[2Jb????"},
      // C1 controls as UTF-8 (NEL, CSI) and as stray Latin-1 bytes.
      {"x\u0085y\u009b2J", "x?y?2J"},
      {"x\x9b" "2J\x85", "x?2J?"},
      // Embeddings, overrides and isolates, each one '?'.
      {"evil\u202e" "txt.exe\u202a\u202c\u202d\u2066\u2067\u2068\u2069", "evil?txt.exe???????"},
      // Neighbours of those ranges and other scripts stay.
      {"\u00a0\u00e9\u2029\u202f\u2065\u206a \u4f8b\U0001f600", "\u00a0\u00e9\u2029\u202f\u2065\u206a \u4f8b\U0001f600"},
      // Bytes that are not UTF-8 stay as they are unless they are C1.
      {"M\xfcller \xe2\x80", "M\xfcller \xe2?"},
      {"\xc2", "\xc2"},
      // An overlong form of ESC is not ESC, but its bytes are no text either.
      {"\xc0\x9b", "\xc0?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PrintableText(c.text), c.printed);
  }
  // The same inside a document's members, written as JSON escapes.
  EXPECT_EQ(RdapSummaryLines(R"({"ldhName": "a\u202eb", "handle": "c\u009bd\u0085"})",
                             TRdapObjectKind::Domain),
            (Lines{"Domain: a?b", "Handle: c?d?"}));
}

// The abuse contact: an entity with the role "abuse" at any depth under the
// object's entities; its email, else its telephone without "tel:".
TEST(RdapDocument, AbuseContactAtAnyDepth) {
  const auto entity = [](const std::string& roles, const std::string& card,
                         const std::string& inner = "") {
    return R"({"roles": [)" + roles + R"(], "vcardArray": ["vcard", [["version", {}, "text", "4.0"])" +
           card + "]]" + (inner.empty() ? "" : R"(, "entities": [)" + inner + "]") + "}";
  };
  const std::string email = R"(, ["email", {}, "text", "abuse@registrar.test"])";
  const std::string tel = R"(, ["tel", {"type": ["voice"]}, "uri", "tel:+1.5555550100"])";
  const std::string plainTel = R"(, ["tel", {}, "text", "+33 1 23 45 67 89"])";
  const struct {
    const char* name;
    std::string entities;
    const char* abuse;  // empty: no Abuse line
  } cases[] = {
      {"top level email", entity(R"("abuse")", email + tel), "abuse@registrar.test"},
      {"nested under the registrar",
       entity(R"("registrar")", R"(, ["fn", {}, "text", "Reg"])",
              entity(R"("technical")", email) + "," + entity(R"("Abuse")", tel + email)),
       "abuse@registrar.test"},
      {"telephone only", entity(R"("registrar")", "", entity(R"("abuse")", tel)), "+1.5555550100"},
      {"telephone as text", entity(R"("abuse")", plainTel), "+33 1 23 45 67 89"},
      // An email anywhere wins over a telephone found first.
      {"email of a later abuse entity",
       entity(R"("abuse")", tel) + "," + entity(R"("registrar")", "", entity(R"("abuse")", email)),
       "abuse@registrar.test"},
      {"neither", entity(R"("abuse")", R"(, ["fn", {}, "text", "Desk"])"), ""},
      {"not an abuse role", entity(R"("technical")", email), ""},
      {"odd shapes", R"(7, {"roles": "abuse"}, {"roles": ["abuse"], "vcardArray": ["vcard",
         [["email", {}, "text", 5], ["email"], ["tel", {}, "uri", ""]]]})",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string document = R"({"ldhName": "a.example", "entities": [)" + c.entities + "]}";
    Lines expected{"Domain: a.example"};
    if (c.abuse[0] != 0) expected.push_back(std::string("Abuse: ") + c.abuse);
    // After the registrar when there is one.
    const Lines lines = RdapSummaryLines(document, TRdapObjectKind::Domain);
    Lines withoutRegistrar;
    for (const auto& line : lines)
      if (line.rfind("Registrar: ", 0) != 0) withoutRegistrar.push_back(line);
    EXPECT_EQ(withoutRegistrar, expected);
  }
  // In a network or AS block, Abuse follows Registrant.
  const std::string network = R"({"startAddress": "192.0.2.0", "endAddress": "192.0.2.255",
    "entities": [)" + entity(R"("registrant")", R"(, ["fn", {}, "text", "Org"])",
                             entity(R"("abuse")", email)) + "]}";
  EXPECT_EQ(RdapSummaryLines(network, TRdapObjectKind::Network),
            (Lines{"Network: 192.0.2.0 - 192.0.2.255", "Registrant: Org",
                   "Abuse: abuse@registrar.test"}));
}

TEST(RdapDocument, AutnumBlocks) {
  const struct {
    const char* name;
    const char* document;
    Lines lines;
  } cases[] = {
      {"range",
       R"({"objectClassName": "autnum", "handle": "AS64496-AS64511", "startAutnum": 64496,
          "endAutnum": 64511, "name": "DOC-ASN", "status": ["active"], "type": "DIRECT ALLOCATION",
          "entities": [{"roles": ["registrant"], "vcardArray": ["vcard", [["fn", {}, "text", "Doc"]]],
            "entities": [{"roles": ["abuse"], "vcardArray": ["vcard",
              [["email", {}, "text", "abuse@doc.test"]]]}]}],
          "events": [{"eventAction": "registration", "eventDate": "2010-01-01T00:00:00Z"},
                     {"eventAction": "expiration", "eventDate": "2030-01-01T00:00:00Z"},
                     {"eventAction": "last changed", "eventDate": "2020-01-01T00:00:00Z"}],
          "nameservers": [{"ldhName": "ns.doc.test"}], "secureDNS": {"delegationSigned": true}})",
       {"AS numbers: 64496 - 64511", "Name: DOC-ASN", "Handle: AS64496-AS64511", "Status: active",
        "Registrant: Doc", "Abuse: abuse@doc.test", "Registered: 2010-01-01T00:00:00Z",
        "Last changed: 2020-01-01T00:00:00Z"}},
      {"one number", R"({"startAutnum": 64500, "endAutnum": 64500, "handle": "AS64500"})",
       {"AS number: 64500", "Handle: AS64500"}},
      {"start only", R"({"startAutnum": 4200000000})", {"AS number: 4200000000"}},
      {"end only", R"({"endAutnum": 7})", {"AS number: 7"}},
      {"odd numbers", R"({"startAutnum": -1, "endAutnum": "64500", "name": "X"})", {"Name: X"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RdapSummaryLines(c.document, TRdapObjectKind::Autnum), c.lines);
  }
}

// Only links with rel "related" and type "application/rdap+json" lead to the
// registrar, in the document's order; whether https and not yet asked is the
// lookup's choice.
TEST(RdapDocument, RelatedRdapLinks) {
  const struct {
    const char* name;
    const char* links;
    std::vector<std::string> hrefs;
  } cases[] = {
      {"registrar link",
       R"([{"value": "https://rdap.registry.test/domain/a.example", "rel": "self",
            "href": "https://rdap.registry.test/domain/a.example", "type": "application/rdap+json"},
           {"value": "https://rdap.registry.test/domain/a.example", "rel": "related",
            "href": "https://rdap.registrar.test/domain/a.example", "type": "application/rdap+json"}])",
       {"https://rdap.registrar.test/domain/a.example"}},
      {"every kind in order",
       R"([{"rel": "related", "href": "https://x.test/page", "type": "text/html"},
           {"rel": "related", "href": "http://plain.test/domain/a.example",
            "type": "application/rdap+json"},
           {"rel": "Related", "href": "https://one.test/d", "type": "Application/RDAP+JSON"},
           {"rel": "about", "href": "https://about.test/", "type": "application/rdap+json"},
           {"rel": "related", "href": "https://two.test/d", "type": "application/rdap+json"}])",
       {"http://plain.test/domain/a.example", "https://one.test/d", "https://two.test/d"}},
      {"no type", R"([{"rel": "related", "href": "https://x.test/d"}])", {}},
      {"odd shapes",
       R"([7, "related", {"rel": ["related"], "href": "https://x.test/", "type": "application/rdap+json"},
           {"rel": "related", "href": 5, "type": "application/rdap+json"},
           {"rel": "related", "href": "", "type": "application/rdap+json"}])",
       {}},
      {"not an array", R"({"rel": "related"})", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RdapRelatedLinks(std::string(R"({"ldhName": "a.example", "links": )") + c.links + "}"),
              c.hrefs);
  }
  EXPECT_THROW(RdapRelatedLinks("<html>"), ERdapError);
}

TEST(RdapDocument, NonObjectsRaise) {
  struct Case {
    std::string document;
    const char* message;
  };
  const Case cases[] = {
      {"", "invalid JSON document"},
      {"[]", "invalid JSON document"},
      {"\"text\"", "invalid JSON document"},
      {"{\"a\": ", "invalid JSON document"},
      {"{} trailing", "invalid JSON document"},
      {"<html>404</html>", "invalid JSON document"},
      {"{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}",
       "document nested too deeply"},
      {"{\"a\":\"" + std::string(kRdapMaxDocument, 'x') + "\"}", "document too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document.substr(0, 40));
    try {
      RdapSummaryLines(c.document, TRdapObjectKind::Domain);
      ADD_FAILURE() << "accepted";
    } catch (const ERdapError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

constexpr const char* kDns = R"({"version": "1.0", "services": [
  [["example", "test"], ["https://a.test/rdap"]],
  [["sub.example"], ["http://plain.test/", "https://b.test/rdap/"]],
  [["only.example"], ["http://plain.test/"]],
  [["bad"], "https://x.test/"], 7, [["short"]],
  [[""], ["https://root.test/"]]
]})";

TEST(RdapBootstrap, DomainsTakeTheLongestLabelSuffix) {
  const struct {
    const char* name;
    const char* url;
  } cases[] = {
      {"foo.example", "https://a.test/rdap/"},
      {"example", "https://a.test/rdap/"},
      {"a.b.sub.example", "https://b.test/rdap/"},
      {"sub.example", "https://b.test/rdap/"},
      {"xsub.example", "https://a.test/rdap/"},
      {"FOO.TEST", "https://a.test/rdap/"},
      // Only http for the longer suffix: the shorter https one answers.
      {"x.only.example", "https://a.test/rdap/"},
      {"example.org", ""},
      {"bad", ""},
      {"short", ""},
      {"testing", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto urls = DomainServiceUrls(kDns, c.name);
    EXPECT_EQ(urls.empty() ? "" : urls.front(), c.url);
  }
  EXPECT_THROW(DomainServiceUrls("not json", "a.example"), ERdapError);
  EXPECT_TRUE(DomainServiceUrls("{\"services\": 3}", "a.example").empty());
}

TEST(RdapBootstrap, AddressesTakeTheLongestPrefix) {
  constexpr const char* kV4 = R"({"services": [
    [["192.0.0.0/8"], ["https://wide.test/"]],
    [["192.0.2.0/24", "198.51.100.0/24"], ["https://narrow.test/"]],
    [["203.0.113.0/33", "x/8", "203.0.113.0/", "203.0.113.0/-1"], ["https://broken.test/"]]]})";
  constexpr const char* kV6 = R"({"services": [
    [["2001:db8::/32"], ["https://v6.test/"]],
    [["2001:db8:1::/48"], ["https://v6sub.test/"]],
    [["192.0.2.0/24"], ["https://wrongfamily.test/"]]]})";
  const struct {
    const char* registry;
    const char* address;
    const char* url;
  } cases[] = {
      {kV4, "192.0.2.5", "https://narrow.test/"},
      {kV4, "198.51.100.255", "https://narrow.test/"},
      {kV4, "192.1.1.1", "https://wide.test/"},
      {kV4, "10.0.0.1", ""},
      {kV4, "203.0.113.1", ""},
      {kV6, "2001:db8::1", "https://v6.test/"},
      {kV6, "2001:db8:1:2::3", "https://v6sub.test/"},
      {kV6, "2001:db9::1", ""},
      {kV6, "::ffff:192.0.2.1", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const auto address = ParseRdapAddress(c.address);
    ASSERT_TRUE(address.has_value());
    const auto urls = AddressServiceUrls(c.registry, *address);
    EXPECT_EQ(urls.empty() ? "" : urls.front(), c.url);
  }
  EXPECT_EQ(ParseRdapAddress("2001:DB8:0::1")->text, "2001:db8::1");
  EXPECT_FALSE(ParseRdapAddress("example.com").has_value());
  EXPECT_FALSE(ParseRdapAddress("192.0.2").has_value());
}

TEST(RdapBootstrap, AsNumbersTakeTheNarrowestRange) {
  constexpr const char* kAsn = R"({"version": "1.0", "services": [
    [["64496-64511", "65536"], ["https://a.test/rdap/"]],
    [["64500-64501"], ["http://plain.test/", "https://b.test/rdap"]],
    [["4200000000-4294967295"], ["https://private.test/"]],
    [["100-50", "x-y", "-5", "7-", "99999999999"], ["https://odd.test/"]],
    [["1"], ["http://only-plain.test/"]]
  ]})";
  const struct {
    uint32_t number;
    const char* url;
  } cases[] = {
      {64496, "https://a.test/rdap/"},       {64511, "https://a.test/rdap/"},
      {64500, "https://b.test/rdap/"},       {64501, "https://b.test/rdap/"},
      {65536, "https://a.test/rdap/"},       {4294967295u, "https://private.test/"},
      {64495, ""},                           {75, ""},
      {1, ""},                               {0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    const auto urls = AsnServiceUrls(kAsn, c.number);
    EXPECT_EQ(urls.empty() ? "" : urls.front(), c.url);
  }
  const struct {
    const char* text;
    std::optional<uint32_t> number;
  } names[] = {
      {"AS64496", 64496u},   {"as64496", 64496u},      {"aS0", 0u},
      {"As4294967295", 4294967295u},                  {"AS4294967296", std::nullopt},
      {"AS", std::nullopt},  {"AS 64496", std::nullopt}, {"AS64496x", std::nullopt},
      {"ASN64496", std::nullopt}, {"64496", std::nullopt}, {"AS-1", std::nullopt},
      {"AS12345678901", std::nullopt},
  };
  for (const auto& n : names) {
    SCOPED_TRACE(n.text);
    EXPECT_EQ(ParseAsNumber(n.text), n.number);
  }
}

TEST(RdapCache, MaxAgeReading) {
  const struct {
    const char* header;
    int64_t seconds;
  } cases[] = {
      {"", 86400},
      {"max-age=3600", 3600},
      {"public, max-age=60", 60},
      {"MAX-AGE = 7", 7},
      {"max-age=\"42\"", 42},
      {"s-maxage=5", 86400},
      {"s-max-age=5", 86400},
      {"max-age=abc", 86400},
      {"max-age=", 86400},
      {"max-age=99999999999999999999", 86400},
      {"max-age=99999999", 30 * 86400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    EXPECT_EQ(MaxAgeSeconds(c.header, 86400), c.seconds);
  }
}

TEST(RdapCache, StoredUntilItExpiresAndDamageMeansAbsent) {
  test::ScratchDir dir("quillon-rdap-cache-");
  const std::string cacheDir = dir.path() + "/deeper/quillon";
  const TRdapCache cache(cacheDir);
  EXPECT_FALSE(cache.ReadFresh("dns.json", 1000).has_value());
  ASSERT_TRUE(cache.Store("dns.json", "{\"services\": []}\n", 2000));
  EXPECT_EQ(cache.ReadFresh("dns.json", 1999).value_or(""), "{\"services\": []}\n");
  EXPECT_FALSE(cache.ReadFresh("dns.json", 2000).has_value());
  // Nothing but the file itself is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cacheDir), {}), 1);
  struct stat st {};
  ASSERT_EQ(::stat((cacheDir + "/dns.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  for (const char* damaged :
       {"", "garbage", "quillon-rdap-cache \n{}", "quillon-rdap-cache 12x\n{}",
        "quillon-rdap-cache 99999999999999999999\n{}"}) {
    test::WriteTextFile(cacheDir + "/dns.json", damaged);
    EXPECT_FALSE(cache.ReadFresh("dns.json", 1).has_value()) << damaged;
  }
  // A cache folder that cannot be made is no error, only no cache.
  test::WriteTextFile(dir.path() + "/file", "x");
  const TRdapCache blocked(dir.path() + "/file/quillon");
  EXPECT_FALSE(blocked.Store("dns.json", "{}", 2000));
  EXPECT_FALSE(blocked.ReadFresh("dns.json", 1).has_value());
  EXPECT_FALSE(TRdapCache("").Store("dns.json", "{}", 2000));
}

// A shared cache folder must not let another user steer lookups: the folder
// is made 0700, and only a file of ours, in a folder of ours, neither
// writable by others, expiring within 30 days, is believed.
TEST(RdapCache, OnlyOurOwnFilesInOurOwnFolderAreBelieved) {
  test::ScratchDir dir("quillon-rdap-trust-");
  const std::string cacheDir = dir.path() + "/quillon";
  const TRdapCache cache(cacheDir);
  const std::string file = cacheDir + "/dns.json";
  const std::string registry = "{\"services\": []}";
  const int64_t now = 1000;
  const auto mode = [](const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  ASSERT_TRUE(cache.Store("dns.json", registry, now + 10));
  EXPECT_EQ(mode(cacheDir), 0700u);
  EXPECT_TRUE(cache.ReadFresh("dns.json", now).has_value());

  // Expiries: up to 30 days ahead believed, further ahead not.
  const int64_t month = 30LL * 24 * 3600;
  ASSERT_TRUE(cache.Store("dns.json", registry, now + month));
  EXPECT_TRUE(cache.ReadFresh("dns.json", now).has_value());
  ASSERT_TRUE(cache.Store("dns.json", registry, now + month + 1));
  EXPECT_FALSE(cache.ReadFresh("dns.json", now).has_value());
  test::WriteTextFile(file, "quillon-rdap-cache 9999999999\n" + registry);
  EXPECT_FALSE(cache.ReadFresh("dns.json", now).has_value());

  // Writable by others: the file, or the folder (which a store then closes).
  ASSERT_TRUE(cache.Store("dns.json", registry, now + 10));
  for (const mode_t m : {0620, 0602, 0666}) {
    ::chmod(file.c_str(), m);
    EXPECT_FALSE(cache.ReadFresh("dns.json", now).has_value()) << std::oct << m;
  }
  ::chmod(file.c_str(), 0644);
  EXPECT_TRUE(cache.ReadFresh("dns.json", now).has_value());
  ::chmod(cacheDir.c_str(), 0777);
  EXPECT_FALSE(cache.ReadFresh("dns.json", now).has_value());
  ASSERT_TRUE(cache.Store("dns.json", registry, now + 10));
  EXPECT_EQ(mode(cacheDir), 0700u);
  EXPECT_TRUE(cache.ReadFresh("dns.json", now).has_value());

  // A link in place of the file or of the folder is not followed.
  test::WriteTextFile(dir.path() + "/elsewhere/dns.json", "quillon-rdap-cache 1010\n" + registry);
  std::filesystem::remove(file);
  std::filesystem::create_symlink(dir.path() + "/elsewhere/dns.json", file);
  EXPECT_FALSE(cache.ReadFresh("dns.json", now).has_value());
  const TRdapCache linked(dir.path() + "/link");
  std::filesystem::create_directory_symlink(dir.path() + "/elsewhere", dir.path() + "/link");
  EXPECT_FALSE(linked.ReadFresh("dns.json", now).has_value());
  EXPECT_FALSE(linked.Store("dns.json", registry, now + 10));

  // Another user's file, or another user's folder (root can give them away).
  if (!test::IsRoot()) GTEST_SKIP() << "giving files to another user needs root";
  std::filesystem::remove(file);
  ASSERT_TRUE(cache.Store("dns.json", registry, now + 10));
  ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(cache.ReadFresh("dns.json", now).has_value());
  ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
  ASSERT_EQ(::chown(cacheDir.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(cache.ReadFresh("dns.json", now).has_value());
  EXPECT_FALSE(cache.Store("dns.json", registry, now + 10));
  ASSERT_EQ(::chown(cacheDir.c_str(), 0, 0), 0);
  EXPECT_TRUE(cache.ReadFresh("dns.json", now).has_value());
}

TEST(RdapBootstrap, RegistryShapeCheckedBeforeItIsKept) {
  const struct {
    const char* registry;
    bool shaped;
  } cases[] = {
      {R"({"services": []})", true},
      {R"({"version": "1.0", "publication": "2024-01-01T00:00:00Z", "services": [
           [["example", "test"], ["https://a.test/rdap/"]], [["64496-64511"], []],
           [["x"], ["https://b.test/"], "extra"]]})",
       true},
      {R"({})", false},
      {R"({"services": {}})", false},
      {R"({"services": [7]})", false},
      {R"({"services": [[["example"]]]})", false},
      {R"({"services": [[["example"], "https://a.test/"]]})", false},
      {R"({"services": [[["example", 1], ["https://a.test/"]]]})", false},
      {R"({"services": [[["example"], [null]]]})", false},
      {R"([])", false},
      {"not json", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.registry);
    if (c.shaped) {
      EXPECT_NO_THROW(CheckBootstrapRegistry(c.registry));
    } else {
      EXPECT_THROW(CheckBootstrapRegistry(c.registry), ERdapError);
    }
  }
}

TEST(RdapCache, DefaultFolderFollowsXdg) {
  {
    test::ScopedEnv xdg("XDG_CACHE_HOME", "/var/tmp/xdg");
    EXPECT_EQ(DefaultRdapCacheDir(), "/var/tmp/xdg/quillon");
  }
  test::ScopedEnv relative("XDG_CACHE_HOME", "relative/path");
  test::ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(DefaultRdapCacheDir(), "/home/someone/.cache/quillon");
}

}  // namespace
}  // namespace quillon
