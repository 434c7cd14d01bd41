// What each operating system's backend gives the portable parts of the
// platform layer. Only platform sources include this file.
#pragma once

#include <atomic>
#include <cstdint>

namespace voxa::platform::backend {

// Sleeps while *addr holds expected, at most timeout_ns (negative: no
// limit). Spurious returns are fine: callers re-check.
void AddressWait(std::atomic<uint32_t>* addr, uint32_t expected, int64_t timeout_ns);
// As AddressWait, and meanwhile dispatches the calling thread's window
// messages (Windows; elsewhere the same as AddressWait). May return early
// after dispatching: callers re-check.
void AddressWaitDispatching(std::atomic<uint32_t>* addr, uint32_t expected, int64_t timeout_ns);
// Wakes one or every thread sleeping on addr.
void AddressWake(std::atomic<uint32_t>* addr, bool all);
// Sleeps timeout_ns while dispatching the calling thread's window messages
// (Windows; elsewhere a plain sleep).
void SleepDispatching(int64_t timeout_ns);

// Names the calling thread (already cut to 15 characters).
void NameThread(const char* name);

// The periodic timer asks for the system's finest timer resolution while
// any timer runs.
void FineTimers(bool on);

}  // namespace voxa::platform::backend
