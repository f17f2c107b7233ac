// Helpers for the TCP tests: a client connected to a scripted loopback
// server, a recorder of status and work events, and a thread-safe capture of
// the bytes that a server script received.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/tcp/tcp_client.h"

namespace quillon::test {

// Bytes or a flag handed from a server script to the test.
class Capture {
 public:
  void Set(std::string bytes) {
    {
      std::lock_guard<std::mutex> g(lock_);
      bytes_ = std::move(bytes);
      done_ = true;
    }
    signal_.notify_all();
  }
  // Waits up to 5 s for Set.
  std::string Get() {
    std::unique_lock<std::mutex> g(lock_);
    signal_.wait_for(g, std::chrono::seconds(5), [this] { return done_; });
    return bytes_;
  }

 private:
  std::mutex lock_;
  std::condition_variable signal_;
  std::string bytes_;
  bool done_ = false;
};

struct EventLog {
  std::vector<std::pair<TIdStatus, std::string>> statuses;
  std::vector<std::string> work;  // "begin r 0", "work r 10", "end r"

  void Attach(TIdComponent& c) {
    c.OnStatus = [this](TIdBaseComponent*, TIdStatus s, const std::string& text) {
      statuses.emplace_back(s, text);
    };
    c.OnWorkBegin = [this](TIdBaseComponent*, TWorkMode m, int32_t max) {
      work.push_back(std::string("begin ") + (m == wmRead ? "r " : "w ") + std::to_string(max));
    };
    c.OnWork = [this](TIdBaseComponent*, TWorkMode m, int32_t count) {
      work.push_back(std::string("work ") + (m == wmRead ? "r " : "w ") + std::to_string(count));
    };
    c.OnWorkEnd = [this](TIdBaseComponent*, TWorkMode m) {
      work.push_back(std::string("end ") + (m == wmRead ? "r" : "w"));
    };
  }
  std::vector<TIdStatus> Kinds() const {
    std::vector<TIdStatus> out;
    for (const auto& s : statuses) out.push_back(s.first);
    return out;
  }
};

inline double MillisSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace quillon::test
