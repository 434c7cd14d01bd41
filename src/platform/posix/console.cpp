#include "platform/console.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace voxa::platform {
namespace {

sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);  // the watch's own wake-up when it is to end
  return set;
}

}  // namespace

struct InterruptWatch::State {
  std::function<void()> on_interrupt;
  std::atomic<bool> quit{false};
  std::thread thread;
};

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

InterruptWatch::InterruptWatch(std::function<void()> on_interrupt) : state_(new State) {
  state_->on_interrupt = std::move(on_interrupt);
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  State* s = state_.get();
  s->thread = std::thread([s] {
    const sigset_t watched = WatchedSignals();
    for (;;) {
      int sig = 0;
      if (sigwait(&watched, &sig) != 0) continue;
      if (s->quit.load()) return;
      if (sig != SIGUSR1) s->on_interrupt();
    }
  });
}

InterruptWatch::~InterruptWatch() {
  state_->quit.store(true);
  pthread_kill(state_->thread.native_handle(), SIGUSR1);
  state_->thread.join();
}

}  // namespace voxa::platform
