// One thread serves every periodic timer of the process, as the multimedia
// timer does on Windows. Each timer keeps an absolute deadline, so a late
// tick does not move the later ones.
#include <map>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"

namespace voxa::platform {
namespace {

struct TimerEntry {
  uint32_t period_ms;
  TimerCallback cb;
  void* arg;
  Clock::time_point next;
};

class TimerService {
 public:
  int Start(uint32_t period_ms, TimerCallback cb, void* arg) {
    if (period_ms == 0 || cb == nullptr) return 0;
    std::unique_lock<std::mutex> g(m_);
    int id = ++last_id_;
    // Timers of one period tick together, so that one wake-up of the timer
    // thread serves them all (eight open boards cost one wake-up per tick,
    // not eight). The first tick may then come sooner than a period.
    auto first = Clock::now() + std::chrono::milliseconds(period_ms);
    for (const auto& [other, t] : timers_)
      if (t.period_ms == period_ms) {
        first = t.next;
        break;
      }
    timers_[id] = TimerEntry{period_ms, cb, arg, first};
    // Each tick thread serves one generation and ends once it has passed.
    // The last kill ends the generation and joins its thread outside the
    // lock; a start meanwhile begins a new generation with a thread of its
    // own, so no start can revive a thread that a kill is waiting for.
    if (!running_) {
      backend::FineTimers(true);
      running_ = true;
      const uint64_t gen = ++generation_;
      thread_ = std::thread([this, gen] { Run(gen); });
    }
    cv_.notify_all();
    return id;
  }

  void Kill(int id) {
    std::unique_lock<std::mutex> g(m_);
    if (timers_.erase(id) == 0) return;
    // Wait until a callback of this timer that is running has returned,
    // unless we are that callback.
    if (std::this_thread::get_id() != thread_.get_id())
      cv_.wait(g, [&] { return running_id_ != id; });
    if (timers_.empty() && running_ && std::this_thread::get_id() != thread_.get_id()) {
      running_ = false;
      ++generation_;
      cv_.notify_all();
      std::thread ending = std::move(thread_);
      g.unlock();
      ending.join();
      backend::FineTimers(false);
    }
  }

 private:
  void Run(uint64_t gen) {
    SetThreadName("voxa-tick");
    std::unique_lock<std::mutex> g(m_);
    while (gen == generation_) {
      if (timers_.empty()) {
        cv_.wait(g, [&] { return gen != generation_ || !timers_.empty(); });
        continue;
      }
      auto soonest = timers_.begin();
      for (auto it = timers_.begin(); it != timers_.end(); ++it)
        if (it->second.next < soonest->second.next) soonest = it;
      auto deadline = soonest->second.next;
      if (Clock::now() < deadline) {
        cv_.wait_until(g, deadline);
        continue;  // re-evaluate: timers may have changed
      }
      int id = soonest->first;
      TimerEntry e = soonest->second;
      auto period = std::chrono::milliseconds(e.period_ms);
      soonest->second.next += period;
      // A tick that is far behind (the process was stopped) is skipped
      // rather than replayed in a burst.
      auto now = Clock::now();
      if (soonest->second.next + 5 * period < now) soonest->second.next = now + period;
      running_id_ = id;
      g.unlock();
      e.cb(e.arg);
      g.lock();
      running_id_ = 0;
      cv_.notify_all();
    }
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::map<int, TimerEntry> timers_;
  std::thread thread_;
  uint64_t generation_ = 0;
  bool running_ = false;
  int last_id_ = 0;
  int running_id_ = 0;
};

// Never destroyed: boards closing during static destruction still kill their
// timers through it. Its thread ends whenever the last timer is killed.
TimerService& Service() {
  static TimerService* service = new TimerService;
  return *service;
}

}  // namespace

int TimerStart(uint32_t period_ms, TimerCallback cb, void* arg) { return Service().Start(period_ms, cb, arg); }
void TimerKill(int id) { Service().Kill(id); }

}  // namespace voxa::platform
