// quillon-cli's parts without the network: the argument parser (each usage
// error with its exact text), the names of a list (comments, blanks, CR LF,
// cut lines, input that trickles in), and the list runner with commands of
// the test's own: input order, the bounds on names and bytes held, -j 1 one
// at a time, failures, lines holding a NUL byte, an interruption that ends the
// names in flight, an output that fails, and threads that cannot be started.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/cli/cli_args.h"
#include "app/cli/cli_list.h"
#include "app/cli/cli_names.h"
#include "app/cli/cli_run_stop.h"
#include "app/cli/json_output.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

const TCliCommandInfo kCommands[] = {
    {"whois", true, {"--follow"}},
    {"mx", true, {}},
    {"ping", true, {"-4", "-6"}},
    {"info", false, {}},
    // A command with valued options, an @VALUE form, a further word and an
    // option that stands in for the NAME.
    {"dig", true, {{"-t", true}, {"@", true}, {"--tcp"}, {"-x", true}}, 1, "-x"},
};

TCliArgs Parse(std::vector<std::string> args) {
  return ParseCliArgs(args, kCommands);
}

TEST(CliArgs, UsageErrorsWithTheirText) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{}, "missing command"},
      {{"-j", "4"}, "missing command"},
      {{"-x", "mx", "-"}, "unknown option '-x'"},
      {{"--help", "mx"}, "--help takes no argument"},
      {{"--version", "x"}, "--version takes no argument"},
      {{"lookup", "a"}, "unknown command 'lookup'"},
      {{"mx"}, "mx takes exactly one NAME"},
      {{"mx", "a", "b"}, "mx takes exactly one NAME"},
      {{"mx", "-", "a"}, "'-' must be the last argument"},
      {{"mx", "-", "-"}, "'-' must be the last argument"},
      {{"mx", "--follow", "-"}, "unknown option '--follow' for mx"},
      {{"whois", "--follow"}, "whois takes exactly one NAME"},
      {{"info", "-"}, "info takes no argument"},
      {{"-j", "2", "info"}, "-j applies to a list of names (info has none)"},
      {{"-j", "2", "mx", "a.test"}, "-j applies to a list of names (NAME -)"},
      {{"-j"}, "-j needs a number from 1 to 256"},
      {{"-j", "0", "mx", "-"}, "-j needs a number from 1 to 256"},
      {{"-j", "257", "mx", "-"}, "-j needs a number from 1 to 256"},
      {{"-j", "99999999999999999999", "mx", "-"}, "-j needs a number from 1 to 256"},
      {{"-j", "-3", "mx", "-"}, "-j needs a number from 1 to 256"},
      {{"-j", "1x", "mx", "-"}, "-j needs a number from 1 to 256"},
      {{"-j", "", "mx", "-"}, "-j needs a number from 1 to 256"},
      {{"-j0", "mx", "-"}, "-j needs a number from 1 to 256"},
      {{"dig", "-t"}, "-t needs a value"},
      {{"dig", "-t", "a", "-t", "b", "n"}, "-t given twice"},
      {{"dig", "@a", "@b", "n"}, "@ given twice"},
      {{"dig", "n", "a", "b"}, "dig takes exactly one NAME"},
      {{"dig", "-", "a"}, "'-' must be the last argument"},
      {{"dig", "--tcp", "-q", "n"}, "unknown option '-q' for dig"},
      {{"dig", "-x"}, "-x needs a value"},
      {{"mx", "a", "b"}, "mx takes exactly one NAME"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += "[" + a + "]";
    const TCliArgs a = Parse(c.args);
    EXPECT_EQ(a.action, TCliArgs::Action::UsageError) << shown;
    EXPECT_EQ(a.error, c.error) << shown;
  }
}

