#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"

namespace voxa::platform {

namespace {

// Sleeps while *addr holds expected, at most until the timeout (null: no
// limit). Spurious returns are fine: callers re-check.
void FutexWait(std::atomic<uint32_t>* addr, uint32_t expected, const struct timespec* relative) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(addr), FUTEX_WAIT_PRIVATE, expected, relative, nullptr, 0);
}

void FutexWake(std::atomic<uint32_t>* addr, int count) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(addr), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

}  // namespace

void Event::Set() {
  value_.store(1);
  if (waiters_.load() > 0) FutexWake(&value_, manual_ ? INT32_MAX : 1);
}

bool Event::Wait(uint32_t ms) { return WaitUntil(Clock::now() + std::chrono::milliseconds(ms)); }

bool Event::WaitUntil(Clock::time_point deadline) {
  for (;;) {
    if (Take()) return true;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return Take();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    waiters_.fetch_add(1);
    FutexWait(&value_, 0, &ts);
    waiters_.fetch_sub(1);
  }
}

void Event::WaitForever() {
  for (;;) {
    if (Take()) return;
    waiters_.fetch_add(1);
    FutexWait(&value_, 0, nullptr);
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
  pthread_setname_np(pthread_self(), cut);
}

uint32_t TickCount() {
  static const Clock::time_point origin = Clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace voxa::platform
