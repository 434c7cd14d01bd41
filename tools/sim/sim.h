// The simulated board: the library's peer, in-process for tests and the demo,
// or as the program voxa-sim.
//
//   auto sim = voxa_sim::SimBoard::StartTcp();      // 127.0.0.1, ephemeral port
//   VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim->Port(), 0);
//   ... sim->WaitFrame([](const RxFrame& f) { return f.cmd.code == voxa_sim::Op::kLine; }, 2s);
//
// One event-loop thread per board serves the link (a listening socket and
// the accepted connection, or a pseudo-terminal), feeds received bytes to the
// frame parser and the board engine (board.h), runs simulated time in ticks
// and writes the board's packets. Every public method is thread-safe; Stop()
// (and the destructor) wakes the thread at once and joins it.
//
// Predicates given to the Wait functions run under the board's lock: they
// must not call back into the SimBoard.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "board.h"
#include "codec.h"
#include "platform/listener.h"
#include "platform/platform.h"
#include "platform/pty.h"

namespace voxa_sim {

using Ms = std::chrono::milliseconds;

// A board serves one host at a time: while the host it serves is live (its
// connection open and a frame from it within this time; the library sends
// a keep-alive every 200 ms), a second connection is turned away. A host
// that has been silent this long loses the board to the next connection.
constexpr Ms kLiveHost{1000};

// 127.0.0.1 in network byte order, as VOXA_Open_Tcp takes its address.
uint32_t LoopbackAddress();

// One frame received from the host.
struct RxFrame {
  uint64_t seq = 0;              // 0, 1, 2, ... in order of arrival
  uint64_t time_ms = 0;          // the board's clock when it arrived
  std::vector<uint8_t> raw;      // FE, L, id, body, checksum
  HostCommand cmd;               // decoded; kind kInvalid when it fits no command
  bool Valid() const { return cmd.kind != CmdKind::kInvalid; }
};

struct SimOptions {
  uint32_t tick_ms = 2;          // simulated time step
  int engine_major = kDefaultEngineMajor;
  int engine_minor = kDefaultEngineMinor;
  bool heartbeat = true;         // answer keep-alives
  uint32_t seed = 12345;         // random source of the corruption and delay faults
  bool trace = false;            // print every frame to stderr (also: VOXA_SIM_TRACE=1)
  size_t frame_log_limit = 200000;
  // A new connection takes the board from the host it serves, live or not
  // (for tests that play two hosts); off: a live host keeps it and the
  // newcomer is turned away (accepted and closed without a byte).
  bool hand_over = false;
  // When no frame has come from the host for this long, every axis stops
  // (decelerating) and the queue is dropped; 0: no host watchdog.
  uint32_t host_watchdog_ms = 0;
};

enum class RefuseMode {
  kAccept,          // normal
  kCloseAccepted,   // keep listening, close every accepted connection at once
  kStopListening,   // close the listening socket (connects are refused)
};

struct SimStats {
  uint64_t bytes_in = 0, bytes_out = 0;
  uint64_t frames_in = 0, frames_out = 0;
  uint64_t checksum_errors = 0, length_errors = 0, junk_bytes = 0;
  uint64_t connections = 0, drops = 0, refused = 0;
  uint64_t turned_away = 0;      // connections turned away while a live host held the board
  uint64_t watchdog_stops = 0;   // times the host watchdog stopped the axes
  uint64_t corrupted_bytes = 0, delayed_bytes = 0, discarded_frames = 0;
};

class SimBoard {
 public:
  using FramePred = std::function<bool(const RxFrame&)>;

  // Starts a board listening on 127.0.0.1:port (0: an ephemeral port).
  static std::unique_ptr<SimBoard> StartTcp(uint16_t port = 0, const SimOptions& options = {});
  // Starts a board serving a pseudo-terminal; DevicePath() names its tty.
  static std::unique_ptr<SimBoard> StartPty(const SimOptions& options = {});

  ~SimBoard();
  SimBoard(const SimBoard&) = delete;
  SimBoard& operator=(const SimBoard&) = delete;

  // Stops the thread and closes the link; idempotent.
  void Stop();

  bool IsTcp() const { return tcp_; }
  uint16_t Port() const { return port_; }
  std::string DevicePath() const { return device_path_; }

  // ---- the link ----
  bool IsConnected() const;
  uint32_t ConnectionCount() const;  // connections accepted so far
  bool WaitForConnection(uint32_t count, Ms timeout) const;
  bool WaitForDisconnect(Ms timeout) const;

  // ---- frames received from the host ----
  uint64_t FrameCount() const;  // frames received so far = seq of the next one
  std::vector<RxFrame> Frames(uint64_t from_seq = 0) const;
  std::vector<RxFrame> Frames(const FramePred& pred, uint64_t from_seq = 0) const;
  // The first frame with seq >= from_seq that pred accepts, waiting at most
  // timeout for it to arrive.
  std::optional<RxFrame> WaitFrame(const FramePred& pred, Ms timeout, uint64_t from_seq = 0) const;
  // Waits until count frames accepted by pred have arrived; returns them.
  std::vector<RxFrame> WaitFrames(const FramePred& pred, size_t count, Ms timeout, uint64_t from_seq = 0) const;
  // Forgets the frames received so far (the seq numbers keep counting).
  void ClearFrames();

  // ---- the board ----
  uint32_t Reg(int r, int w) const;
  std::array<uint32_t, kWords> Register(int r) const;
  void SetReg(int r, int w, uint32_t v);
  int32_t Position(int axis) const;
  bool IsIdle() const;
  bool WaitIdle(Ms timeout) const;
  // Waits until pred(board) holds; pred runs under the lock.
  bool WaitState(const std::function<bool(const Board&)>& pred, Ms timeout) const;

