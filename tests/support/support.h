// Helpers shared by the test programs: root detection, shell commands,
// scratch network namespaces, free ports and a scripted loopback TCP server.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillon::test {

bool IsRoot();
// Runs a shell command; returns its exit status and (optionally) its output.
int Run(const std::string& command, std::string* output = nullptr);
// A name unique to this process and call, for namespaces and temp folders.
std::string UniqueName(const std::string& prefix);
// A TCP (or UDP) port on 127.0.0.1 that was free a moment ago.
int FreePort(bool udp = false);
// The file the loader finds for a shared library ("libssl.so.3"), whatever
// links lead to it; empty when the library is not installed.
std::string LibraryFile(const std::string& soname);
// For a library loaded at first use: runs this test program again, only for
// `filter`, with `variable`=present, then (as root; otherwise the test is
// skipped there) with `variable`=hidden in a mount namespace of its own where
// the library `soname` is an empty file. Each run must pass its one test.
// (In library_rerun.cpp, which needs GoogleTest.)
void RerunWithLibraryAndWithout(const std::string& filter, const std::string& variable,
                                const std::string& soname);

// A network namespace that lives as long as the object.
class NetNs {
 public:
  explicit NetNs(const std::string& prefix);
  ~NetNs();
  NetNs(const NetNs&) = delete;
  NetNs& operator=(const NetNs&) = delete;
  const std::string& name() const { return name_; }
  // Runs a command inside the namespace; returns its exit status.
  int Exec(const std::string& command, std::string* output = nullptr) const;
  // Moves the calling thread into the namespace (for the rest of its life).
  bool EnterFromThisThread() const;

 private:
  std::string name_;
};

// A TCP server on 127.0.0.1: each accepted connection is handed, on the
// server's own thread, to the script; connections are served one at a time.
class TcpServer {
 public:
  using Script = std::function<void(int fd)>;
  explicit TcpServer(Script script);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;
  int port() const { return port_; }
  int accepted() const { return accepted_.load(); }

 private:
  void Loop();
  Script script_;
  int listenFd_ = -1;
  int wakeFd_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

// Socket helpers for scripts: all of `data`, or until the peer closes.
bool SendAll(int fd, const std::string& data);
std::string RecvUntilClose(int fd, int timeoutMs = 2000);
// Reads up to and including the first LF (or until close/time-out).
std::string RecvLine(int fd, int timeoutMs = 2000);

}  // namespace quillon::test
