// The panel's held jogs: a jog runs while its page renews it and its stream
// is open; the stop that ends it is sent until the board reports the axis at
// rest.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "feed.h"

namespace voxactl::panel {

// Held jogs, a dead-man switch each: a jog runs while its page renews it
// and its stream is open, and is stopped when either ends.
class Jogs {
 public:
  // What the board last reported of an axis.
  struct Seen {
    bool link = false;      // the link is up
    bool moving = false;    // the axis is reported in motion
    bool board_moving = false;  // any axis is
    uint64_t report_us = 0;  // when that report came (0: never)
  };
  struct Board {
    std::function<bool(int axis)> send_stop;  // an immediate spindle stop; false when it did not go out
    std::function<Seen(int axis)> seen;
    std::function<void(const std::string&)> note;
  };
  enum class Press { kStart, kRenewed, kRefused };
  // A held jog lasts this long unless the page renews it.
  static constexpr std::chrono::milliseconds kLease{750};

  explicit Jogs(Board board);
  ~Jogs();
  // A press of `client` holds `axis`: kStart when the jog is to be started
  // (a new press), kRenewed when it runs already, kRefused when that press
  // has ended (released, lapsed, its page gone, the link lost): a late
  // renewal never starts a jog again.
  Press Hold(int axis, int dir, uint64_t client, uint64_t press);
  // The start did not go out: the press is over, nothing to stop.
  void Failed(int axis, uint64_t client, uint64_t press);
  // The operator let go: the jog of `axis` stops, whichever press holds it.
  void Release(int axis, uint64_t client, uint64_t press, const char* why);
  // Every jog stops (the panel ends, the link was lost).
  void StopAll(const char* why);
  // The stream of `client` ended: its jogs stop now.
  void Gone(uint64_t client);
  // The board reported, or its link changed: stops are checked again; after
  // a link change each unconfirmed stop goes out again.
  void Poke(bool link_changed);
  // Waits until every stop is confirmed or the deadline passes; true when all are.
  bool WaitSettled(Clock::time_point deadline);

 private:
  struct Jog {
    int dir;
    uint64_t client;
    uint64_t press;
    Clock::time_point until;
  };
  // A stop not yet confirmed by the board.
  struct Stop {
    const char* why;
    Clock::time_point asked;  // when the jog was to stop
    uint64_t sent_us = 0;     // the last time the stop went out (0: not yet)
    Clock::time_point next_send;
    bool resend = true;
    int sends = 0;
    bool moved = false;  // the axis was seen in motion since
  };
  // Resent this often until the board reports the axis at rest.
  static constexpr std::chrono::milliseconds kResend{500};
  // A stop this old should show on the board.
  static constexpr std::chrono::milliseconds kInFlight{150};
  // After this long a stop is given up as unconfirmed (and said so).
  static constexpr std::chrono::milliseconds kGiveUp{30000};

  void End(const Jog& j) { ended_[j.client] = std::max(ended_[j.client], j.press); }
  // Under mu_; the watch looks at it at once.
  void StopLocked(int axis, const char* why);

  void Watch();

  Board board_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<int, Jog> active_;
  std::map<int, Stop> stopping_;
  std::map<uint64_t, uint64_t> ended_;  // per page: the last press that ended
  bool poked_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace voxactl::panel
