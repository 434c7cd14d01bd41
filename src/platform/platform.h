// The platform layer: threads, locks, events, time and the system's own
// services (beep, error box, window messages, standard output). It is the
// only code that talks to the operating system; serial ports, sockets and
// the poller live beside it (serial.h, net.h). It includes nothing of the
// library's: the application's handlers are kept by the dispatch layer,
// which falls back on the services here.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace voxa::platform {

using Clock = std::chrono::steady_clock;

// A re-entrant lock, as a critical section: the owning thread may enter again.
class CriticalSection {
 public:
  void Enter() { m_.lock(); }
  bool TryEnter() { return m_.try_lock(); }
  void Leave() { m_.unlock(); }
  // BasicLockable, so std::lock_guard and std::unique_lock work too.
  void lock() { m_.lock(); }
  bool try_lock() { return m_.try_lock(); }
  void unlock() { m_.unlock(); }

 private:
  std::recursive_mutex m_;
};

class Locked {
 public:
  explicit Locked(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~Locked() { cs_.Leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CriticalSection& cs_;
};

// An event, auto-reset (one waiter is released and the event clears) or
// manual-reset (stays set until Reset). Built on the kernel's futex: setting
// an event nobody waits for is one atomic store.
class Event {
 public:
  explicit Event(bool manual_reset, bool initially_set = false)
      : manual_(manual_reset), value_(initially_set ? 1u : 0u) {}
  void Set();
  void Reset() { value_.store(0); }
  // Waits at most ms milliseconds; returns true when the event was set.
  bool Wait(uint32_t ms);
  bool WaitUntil(Clock::time_point deadline);
  // As WaitUntil; on Windows the calling thread's window messages are
  // dispatched while it waits, so a window thread stays alive.
  bool WaitUntilDispatching(Clock::time_point deadline);
  void WaitForever();
  // Spins at most us microseconds for the event, without sleeping: true when
  // it was set. For a wait whose answer is likely within microseconds, where
  // a sleeping thread's wake-up would cost more than the spin.
  bool Spin(uint32_t us);
  // Tests the event without waiting (consumes it when auto-reset).
  bool Test() { return Take(); }

 private:
  bool Take() {
    if (manual_) return value_.load() != 0;
    uint32_t one = 1;
    return value_.compare_exchange_strong(one, 0);
  }
  const bool manual_;
  bool WaitUntil(Clock::time_point deadline, bool dispatching);
  std::atomic<uint32_t> value_;
  std::atomic<uint32_t> waiters_{0};
};

// A worker thread. Joining waits until the thread has ended; nothing is ever
// killed, so every thread body must watch its own stop signal.
class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  bool Start(std::function<void()> body);
  void Join();
  bool Joinable() const { return t_.joinable(); }
  bool IsCurrent() const { return t_.get_id() == std::this_thread::get_id(); }

 private:
  std::thread t_;
};

// Names the calling thread as ps, top and /proc/<pid>/task/<tid>/comm show
// it; names longer than 15 characters are cut.
void SetThreadName(const char* name);

// A hint to the processor inside a short busy wait.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Milliseconds since an arbitrary start, wrapping at 2^32.
uint32_t TickCount();
void SleepMs(uint32_t ms);
// Sleeps ms milliseconds; on Windows the calling thread's window messages
// are dispatched meanwhile (PeekMessage, TranslateMessage, DispatchMessage),
// so an application that calls this from its window thread keeps its
// windows alive. Elsewhere the same as SleepMs.
void SleepDispatching(uint32_t ms);

// A periodic timer, standing in for the multimedia timer: the callback runs
// every period milliseconds on absolute deadlines, so ticks do not drift.
// One timer thread serves every timer of the process. Kill returns only once
// the callback is not running and will not run again.
using TimerCallback = void (*)(void* arg);
int TimerStart(uint32_t period_ms, TimerCallback cb, void* arg);
void TimerKill(int id);

// The system's own services, for what the application has not taken over.
// A beep of the given type (a system sound on Windows; elsewhere a bell on
// standard error when that is a terminal).
void SystemBeep(unsigned type);
// Shows an error to the user (a message box on Windows; elsewhere one line
// on standard error).
void SystemErrorReport(const char* caption, const char* text);
// Posts a message to one of the application's windows, as Windows' message
// queues do; null where the system has no window messages.
using WindowPoster = void (*)(void* window, unsigned message, uintptr_t wparam, intptr_t lparam);
WindowPoster SystemWindowPoster();
// Writes a diagnostic line to standard output.
void SystemLog(const char* text);
// The text of a system error number (the system's message for it).
const char* SystemErrorText(int err, char* buf, size_t len);
// The number the system itself gives an error (a Winsock code such as 10061
// on Windows, where the library carries errno values; the same elsewhere).
int SystemErrorCode(int err);
int LastSystemError();

}  // namespace voxa::platform
