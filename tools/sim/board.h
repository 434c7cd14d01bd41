// The simulated board's engine, its protocol side: its 32 registers of eight
// words, its command queue, the replies to the host's commands and the
// packets it sends of its own accord. The axes, the running job and the
// spindles are the motion model's (motion.h), which the engine drives.
//
// Pure and single-threaded: fed decoded host commands (Handle) and simulated
// time (Advance), it hands every frame it sends to the emit function. The
// threads, sockets and fault injection live in sim.h. See README.md for the
// model: units, which commands queue, and what each status bit means here.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "codec.h"
#include "motion.h"

namespace voxa_sim {

// CHIPSTATUS word 7: stage 4 (Normal), kind 1 (Engine), model 54 (K7R2).
constexpr uint32_t EngineWord(int major, int minor) {
  return (4u << 24) | (1u << 16) | ((static_cast<uint32_t>(major) & 15u) << 12) |
         ((static_cast<uint32_t>(minor) & 15u) << 8) | 54u;
}
constexpr int kDefaultEngineMajor = 2;
constexpr int kDefaultEngineMinor = 7;

// The board's queue holds this many commands at most; beyond, commands are
// dropped (the host never sends past 100 waiting).
constexpr int kQueueLimit = 4096;
// Busy threshold base: the busy bit is set while at least (busy size % of
// this) commands wait, busy size from CHIPSET word 0 bits 11-12.
constexpr int kQueueNominal = 100;

class Board {
 public:
  using Emit = std::function<void(std::vector<uint8_t> frame)>;

  explicit Board(Emit emit, uint32_t tick_ms = 2);
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // One host command, as decoded from a frame.
  void Handle(const HostCommand& cmd);
  // Runs simulated time forward by ms milliseconds, in ticks.
  void Advance(uint32_t ms);
  uint64_t NowMs() const { return now_ms_; }
  uint32_t TickMs() const { return tick_ms_; }

  // Registers as the board holds them (status registers are recomputed
  // after every command and tick; see README.md for which bits).
  uint32_t Reg(int r, int w) const;
  // Sets a word as a host write would (CURPOS moves the axis, ENCPOS sets
  // the encoder), except that status registers are written too.
  void SetReg(int r, int w, uint32_t v);
  double Position(int axis) const { return motion_.Position(axis); }

  // Test hooks.
  void SetHeartbeatReply(bool on) { heartbeat_ = on; }
  bool HeartbeatReply() const { return heartbeat_; }
  void SetEngineVersion(int major, int minor);
  void OverrideBusy(std::optional<bool> busy);
  void OverrideWaiting(std::optional<int> count);
  void HoldQueue(bool hold);
  // Scripted limit switch inputs: nullopt = follow the positional switch.
  void SetLimitInput(int axis, std::optional<bool> lower, std::optional<bool> upper);
  // Positional limit switches: active while the position is <= lo / >= hi.
  void SetLimitPositions(int axis, bool enabled, int32_t lo, int32_t hi);
  void SetHomeSensor(int axis, int32_t position);
  // The host has gone silent (the host watchdog): every axis stops,
  // decelerating, and the queue is dropped, as with a decelerating stop
  // from the host.
  void StopForSilentHost();
  // Sends packets now.
  void SendStatePacket(uint8_t contents);
  void SendPacket(uint8_t type, const uint8_t* payload, size_t size);

  // State.
  bool Idle() const { return motion_.Idle() && queue_.empty(); }
  int QueueDepth() const { return static_cast<int>(queue_.size()); }
  bool Paused() const { return paused_; }
  bool EStopped() const { return estop_; }
  uint32_t CompletedJobs() const { return completed_jobs_; }

 private:
  struct QueueEntry {
    HostCommand cmd;
    bool snapshot = false;  // operands taken when it arrived (immediate)
    uint32_t cal0[kWords] = {};
    uint32_t cal1[kWords] = {};
  };

  void Pump();
  void Execute(QueueEntry& e);
  void StartAction(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1);
  void JobDone(const HostCommand& cmd);
  void ReportComplete(const HostCommand& cmd);
  void ApplyWrite(const HostCommand& cmd);
  void Control(const HostCommand& cmd);
  void StopAll(bool immediate);
  void ResetBoard();
  void AlarmReset();
  void ReadReply(const HostCommand& cmd);
  void RefreshStatus();
  void AfterEvent();
  void PeriodicPackets();
  void Reschedule();
  void CheckComparators();
  bool BusyNow() const;
  int WaitingNow() const;
  void EmitBody(const std::vector<uint8_t>& body);

  Emit emit_;
  uint32_t tick_ms_;
  uint64_t now_ms_ = 0;
  uint32_t carry_ms_ = 0;
  RegisterFile reg_ = {};
  Motion motion_;  // reads reg_
  std::deque<QueueEntry> queue_;
  bool heartbeat_ = true;
  bool paused_ = false;
  bool estop_ = false;
  bool hold_ = false;
  bool synced_ = false;
  bool exe_enabled_ = true;
  uint32_t alarm_code_ = 0;
  uint8_t exe_id_ = kNoTag;
  std::optional<bool> busy_override_;
  std::optional<int> waiting_override_;
  // Packets of the board's own accord.
  uint32_t period_code_ = 0;
  uint64_t next_state_ms_ = 0;
  bool last_busy_ = false;
  uint32_t last_irq_word_ = 0;
  int cmp_state_[4] = {-1, -1, -1, -1};
  uint32_t completed_jobs_ = 0;
};

}  // namespace voxa_sim