  void SetHeartbeatReply(bool on);
  void SetEngineVersion(int major, int minor);
  void OverrideBusy(std::optional<bool> busy);
  void OverrideWaiting(std::optional<int> count);
  void HoldQueue(bool hold);
  void SetLimitInput(int axis, std::optional<bool> lower, std::optional<bool> upper);
  void SetLimitPositions(int axis, bool enabled, int32_t lo, int32_t hi);
  void SetHomeSensor(int axis, int32_t position);

  // ---- sending by hand ----
  void SendPacket(uint8_t type, const std::vector<uint8_t>& payload);
  void SendStatePacket(uint8_t contents);
  void InjectRaw(const std::vector<uint8_t>& bytes);

  // ---- faults ----
  // Drops the connection (reset, like a pulled cable; reset=false closes
  // it in order); done when the call returns. On a pseudo-terminal: throws
  // away the bytes in flight.
  void DropConnection(bool reset = true);
  void DropAfterFrames(uint32_t frames);
  void DropAfter(Ms delay);
  // Sends nothing for the duration (keep-alives go unanswered); the link
  // stays open and commands are still carried out.
  void GoSilent(Ms duration);
  bool IsSilent() const;
  // A pulled cable, for the duration: what the host sends is lost on the
  // way (read and thrown away, never carried out) and the board sends
  // nothing; the connection itself stays open on both ends.
  void PullCable(Ms duration);
  // A board that stops reading for the duration (or until the next
  // connection): what the host sends piles up in the sockets; the board goes
  // on sending its own packets.
  void StopReading(Ms duration);
  uint64_t LostBytes() const;
  // Each byte sent (received) is corrupted (one bit flipped) with this
  // probability.
  void SetCorruptRate(double rate);
  void SetRxCorruptRate(double rate);
  // Each byte sent is held back by delay with this probability; bytes stay
  // in order, so later bytes wait behind it.
  void SetDelay(double rate, Ms delay);
  // In force when the call returns.
  void RefuseConnections(RefuseMode mode);
  // As SimOptions::hand_over and ::host_watchdog_ms, from now on (the
  // watchdog counts the silence from the last frame, or from this call).
  void SetHandOver(bool on);
  void SetHostWatchdog(Ms timeout);
  // Sends count state packets back to back, as fast as the link takes them
  // (like SendPacket and InjectRaw, it waits while 1 MiB waits to go out).
  void FloodStatePackets(uint32_t count, uint8_t contents = 0x7F);

  SimStats Stats() const;
  // Waits until pred(stats) holds; pred runs under the lock.
  bool WaitStats(const std::function<bool(const SimStats&)>& pred, Ms timeout) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    std::vector<uint8_t> bytes;
    size_t off = 0;
    Clock::time_point release;
  };

  explicit SimBoard(const SimOptions& options);
  bool StartThread();
  void Run();
  void AcceptLocked();
  void ReadLocked();
  void FrameLocked();
  void EmitLocked(std::vector<uint8_t> frame, bool count_frame);
  void FlushLocked(Clock::time_point now);
  void WaitOutboxRoomLocked(std::unique_lock<std::mutex>& g);
  // Lets the loop thread apply a request and waits until it has.
  void RequestLocked(std::unique_lock<std::mutex>& g);
  void CloseConnectionLocked(bool reset);
  void ApplyRequestsLocked(Clock::time_point now);
  void AdvanceLocked(Clock::time_point now);
  void WatchHostLocked(Clock::time_point now);
  bool LinkUpLocked() const;
  int NextTimeoutLocked(Clock::time_point now) const;
  SimStats StatsLocked() const;

  const SimOptions options_;
  bool tcp_ = false;
  uint16_t port_ = 0;
  std::string device_path_;

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  Board board_;
  FrameParser parser_;
  std::deque<RxFrame> log_;
  uint64_t next_seq_ = 0;
  std::deque<Chunk> outbox_;
  size_t outbox_bytes_ = 0;
  SimStats stats_;
  std::mt19937 rng_;
  Clock::time_point start_;
  Clock::time_point last_advance_;

  // Faults and requests for the loop thread.
  Clock::time_point silent_until_{};
  Clock::time_point cut_until_{};  // the cable is pulled until then
  Clock::time_point deaf_until_{};  // the board reads nothing until then
  uint64_t lost_bytes_ = 0;
  double corrupt_rate_ = 0, rx_corrupt_rate_ = 0, delay_rate_ = 0;
  Ms delay_{0};
  Clock::time_point last_release_{};
  uint32_t drop_after_frames_ = 0;
  std::optional<Clock::time_point> drop_at_;
  bool drop_now_ = false;
  bool drop_reset_ = true;
  RefuseMode refuse_ = RefuseMode::kAccept;
  bool hand_over_ = false;
  Ms host_watchdog_{0};
  Clock::time_point last_host_frame_;
  bool watchdog_fired_ = false;
  uint64_t requested_ = 0, applied_ = 0;

  // Link objects: touched only by the loop thread once it runs.
  voxa::platform::TcpListener listener_;
  std::unique_ptr<voxa::platform::StreamSocket> conn_;
  voxa::platform::PtyMaster pty_;
  bool connected_ = false;       // under mu_, mirrors conn_ for readers
  uint32_t connections_ = 0;     // under mu_

  voxa::platform::WakeFd wake_;
  std::atomic<bool> stop_{false};
  voxa::platform::Thread thread_;
};

}  // namespace voxa_sim
