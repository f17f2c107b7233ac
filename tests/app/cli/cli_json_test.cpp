// quillon-cli --json and --shard without the end-to-end world: the fixed
// shard hash and the cover it gives, --shard and --json on the command line,
// the objects built from the operations' events (checked against the
// schemas of docs/schema/), and the operations against servers of the
// test's own: a whois answer in Latin-1 with a NUL byte and control
// characters, and the DNS failures told apart. The text lines stay those of
// the operations without --json.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/cli_args.h"
#include "app/cli/cli_json.h"
#include "app/cli/cli_list.h"
#include "app/cli/cli_shard.h"
#include "app/cli/json_output.h"
#include "app/lookup/lookup_operations.h"
#include "net/icmp/icmp_headers.h"
#include "tests/app/support/fake_servers.h"
#include "tests/app/support/recording_view.h"
#include "tests/support/json_schema.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

using test::SchemaProblems;

// Names of every kind a list holds.
std::vector<std::string> ManyNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    std::string n = "h" + std::to_string(i / 1000) + ".l" + std::to_string(i % 1000) + ".test";
    if (i % 97 == 5) n = "b\xC3\xBC" "cher" + std::to_string(i) + ".test";
    if (i % 89 == 3) n = std::to_string(i % 256) + ".2.18.198";
    names.push_back(n);
  }
  return names;
}

