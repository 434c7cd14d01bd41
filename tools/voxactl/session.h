// The open board of one voxactl run, what the library's frame trace tells
// about it, and the watch over Ctrl-C.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame_text.h"
#include "platform/console.h"

namespace voxactl {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

struct TracedFrame {
  Clock::time_point time;
  int direction = kSent;
  std::vector<uint8_t> bytes;
};

// A TCP address as given on the command line: "a.b.c.d[:port]" or
// "HOSTNAME[:port]", a name looked up for its IPv4 address. False (with what
// is wrong in `error`) for anything else.
struct TcpAddress {
  std::string host;
  uint32_t address = 0;  // network byte order, first octet in the lowest byte
  int port = 1000;
};
bool ParseTcpAddress(const std::string& text, TcpAddress& out, std::string& error);

// The board named by VOXA_ADDRESS: "tcp:ADDR[:PORT]" into `tcp`, or
// "serial:DEV[@BAUD]" into `serial` (and `baud`). False when it is not set
// (`error` empty) or malformed (`error` says how).
bool AddressFromEnvironment(std::string& tcp, std::string& serial, int& baud, std::string& error);

// Everything here is called from the main thread, the library's threads
// (through the trace handler) and the signal watch; one mutex guards it.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens the board (the trace handler is set first, so every frame from
  // the first on is seen). Prints the failure, with the reason the library
  // gives (the system's error, no answer, or the board held by another
  // host), and returns false.
  bool OpenTcp(const TcpAddress& address);
  bool OpenSerial(const std::string& device, int baud);
  void Close();
  const std::string& Description() const { return description_; }

  // ---- what the trace tells ----
  void OnTrace(int direction, const uint8_t* frame, int length);
  uint64_t ReceivedFrames();
  // True when a heartbeat arrived within the last `within`.
  bool HeartbeatWithin(Ms within);
  // The latest news of the link the library told while this session ran:
  // a restarted board, frames in doubt, a re-established link ("" if none).
  void OnLinkNews(int state, int count);
  std::string LinkNews();
  // True when any frame arrived within the last `within`.
  bool ReceivedWithin(Ms within);
  // Waits until a heartbeat has arrived (the keep-alives go out every
  // 200 ms), the timeout passes or Ctrl-C; true when one has.
  bool WaitHeartbeat(Ms timeout);
  uint64_t ConfigWrites();
  // Waits until the number of configuration writes differs from `seen`, the
  // deadline passes, `done` is set or Ctrl-C; returns the number.
  uint64_t WaitConfigWrites(uint64_t seen, const std::atomic<bool>& done, Clock::time_point deadline);
  void WakeAll();

  // ---- frames for `trace` ----
  void StartCapture(bool skip_polls);
  // Moves the captured frames into out, waiting until there are some, the
  // deadline passes or Ctrl-C. Returns the number of frames dropped because
  // the reader fell behind.
  uint64_t TakeFrames(std::deque<TracedFrame>& out, Clock::time_point deadline);

  // ---- Ctrl-C ----
  void Interrupt();
  bool Interrupted();
  // Runs on the signal watch's thread when Ctrl-C arrives (nullptr: none).
  void SetInterruptAction(std::function<void()> action);
  // Sleeps until the deadline, Ctrl-C or *stop (set before a WakeAll());
  // false when interrupted.
  bool Pause(Clock::time_point deadline, const std::atomic<bool>* stop = nullptr);

 private:
  bool Opened(int id, const char* function, std::string description);

  std::mutex mu_;
  std::string news_;  // mu_
  std::condition_variable cv_;
  bool open_ = false;
  std::string description_;
  uint64_t rx_seq_ = 0;
  Clock::time_point last_heartbeat_{};
  Clock::time_point last_rx_{};
  bool heartbeat_seen_ = false;
  uint64_t config_writes_ = 0;
  bool capture_ = false;
  bool skip_polls_ = false;
  std::deque<TracedFrame> frames_;
  uint64_t dropped_ = 0;
  bool interrupted_ = false;
  std::function<void()> on_interrupt_;
};

// Watches SIGINT, SIGTERM and SIGHUP on a thread of its own and hands them
// to the session. Construct it before any other thread starts: it blocks
// the signals in the calling thread, and every thread started later
// inherits that. Another Ctrl-C a second or more after the first ends the
// program at once.
class SignalWatch {
 public:
  explicit SignalWatch(Session& session);

 private:
  Session& session_;
  std::optional<Clock::time_point> first_;  // touched by the watch's thread only
  voxa::platform::InterruptWatch watch_;
};

}  // namespace voxactl
