// quillon-cli's list mode inside the end-to-end world: 200 MX names give, in
// input order, exactly the block each name's single-name command gives, at
// every level of concurrency; 50 ping targets (answering, unreachable,
// dropped) each get their own replies on both kinds of ICMP socket; SIGINT
// stops reading and prints the names in flight; the exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/world.h"
#include "tests/support/support.h"

namespace quillon::e2e {
namespace {

using std::chrono::seconds;

class CliListWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to build network namespaces";
    if (CliPath().empty()) GTEST_SKIP() << "quillon-cli is not built in this configuration";
    world_ = std::make_unique<World>("qe2l");
    ASSERT_TRUE(world_->ok()) << world_->error();
    dir_ = std::filesystem::temp_directory_path() / test::UniqueName("quillon-list");
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // A file of the test's own with `text` in it; its path.
  std::string File(const std::string& name, const std::string& text) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  // A shell script run inside the client namespace.
  RunResult Shell(const std::string& script, seconds limit) {
    return world_->Exec({"bash", "-c", script}, limit);
  }
  RunResult List(const std::string& args, const std::string& inputFile, seconds limit) {
    return Shell(CliPath() + " " + args + " < " + inputFile, limit);
  }
  std::unique_ptr<World> world_;
  std::filesystem::path dir_;
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The blocks `== NAME`, lines, empty line, of a list's output.
std::vector<std::vector<std::string>> Blocks(const std::vector<std::string>& lines,
                                             std::vector<std::string>* names) {
  std::vector<std::vector<std::string>> blocks;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("== ", 0) != 0) {
      ADD_FAILURE() << "line " << i << " outside a block: " << lines[i];
      return blocks;
    }
    names->push_back(lines[i].substr(3));
    std::vector<std::string> block;
    while (++i < lines.size() && !lines[i].empty()) block.push_back(lines[i]);
    // A ping block holds one empty line of its own, after its heading.
    if (block.size() == 1 && block[0].rfind("Ping for ", 0) == 0 && i + 1 < lines.size()) {
      block.push_back("");
      while (++i < lines.size() && !lines[i].empty()) block.push_back(lines[i]);
    }
    blocks.push_back(block);
  }
  return blocks;
}