TEST(Shard, TheHashIsFnv1a64OfTheBytes) {
  // The published FNV-1a 64 test vectors: any machine, any build agrees.
  EXPECT_EQ(NameHash(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(NameHash("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(NameHash("foobar"), 0x85944171f73967e8ULL);
  EXPECT_EQ(ShardOf("foobar", 7), 0x85944171f73967e8ULL % 7);
  EXPECT_EQ(ShardOf("anything", 1), 0u);
  // A list's line is hashed by its name: `NAME TYPE` (dns) goes with NAME.
  EXPECT_EQ(ShardKey("example.com MX"), "example.com");
  EXPECT_EQ(ShardKey("example.com\tTXT"), "example.com");
  EXPECT_EQ(ShardKey("example.com"), "example.com");
  for (uint32_t k = 0; k < 7; ++k)
    EXPECT_EQ(InShard("foobar AAAA", TShard{k, 7}), k == ShardOf("foobar", 7));
}

TEST(Shard, EveryNameFallsInExactlyOneShard) {
  const auto names = ManyNames(20000);
  for (uint32_t n : {1u, 2u, 7u, 64u}) {
    SCOPED_TRACE(n);
    std::vector<size_t> sizes(n, 0);
    for (const auto& name : names) {
      int in = 0;
      for (uint32_t k = 0; k < n; ++k)
        if (InShard(name, TShard{k, n})) {
          ++in;
          ++sizes[k];
        }
      ASSERT_EQ(in, 1) << name;
    }
    // The shards share the work: none is a quarter off the mean.
    const double mean = static_cast<double>(names.size()) / n;
    for (uint32_t k = 0; k < n; ++k) {
      EXPECT_GT(sizes[k], mean * 0.75) << "shard " << k;
      EXPECT_LT(sizes[k], mean * 1.25) << "shard " << k;
    }
  }
}

TEST(Shard, ParseShard) {
  struct Case {
    const char* text;
    bool valid;
    uint32_t index, count;
  };
  const Case cases[] = {
      {"0/1", true, 0, 1},        {"3/4", true, 3, 4},          {"0/65536", true, 0, 65536},
      {"65535/65536", true, 65535, 65536}, {"007/010", true, 7, 10},
      {"4/4", false, 0, 0},       {"0/0", false, 0, 0},         {"1/65537", false, 0, 0},
      {"0/99999", false, 0, 0},   {"0/100000", false, 0, 0},    {"-1/4", false, 0, 0},
      {"1/-4", false, 0, 0},      {"1", false, 0, 0},           {"1/", false, 0, 0},
      {"/4", false, 0, 0},        {"1/4/5", false, 0, 0},       {" 1/4", false, 0, 0},
      {"1/4 ", false, 0, 0},      {"+1/4", false, 0, 0},        {"0x1/4", false, 0, 0},
      {"", false, 0, 0},          {"4294967297/4294967298", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto shard = ParseShard(c.text);
    ASSERT_EQ(shard.has_value(), c.valid);
    if (shard) {
      EXPECT_EQ(shard->index, c.index);
      EXPECT_EQ(shard->count, c.count);
    }
  }
}

const TCliCommandInfo kCommands[] = {
    {"whois", true, {"--follow", "--json"}},
    {"mx", true, {"--json"}},
    {"ping", true, {"-4", "-6", "--json"}},
    {"info", false, {}},
};

TEST(CliArgs, ShardAndJson) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: runs
    uint32_t index = 0, count = 0;  // count 0: no shard
    int jobs = kDefaultJobs;
  };
  const std::string range = "--shard needs K/N with 0 <= K < N <= 65536";
  const Case cases[] = {
      {{"--shard", "1/4", "mx", "-"}, "", 1, 4},
      {{"--shard=0/2", "mx", "--json", "-"}, "", 0, 2},
      {{"-j", "8", "--shard", "63/64", "ping", "-6", "--json", "-"}, "", 63, 64, 8},
      {{"--shard", "2/3", "-j8", "whois", "--follow", "--json", "-"}, "", 2, 3, 8},
      {{"mx", "--json", "example.org"}, ""},
      {{"whois", "--json", "--follow", "example.org"}, ""},
      {{"--shard", "4/4", "mx", "-"}, range},
      {{"--shard", "mx", "-"}, range},
      {{"--shard"}, range},
      {{"--shard=", "mx", "-"}, range},
      {{"--shard", "0/70000", "mx", "-"}, range},
      {{"--shard", "0/2", "--shard", "1/2", "mx", "-"}, "--shard given twice"},
      {{"--shard", "0/2", "mx", "example.org"}, "--shard applies to a list of names (NAME -)"},
      {{"--shard", "0/2", "info"}, "--shard applies to a list of names (info has none)"},
      {{"--shards", "0/2", "mx", "-"}, "unknown option '--shards'"},
      {{"mx", "--json", "--json", "x"}, "--json given twice"},
      {{"info", "--json"}, "info takes no argument"},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const TCliArgs a = ParseCliArgs(c.args, kCommands);
    if (!c.error.empty()) {
      EXPECT_EQ(a.action, TCliArgs::Action::UsageError);
      EXPECT_EQ(a.error, c.error);
      continue;
    }
    ASSERT_EQ(a.action, TCliArgs::Action::Run) << a.error;
    EXPECT_EQ(a.jobs, c.jobs);
    ASSERT_EQ(a.shard.has_value(), c.count != 0);
    if (a.shard) {
      EXPECT_EQ(a.shard->index, c.index);
      EXPECT_EQ(a.shard->count, c.count);
    }
  }
}

// A pipe whose read end the list reads.
struct Input {
  explicit Input(const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() / test::UniqueName("quillon-names");
    std::ofstream(path, std::ios::binary) << text;
    file = std::fopen(path.c_str(), "rb");
    std::filesystem::remove(path);
  }
  ~Input() {
    if (file) std::fclose(file);
  }
  int fd() const { return ::fileno(file); }
  std::FILE* file;
};

std::string Captured(const std::function<void(std::FILE*)>& write) {
  std::FILE* f = std::tmpfile();
  write(f);
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

// Four shards of one list, each run on the whole input: every name runs
// in exactly one of them, each shard in input order, and without headings
// the output is the commands' own lines, one after the other.
TEST(Shard, ListsOfTheShardsCoverTheListOnce) {
  const auto names = ManyNames(2000);
  std::string input = "# a list\n";
  for (const auto& n : names) input += "  " + n + "\r\n";
  const TNameCommand command = [](const std::string& name, std::FILE* out) {
    std::fprintf(out, "{\"name\":\"%s\"}\n", name.c_str());
    return 0;
  };
  std::multiset<std::string> seen;
  for (uint32_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    Input in(input);
    TListOptions options;
    options.jobs = 8;
    options.headings = false;
    options.shard = TShard{k, 4};
    const std::string out =
        Captured([&](std::FILE* f) { EXPECT_EQ(RunList(in.fd(), f, command, options), 0); });
    std::string expected;
    for (const auto& n : names)
      if (ShardOf(n, 4) == k) expected += "{\"name\":\"" + n + "\"}\n";
    EXPECT_EQ(out, expected);
    for (const auto& n : names)
      if (ShardOf(n, 4) == k) seen.insert(n);
  }
  EXPECT_EQ(seen.size(), names.size());
  EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), names.size());
}

TReplyStatus Reply(ReplyOutcome outcome, const std::string& from, uint32_t ms = 0,
                   uint8_t type = 0, uint8_t code = 0) {
  TReplyStatus s;
  s.Outcome = outcome;
  s.SourceAddress = from;
  s.RoundTripMs = ms;
  s.IcmpType = type;
  s.IcmpCode = code;
  return s;
}

// Each command's object from a run's events, exactly as printed, and valid
// against its schema.
TEST(JsonReport, ObjectsFromTheEvents) {
  struct Case {
    const char* what;
    const char* command;
    bool follow;
    std::function<void(TJsonReport&)> run;
    bool failed, interrupted;
    std::string json;
  };
  const Case cases[] = {
      {"whois", "whois", false,
       [](TJsonReport& r) {
         r.WhoisAsked("whois.nic.fr", 43, "example.fr");
         r.WhoisAnswered("domain: example.fr\n\nstatus: ok\n");
       },
       false, false,
       R"({"command":"whois","name":"n","server":"whois.nic.fr","port":43,"query":"example.fr",)"
       R"("answer":"domain: example.fr\n\nstatus: ok\n"})"},
      {"whois that timed out", "whois", false,
       [](TJsonReport& r) {
         r.WhoisAsked("whois.nic.fr", 43, "stall.fr");
         r.Failed(TLookupFailure::WhoisNoAnswer, 0);
       },
       true, false,
       R"({"command":"whois","name":"n","server":"whois.nic.fr","port":43,"query":"stall.fr",)"
       R"("error":"the whois server did not answer in time"})"},
      {"whois of a refused name", "whois", false,
       [](TJsonReport& r) { r.Failed(TLookupFailure::NameRefused, 0); }, true, false,
       R"({"command":"whois","name":"n","error":"the name is not a valid domain name"})"},
      {"follow: IANA, then a registry that refuses the connection", "whois", true,
       [](TJsonReport& r) {
         r.WhoisAsked("whois.iana.org", 43, "down");
         r.WhoisAnswered("refer: whois.down.test\n");
         r.WhoisAsked("whois.down.test", 4343, "x.down");
         r.Failed(TLookupFailure::WhoisConnection, 0);
       },
       true, false,
       R"({"command":"whois","name":"n","follow":true,"chain":[{"server":"whois.iana.org",)"
       R"("port":43,"query":"down","answer":"refer: whois.down.test\n"},{"server":)"
       R"("whois.down.test","port":4343,"query":"x.down","error":"the connection to the whois )"
       R"(server failed"}],"error":"whois.down.test: the connection to the whois server failed"})"},
      {"follow interrupted while a server is asked", "whois", true,
       [](TJsonReport& r) { r.WhoisAsked("whois.nic.fr", 43, "example.fr"); }, true, true,
       R"({"command":"whois","name":"n","follow":true,"chain":[{"server":"whois.nic.fr",)"
       R"("port":43,"query":"example.fr","error":"interrupted"}],"error":"interrupted"})"},
      {"follow of a refused name", "whois", true,
       [](TJsonReport& r) { r.Failed(TLookupFailure::NameRefused, 0); }, true, false,
       R"({"command":"whois","name":"n","follow":true,"chain":[],)"
       R"("error":"the name is not a valid domain name"})"},
      {"mx", "mx", false,
       [](TJsonReport& r) {
         r.MxAsked("xn--bcher-kva.test", "198.18.4.53");
         r.MxExchanger("mx2.quillon.test", 20);
         r.MxExchanger("mx1.quillon.test", 10);
       },
       false, false,
       R"({"command":"mx","name":"n","domain":"xn--bcher-kva.test","server":"198.18.4.53",)"
       R"("exchangers":[{"host":"mx2.quillon.test","preference":20},)"
       R"({"host":"mx1.quillon.test","preference":10}]})"},
      {"mx without MX records", "mx", false,
       [](TJsonReport& r) { r.MxAsked("nomx.test", "::1"); }, false, false,
       R"({"command":"mx","name":"n","domain":"nomx.test","server":"::1","exchangers":[]})"},
      {"mx NXDOMAIN", "mx", false,
       [](TJsonReport& r) {
         r.MxAsked("missing.test", "198.18.4.53");
         r.Failed(TLookupFailure::DnsStatus, 3);
       },
       true, false,
       R"({"command":"mx","name":"n","domain":"missing.test","server":"198.18.4.53",)"
       "\"error\":\"the DNS server answered NXDOMAIN (the domain does not exist)\","
       R"("status":"NXDOMAIN","exchangers":[]})"},
      {"mx without a DNS server", "mx", false,
       [](TJsonReport& r) {
         r.MxAsked("example.org", "");
         r.Failed(TLookupFailure::NoDnsServer, 0);
       },
       true, false,
       R"({"command":"mx","name":"n","domain":"example.org","server":null,)"
       R"("error":"no DNS server is configured","exchangers":[]})"},
      {"ping: a reply, a time-out, unreachable, time exceeded", "ping", false,
       [](TJsonReport& r) {
         r.EchoTarget("198.18.3.2");
         r.EchoReported(Reply(roEchoReply, "198.18.3.2", 7), 50, "dest.quillon.test");
         r.EchoReported(Reply(roTimedOut, "0.0.0.0"), 50, "");
         r.EchoReported(Reply(roUnreachable, "198.18.1.1", 0, icmpDestinationUnreachable, 13),
                        50, "");
         r.EchoReported(Reply(roTtlExpired, "198.18.1.1", 2), 50, "198.18.1.1");
       },
       false, false,
       R"({"command":"ping","name":"n","address":"198.18.3.2","replies":[{"seq":1,"from":)"
       R"("198.18.3.2","name":"dest.quillon.test","ms":7},{"seq":2,"timeout":true},{"seq":3,)"
       R"("from":"198.18.1.1","unreachable":"prohibited"},{"seq":4,"from":"198.18.1.1",)"
       R"("name":null,"ms":2,"time_exceeded":true}],"sent":4,"received":1,"lost":3,"avg_ms":7})"},
      {"ping with every request timed out", "ping", false,
       [](TJsonReport& r) {
         r.EchoTarget("2001:db8:9::9");
         for (int i = 0; i < 4; ++i) r.EchoReported(Reply(roTimedOut, "::"), 50, "");
       },
       false, false,
       R"({"command":"ping","name":"n","address":"2001:db8:9::9","replies":[{"seq":1,)"
       R"("timeout":true},{"seq":2,"timeout":true},{"seq":3,"timeout":true},{"seq":4,)"
       R"("timeout":true}],"sent":4,"received":0,"lost":4,"avg_ms":null})"},
      {"ping: the average is rounded down as on the Average line", "ping", false,
       [](TJsonReport& r) {
         r.EchoTarget("127.0.0.1");
         r.EchoReported(Reply(roEchoReply, "127.0.0.1", 1), 50, "localhost");
         r.EchoReported(Reply(roEchoReply, "127.0.0.1", 2), 50, "localhost");
       },
       false, false,
       R"({"command":"ping","name":"n","address":"127.0.0.1","replies":[{"seq":1,"from":)"
       R"("127.0.0.1","name":"localhost","ms":1},{"seq":2,"from":"127.0.0.1","name":)"
       R"("localhost","ms":2}],"sent":2,"received":2,"lost":0,"avg_ms":1})"},
      {"ping of a host not found", "ping", false,
       [](TJsonReport& r) { r.Failed(TLookupFailure::HostNotFound, 0); }, true, false,
       R"({"command":"ping","name":"n","error":"host not found","replies":[]})"},
      {"ping interrupted", "ping", false,
       [](TJsonReport& r) {
         r.EchoTarget("198.18.9.1");
         r.EchoReported(Reply(roTimedOut, "0.0.0.0"), 50, "");
       },
       false, true,
       R"({"command":"ping","name":"n","address":"198.18.9.1","replies":[{"seq":1,)"
       R"("timeout":true}],"error":"interrupted"})"},
      {"ping without ICMP permission", "ping", false,
       [](TJsonReport& r) { r.Failed(TLookupFailure::IcmpNotAllowed, 0); }, true, false,
       R"({"command":"ping","name":"n","error":"not allowed to send ICMP echo requests",)"
       R"("replies":[]})"},
      {"trace through two routers", "trace", false,
       [](TJsonReport& r) {
         r.EchoTarget("198.18.3.2");
         r.EchoReported(Reply(roTtlExpired, "198.18.1.1", 1), 1, "r1.quillon.test");
         r.EchoReported(Reply(roTimedOut, "0.0.0.0"), 2, "");
         r.EchoReported(Reply(roEchoReply, "198.18.3.2", 3), 3, "198.18.3.2");
       },
       false, false,
       R"({"command":"trace","name":"n","address":"198.18.3.2","hops":[{"ttl":1,"address":)"
       R"("198.18.1.1","name":"r1.quillon.test","ms":1},{"ttl":2,"timeout":true},{"ttl":3,)"
       R"("address":"198.18.3.2","name":null,"ms":3}],"reached":true})"},
      {"trace ended by an unreachable route (IPv6 no route)", "trace", false,
       [](TJsonReport& r) {
         r.EchoTarget("2001:db8:5::9");
         r.EchoReported(Reply(roUnreachable, "2001:db8:1::1", 0, icmp6DestinationUnreachable, 0),
                        1, "");
       },
       false, false,
       R"({"command":"trace","name":"n","address":"2001:db8:5::9","hops":[{"ttl":1,)"
       R"("address":"2001:db8:1::1","unreachable":"network"}],"reached":false})"},
      {"trace of a host not found", "trace", false,
       [](TJsonReport& r) { r.Failed(TLookupFailure::NameRefused, 0); }, true, false,
       R"({"command":"trace","name":"n","error":"the name is not a valid domain name",)"
       R"("hops":[],"reached":false})"},
  };
  std::map<std::string, std::string> bySchema;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TJsonReport report(c.command, "n");
    if (c.follow) report.SetFollow();
    c.run(report);
    const std::string line = JsonLine(report.Finish(c.failed, c.interrupted));
    EXPECT_EQ(line, c.json);
    bySchema[c.command] += line + "\n";
  }
  std::vector<std::pair<std::string, std::string>> items(bySchema.begin(), bySchema.end());
  const auto problems = SchemaProblems(items);
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(problems[i], "") << items[i].second;
}

