// Waits for a condition that the library's getters report, checking every
// few milliseconds (the library has no event for most of them).
#pragma once

#include <chrono>
#include <thread>

namespace voxa::test {

template <typename F>
bool Eventually(F cond, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return cond();
}

}  // namespace voxa::test
