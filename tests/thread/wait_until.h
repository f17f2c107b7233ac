// Bounded waiting for the threaded tests: poll a condition until it holds or
// a deadline passes, instead of sleeping a fixed time and hoping.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace quillon::test {

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace quillon::test
