#include "platform/platform.h"

namespace voxa::platform {

bool Event::TakeLocked() {
  if (!set_) return false;
  if (!manual_) set_ = false;
  return true;
}

void Event::Set() {
  {
    std::lock_guard<std::mutex> g(m_);
    set_ = true;
  }
  if (manual_)
    cv_.notify_all();
  else
    cv_.notify_one();
}

void Event::Reset() {
  std::lock_guard<std::mutex> g(m_);
  set_ = false;
}

bool Event::Wait(uint32_t ms) { return WaitUntil(Clock::now() + std::chrono::milliseconds(ms)); }

bool Event::WaitUntil(Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(m_);
  cv_.wait_until(g, deadline, [this] { return set_; });
  return TakeLocked();
}

void Event::WaitForever() {
  std::unique_lock<std::mutex> g(m_);
  cv_.wait(g, [this] { return set_; });
  TakeLocked();
}

bool Event::Test() {
  std::lock_guard<std::mutex> g(m_);
  return TakeLocked();
}

bool Thread::Start(std::function<void()> body) {
  if (t_.joinable()) return false;
  try {
    t_ = std::thread(std::move(body));
  } catch (...) {
    return false;
  }
  return true;
}

void Thread::Join() {
  if (t_.joinable() && !IsCurrent()) t_.join();
}

uint32_t TickCount() {
  static const Clock::time_point origin = Clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace voxa::platform
