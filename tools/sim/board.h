// The simulated board's engine: its 32 registers of eight words, its command
// queue, a simple motion model and the packets it sends of its own accord.
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

namespace voxa_sim {

// CHIPSTATUS word 7: stage 4 (Normal), kind 1 (Engine), model 54 (K7R2).
constexpr uint32_t EngineWord(int major, int minor) {
  return (4u << 24) | (1u << 16) | ((static_cast<uint32_t>(major) & 15u) << 12) |
         ((static_cast<uint32_t>(minor) & 15u) << 8) | 54u;
}
constexpr int kDefaultEngineMajor = 2;
constexpr int kDefaultEngineMinor = 7;

// Alarm codes in CHIPSTATUS word 0 bits 16-31 (OR-ed together).
constexpr uint32_t kAlarmHardLimit = 0x0001;
constexpr uint32_t kAlarmSoftLimit = 0x0002;
constexpr uint32_t kAlarmEStop = 0x0004;

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
  double Position(int axis) const;

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
  bool Idle() const { return !job_ && queue_.empty() && rotations_.empty(); }
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

  // One path that some axes follow, with a trapezoidal velocity profile
  // over its length. Kinds: straight line, arc in the plane of two axes
  // (other axes linear), endless rotation of one axis.
  struct Mover {
    enum Kind { kLine, kArc, kRotate } kind = kLine;
    uint8_t axes = 0;
    double start[kWords] = {};
    double end[kWords] = {};
    int ax_a = -1, ax_b = -1;  // arc plane
    double cx = 0, cy = 0, r0 = 0, r1 = 0, th0 = 0, dth = 0;
    int dir = 1;               // rotation direction
    double length = 0;         // path length in pulses (rotation: endless)
    double s = 0;              // distance travelled
    double v = 0;              // path velocity, pulses/s
    double vstart = 0, vmax = 0, acc = 0, dec = 0;  // pulses/s, pulses/s^2 (0 = no ramp)
    bool stopping = false;     // decelerate to a halt, then end
    bool finished = false;
    int vstate = 0;            // 0 stopped, 1 accelerating, 2 constant, 3 decelerating
  };

  struct Job {
    HostCommand cmd;
    enum Type { kMotion, kDelay, kSpindle } type = kMotion;
    std::vector<Mover> movers;
    double delay_left_ms = 0;
    bool home = false;
    uint8_t home_axes = 0;
    int32_t home_values[kWords] = {};
  };

  struct Axis {
    double pos = 0;
    double vel = 0;  // signed, pulses/s, over the last tick
    double enc_offset = 0;
    bool alarm = false;
    bool home_alarm = false;
    bool ccw = false;
    int vstate = 0;
    std::optional<bool> lim_lo_in, lim_hi_in;
    bool lim_pos = false;
    int32_t lim_lo = 0, lim_hi = 0;
    double home_sensor = 0;
  };

  void Tick(double dt_s);
  void Pump();
  void Execute(QueueEntry& e);
  void StartAction(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1);
  bool StartMotion(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1);
  void FinishJob(bool report, bool normal);
  void ReportComplete(const HostCommand& cmd);
  void ApplyWrite(const HostCommand& cmd);
  void Control(const HostCommand& cmd);
  void StopAll(bool immediate, bool clear_queue);
  void ResetBoard();
  void AlarmReset();
  void ReadReply(const HostCommand& cmd);
  bool StepMover(Mover& m, double dt, bool hold);
  void PlaceAxes(const Mover& m);
  bool LimitStop(int axis, double before, double after, bool* soft);
  void SetAxisPosition(int axis, double p);
  void RefreshStatus();
  void AfterEvent();
  void PeriodicPackets();
  void Reschedule();
  void CheckComparators();
  bool LimitLower(int axis) const;
  bool LimitUpper(int axis) const;
  bool BusyNow() const;
  int WaitingNow() const;
  // Velocity profile of an axis from the registers, pulses/s and pulses/s^2.
  void Profile(int axis, double* vstart, double* vmax, double* acc, double* dec) const;
  void EmitBody(const std::vector<uint8_t>& body);
  int EngineVersion() const;

  Emit emit_;
  uint32_t tick_ms_;
  uint64_t now_ms_ = 0;
  uint32_t carry_ms_ = 0;
  uint32_t reg_[kRegisters][kWords] = {};
  Axis axis_[kWords];
  std::deque<QueueEntry> queue_;
  // The axes the running job moves, and a spindle started beside it.
  uint8_t JobAxes() const;
  void SpindleBeside(const HostCommand& cmd);
  std::optional<Job> job_;
  std::vector<Mover> rotations_;  // spindles turning after their command completed
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
