// The simulated board's motion model: eight axes with their positions and
// velocities, the job the engine runs (a motion command or a delay), the
// spindles that turn on after their command completed, limit switches, the
// home sensor, and the tick that advances them all.
//
// The protocol side (board.h) owns the registers and the command queue: it
// starts jobs from action commands, stops and cancels them, runs ticks, and
// reads the state back into the status registers. The model reads the
// velocity profile, home and limit settings from those registers but never
// writes them; it reports every job that ends through the done function.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "codec.h"
#include "mover.h"

namespace voxa_sim {

using RegisterFile = uint32_t[kRegisters][kWords];

// The engine version in CHIPSTATUS word 7 as major * 100 + minor; engines
// after kLastOldEngine have soft limits of their own.
int EngineVersion(const RegisterFile& reg);
constexpr int kLastOldEngine = 205;
// The velocity multiplier of VELAUXSET word 0 bits 8-15 (a power of two, at
// most 32): register velocities times it are pulses/s.
double VelocityMultiplier(const RegisterFile& reg);
// The action commands that start a motion job.
bool IsMotionCommand(uint8_t code);

// Alarm codes in CHIPSTATUS word 0 bits 16-31 (OR-ed together).
constexpr uint32_t kAlarmHardLimit = 0x0001;
constexpr uint32_t kAlarmSoftLimit = 0x0002;
constexpr uint32_t kAlarmEStop = 0x0004;

class Motion {
 public:
  // Called when a job ends, stopped or not, with the command that started it.
  using Done = std::function<void(const HostCommand& cmd)>;

  // One axis as the model holds it.
  struct Axis {
    double pos = 0;
    double vel = 0;  // signed, pulses/s, over the last tick
    double enc_offset = 0;
    bool alarm = false;
    bool home_alarm = false;
    bool ccw = false;
    int vstate = kStopped;
    std::optional<bool> lim_lo_in, lim_hi_in;
    bool lim_pos = false;
    int32_t lim_lo = 0, lim_hi = 0;
    double home_sensor = 0;
  };

  // The path the status registers report: the running job's first mover,
  // else the first spindle turning on its own.
  struct Path {
    bool any = false;
    int vstate = kStopped;
    double s = 0, length = 0, v = 0;  // pulses, pulses/s (length: infinite for a spindle)
  };

  Motion(const RegisterFile& regs, Done done);

  // ---- jobs ----
  // Starts the motion command cmd (Home, IMove, CMove, Line, arcs, Spindle,
  // XMove, IHome) with the operands cal0/cal1. False when it moves nothing:
  // no job starts, and the caller completes the command at once.
  bool Start(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1);
  // A delay of ms milliseconds (above 0) as the running job.
  void StartDelay(const HostCommand& cmd, double ms);
  // A spindle of axes the running job leaves alone starts or stops at once
  // and turns on its own; the running job goes on.
  void SpindleBeside(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1);
  // Ends the running job: a delay at once, a motion decelerating.
  void Cancel();
  // Stops the running job and every spindle: immediate, at once; else
  // decelerating (a delay ends at once either way).
  void Stop(bool immediate);
  // Forgets every job without reporting it; the axes stand still and their
  // alarms clear.
  void Reset();
  void ClearAlarms();

  // What a tick stopped at a limit switch.
  struct TickResult {
    uint32_t alarms = 0;       // kAlarmHardLimit / kAlarmSoftLimit
    bool job_stopped = false;  // the running job drove into it and ended
  };
  // Advances everything by dt seconds; while paused the job's movers
  // decelerate to a halt and a delay does not count down.
  TickResult Tick(double dt, bool paused);

  // ---- state ----
  bool Running() const { return job_.has_value(); }
  bool Idle() const { return !job_ && rotations_.empty(); }
  bool Delaying() const { return job_ && job_->type == Job::kDelay; }
  double DelayLeftMs() const { return Delaying() ? job_->delay_left_ms : 0; }
  // A motion command runs or a spindle turns.
  bool OnMotion() const { return (job_ && job_->type != Job::kDelay) || !rotations_.empty(); }
  uint8_t JobAxes() const;     // the axes the running job moves
  uint8_t MovingAxes() const;  // the axes some unfinished mover drives
  bool Homing(int axis) const;
  Path Lead() const;

  // ---- axes ----
  const Axis& AxisAt(int axis) const { return axis_[axis]; }
  double Position(int axis) const { return axis >= 0 && axis < kWords ? axis_[axis].pos : 0; }
  double Encoder(int axis) const { return axis_[axis].pos + axis_[axis].enc_offset; }
  // Moves the axis's coordinates: a running path, the home sensor and the
  // positional limit switches shift with it.
  void SetPosition(int axis, double p);
  void SetEncoder(int axis, double e) { axis_[axis].enc_offset = e - axis_[axis].pos; }
  bool LimitLower(int axis) const;
  bool LimitUpper(int axis) const;
  bool AtHomeSensor(int axis) const;
  // Scripted limit switch inputs: nullopt = follow the positional switch.
  void SetLimitInput(int axis, std::optional<bool> lower, std::optional<bool> upper);
  // Positional limit switches: active while the position is <= lo / >= hi.
  void SetLimitPositions(int axis, bool enabled, int32_t lo, int32_t hi);
  void SetHomeSensor(int axis, int32_t position);

 private:
  struct Job {
    HostCommand cmd;
    enum Type { kMotion, kDelay, kSpindle } type = kMotion;
    std::vector<Mover> movers;
    double delay_left_ms = 0;
    bool home = false;
    uint8_t home_axes = 0;
    int32_t home_values[kWords] = {};
  };

  // A straight mover from where the axes stand to end, with the velocity
  // profile of profile_axis.
  Mover LineTo(uint8_t axes, const double* end, int profile_axis) const;
  bool StartSpindle(Job& job, uint8_t mask, const uint32_t* cal0, double* target);
  void Finish(bool normal);
  void PlaceAxes(const Mover& m);
  bool LimitStop(int axis, double before, double after, bool* soft);
  // Velocity profile of an axis from the registers, pulses/s and pulses/s^2.
  void Profile(int axis, double* vstart, double* vmax, double* acc, double* dec) const;

  const RegisterFile& reg_;
  Done done_;
  Axis axis_[kWords];
  std::optional<Job> job_;
  std::vector<Mover> rotations_;  // spindles turning after their command completed
};

}  // namespace voxa_sim