TEST(CliArgs, WhatRuns) {
  TCliArgs a = Parse({"mx", "Mail.Example.COM"});
  EXPECT_EQ(a.action, TCliArgs::Action::Run);
  EXPECT_EQ(a.command, "mx");
  EXPECT_EQ(a.name, "mail.example.com");
  EXPECT_FALSE(a.list);

  a = Parse({"mx", "-"});
  EXPECT_TRUE(a.list);
  EXPECT_EQ(a.jobs, 16);
  a = Parse({"-j", "256", "ping", "-6", "-"});
  EXPECT_TRUE(a.list);
  EXPECT_EQ(a.jobs, 256);
  EXPECT_TRUE(a.Has("-6"));
  EXPECT_FALSE(a.Has("-4"));
  a = Parse({"-j1", "whois", "--follow", "-"});
  EXPECT_EQ(a.jobs, 1);
  EXPECT_EQ(a.options, std::vector<std::string>{"--follow"});
  // A single name may start with a dash, as before.
  a = Parse({"whois", "-x"});
  EXPECT_EQ(a.action, TCliArgs::Action::Run);
  EXPECT_EQ(a.name, "-x");

  // Valued options in any order before the NAME, then a further word.
  a = Parse({"dig", "@198.18.4.53", "-t", "MX", "--tcp", "Example.ORG", "TXT"});
  EXPECT_EQ(a.action, TCliArgs::Action::Run) << a.error;
  EXPECT_EQ(a.Value("@"), "198.18.4.53");
  EXPECT_EQ(a.Value("-t"), "MX");
  EXPECT_TRUE(a.Has("--tcp"));
  EXPECT_EQ(a.Value("--tcp"), "");
  EXPECT_EQ(a.name, "example.org");
  EXPECT_EQ(a.words, std::vector<std::string>{"TXT"});
  a = Parse({"dig", "-x", "2001:DB8::1"});
  EXPECT_EQ(a.action, TCliArgs::Action::Run) << a.error;
  EXPECT_EQ(a.name, "2001:db8::1");
  EXPECT_EQ(a.Value("-x"), "2001:DB8::1");
  a = Parse({"-j", "4", "dig", "-t", "a", "-"});
  EXPECT_TRUE(a.list);
  EXPECT_TRUE(a.words.empty());

  EXPECT_EQ(Parse({"info"}).action, TCliArgs::Action::Run);
  EXPECT_EQ(Parse({"--help"}).action, TCliArgs::Action::Help);
  EXPECT_EQ(Parse({"-h"}).action, TCliArgs::Action::Help);
  EXPECT_EQ(Parse({"--version"}).action, TCliArgs::Action::Version);
}

TEST(JsonOutput, ServerTextStaysValidJsonOnOneLine) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"plain", R"("plain")"},
      {std::string("nul\0byte", 8), R"("nul\u0000byte")"},
      {"tab\tcr\rlf\n\x1b[31m", R"("tab\tcr\rlf\n\u001b[31m")"},
      {"quote\" back\\", R"("quote\" back\\")"},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},          // UTF-8 kept as it is
      {"Latin-1 caf\xe9!", "\"Latin-1 caf\xef\xbf\xbd!\""},  // not UTF-8: U+FFFD
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonLine(nlohmann::json(c.text)), c.json) << c.text;
    EXPECT_EQ(JsonLine(nlohmann::json(c.text)).find('\n'), std::string::npos);
  }
}