// Objects the schemas must refuse: each is one fault a writer could make.
TEST(JsonReport, SchemasRefuseWhatTheDocsDoNotAllow) {
  const std::pair<const char*, const char*> wrong[] = {
      {"whois", R"({"command":"whois","name":"n"})"},
      {"whois", R"({"command":"whois","name":"n","server":"s","port":43,"query":"q","answer":"a","error":"e"})"},
      {"whois", R"({"command":"whois","name":"n","follow":true,"chain":[{"server":"s","port":43,"query":"q"}]})"},
      {"mx", R"({"command":"mx","name":"n","domain":"d","server":"s","exchangers":[{"host":"h","preference":"10"}]})"},
      {"mx", R"({"command":"mx","name":"n","domain":"d","server":"s","exchangers":[],"status":"NXDOMAIN"})"},
      {"ping", R"({"command":"ping","name":"n","address":"a","replies":[{"seq":0,"timeout":true}],"sent":1,"received":0,"lost":1,"avg_ms":null})"},
      {"ping", R"({"command":"ping","name":"n","address":"a","replies":[],"sent":4})"},
      {"ping", R"({"command":"ping","name":"n","error":"e","replies":[],"sent":4,"received":0,"lost":4,"avg_ms":null})"},
      {"trace", R"({"command":"trace","name":"n","address":"a","hops":[{"ttl":1,"address":"a","ms":1}],"reached":true})"},
      {"trace", R"({"command":"trace","name":"n","error":"e","hops":[],"reached":true})"},
      {"trace", R"({"host":"h","address":"a","cycles":10,"started":"yesterday","hops":[],"verdict":"no loss to h"})"},
      {"trace", R"({"host":"h","address":"a","cycles":10,"started":"2026-12-08T10:00:00+01:00","hops":[],"verdict":"Verdict: no loss to h"})"},
      {"info", R"({"online":true,"public":null,"local":"198.18.1.2","sources":[]})"},
      {"info", R"({"online":false,"public":null,"local":"198.18.1.2","sources":[{"source":"http://x/","address":"::1","ms":3}]})"},
      {"dns", R"({"name":"a.test","type":"A","server":"198.18.4.53","status":"NOERROR","flags":["qr"],"answer":[{"name":"a.test","ttl":60,"class":"IN","type":"A","data":"192.0.2.1"}],"time_ms":1})"},
      {"dns", R"({"name":"a.test","type":"A","error":"no answer","status":"NOERROR"})"},
      {"rdap", R"({"title":"no class, no error code"})"},
  };
  std::vector<std::pair<std::string, std::string>> items;
  for (const auto& [schema, json] : wrong) items.emplace_back(schema, json);
  const auto problems = SchemaProblems(items);
  for (size_t i = 0; i < items.size(); ++i)
    EXPECT_NE(problems[i], "") << items[i].second << " accepted by " << items[i].first;
}

// Every example of docs/json.md (a ```json block after a line
// "<!-- schema: NAME -->") is valid against its schema, and every schema of
// docs/schema/ has one.
TEST(JsonDocs, ExamplesAreValidAgainstTheSchemas) {
  const std::string source = QUILLON_SOURCE_DIR;
  std::ifstream in(source + "/docs/json.md");
  ASSERT_TRUE(in) << "docs/json.md";
  std::vector<std::pair<std::string, std::string>> examples;
  std::string line, schema;
  bool inBlock = false;
  while (std::getline(in, line)) {
    if (inBlock) {
      if (line == "```")
        inBlock = false;
      else
        examples.back().second += line + "\n";
    } else if (line.rfind("<!-- schema: ", 0) == 0) {
      schema = line.substr(13, line.find(' ', 13) - 13);
    } else if (line == "```json" && !schema.empty()) {
      examples.emplace_back(schema, "");
      inBlock = true;
      schema.clear();
    }
  }
  std::set<std::string> shown;
  for (const auto& e : examples) shown.insert(e.first);
  for (const auto& file : std::filesystem::directory_iterator(source + "/docs/schema"))
    EXPECT_EQ(shown.count(file.path().stem().string()), 1u)
        << "no example of " << file.path().filename();
  const auto problems = SchemaProblems(examples);
  for (size_t i = 0; i < examples.size(); ++i)
    EXPECT_EQ(problems[i], "") << examples[i].first << ": " << examples[i].second;
}

class JsonOperations : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!resolvConf.empty()) std::filesystem::remove(resolvConf);
  }
  void UseResolvConf(const std::string& text, int port) {
    if (!resolvConf.empty()) std::filesystem::remove(resolvConf);
    resolvConf =
        (std::filesystem::temp_directory_path() / test::UniqueName("quillon-resolv")).string();
    std::ofstream(resolvConf) << text;
    ops.ResolvConfPath = resolvConf;
    ops.DnsPort = port;
  }
  test::RecordingView view;
  TLookupOperations ops{view};
  std::string resolvConf;
};

