#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/backend.h"
#include "platform/platform.h"

namespace voxa::platform {

namespace backend {

void AddressWait(std::atomic<uint32_t>* addr, uint32_t expected, int64_t timeout_ns) {
  struct timespec ts;
  struct timespec* relative = nullptr;
  if (timeout_ns >= 0) {
    ts.tv_sec = static_cast<time_t>(timeout_ns / 1000000000);
    ts.tv_nsec = static_cast<long>(timeout_ns % 1000000000);
    relative = &ts;
  }
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(addr), FUTEX_WAIT_PRIVATE, expected, relative, nullptr, 0);
}

void AddressWaitDispatching(std::atomic<uint32_t>* addr, uint32_t expected, int64_t timeout_ns) {
  AddressWait(addr, expected, timeout_ns);  // no window messages here
}

void SleepDispatching(int64_t timeout_ns) { std::this_thread::sleep_for(std::chrono::nanoseconds(timeout_ns)); }

void AddressWake(std::atomic<uint32_t>* addr, bool all) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(addr), FUTEX_WAKE_PRIVATE, all ? INT32_MAX : 1, nullptr, nullptr, 0);
}

void NameThread(const char* name) { pthread_setname_np(pthread_self(), name); }

void FineTimers(bool) {}

}  // namespace backend

void SystemBeep(unsigned) {
  if (isatty(STDERR_FILENO)) {
    const char bel = '\a';
    ssize_t r = write(STDERR_FILENO, &bel, 1);
    (void)r;
  }
}

void SystemErrorReport(const char* caption, const char* text) {
  // One line, never blocking on a user.
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

WindowPoster SystemWindowPoster() { return nullptr; }

int LastSystemError() { return errno; }

int SystemErrorCode(int err) { return err; }

const char* SystemErrorText(int err, char* buf, size_t len) {
  if (len == 0) return buf;
  // The GNU strerror_r may return a static string instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* s = strerror_r(err, buf, len);
  if (s != buf) std::snprintf(buf, len, "%s", s);
#else
  if (strerror_r(err, buf, len) != 0) std::snprintf(buf, len, "error %d", err);
#endif
  return buf;
}

}  // namespace voxa::platform
