#include "tests/e2e/world.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace quillon::e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A name unique to this process and call.
std::string UniqueName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + std::to_string(::getpid()) + "x" + std::to_string(counter++);
}

// Runs a shell command; its exit status, and its output (stderr included).
int Shell(const std::string& command, std::string* output = nullptr) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = ::pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace

std::string PublicHost() {
  return QUILLON_E2E_PUBLIC_HOST;
}
std::string CliPath() {
  return QUILLON_E2E_CLI;
}
std::string WhoisServerPath() {
  return QUILLON_E2E_WHOIS_SERVER;
}
std::string WorldScript() {
  return QUILLON_E2E_WORLD_SCRIPT;
}

World::World(const std::string& prefix) : name_(UniqueName(prefix)) {
  std::string out;
  const std::string cmd = "bash " + Quote(WorldScript()) + " up " + name_ + " --whois-server " +
                          Quote(WhoisServerPath()) + " --public-host " + Quote(PublicHost()) +
                          " --owner " + std::to_string(::getpid());
  const int rc = Shell(cmd, &out);
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos || line.rfind("e2e-world", 0) == 0) continue;
    facts_[line.substr(0, eq)] = line.substr(eq + 1);
    if (line.rfind("WHOIS_", 0) == 0 && line.find(' ') != std::string::npos) {
      const std::string v = line.substr(eq + 1);
      whois_[v.substr(0, v.find(' '))] = v.substr(v.find(' ') + 1);
    }
  }
  ok_ = rc == 0 && facts_.count("NETNS") == 1 && whois_.size() == 6;
  if (!ok_) error_ = "the world did not come up (status " + std::to_string(rc) + "):\n" + out;
}

World::~World() {
  Shell("bash " + Quote(WorldScript()) + " down " + name_);
}

std::string World::fact(const std::string& key) const {
  const auto it = facts_.find(key);
  return it == facts_.end() ? std::string() : it->second;
}

RunResult World::Exec(const std::vector<std::string>& argv, std::chrono::seconds limit,
                      const std::map<std::string, std::string>& env) const {
  RunResult r;
  std::vector<std::string> args = {"ip", "netns", "exec", name_};
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    if (!env.count(kv.substr(0, kv.find('=')))) envStrings.push_back(kv);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  // Nothing run in the world reads or writes the user's own settings.
  if (!env.count("XDG_CONFIG_HOME")) {
    std::erase_if(envStrings, [](const std::string& kv) { return kv.rfind("XDG_CONFIG_HOME=", 0) == 0; });
    envStrings.push_back("XDG_CONFIG_HOME=" + fact("STATE") + "/config");
  }
  std::vector<char*> cenv;
  for (auto& e : envStrings) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return r;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return r;
  }
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::execvpe(cargs[0], cargs.data(), cenv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  std::string partial;
  bool outOpen = true, errOpen = true;
  const auto deadline = start + limit;
  bool killed = false;
  while (outOpen || errOpen) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      if (pid > 0 && !killed) ::kill(pid, SIGKILL);  // our own child
      killed = true;
      r.errors += "\n[killed after " + std::to_string(limit.count()) + " s]";
      break;
    }
    pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (::poll(p, 2, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    if (p[0].revents) {
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) {
        outOpen = false;
      } else {
        const auto now =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        partial.append(buf, static_cast<size_t>(n));
        size_t lf;
        while ((lf = partial.find('\n')) != std::string::npos) {
          r.lines.push_back(partial.substr(0, lf));
          r.arrivals.push_back(now);
          partial.erase(0, lf + 1);
        }
      }
    }
    if (p[1].revents) {
      const ssize_t n = ::read(err[0], buf, sizeof buf);
      if (n <= 0)
        errOpen = false;
      else
        r.errors.append(buf, static_cast<size_t>(n));
    }
  }
  if (!partial.empty()) {
    r.lines.push_back(partial);  // a last line without LF shows as such
    r.arrivals.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
    r.errors += "\n[last line had no LF]";
  }
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid)
    r.status = killed ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  r.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return r;
}

std::vector<WhoisHit> World::WhoisHits(size_t expected) const {
  std::vector<WhoisHit> hits;
  for (int attempt = 0; attempt < 60; ++attempt) {
    hits.clear();
    std::ifstream in(fact("WHOIS_LOG"));
    std::string local, hex;
    while (in >> local >> hex) hits.push_back({local, Unhex(hex)});
    if (hits.size() >= expected) break;
    ::usleep(50 * 1000);
  }
  return hits;
}

bool World::StopWebServer() const {
  std::ifstream in(fact("STATE") + "/nginx.pid");
  long pid = 0;
  if (!(in >> pid) || pid <= 1) return false;
  // nginx was started by the world; its pid file names the master process.
  if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0) return false;
  for (int i = 0; i < 50 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i) ::usleep(100 * 1000);
  return ::kill(static_cast<pid_t>(pid), 0) != 0;
}

bool World::SetWhoami(const std::string& address, const std::string& mode) const {
  const std::string path = fact("WHOAMI_DIR") + "/" + address;
  if (fact("WHOAMI_DIR").empty() || address.empty()) return false;
  std::ofstream(path + ".tmp") << mode << "\n";
  if (std::rename((path + ".tmp").c_str(), path.c_str()) != 0) return false;
  for (int i = 0; i < 60; ++i) {
    std::ifstream in(path + ".applied");
    std::string applied;
    if (std::getline(in, applied) && applied == mode) return true;
    ::usleep(50 * 1000);
  }
  return false;
}

std::string Show(const std::vector<std::string>& lines) {
  std::string s;
  for (size_t i = 0; i < lines.size(); ++i) {
    s += "  [" + std::to_string(i) + "] \"";
    for (char c : lines[i]) s += c == '\t' ? std::string("\\t") : std::string(1, c);
    s += "\"\n";
  }
  return s;
}

std::string MatchLines(const std::vector<std::string>& lines,
                       const std::vector<std::string>& patterns, std::vector<long>* numbers) {
  static const std::string kNumber = "<ms>";
  for (size_t i = 0; i < patterns.size() || i < lines.size(); ++i) {
    if (i >= lines.size())
      return "line " + std::to_string(i) + " missing; expected \"" + patterns[i] + "\"";
    if (i >= patterns.size()) return "unexpected line " + std::to_string(i);
    const std::string& p = patterns[i];
    const std::string& l = lines[i];
    size_t pi = 0, li = 0;
    bool same = true;
    while (same && pi < p.size()) {
      if (p.compare(pi, kNumber.size(), kNumber) == 0) {
        size_t end = li;
        while (end < l.size() && end - li < 9 && l[end] >= '0' && l[end] <= '9') ++end;
        if (end == li) {
          same = false;
          break;
        }
        if (numbers) numbers->push_back(std::stol(l.substr(li, end - li)));
        li = end;
        pi += kNumber.size();
      } else if (li < l.size() && p[pi] == l[li]) {
        ++pi;
        ++li;
      } else {
        same = false;
      }
    }
    if (!same || li != l.size())
      return "line " + std::to_string(i) + " is \"" + l + "\", expected \"" + p + "\"";
  }
  return "";
}

std::vector<std::string> SplitAnyBreak(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur += text[i];
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

}  // namespace quillon::e2e