// 200 names of every kind of the zone, written as people write lists:
// comments, blank lines, surrounding blanks, capitals, CR LF line ends. At
// -j 1, -j 16 and -j 256 the output is exactly the single-name commands'
// output, name after name, in input order.
TEST_F(CliListWorld, MxListGivesEachNameItsSingleNameBlockInOrder) {
  std::string input = "# customers\r\n\r\n";
  std::vector<std::string> typed;  // as given to the single-name command
  for (int i = 0; i < 196; ++i) {
    std::string name = "l" + std::to_string((i * 37) % 1000) + ".test";
    if (i % 5 == 1) name = "WWW." + name;
    if (i % 7 == 2) name = "Mail.L" + name.substr(name.find('l') + 1);
    typed.push_back(name);
    input += (i % 3 == 0 ? "  " + name + " \t" : name) + (i % 2 ? "\r\n" : "\n");
    if (i % 40 == 0) input += "   \n#" + name + "\n";
  }
  for (const char* extra : {"alias.test", "nomx.test", "missing.test"}) {
    typed.push_back(extra);
    input += std::string(extra) + "\n";
  }
  input += "www.silent.test";  // a last line without its LF
  const std::string inputFile = File("names", input);

  // What the single-name command prints for each name; the silent one is
  // known (it would cost the 5 s of its time-out once more).
  std::string singles;
  for (const auto& n : typed) singles += n + "\n";
  const std::string singlesFile = File("singles", singles);
  const RunResult single = Shell(
      "while read -r n; do " + CliPath() + " mx \"$n\"; echo \"== $?\"; done < " + singlesFile,
      seconds(60));
  std::vector<std::string> expected;
  size_t at = 0;
  for (const auto& n : typed) {
    expected.push_back("== " + Lower(n));
    while (at < single.lines.size() && single.lines[at].rfind("== ", 0) != 0)
      expected.push_back(single.lines[at++]);
    ASSERT_LT(at, single.lines.size()) << Show(single.lines);
    ++at;
    expected.push_back("");
  }
  expected.insert(expected.end(),
                  {"== www.silent.test", "Error: No MX Found for domain www.silent.test", ""});
  // The kinds the zone promises are all there.
  const std::string all = Show(expected);
  for (const char* kind :
       {"Found #1: mx1.quillon.test", "Found #2: mx2.quillon.test", "Found #3: mx2.quillon.test",
        "but no MX entry !", "Error: No MX Found for domain missing.test"})
    EXPECT_NE(all.find(kind), std::string::npos) << kind;

  for (const char* jobs : {"1", "16", "256"}) {
    SCOPED_TRACE(std::string("-j ") + jobs);
    const RunResult r = List(std::string("-j ") + jobs + " mx -", inputFile, seconds(40));
    EXPECT_EQ(r.status, 1) << r.errors;  // the NXDOMAIN names wrote their failure line
    EXPECT_EQ(r.errors, "") << "no progress line when standard error is no terminal";
    EXPECT_EQ(r.lines, expected) << Show(r.lines);
    // The silent server's 5 s are waited once, not once per earlier name.
    EXPECT_LT(r.elapsed.count(), 12000);
  }

  // Every name answered: status 0.
  const RunResult ok = List("mx -", File("good", "l0.test\nl5.test\n"), seconds(20));
  EXPECT_EQ(ok.status, 0) << ok.errors;
  EXPECT_EQ(ok.lines,
            (std::vector<std::string>{"== l0.test", "Found DNS entry for l0.test",
                                      "Found #1: mx1.quillon.test", "", "== l5.test",
                                      "Found DNS entry for l5.test", "but no MX entry !", ""}));
  // Nothing to do: no output, status 0.
  const RunResult none = List("-j 3 whois -", File("none", "# nothing\n\n"), seconds(20));
  EXPECT_EQ(none.status, 0);
  EXPECT_TRUE(none.lines.empty()) << Show(none.lines);
}

// 40 addresses that answer, 5 that r1 reports unreachable and 5 that r1
// drops, pinged at once: each block shows replies from its own address
// only. Then the answering ones again with the datagram socket closed to
// the client (raw sockets, which see every reply).
TEST_F(CliListWorld, PingListGivesEachTargetItsOwnReplies) {
  std::string input;
  std::vector<std::string> targets;
  for (int i = 1; i <= 40; ++i) targets.push_back("198.18.32." + std::to_string(i * 5));
  for (int i = 1; i <= 5; ++i) targets.push_back("198.18.10." + std::to_string(i));
  for (int i = 1; i <= 5; ++i) targets.push_back("198.18.9." + std::to_string(i));
  for (size_t i = 0; i < targets.size(); ++i) {
    // Interleaved, so that the slow ones sit between the fast ones.
    const size_t k = (i * 7) % targets.size();
    input += targets[k] + "\n";
  }
  // r1 answers for an unreachable route at most 5 times in a burst to one
  // client, then once a second (the kernel's limit on route errors, which
  // is not per namespace): an unreachable target's line may be a time-out.
  const std::string unreachable = "Host 198.18.1.1 reports destination network unreachable.";
  const auto check = [&](const RunResult& r, size_t count, int leastUnreachable) {
    std::vector<std::string> names;
    const auto blocks = Blocks(r.lines, &names);
    ASSERT_EQ(blocks.size(), count) << Show(r.lines);
    int unreachableLines = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
      const std::string& a = names[b];
      SCOPED_TRACE(a);
      EXPECT_EQ(a, targets[(b * 7) % targets.size()]) << "input order";
      const bool answers = a.rfind("198.18.32.", 0) == 0;
      std::vector<std::string> p = {"Ping for " + a, ""};
      std::vector<std::string> block = blocks[b];
      for (size_t e = 2; e < 6 && e < block.size(); ++e) {
        if (block[e] == unreachable) {
          ++unreachableLines;
          if (a.rfind("198.18.10.", 0) == 0) block[e] = "Timed out.";
        }
      }
      for (int e = 0; e < 4; ++e)
        p.push_back(answers ? "response from host " + a + " in <ms> ms.\t[" + a + "]"
                            : "Timed out.");
      p.push_back(" ");
      p.push_back(answers ? "Packages : sent = 4, receipt = 4, lost = 0"
                          : "Packages : sent = 4, receipt = 0, lost = 4");
      p.push_back(answers ? "Average = <ms> ms" : "Average = n/a");
      EXPECT_EQ(MatchLines(block, p), "") << Show(blocks[b]);
    }
    EXPECT_GE(unreachableLines, leastUnreachable)
        << "r1's unreachable reports reach their own targets";
  };
  const RunResult r = List("-j 64 ping -", File("targets", input), seconds(40));
  EXPECT_EQ(r.status, 0) << r.errors;
  check(r, targets.size(), 4);
  EXPECT_LT(r.elapsed.count(), 30000) << "the dropped targets wait at the same time";

  // The answering ones only: r1's unreachable reports are spent for a while.
  targets.resize(40);
  input.clear();
  for (size_t i = 0; i < targets.size(); ++i) input += targets[(i * 7) % targets.size()] + "\n";
  const RunResult raw = Shell("sysctl -qw net.ipv4.ping_group_range='1 0' && " + CliPath() +
                                  " -j 40 ping - < " + File("raw", input),
                              seconds(30));
  EXPECT_EQ(raw.status, 0) << raw.errors;
  check(raw, targets.size(), 0);
}