// Old registries answer in Latin-1 and some send a NUL byte or terminal
// escapes: the text lines carry the bytes as before, the JSON line stays
// valid UTF-8 (each bad byte U+FFFD) with the controls escaped.
TEST_F(JsonOperations, WhoisAnswerInLatin1WithNulAndControlsStaysValidJson) {
  const std::string answer = std::string("holder: Soci\xE9t\xE9\r\nnote: a") + '\0' +
                             "b\x01\x1b[31mred\x7f\r\nend\xC3";
  test::TcpServer server([&](int fd) {
    test::RecvLine(fd);
    test::SendAll(fd, answer);
  });
  ops.WhoisServerOf = [](std::string_view) { return std::string("127.0.0.1"); };
  ops.WhoisPort = server.port();
  TJsonReport report("whois", "example.fr");
  ops.Events = &report;
  ops.RunOperation(opWhois, "example.fr");
  ASSERT_FALSE(ops.LastOperationFailed());
  EXPECT_EQ(view.Lines(), (std::vector<std::string>{"holder: Soci\xE9t\xE9",
                                                    std::string("note: a") + '\0' +
                                                        "b\x01\x1b[31mred\x7f",
                                                    "end\xC3"}));
  const std::string line = JsonLine(report.Finish(false, false));
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(line, R"({"command":"whois","name":"example.fr","server":"127.0.0.1","port":)" +
                      std::to_string(server.port()) +
                      R"(,"query":"example.fr","answer":"holder: Soci)" + fffd + "t" + fffd +
                      R"(\nnote: a\u0000b\u0001\u001b[31mred)" + "\x7f" + R"(\nend)" + fffd +
                      R"("})");
  for (char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "a raw control byte";
  // The port is not 43 here: the schema allows any port.
  EXPECT_EQ(SchemaProblems("whois", line), "");
}