TEST(CliNames, NameOfLine) {
  const struct {
    std::string line;
    std::optional<std::string> name;
    bool words = false;
  } cases[] = {
      {"example.com", "example.com"},
      {"  Mail.Example.COM \t", "mail.example.com"},
      {"example.com\r", "example.com"},
      {"", std::nullopt},
      {" \t\r", std::nullopt},
      {"# a comment", std::nullopt},
      {"   #indented comment", std::nullopt},
      {"a#b", "a#b"},
      {"ÉCOLE.fr", "École.fr"},  // only A to Z are lowered, as for one name
      // A line is one name, lower-cased whole, unless the command takes
      // words after the name (dns: NAME TYPE): those stay as given, one
      // blank apart.
      {" Example.COM \t TXT  x\r", "example.com \t txt  x"},
      {" Example.COM \t TXT  x\r", "example.com TXT x", true},
      // A NUL byte stays, wherever it is, for the list to refuse the line.
      {std::string("A\0b.test", 8), std::string("a\0b.test", 8)},
      {std::string("example.com\0\r", 13), std::string("example.com\0", 12)},
      {std::string(" \0 ", 3), std::string("\0", 1)},
      {std::string("# note\0", 7), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(NameOfLine(c.line, c.words), c.name) << c.line;
}

// A pipe whose write end the test feeds.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fd), 0); }
  ~Pipe() {
    CloseWrite();
    ::close(fd[0]);
  }
  void Write(const std::string& s) {
    EXPECT_EQ(::write(fd[1], s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  void CloseWrite() {
    if (fd[1] >= 0) ::close(fd[1]);
    fd[1] = -1;
  }
  int fd[2];
};

std::vector<std::string> ReadAll(TNameReader& reader) {
  std::vector<std::string> names;
  std::string name;
  for (int guard = 0; guard < 1000; ++guard) {
    const auto got = reader.Next(name, 50);
    if (got == TNameReader::Got::End) break;
    if (got == TNameReader::Got::Name) names.push_back(name);
  }
  return names;
}

TEST(CliNames, ReaderSkipsCommentsAndBlanksAndCutsLongLines) {
  Pipe p;
  const std::string longName(kMaxListLine + 100, 'a');
  p.Write("# list\r\none.test\r\n\r\n  Two.TEST  \n#three.test\n" + longName +
          "\nfour.test\nlast.test");
  p.CloseWrite();
  TNameReader reader(p.fd[0]);
  EXPECT_EQ(ReadAll(reader),
            (std::vector<std::string>{"one.test", "two.test", std::string(kMaxListLine, 'a'),
                                      "four.test", "last.test"}));
}

TEST(CliNames, ReaderWaitsForLinesThatTrickleIn) {
  Pipe p;
  TNameReader reader(p.fd[0]);
  std::string name;
  EXPECT_EQ(reader.Next(name, 20), TNameReader::Got::Waiting);
  p.Write("par");
  EXPECT_EQ(reader.Next(name, 20), TNameReader::Got::Waiting) << "no line yet";
  p.Write("tial.test\nnext");
  ASSERT_EQ(reader.Next(name, 20), TNameReader::Got::Name);
  EXPECT_EQ(name, "partial.test");
  // A long line arriving in pieces is cut once, its rest dropped.
  p.Write(".test\n" + std::string(kMaxListLine + 10, 'b'));
  ASSERT_EQ(reader.Next(name, 20), TNameReader::Got::Name);
  EXPECT_EQ(name, "next.test");
  ASSERT_EQ(reader.Next(name, 20), TNameReader::Got::Name);
  EXPECT_EQ(name, std::string(kMaxListLine, 'b'));
  p.Write(std::string(kMaxListLine * 2, 'c') + "\nafter.test\n");
  ASSERT_EQ(reader.Next(name, 20), TNameReader::Got::Name);
  EXPECT_EQ(name, "after.test");
  p.CloseWrite();
  EXPECT_EQ(reader.Next(name, 20), TNameReader::Got::End);
}

// The list's output, through a temporary file.
struct Output {
  Output() : file(std::tmpfile()) {}
  ~Output() { std::fclose(file); }
  std::string Text() {
    std::fflush(file);
    std::rewind(file);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) s.append(buf, n);
    return s;
  }
  std::FILE* file;
};

// Counts how many commands run at once.
struct Concurrency {
  void Enter() {
    const int now = ++running;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
  }
  void Leave() { --running; }
  std::atomic<int> running{0};
  std::atomic<int> most{0};
};

TEST(CliList, BlocksComeInInputOrderWhateverTheOrderOfCompletion) {
  for (int jobs : {1, 8, 64}) {
    SCOPED_TRACE(jobs);
    Pipe p;
    std::string input, expected;
    for (int i = 0; i < 300; ++i) {
      const std::string name = "n" + std::to_string(i) + ".test";
      input += (i % 10 == 3 ? "# skipped\n" : "") + name + "\n";
      expected +=
          "== " + name + "\nline one of " + name + "\n" + (i % 4 ? "line two\n" : "") + "\n";
    }
    p.Write(input);
    p.CloseWrite();
    Concurrency c;
    std::atomic<int> seed{0};
    const TNameCommand command = [&](const std::string& name, std::FILE* out) {
      c.Enter();
      std::mt19937 random(static_cast<unsigned>(++seed));
      std::fprintf(out, "line one of %s\n", name.c_str());
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
      const int i = std::atoi(name.c_str() + 1);
      if (i % 4) std::fputs("line two\n", out);
      c.Leave();
      return i % 50 == 7 ? 1 : 0;
    };
    Output out;
    TListOptions options;
    options.jobs = jobs;
    EXPECT_EQ(RunList(p.fd[0], out.file, command, options), 1) << "n7 failed";
    EXPECT_EQ(out.Text(), expected);
    if (jobs == 1)
      EXPECT_EQ(c.most.load(), 1) << "-j 1 runs one name after the other";
    else
      EXPECT_GT(c.most.load(), 1);
    EXPECT_LE(c.most.load(), jobs);
  }
}

TEST(CliList, AllWellIsStatusZeroAndAnEmptyListPrintsNothing) {
  Pipe p;
  p.Write("a\nb\n");
  p.CloseWrite();
  Output out;
  EXPECT_EQ(RunList(p.fd[0], out.file, [](const std::string&, std::FILE*) { return 0; }, {}), 0);
  EXPECT_EQ(out.Text(), "== a\n\n== b\n\n");

  Pipe empty;
  empty.Write("\n# nothing\n");
  empty.CloseWrite();
  Output none;
  EXPECT_EQ(RunList(empty.fd[0], none.file, [](const std::string&, std::FILE*) { return 0; }, {}),
            0);
  EXPECT_EQ(none.Text(), "");
}

// A first name that does not end holds back its block and those after it;
// the others go on until 4 x jobs names are held, and then reading stops.
TEST(CliList, ReadingStopsWhileFourTimesJobsNamesWait) {
  constexpr int kJobs = 2;
  Pipe p;
  std::string input;
  for (int i = 0; i < 1000; ++i) input += "n" + std::to_string(i) + "\n";
  std::thread writer([&] {
    p.Write(input);  // blocks once the pipe is full: the list must read on
    p.CloseWrite();
  });
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::atomic<int> started{0};
  const TNameCommand command = [&](const std::string& name, std::FILE* out) {
    ++started;
    if (name == "n0") {
      std::unique_lock lock(m);
      cv.wait(lock, [&] { return release; });
    }
    std::fputs("x\n", out);
    return 0;
  };
  Output out;
  TListOptions options;
  options.jobs = kJobs;
  std::thread run([&] { EXPECT_EQ(RunList(p.fd[0], out.file, command, options), 0); });
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(started.load(), 4 * kJobs) << "names started while the first one waits";
  {
    const std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  run.join();
  writer.join();
  EXPECT_EQ(started.load(), 1000);
  const std::string text = out.Text();
  EXPECT_EQ(text.substr(0, 18), "== n0\nx\n\n== n1\nx\n\n");
  EXPECT_NE(text.find("== n999\nx\n\n"), std::string::npos);
}

// An operation that writes a line, then waits until it is interrupted.
class WaitingRunner : public TOperationRunner {
 public:
  void RunOperation(int, const std::string&) override {
    std::unique_lock lock(m_);
    cv_.wait_for(lock, 10s, [&] { return interrupted_; });
  }
  void Interrupt() override {
    {
      const std::lock_guard lock(m_);
      interrupted_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool interrupted_ = false;
};

TEST(CliList, InterruptionEndsTheNamesInFlightAndPrintsThem) {
  Pipe p;  // left open: more names could come
  p.Write("fast\nslow1\nslow2\nslow3\nnever\n");
  std::atomic<bool> interrupted{false};
  std::atomic<int> started{0};
  const TNameCommand command = [&](const std::string& name, std::FILE* out) {
    ++started;
    std::fprintf(out, "began %s\n", name.c_str());
    if (name == "fast") return 0;
    WaitingRunner runner;
    const TRunStopAttachment attachment(runner);
    runner.RunOperation(0, name);
    return 1;
  };
  Output out;
  TListOptions options;
  options.jobs = 3;
  options.interrupted = &interrupted;
  int status = -1;
  std::thread run([&] { status = RunList(p.fd[0], out.file, command, options); });
  for (int i = 0; i < 200 && started.load() < 4; ++i) std::this_thread::sleep_for(10ms);
  const auto t0 = std::chrono::steady_clock::now();
  interrupted = true;
  run.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_EQ(status, kListExitInterrupted);
  EXPECT_EQ(started.load(), 4) << "the fifth name never starts";
  EXPECT_EQ(out.Text(),
            "== fast\nbegan fast\n\n== slow1\nbegan slow1\n\n== slow2\nbegan slow2\n\n"
            "== slow3\nbegan slow3\n\n");
}

// Runs `body` on a thread of its own and answers its result; a body still
// running after `limit` ends the test program rather than hang it.
int Within(std::chrono::seconds limit, std::function<int()> body) {
  std::packaged_task<int()> task(std::move(body));
  auto result = task.get_future();
  std::thread thread(std::move(task));
  if (result.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "still running after %lld s: it hangs\n",
                 static_cast<long long>(limit.count()));
    std::abort();
  }
  thread.join();
  return result.get();
}

// Threads that cannot be created (-j 256 under a low ulimit -v): those that
// started are stopped and joined, no name runs, and the list fails with one
// line, whichever thread was the first to fail.
TEST(CliList, ThreadsThatCannotStartStopEveryoneAndTheListFails) {
  constexpr int kJobs = 4;
  for (const int allowed : {0, 2, kJobs}) {  // no worker, some, all but the reader
    SCOPED_TRACE(allowed);
    Pipe p;
    p.Write("a.test\nb.test\nc.test\n");
    p.CloseWrite();
    std::atomic<int> ran{0};
    std::atomic<int> started{0};
    std::atomic<int> ended{0};
    TListOptions options;
    options.jobs = kJobs;
    options.startThread = [&](std::function<void()> body) {
      if (started.load() == allowed)
        throw std::system_error(EAGAIN, std::generic_category(), "thread");
      ++started;
      return std::jthread([&ended, body = std::move(body)] {
        body();
        ++ended;
      });
    };
    Output out;
    testing::internal::CaptureStderr();
    const int status = Within(10s, [&] {
      return RunList(
          p.fd[0], out.file,
          [&](const std::string&, std::FILE*) {
            ++ran;
            return 0;
          },
          options);
    });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(ended.load(), started.load()) << "every thread that started has ended";
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(err, "quillon-cli: cannot start the list's threads (" + std::to_string(allowed) +
                       " of 5 started); try a smaller -j\n");
  }
}

// Finished blocks that wait behind a slow first name are bounded in bytes
// too: once they hold the bound, no further name starts (nor is read), and
// everything comes out in order once the first name ends.
TEST(CliList, FinishedBlocksHeldAreBoundedInBytes) {
  constexpr int kJobs = 4;
  constexpr size_t kBlock = 1000;
  Pipe p;
  std::string input;
  for (int i = 0; i < 200; ++i) input += "n" + std::to_string(i) + "\n";
  std::thread writer([&] {
    p.Write(input);
    p.CloseWrite();
  });
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::atomic<int> started{0};
  const TNameCommand command = [&](const std::string& name, std::FILE* out) {
    ++started;
    if (name == "n0") {
      std::unique_lock lock(m);
      cv.wait(lock, [&] { return release; });
    }
    std::fputs((std::string(kBlock - 1, 'x') + "\n").c_str(), out);
    return 0;
  };
  Output out;
  TListOptions options;
  options.jobs = kJobs;
  options.maxHeldBytes = 2500;  // reached by the third finished block
  std::thread run([&] { EXPECT_EQ(RunList(p.fd[0], out.file, command, options), 0); });
  std::this_thread::sleep_for(300ms);
  // n0, three blocks that reach the bound, and at most the other workers'
  // names already under way then; without the bound, 4 x jobs.
  EXPECT_LE(started.load(), 1 + 3 + (kJobs - 1));
  EXPECT_GE(started.load(), 4);
  {
    const std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  run.join();
  writer.join();
  EXPECT_EQ(started.load(), 200);
  std::string expected;
  for (int i = 0; i < 200; ++i)
    expected += "== n" + std::to_string(i) + "\n" + std::string(kBlock - 1, 'x') + "\n\n";
  EXPECT_EQ(out.Text(), expected);
}

// A line holding a NUL byte is not run as the name before the NUL: it gets a
// block of its own with the failure line, its heading showing the NUL as \0.
TEST(CliList, LinesWithANulByteAreRefusedInBlocksOfTheirOwn) {
  Pipe p;
  using namespace std::string_literals;
  p.Write("ok.test\nbad\0name.test\n \0\nEnd.test\0\n# a \0 comment\nlast.test\n"s);
  p.CloseWrite();
  std::mutex m;
  std::vector<std::string> ran;
  const TNameCommand command = [&](const std::string& name, std::FILE* out) {
    {
      const std::lock_guard lock(m);
      ran.push_back(name);
    }
    std::fprintf(out, "ran %s\n", name.c_str());
    return 0;
  };
  Output out;
  TListOptions options;
  options.jobs = 2;
  EXPECT_EQ(RunList(p.fd[0], out.file, command, options), 1);
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ(ran, (std::vector<std::string>{"last.test", "ok.test"}));
  EXPECT_EQ(out.Text(),
            "== ok.test\nran ok.test\n\n"
            "== bad\\0name.test\nError: the name holds a NUL byte\n\n"
            "== \\0\nError: the name holds a NUL byte\n\n"
            "== end.test\\0\nError: the name holds a NUL byte\n\n"
            "== last.test\nran last.test\n\n");
}

// An output that can no longer be written (here a full device) stops the
// list at once: the names in flight are interrupted, nothing more is read
// or printed, and the status is 1.
TEST(CliList, AFailedWriteStopsTheListAtOnce) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  Pipe p;  // left open: more names could come
  std::string input;
  for (int i = 0; i < 100; ++i) input += "n" + std::to_string(i) + "\n";
  p.Write(input);
  std::atomic<int> started{0};
  const TNameCommand command = [&](const std::string& name, std::FILE* out) {
    ++started;
    std::fprintf(out, "began %s\n", name.c_str());
    if (name == "n0") return 0;
    WaitingRunner runner;  // waits 10 s unless interrupted
    const TRunStopAttachment attachment(runner);
    runner.RunOperation(0, name);
    return 0;
  };
  TListOptions options;
  options.jobs = 3;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Within(20s, [&] { return RunList(p.fd[0], full, command, options); }), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  EXPECT_LE(started.load(), 1 + 3) << "n0, and a name for each worker when it was printed";
  EXPECT_TRUE(std::ferror(full));
  std::fclose(full);
}

// A stop that comes before a command attaches still ends it at once.
TEST(CliList, StopBeforeAttachInterruptsAtOnce) {
  TRunStop stop;
  stop.Stop();
  const TRunStopBinding binding(stop);
  WaitingRunner runner;
  const auto t0 = std::chrono::steady_clock::now();
  {
    const TRunStopAttachment attachment(runner);
    runner.RunOperation(0, "x");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_TRUE(stop.Stopped());
}

// The progress line is redrawn in place, at most 10 times a second, and
// erased at the end; the blocks are untouched by it.
TEST(CliList, ProgressIsRedrawnInPlaceAndErasedAtTheEnd) {
  Pipe p;
  std::string input;
  for (int i = 0; i < 30; ++i) input += "n" + std::to_string(i) + "\n";
  p.Write(input);
  p.CloseWrite();
  Output out, progress;
  TListOptions options;
  options.jobs = 2;
  options.progress = progress.file;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(RunList(
                p.fd[0], out.file,
                [](const std::string&, std::FILE*) {
                  std::this_thread::sleep_for(20ms);
                  return 0;
                },
                options),
            0);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  const std::string text = progress.Text();
  ASSERT_GE(text.size(), 4u);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K") << "erased at the end";
  size_t draws = 0;
  for (size_t at = 0; (at = text.find("names done", at)) != std::string::npos; ++at) ++draws;
  EXPECT_GE(draws, 1u);
  EXPECT_LE(draws, static_cast<size_t>(ms.count() / 100 + 2)) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos) << "one line, redrawn";
  EXPECT_EQ(out.Text().substr(0, 10), "== n0\n\n== ");
}

TEST(CliList, ProgressText) {
  EXPECT_EQ(ProgressText(10, 40, 2, 4.0), "10/40 names done, 2 failed, 2.5 names/s");
  EXPECT_EQ(ProgressText(0, 0, 0, 0.0), "0/0 names done, 0 failed, 0.0 names/s");
}

}  // namespace
}  // namespace quillon
