// quillon-cli --json inside the end-to-end world: every case of whois,
// whois --follow, mx, ping and trace, success and failure, run with and
// without --json (at the same time, so that the slow cases wait once): the
// exit status is the same, the JSON is one line valid against its schema in
// docs/schema/ and holds what the text lines say; a whois answer in Latin-1
// with a NUL byte stays valid JSON; lists give JSON Lines in input order.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/e2e/whois_answer.h"
#include "tests/e2e/world.h"
#include "tests/support/json_schema.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using nlohmann::json;
using std::chrono::seconds;

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// One command line of quillon-cli, run in the world.
struct CliRun {
  CliRun() = default;
  CliRun(std::vector<std::string> a, std::string in) : args(std::move(a)), input(std::move(in)) {}
  std::vector<std::string> args;
  std::string input;  // standard input (a list), or empty for none
  int status = -1;
  std::string out, err;
};

class CliJsonWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
    if (CliPath().empty()) GTEST_SKIP() << "quillon-cli is not built in this configuration";
    world_ = std::make_unique<World>("qe2j");
    ASSERT_TRUE(world_->ok()) << world_->error();
    dir_ = std::filesystem::temp_directory_path() / test::UniqueName("quillon-json");
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // Runs every command at once inside the client namespace; fills their
  // status and output.
  void RunAll(std::vector<CliRun*> runs, seconds limit) {
    std::string script = "cd " + Quote(dir_.string()) + " || exit 1\n";
    for (size_t i = 0; i < runs.size(); ++i) {
      const std::string n = std::to_string(i);
      std::string line = Quote(CliPath());
      for (const auto& a : runs[i]->args) line += " " + Quote(a);
      if (!runs[i]->input.empty()) {
        std::ofstream(dir_ / (n + ".in"), std::ios::binary) << runs[i]->input;
        line += " < " + n + ".in";
      } else {
        line += " < /dev/null";
      }
      script += "(" + line + " > " + n + ".out 2> " + n + ".err; echo $? > " + n + ".rc) &\n";
    }
    script += "wait\n";
    const RunResult r = world_->Exec({"bash", "-c", script}, limit);
    ASSERT_EQ(r.status, 0) << r.errors;
    for (size_t i = 0; i < runs.size(); ++i) {
      const std::string n = std::to_string(i);
      runs[i]->out = ReadFile(dir_ / (n + ".out"));
      runs[i]->err = ReadFile(dir_ / (n + ".err"));
      runs[i]->status = std::stoi("0" + ReadFile(dir_ / (n + ".rc")));
    }
  }

  std::unique_ptr<World> world_;
  std::filesystem::path dir_;
};

// The lines of a text run that are hops of a trace ("N :\t..." and the
// destination's "response from host").
size_t HopLines(const std::vector<std::string>& lines) {
  size_t n = 0;
  for (const auto& l : lines)
    if (l.find(" :\t") != std::string::npos || l.rfind("response from host", 0) == 0 ||
        l == "Timed out." || l.find("reports destination") != std::string::npos)
      ++n;
  return n;
}

