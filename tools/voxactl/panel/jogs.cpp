#include "jogs.h"

#include <pthread.h>

#include <vector>

namespace voxactl::panel {

using Ms = std::chrono::milliseconds;

Jogs::Jogs(Board board) : board_(std::move(board)), thread_([this] {
  pthread_setname_np(pthread_self(), "panel-jogs");
  Watch();
}) {}

Jogs::~Jogs() {
  {
    std::lock_guard<std::mutex> g(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

Jogs::Press Jogs::Hold(int axis, int dir, uint64_t client, uint64_t press) {
  std::lock_guard<std::mutex> g(mu_);
  if (press <= ended_[client]) return Press::kRefused;
  auto it = active_.find(axis);
  if (it != active_.end() && it->second.client == client && it->second.press == press && it->second.dir == dir) {
    it->second.until = Clock::now() + kLease;
    return Press::kRenewed;
  }
  if (it != active_.end()) End(it->second);
  // A new press takes over the axis from a stop still being confirmed.
  stopping_.erase(axis);
  active_[axis] = Jog{dir, client, press, Clock::now() + kLease};
  poked_ = true;
  cv_.notify_all();
  return Press::kStart;
}

void Jogs::Failed(int axis, uint64_t client, uint64_t press) {
  std::lock_guard<std::mutex> g(mu_);
  auto it = active_.find(axis);
  if (it != active_.end() && it->second.client == client && it->second.press == press) {
    End(it->second);
    active_.erase(it);
  }
}

void Jogs::Release(int axis, uint64_t client, uint64_t press, const char* why) {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (client) ended_[client] = std::max(ended_[client], press);
    auto it = active_.find(axis);
    if (it != active_.end()) {
      End(it->second);
      active_.erase(it);
    }
    StopLocked(axis, why);
  }
  cv_.notify_all();
}

void Jogs::StopAll(const char* why) {
  {
    std::lock_guard<std::mutex> g(mu_);
    for (auto& [axis, jog] : active_) {
      End(jog);
      StopLocked(axis, why);
    }
    active_.clear();
  }
  cv_.notify_all();
}

void Jogs::Gone(uint64_t client) {
  {
    std::lock_guard<std::mutex> g(mu_);
    for (auto it = active_.begin(); it != active_.end();) {
      if (it->second.client == client) {
        StopLocked(it->first, "its page's connection closed");
        it = active_.erase(it);
      } else {
        ++it;
      }
    }
    ended_[client] = UINT64_MAX;
  }
  cv_.notify_all();
}

void Jogs::Poke(bool link_changed) {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (!stopping_.empty()) poked_ = true;
    if (link_changed)
      for (auto& [axis, s] : stopping_) s.resend = true;
  }
  cv_.notify_all();
}

bool Jogs::WaitSettled(Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  return cv_.wait_until(g, deadline, [&] { return stopping_.empty(); });
}

void Jogs::StopLocked(int axis, const char* why) {
  poked_ = true;
  if (stopping_.count(axis)) {
    stopping_[axis].resend = true;
    return;
  }
  Stop s;
  s.why = why;
  s.asked = Clock::now();
  s.next_send = s.asked;
  stopping_[axis] = s;
}

void Jogs::Watch() {
  std::unique_lock<std::mutex> g(mu_);
  while (!quit_) {
    const auto now = Clock::now();
    for (auto it = active_.begin(); it != active_.end();) {
      if (it->second.until <= now) {
        End(it->second);
        StopLocked(it->first, "its page stopped holding it");
        it = active_.erase(it);
      } else {
        ++it;
      }
    }
    poked_ = false;
    // Each stop: confirmed by a report taken after it went out, or sent
    // (again) when due. The board is asked without the lock held.
    std::map<int, Stop> work = stopping_;
    g.unlock();
    std::vector<int> done;
    std::vector<std::pair<int, uint64_t>> sent;
    std::vector<std::string> notes;
    std::vector<int> moved;
    for (auto& [axis, s] : work) {
      const Seen seen = board_.seen(axis);
      if (seen.moving) moved.push_back(axis);
      // At rest in a report taken after the stop went out. A jog that
      // never showed motion while other motion runs may still wait on the
      // board to start: it is watched on until that motion ends.
      if (s.sends > 0 && seen.link && !seen.moving && seen.report_us > s.sent_us &&
          (s.moved || !seen.board_moving)) {
        done.push_back(axis);
        const auto ms = std::chrono::duration_cast<Ms>(Clock::now() - s.asked).count();
        notes.push_back("jog of axis " + std::to_string(axis) + " stopped (" + s.why +
                        "): the board reports it at rest, " + std::to_string(ms) + " ms after");
        continue;
      }
      if (Clock::now() - s.asked > kGiveUp) {
        done.push_back(axis);
        notes.push_back("jog of axis " + std::to_string(axis) + " (" + s.why +
                        "): the board never reported it at rest; check the machine");
        continue;
      }
      if (!seen.link) continue;  // goes out once the link is back
      // Again when due, and soon when the axis is seen moving after the
      // stop had time to arrive (a start the board held back has run).
      const bool moving_late = seen.moving && seen.report_us > s.sent_us + kInFlight.count() * 1000;
      if (s.resend || Clock::now() >= s.next_send || moving_late) {
        const uint64_t at = NowUs();
        const bool ok = board_.send_stop(axis);
        sent.push_back({axis, ok ? at : 0});
        if (s.sends == 0) notes.push_back("jog of axis " + std::to_string(axis) + " stopping: " + s.why);
      }
    }
    for (const std::string& n : notes) board_.note(n);
    g.lock();
    for (int a : moved)
      if (stopping_.count(a)) stopping_[a].moved = true;
    for (int a : done) stopping_.erase(a);
    for (auto& [axis, at] : sent) {
      auto it = stopping_.find(axis);
      if (it == stopping_.end()) continue;
      it->second.resend = at == 0;  // not sent: again at the next report
      if (at) it->second.sent_us = at;
      ++it->second.sends;
      it->second.next_send = Clock::now() + kResend;
    }
    if (!done.empty()) cv_.notify_all();
    auto next = Clock::time_point::max();
    for (auto& [axis, jog] : active_) next = std::min(next, jog.until);
    // Besides the resend timer, every report wakes the watch (Poke).
    for (auto& [axis, s] : stopping_) next = std::min(next, s.next_send);
    const auto wake = [&] { return quit_ || poked_; };
    if (next == Clock::time_point::max())
      cv_.wait(g, wake);
    else
      cv_.wait_until(g, next, wake);
  }
}

}  // namespace voxactl::panel
