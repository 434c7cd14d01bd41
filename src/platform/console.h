// The console a tool runs in: whether its output is a terminal, and the
// user's requests to stop it.
#pragma once

#include <functional>
#include <memory>

namespace voxa::platform {

bool StdoutIsTerminal();

// Hands each interrupt request (Ctrl-C; on Linux also SIGTERM and SIGHUP,
// on Windows Ctrl-Break and closing the console) to on_interrupt, on a
// thread that is not the program's. Construct it before any other thread
// starts: on Linux it blocks the signals in the calling thread, and every
// thread started later inherits that.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> on_interrupt);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace voxa::platform