// Each way a DNS MX question fails gets its own error (and status), while
// the text line stays "Error: No MX Found for domain NAME".
TEST_F(JsonOperations, MxFailuresAreToldApart) {
  // Set by the test, read by the server's thread.
  std::atomic<int> rcode{0};
  std::atomic<bool> silent{false}, truncated{false};
  test::FakeDnsServer dns([&](const std::string& q) -> std::string {
    if (silent) return {};
    std::string reply = test::DnsReply(q, rcode, {});
    if (truncated) reply.resize(8);  // a header cut short, QR set
    return reply;
  });
  struct Case {
    const char* what;
    std::string name;
    std::string resolv;  // the resolver configuration
    int rcode;
    bool silent, truncated;
    std::string error, status;
  };
  const std::string server = "nameserver 127.0.0.1\n";
  std::string lines;
  const Case cases[] = {
      {"NXDOMAIN", "www.missing.test", server, 3, false, false,
       "the DNS server answered NXDOMAIN (the domain does not exist)", "NXDOMAIN"},
      {"SERVFAIL", "broken.test", server, 2, false, false,
       "the DNS server answered SERVFAIL (server failure)", "SERVFAIL"},
      {"REFUSED", "closed.test", server, 5, false, false,
       "the DNS server answered REFUSED (query refused)", "REFUSED"},
      {"code without a name", "odd.test", server, 13, false, false,
       "the DNS server answered RCODE13", "RCODE13"},
      {"silent server", "quiet.test", server, 0, true, false, "no answer from the DNS server", ""},
      {"unreadable answer", "short.test", server, 0, false, true, "the DNS query failed", ""},
      {"no nameserver line", "any.test", "# none\n", 0, false, false,
       "no DNS server is configured", ""},
      {"name refused (UTS #46)", "b\xC3\xBC cher.test", server, 0, false, false,
       "the name is not a valid domain name", ""},
      {"label too long for DNS", std::string(70, 'a') + ".test", server, 0, false, false,
       "the name is not a valid domain name", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    rcode = c.rcode;
    silent = c.silent;
    truncated = c.truncated;
    UseResolvConf(c.resolv, dns.port());
    // The silent server's wait kept short; the others answer at once (but
    // a sanitizer's build is slow to start).
    ops.IdDNSResolver1.ReceiveTimeout = c.silent ? 300 : 3000;
    TJsonReport report("mx", c.name);
    ops.Events = &report;
    ops.RunOperation(opDnsMx, c.name);
    EXPECT_TRUE(ops.LastOperationFailed());
    EXPECT_EQ(view.Lines(), (std::vector<std::string>{"Error: No MX Found for domain " + c.name}));
    const auto object = report.Finish(true, false);
    EXPECT_EQ(object.value("error", ""), c.error);
    EXPECT_EQ(object.value("status", ""), c.status);
    lines += JsonLine(object) + "\n";
  }
  EXPECT_EQ(SchemaProblems("mx", lines), "") << lines;
}

TEST(JsonReport, UnreachableKindFromTheIcmpCode) {
  const std::pair<int, const char*> v4[] = {
      {0, "network"}, {1, "host"}, {2, "protocol"}, {3, "port"}, {4, "fragmentation-needed"},
      {5, "source-route-failed"}, {6, "network"}, {7, "host"}, {8, "other"}, {9, "prohibited"},
      {10, "prohibited"}, {11, "network"}, {12, "host"}, {13, "prohibited"}, {14, "prohibited"},
      {15, "prohibited"}, {16, "other"}, {255, "other"}};
  for (const auto& [code, kind] : v4)
    EXPECT_EQ(UnreachableKind(Reply(roUnreachable, "198.18.1.1", 0, icmpDestinationUnreachable,
                                    static_cast<uint8_t>(code))),
              kind)
        << "ICMP code " << code;
  const std::pair<int, const char*> v6[] = {
      {0, "network"}, {1, "prohibited"}, {2, "beyond-scope"}, {3, "host"}, {4, "port"},
      {5, "source-policy"}, {6, "reject-route"}, {7, "other"}};
  for (const auto& [code, kind] : v6)
    EXPECT_EQ(UnreachableKind(Reply(roUnreachable, "2001:db8::1", 0, icmp6DestinationUnreachable,
                                    static_cast<uint8_t>(code))),
              kind)
        << "ICMPv6 code " << code;
}

}  // namespace
}  // namespace quillon