TEST_F(CliJsonWorld, EveryCommandWithAndWithoutJson) {
  const std::string dest = world_->fact("DEST_ADDR");
  const std::string dropped = world_->fact("DROPPED_ADDR");
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string schema;
    std::vector<std::string> args;  // without --json; it goes right after the command
    int status;
    std::function<void(const json&, const std::vector<std::string>&)> check;
  };
  std::vector<Case> cases = {
      {"whois", {"whois", "example.fr"}, 0,
       [](const json& j, const std::vector<std::string>& text) {
         EXPECT_EQ(j["server"], "whois.nic.fr");
         EXPECT_EQ(j["port"], 43);
         EXPECT_EQ(j["query"], "example.fr");
         std::string joined;
         for (const auto& l : text) joined += l + "\n";
         EXPECT_EQ(j["answer"], joined) << "the answer is the text's lines, LF-ended";
       }},
      {"whois", {"whois", "latin1.fr"}, 0,
       [&](const json& j, const std::vector<std::string>& text) {
         const std::string answer = j["answer"];
         EXPECT_NE(answer.find("holder:      Soci" + fffd + "t" + fffd + " G" + fffd + "n" +
                               fffd + "rale\n"),
                   std::string::npos)
             << answer;
         EXPECT_NE(answer.find(std::string("note:        a") + '\0' + "b\x01\x1b[31mred\x7f\n"),
                   std::string::npos);
         // Without --json the bytes are printed as the server sent them.
         EXPECT_NE(std::find(text.begin(), text.end(), "holder:      Soci\xE9t\xE9 G\xE9n\xE9rale"),
                   text.end());
       }},
      {"whois", {"whois", "stall.fr"}, 1,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["error"], "the whois server did not answer in time");
         EXPECT_EQ(j["query"], "stall.fr");
         EXPECT_FALSE(j.contains("answer"));
       }},
      {"whois", {"whois", "a\xE2\x98\x83.fr"}, 1,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["name"], "a\xE2\x98\x83.fr");
         EXPECT_EQ(j["error"], "the name is not a valid domain name");
         EXPECT_FALSE(j.contains("server")) << "nothing was sent";
       }},
      {"whois", {"whois", "--follow", "thin.com"}, 0,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["follow"], true);
         ASSERT_EQ(j["chain"].size(), 2u);
         EXPECT_EQ(j["chain"][0]["server"], "whois.internic.net");
         EXPECT_EQ(j["chain"][1]["server"], "whois.registrar.test");
         EXPECT_EQ(j["chain"][1]["query"], "thin.com");
         EXPECT_FALSE(j.contains("error"));
       }},
      {"whois", {"whois", "--follow", "x.down"}, 1,
       [](const json& j, const std::vector<std::string>&) {
         ASSERT_EQ(j["chain"].size(), 2u);
         EXPECT_EQ(j["chain"][0]["server"], "whois.iana.org");
         EXPECT_EQ(j["chain"][0]["query"], "down");
         EXPECT_EQ(j["chain"][1]["server"], "whois.down.test");
         EXPECT_EQ(j["chain"][1]["error"], "the connection to the whois server failed");
         EXPECT_EQ(j["error"], "whois.down.test: the connection to the whois server failed");
       }},
      {"mx", {"mx", "mail.alias.test"}, 0,
       [](const json& j, const std::vector<std::string>& text) {
         EXPECT_EQ(j["domain"], "alias.test");
         EXPECT_EQ(j["server"], "198.18.4.53");
         ASSERT_EQ(j["exchangers"].size(), 2u);
         ASSERT_EQ(text.size(), 3u);
         for (size_t i = 0; i < 2; ++i) {
           const std::string host = j["exchangers"][i]["host"];
           EXPECT_EQ(text[i + 1], "Found #" + std::to_string(i + 2) + ": " + host)
               << "in the order of the answer";
           EXPECT_EQ(j["exchangers"][i]["preference"], host == "mx1.quillon.test" ? 10 : 20);
         }
       }},
      {"mx", {"mx", "nomx.test"}, 0,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["exchangers"], json::array());
         EXPECT_FALSE(j.contains("error"));
       }},
      {"mx", {"mx", "www.missing.test"}, 1,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["domain"], "missing.test");
         EXPECT_EQ(j["status"], "NXDOMAIN");
         EXPECT_EQ(j["error"], "the DNS server answered NXDOMAIN (the domain does not exist)");
       }},
      {"mx", {"mx", "www.silent.test"}, 1,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["error"], "no answer from the DNS server");
       }},
      {"mx", {"mx", "b\xC3\xBC" "cher.test"}, 0,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["name"], "b\xC3\xBC" "cher.test");
         EXPECT_EQ(j["domain"], "xn--bcher-kva.test");
         EXPECT_EQ(j["exchangers"],
                   json::parse(R"([{"host":"mx1.quillon.test","preference":10}])"));
       }},
      {"ping", {"ping", "dest.quillon.test"}, 0,
       [&](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["address"], dest);
         ASSERT_EQ(j["replies"].size(), 4u);
         uint64_t total = 0;
         for (size_t i = 0; i < 4; ++i) {
           EXPECT_EQ(j["replies"][i]["seq"], i + 1);
           EXPECT_EQ(j["replies"][i]["from"], dest);
           EXPECT_EQ(j["replies"][i]["name"], "dest.quillon.test");
           total += j["replies"][i]["ms"].get<uint64_t>();
         }
         EXPECT_EQ(j["sent"], 4);
         EXPECT_EQ(j["received"], 4);
         EXPECT_EQ(j["lost"], 0);
         EXPECT_EQ(j["avg_ms"], total / 4);
       }},
      {"ping", {"ping", "-6", "dest6.quillon.test"}, 0,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["address"], "2001:db8:3::2");
         ASSERT_EQ(j["replies"].size(), 4u);
         EXPECT_EQ(j["replies"][3]["from"], "2001:db8:3::2");
         EXPECT_EQ(j["received"], 4);
       }},
      {"ping", {"ping", "nowhere.missing.test"}, 1,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["error"], "host not found");
         EXPECT_EQ(j["replies"], json::array());
         EXPECT_FALSE(j.contains("sent")) << "no summary, as no summary line";
       }},
      {"ping", {"ping", "198.18.10.1"}, 0,
       [](const json& j, const std::vector<std::string>&) {
         // r1's reports are rate-limited: each is unreachable or a time-out.
         ASSERT_EQ(j["replies"].size(), 4u);
         for (const auto& r : j["replies"])
           EXPECT_TRUE(r.contains("timeout") || r.value("unreachable", "") == "host") << r;
         EXPECT_EQ(j["received"], 0);
         EXPECT_EQ(j["avg_ms"], nullptr);
       }},
      {"trace", {"trace", "dest.quillon.test"}, 0,
       [&](const json& j, const std::vector<std::string>& text) {
         ASSERT_EQ(j["hops"].size(), 3u);
         const char* addresses[] = {"198.18.1.1", "198.18.2.2", "198.18.3.2"};
         const char* names[] = {"r1.quillon.test", "r2.quillon.test", "dest.quillon.test"};
         for (size_t i = 0; i < 3; ++i) {
           EXPECT_EQ(j["hops"][i]["ttl"], i + 1);
           EXPECT_EQ(j["hops"][i]["address"], addresses[i]);
           EXPECT_EQ(j["hops"][i]["name"], names[i]);
         }
         EXPECT_EQ(j["reached"], true);
         EXPECT_EQ(HopLines(text), j["hops"].size()) << "one hop per line";
       }},
      {"trace", {"trace", "-6", "dest6.quillon.test"}, 0,
       [](const json& j, const std::vector<std::string>& text) {
         ASSERT_EQ(j["hops"].size(), 3u);
         EXPECT_EQ(j["hops"][0]["address"], "2001:db8:1::1");
         EXPECT_EQ(j["hops"][2]["address"], "2001:db8:3::2");
         EXPECT_EQ(j["reached"], true);
         EXPECT_EQ(HopLines(text), 3u);
       }},
      {"trace", {"trace", dropped}, 0,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["hops"], json::parse(R"([{"ttl":1,"timeout":true}])"));
         EXPECT_EQ(j["reached"], false);
       }},
      {"trace", {"trace", "198.18.10.5"}, 0,
       [](const json& j, const std::vector<std::string>&) {
         // r1's reports are rate-limited (the kernel's, per client): the
         // text run and this one may see different hops time out.
         EXPECT_EQ(j["reached"], false);
         ASSERT_FALSE(j["hops"].empty());
         const json& last = j["hops"].back();
         EXPECT_TRUE(last.contains("timeout") || last.value("unreachable", "") == "host") << last;
       }},
      {"trace", {"trace", "nowhere.missing.test"}, 1,
       [](const json& j, const std::vector<std::string>&) {
         EXPECT_EQ(j["error"], "host not found");
         EXPECT_EQ(j["reached"], false);
       }},
  };
  // Lists: JSON Lines in input order, each line the single-name run's.
  const std::string mxNames = "mail.alias.test\n# a comment\n\nNoMx.test\nwww.missing.test\n"
                              "b\xC3\xBC" "cher.test\n";
  CliRun mxList{{"-j", "4", "mx", "--json", "-"}, mxNames};
  CliRun mxTextList{{"-j", "4", "mx", "-"}, mxNames};
  CliRun followList{{"-j", "2", "whois", "--follow", "--json", "-"}, "thin.com\nx.down\n"};
  CliRun pingList{{"-j", "2", "ping", "--json", "-"}, "198.18.32.1\n198.18.32.2\n"};

  // Each case's run without and with --json.
  std::vector<CliRun> texts(cases.size()), jsons(cases.size());
  std::vector<CliRun*> runs;
  for (size_t i = 0; i < cases.size(); ++i) {
    texts[i].args = cases[i].args;
    jsons[i].args = cases[i].args;
    jsons[i].args.insert(jsons[i].args.begin() + 1, "--json");
    runs.push_back(&texts[i]);
    runs.push_back(&jsons[i]);
  }
  for (CliRun* r : {&mxList, &mxTextList, &followList, &pingList}) runs.push_back(r);
  RunAll(runs, seconds(90));

  std::vector<std::pair<std::string, std::string>> toValidate;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const CliRun& text = texts[i];
    const CliRun& js = jsons[i];
    std::string joined;
    for (const auto& a : js.args) joined += a + " ";
    SCOPED_TRACE(joined);
    EXPECT_EQ(text.status, c.status) << text.out << text.err;
    EXPECT_EQ(js.status, text.status) << "the same exit status with and without --json" << js.out;
    EXPECT_EQ(js.err, "");
    const auto lines = Lines(js.out);
    ASSERT_EQ(lines.size(), 1u) << js.out;
    ASSERT_EQ(js.out.back(), '\n');
    for (unsigned char ch : lines[0]) ASSERT_GE(ch, 0x20) << "a raw control byte: " << lines[0];
    const json j = json::parse(lines[0]);
    EXPECT_EQ(j["command"], c.args[0]);
    c.check(j, Lines(text.out));
    toValidate.emplace_back(c.schema, js.out);
  }
  // The list's lines are the single runs' lines, in input order.
  const auto single = [&](const std::string& command, const std::string& name) {
    for (size_t i = 0; i < cases.size(); ++i)
      if (cases[i].args.size() == 2 && cases[i].args[0] == command && cases[i].args[1] == name)
        return jsons[i].out;
    return std::string("(no single run of " + name + ")");
  };
  EXPECT_EQ(mxList.status, 1);
  EXPECT_EQ(mxList.status, mxTextList.status);
  EXPECT_EQ(mxList.out, single("mx", "mail.alias.test") +
                            single("mx", "nomx.test") + single("mx", "www.missing.test") +
                            single("mx", "b\xC3\xBC" "cher.test"));
  EXPECT_EQ(followList.status, 1);
  const auto follow = Lines(followList.out);
  ASSERT_EQ(follow.size(), 2u) << followList.out;
  EXPECT_EQ(json::parse(follow[0])["name"], "thin.com");
  EXPECT_EQ(json::parse(follow[1])["name"], "x.down");
  EXPECT_EQ(pingList.status, 0) << pingList.err;
  const auto pings = Lines(pingList.out);
  ASSERT_EQ(pings.size(), 2u) << pingList.out;
  for (size_t i = 0; i < 2; ++i) {
    const json j = json::parse(pings[i]);
    const std::string address = "198.18.32." + std::to_string(i + 1);
    EXPECT_EQ(j["address"], address);
    for (const auto& r : j["replies"]) EXPECT_EQ(r["from"], address) << "its own replies only";
  }
  toValidate.emplace_back("mx", mxList.out);
  toValidate.emplace_back("whois", followList.out);
  toValidate.emplace_back("ping", pingList.out);
  const auto problems = test::SchemaProblems(toValidate);
  for (size_t i = 0; i < problems.size(); ++i)
    EXPECT_EQ(problems[i], "") << toValidate[i].first << ": " << toValidate[i].second;
}

