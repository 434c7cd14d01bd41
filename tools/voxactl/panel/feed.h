// Where the panel's live data comes from: the library tells when the board
// reported (the state handler) and when the link changed (the link
// handler); the publisher then reads the register image. Kept apart so that
// the rest of the panel does not care how reports are learnt of.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace voxactl::panel {

using Clock = std::chrono::steady_clock;

// One or more state reports of the board, merged when the reader fell
// behind.
struct Report {
  uint32_t registers = 0;  // bit r: register r was updated
  uint64_t time_us = 0;    // monotonic arrival time of the newest
  uint32_t merged = 0;     // reports in this one
};

class Feed {
 public:
  Feed() = default;
  Feed(const Feed&) = delete;
  Feed& operator=(const Feed&) = delete;
  ~Feed();

  // Installs the library's handlers (call before the board opens; one feed
  // per process).
  void Start();
  // Removes them and wakes every waiter; nothing is reported afterwards.
  void Stop();

  // The next report, waiting until one arrives, the deadline passes (false)
  // or Stop.
  bool WaitReport(Report& out, Clock::time_point deadline);
  // A change of the link: VOXA_LINK_... and its text ("down: silence").
  struct LinkChange {
    int state;
    std::string text;
  };
  // Link changes since the last call, oldest first.
  std::deque<LinkChange> TakeLinkChanges();

  // Milliseconds since the board last reported register reg; -1 when it
  // never has. Calls the library: the caller holds the panel's board lock.
  static int AgeMs(int reg);
  // Notifications the library merged because the handler fell behind.
  static uint32_t Drops();

  // For the library's handlers.
  void OnState(uint32_t registers, uint64_t time_us);
  void OnLink(int state, int reason, int os_error);

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool stopped_ = false;
  Report pending_;
  std::deque<LinkChange> links_;
};

// The monotonic clock in microseconds, the time base of the reports.
uint64_t NowUs();

}  // namespace voxactl::panel