// SIGINT while names are in flight and more are to come (the input stays
// open): reading stops, the names in flight end within about a second with
// what they had written, their blocks come out in order, status 130.
TEST_F(CliListWorld, InterruptPrintsTheNamesInFlightAndExits130) {
  const std::string fifo = (dir_ / "fifo").string();
  const std::string script =
      "mkfifo " + fifo + " || exit 1\n(" + CliPath() + " -j 3 ping - < " + fifo + " > " +
      (dir_ / "out").string() + "; echo \"status=$?\" > " + (dir_ / "status").string() +
      ") & exec 3> " + fifo +
      "\n"
      "printf '198.18.32.1\\n198.18.9.1\\n198.18.9.2\\n198.18.9.3\\n198.18.9.4\\n' >&3\n"
      "sleep 1.5; t0=$EPOCHREALTIME; kill -INT $(pgrep -P $! -x quillon-cli || echo $!)\n"
      "wait $!; t1=$EPOCHREALTIME; echo \"ms=$(( (${t1/./} - ${t0/./}) / 1000 ))\"\n"
      "cat " +
      (dir_ / "status").string() + " " + (dir_ / "out").string() + "; exec 3>&-\n";
  const RunResult r = Shell(script, seconds(30));
  ASSERT_GE(r.lines.size(), 2u) << Show(r.lines) << r.errors;
  const long ms = std::stol(r.lines[0].substr(3));
  EXPECT_LT(ms, 1500) << "the names in flight end soon after SIGINT";
  EXPECT_EQ(r.lines[1], "status=130");
  const std::vector<std::string> out(r.lines.begin() + 2, r.lines.end());
  std::vector<std::string> names;
  const auto blocks = Blocks(out, &names);
  // The answering name is done; the next three were in flight, waiting for
  // their first reply; the fifth never started.
  EXPECT_EQ(names,
            (std::vector<std::string>{"198.18.32.1", "198.18.9.1", "198.18.9.2", "198.18.9.3"}))
      << Show(out);
  if (blocks.size() == 4) {
    EXPECT_EQ(blocks[0].size(), 9u) << Show(blocks[0]);
    for (size_t b = 1; b < 4; ++b)
      EXPECT_EQ(blocks[b], (std::vector<std::string>{"Ping for " + names[b], ""}));
  }
}

}  // namespace
}  // namespace quillon::e2e