// The sanitizers' quillon-cli is many times slower: their runs take a tenth
// of the list, which still spans every kind of name many times.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRecipeNames = 2000;
#else
constexpr int kRecipeNames = 20000;
#endif

// The shard hash as docs/scale.md gives it: FNV-1a 64 of the name's bytes.
uint32_t Fnv1aShard(const std::string& name, uint32_t count) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : name) h = (h ^ c) * 0x100000001b3ULL;
  return static_cast<uint32_t>(h % count);
}

// The recipes of docs/scale.md on this machine, over 20,000 MX names of the
// world: GNU parallel cutting the list into chunks for 4 local jobs with
// the output kept in input order, and the whole list given to 4 shards run
// at once. Merged, each holds every name exactly once, each record the one
// the single run gives.
TEST_F(CliJsonWorld, ParallelChunksAndShardsEqualOneRun) {
  if (std::system("command -v parallel > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "GNU parallel is not installed (scripts/deps.sh installs it)";
  const int count = kRecipeNames;
  ASSERT_GE(std::stoi("0" + world_->fact("LIST_NAMES")), 10000);
  // h0.l0.test ... h1.l9999.test: 20,000 names, each asking for lN.test.
  // GNU parallel cuts them into 8 chunks.
  std::string names;
  std::vector<std::string> order;
  for (int i = 0; i < count; ++i) {
    order.push_back("h" + std::to_string(i / 10000) + ".l" + std::to_string(i % 10000) + ".test");
    names += order.back() + "\n";
  }
  std::ofstream(dir_ / "names", std::ios::binary) << names;
  const std::string cli = Quote(CliPath());
  const std::string script =
      "cd " + Quote(dir_.string()) + " || exit 1\n" +
      cli + " -j 64 mx --json - < names > single.jsonl; echo $? > single.rc\n"
      "parallel --will-cite --pipe -N " + std::to_string(count / 8) + " --keep-order -j 4 " + cli +
      " -j 16 mx --json - < names > parallel.jsonl 2> parallel.err\n"
      "for k in 0 1 2 3; do (" + cli + " -j 16 --shard $k/4 mx --json - < names > shard$k.jsonl;"
      " echo $? > shard$k.rc) & done; wait\n";
  const RunResult r = world_->Exec({"bash", "-c", script}, seconds(120));
  ASSERT_EQ(r.status, 0) << r.errors;
  std::cout << "[ note     ] single run, parallel chunks and 4 shards in " << r.elapsed.count()
            << " ms\n";

  const std::string single = ReadFile(dir_ / "single.jsonl");
  const auto singleLines = Lines(single);
  ASSERT_EQ(singleLines.size(), static_cast<size_t>(count));
  EXPECT_EQ(ReadFile(dir_ / "single.rc"), "1\n") << "the NXDOMAIN names failed";
  std::map<std::string, std::string> byName;
  for (size_t i = 0; i < singleLines.size(); ++i) {
    const json j = json::parse(singleLines[i]);
    ASSERT_EQ(j["name"], order[i]) << "input order";
    byName[order[i]] = singleLines[i];
  }
  // The kinds of the zone are all there.
  EXPECT_NE(single.find(R"("exchangers":[{"host":"mx1.quillon.test","preference":10},)"
                        R"({"host":"mx2.quillon.test","preference":20}])"),
            std::string::npos);
  EXPECT_NE(single.find(R"("status":"NXDOMAIN")"), std::string::npos);

  // GNU parallel --keep-order: the chunks' lines in input order, each as the
  // single run's.
  EXPECT_EQ(ReadFile(dir_ / "parallel.jsonl"), single) << ReadFile(dir_ / "parallel.err");

  // Shards: each in input order, only its own names; merged, every name once.
  std::map<std::string, int> seen;
  for (uint32_t k = 0; k < 4; ++k) {
    SCOPED_TRACE("shard " + std::to_string(k));
    EXPECT_EQ(ReadFile(dir_ / ("shard" + std::to_string(k) + ".rc")), "1\n");
    size_t at = 0;
    for (const auto& line : Lines(ReadFile(dir_ / ("shard" + std::to_string(k) + ".jsonl")))) {
      const std::string name = json::parse(line)["name"];
      EXPECT_EQ(Fnv1aShard(name, 4), k) << name;
      EXPECT_EQ(line, byName[name]) << "the single run's record";
      ++seen[name];
      const size_t position =
          static_cast<size_t>(std::find(order.begin() + static_cast<long>(at), order.end(), name) -
                              order.begin());
      EXPECT_LT(position, order.size()) << name << " out of input order";
      at = position;
    }
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(count));
  for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << name;
  // The kinds of records repeat every 8 names: the first 2,000 lines hold
  // every kind many times (validating all 20,000 takes Python seconds).
  std::string sample;
  for (size_t i = 0; i < 2000 && i < singleLines.size(); ++i) sample += singleLines[i] + "\n";
  EXPECT_EQ(test::SchemaProblems("mx", sample), "");
}

}  // namespace
}  // namespace quillon::e2e
