#include <climits>
#include <cstdint>
#include <thread>

#include "platform/backend.h"
#include "platform/platform.h"

namespace voxa::platform {

void Event::Set() {
  value_.store(1);
  if (waiters_.load() > 0) backend::AddressWake(&value_, manual_);
}

bool Event::Wait(uint32_t ms) { return WaitUntil(Clock::now() + std::chrono::milliseconds(ms)); }

bool Event::WaitUntil(Clock::time_point deadline) { return WaitUntil(deadline, false); }

bool Event::WaitUntilDispatching(Clock::time_point deadline) { return WaitUntil(deadline, true); }

bool Event::WaitUntil(Clock::time_point deadline, bool dispatching) {
  for (;;) {
    if (Take()) return true;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return Take();
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    waiters_.fetch_add(1);
    if (dispatching)
      backend::AddressWaitDispatching(&value_, 0, ns);
    else
      backend::AddressWait(&value_, 0, ns);
    waiters_.fetch_sub(1);
  }
}

bool Event::Spin(uint32_t us) {
  const auto deadline = Clock::now() + std::chrono::microseconds(us);
  for (;;) {
    for (int k = 0; k < 64; ++k)
      if (value_.load(std::memory_order_acquire) != 0) return Take();
    if (Clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
}

void Event::WaitForever() {
  for (;;) {
    if (Take()) return;
    waiters_.fetch_add(1);
    backend::AddressWait(&value_, 0, -1);
    waiters_.fetch_sub(1);
  }
}

bool Thread::Start(std::function<void()> body) {
  // A thread that was closed from its own callback could not be joined
  // then; it has ended (or is ending) by now.
  if (t_.joinable()) {
    if (IsCurrent()) return false;
    t_.join();
  }
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

void SetThreadName(const char* name) {
  if (name == nullptr) return;
  char cut[16] = {};
  for (size_t k = 0; k + 1 < sizeof cut && name[k] != 0; ++k) cut[k] = name[k];
  backend::NameThread(cut);
}

uint32_t TickCount() {
  static const Clock::time_point origin = Clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void SleepDispatching(uint32_t ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (auto left = deadline - Clock::now(); left > Clock::duration::zero(); left = deadline - Clock::now())
    backend::SleepDispatching(std::chrono::duration_cast<std::chrono::nanoseconds>(left).count());
}

}  // namespace voxa::platform
