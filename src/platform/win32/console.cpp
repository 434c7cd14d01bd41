#include "platform/console.h"

#include <io.h>

#include <cstdio>
#include <mutex>

#include "platform/win32/win32.h"

namespace voxa::platform {

struct InterruptWatch::State {
  std::function<void()> on_interrupt;
};

namespace {

std::mutex g_lock;
InterruptWatch::State* g_watch = nullptr;

// The system calls this on a thread of its own for each console event.
BOOL WINAPI OnConsoleEvent(DWORD) {
  std::lock_guard<std::mutex> g(g_lock);
  if (g_watch == nullptr) return FALSE;
  g_watch->on_interrupt();
  return TRUE;
}

}  // namespace

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

InterruptWatch::InterruptWatch(std::function<void()> on_interrupt) : state_(new State) {
  state_->on_interrupt = std::move(on_interrupt);
  {
    std::lock_guard<std::mutex> g(g_lock);
    g_watch = state_.get();
  }
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
  std::lock_guard<std::mutex> g(g_lock);
  g_watch = nullptr;
}

}  // namespace voxa::platform
