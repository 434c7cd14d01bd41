#include "motion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace voxa_sim {
namespace {

constexpr double kDefaultDriveVel = 1000.0;
constexpr double kHomeSensorWidth = 5.0;  // pulses either side of the sensor

// AXISSET bits the model follows.
constexpr uint32_t kHardLowerOn = 1u << 16;
constexpr uint32_t kHardUpperOn = 1u << 17;
constexpr uint32_t kSoftLowerOn = 1u << 18;
constexpr uint32_t kSoftUpperOn = 1u << 19;
constexpr uint32_t kHomeZero = 1u << 30;  // a home return ends at 0, not at the value sent

int LowestAxis(uint8_t mask) {
  for (int i = 0; i < kWords; ++i)
    if (mask & (1u << i)) return i;
  return -1;
}

int32_t S32(uint32_t v) { return static_cast<int32_t>(v); }

}  // namespace

int EngineVersion(const RegisterFile& reg) {
  const uint32_t w = reg[CHIPSTATUS][7];
  return static_cast<int>(((w & 0xF000) >> 12) * 100 + ((w & 0x0F00) >> 8));
}

double VelocityMultiplier(const RegisterFile& reg) {
  return static_cast<double>(1u << std::min<uint32_t>(5, (reg[VELAUXSET][0] >> 8) & 0xFF));
}

bool IsMotionCommand(uint8_t code) {
  switch (code) {
    case Op::kHome: case Op::kIMove: case Op::kCMove: case Op::kLine: case Op::kArcCW: case Op::kArcCCW:
    case Op::kSpindle: case Op::kXMove: case Op::kIHome:
      return true;
    default:
      return false;
  }
}

Motion::Motion(const RegisterFile& regs, Done done) : reg_(regs), done_(std::move(done)) {}

// ---- starting jobs ----

void Motion::Profile(int axis, double* vstart, double* vmax, double* acc, double* dec) const {
  const double mult = VelocityMultiplier(reg_);
  auto field = [this, axis](int r) -> double {
    uint32_t v = reg_[r][axis] & 0xFFFF;
    if (v == 0) v = reg_[r][0] >> 16;
    return static_cast<double>(v);
  };
  double vm = field(DRIVEVEL);
  if (vm <= 0) vm = kDefaultDriveVel;
  *vmax = vm * mult;
  *vstart = std::min(*vmax, field(STARTVEL) * mult);
  *acc = field(ACC) * 1000.0 * mult;
  *dec = field(DEC) * 1000.0 * mult;
  if (*dec <= 0) *dec = *acc;
}

Mover Motion::LineTo(uint8_t axes, const double* end, int profile_axis) const {
  Mover m;
  m.kind = Mover::kLine;
  m.axes = axes;
  double len2 = 0;
  for (int i = 0; i < kWords; ++i) {
    m.start[i] = m.end[i] = axis_[i].pos;
    if (axes & (1u << i)) {
      m.end[i] = end[i];
      len2 += (m.end[i] - m.start[i]) * (m.end[i] - m.start[i]);
    }
  }
  m.length = std::sqrt(len2);
  Profile(profile_axis, &m.vstart, &m.vmax, &m.acc, &m.dec);
  return m;
}

bool Motion::StartSpindle(Job& job, uint8_t mask, const uint32_t* cal0, double* target) {
  // CAL0 = signed velocity in pulses/s; 0 stops the axis.
  job.type = Job::kSpindle;
  for (int i = 0; i < kWords; ++i) {
    if (!(mask & (1u << i))) continue;
    const int32_t vel = S32(cal0[i]);
    double carried = 0;
    for (auto it = rotations_.begin(); it != rotations_.end();) {
      if (it->axes & (1u << i)) {
        if (vel == 0) {
          it->stopping = true;
          ++it;
          continue;
        }
        carried = (it->dir > 0) == (vel > 0) ? it->v : 0;
        it = rotations_.erase(it);
      } else {
        ++it;
      }
    }
    if (vel == 0) continue;
    Mover m = LineTo(static_cast<uint8_t>(1u << i), target, i);
    m.kind = Mover::kRotate;
    m.length = std::numeric_limits<double>::infinity();
    m.dir = vel > 0 ? 1 : -1;
    m.vmax = std::abs(static_cast<double>(vel));
    m.vstart = std::min(m.vstart, m.vmax);
    m.v = carried;
    job.movers.push_back(m);
  }
  return !job.movers.empty();
}

bool Motion::Start(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1) {
  const uint8_t mask = cmd.mask;
  const uint8_t code = cmd.code;
  Job job;
  job.cmd = cmd;
  double target[kWords];
  for (int i = 0; i < kWords; ++i) target[i] = axis_[i].pos;

  switch (code) {
    case Op::kLine:     // absolute end points in CAL0
    case Op::kXMove: {  // as Line, with CAL1 words 0-3 = velocity, acc, dec, start velocity
      if (!mask) return false;
      for (int i = 0; i < kWords; ++i)
        if (mask & (1u << i)) target[i] = S32(cal0[i]);
      Mover m = LineTo(mask, target, LowestAxis(mask));
      if (code == Op::kXMove) {
        if (cal1[0]) m.vmax = cal1[0];
        if (cal1[1]) m.acc = cal1[1] * 1000.0;
        if (cal1[2] & 0xFFFF) m.dec = (cal1[2] & 0xFFFF) * 1000.0;
        if (cal1[3]) m.vstart = cal1[3];
        m.vstart = std::min(m.vstart, m.vmax);
      }
      job.movers.push_back(m);
      break;
    }
    case Op::kArcCW:
    case Op::kArcCCW: {  // end in CAL0, centre in CAL1
      if (!mask) return false;
      for (int i = 0; i < kWords; ++i)
        if (mask & (1u << i)) target[i] = S32(cal0[i]);
      // The plane is that of the two lowest axes; the others move linearly.
      // A single axis moves in a straight line.
      const int a = LowestAxis(mask);
      const int b = LowestAxis(static_cast<uint8_t>(mask & ~(1u << a)));
      Mover m = LineTo(mask, target, a);
      if (b >= 0) m.BendToArc(a, b, S32(cal1[a]), S32(cal1[b]), code == Op::kArcCW);
      job.movers.push_back(m);
      break;
    }
    case Op::kIMove:    // relative distances in CAL0, every axis on its own
    case Op::kCMove: {  // absolute targets in CAL0, every axis on its own
      for (int i = 0; i < kWords; ++i) {
        if (!(mask & (1u << i))) continue;
        target[i] = code == Op::kIMove ? axis_[i].pos + S32(cal0[i]) : S32(cal0[i]);
        job.movers.push_back(LineTo(static_cast<uint8_t>(1u << i), target, i));
      }
      break;
    }
    case Op::kHome:     // one value for every axis (CAL0 of each)
    case Op::kIHome: {  // a value per axis
      for (int i = 0; i < kWords; ++i) {
        if (!(mask & (1u << i))) continue;
        const int16_t offset = static_cast<int16_t>(reg_[HOMERETURN][i] >> 16);
        target[i] = axis_[i].home_sensor + offset;
        Mover m = LineTo(static_cast<uint8_t>(1u << i), target, i);
        const uint32_t seek = reg_[HOMERETURN][i] & 0xFFFF;
        if (seek) {
          m.vmax = seek * VelocityMultiplier(reg_);
          m.vstart = std::min(m.vstart, m.vmax);
        }
        job.movers.push_back(m);
        job.home_values[i] = S32(cal0[i]);
      }
      job.home = true;
      job.home_axes = mask;
      if (!mask) return false;
      break;
    }
    case Op::kSpindle:
      if (!StartSpindle(job, mask, cal0, target)) return false;
      break;
    default:
      return false;
  }
  if (job.movers.empty()) return false;
  job_ = std::move(job);
  return true;
}

void Motion::StartDelay(const HostCommand& cmd, double ms) {
  Job j;
  j.cmd = cmd;
  j.type = Job::kDelay;
  j.delay_left_ms = ms;
  job_ = std::move(j);
}

void Motion::SpindleBeside(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1) {
  std::optional<Job> running = std::move(job_);
  job_.reset();
  if (Start(cmd, cal0, cal1)) {
    for (Mover& m : job_->movers) rotations_.push_back(m);
    job_.reset();
  }
  job_ = std::move(running);
}

// ---- ending jobs ----

void Motion::Finish(bool normal) {
  if (!job_) return;
  Job job = std::move(*job_);
  job_.reset();
  if (job.home && normal) {
    for (int i = 0; i < kWords; ++i) {
      if (!(job.home_axes & (1u << i))) continue;
      SetPosition(i, (reg_[AXISSET][i] & kHomeZero) ? 0.0 : job.home_values[i]);
      axis_[i].enc_offset = 0;
    }
  }
  if (done_) done_(job.cmd);
}

void Motion::Cancel() {
  if (!job_) return;
  if (job_->type == Job::kDelay) {
    Finish(false);
  } else {
    for (Mover& m : job_->movers) m.stopping = true;
  }
}

void Motion::Stop(bool immediate) {
  if (job_) {
    if (immediate || job_->type == Job::kDelay) {
      for (Mover& m : job_->movers) m.v = 0;
      Finish(false);
    } else {
      for (Mover& m : job_->movers) m.stopping = true;
    }
  }
  if (immediate) {
    rotations_.clear();
    for (Axis& a : axis_) a.vel = 0;
  } else {
    for (Mover& m : rotations_) m.stopping = true;
  }
}

void Motion::Reset() {
  job_.reset();
  rotations_.clear();
  for (Axis& a : axis_) {
    a.vel = 0;
    a.alarm = a.home_alarm = false;
    a.vstate = kStopped;
  }
}

void Motion::ClearAlarms() {
  for (Axis& a : axis_) a.alarm = a.home_alarm = false;
}

// ---- the tick ----

void Motion::PlaceAxes(const Mover& m) {
  for (int i = 0; i < kWords; ++i)
    if (m.axes & (1u << i)) axis_[i].pos = m.PositionOf(i);
}

bool Motion::LimitStop(int axis, double before, double after, bool* soft) {
  const uint32_t set = reg_[AXISSET][axis];
  const bool new_engine = EngineVersion(reg_) > kLastOldEngine;
  *soft = false;
  if (after < before) {
    if ((set & kHardLowerOn) && LimitLower(axis)) return true;
    if (new_engine && (set & kSoftLowerOn) && after < S32(reg_[SLIMITL][axis])) {
      axis_[axis].pos = S32(reg_[SLIMITL][axis]);
      *soft = true;
      return true;
    }
  } else if (after > before) {
    if ((set & kHardUpperOn) && LimitUpper(axis)) return true;
    if (new_engine && (set & kSoftUpperOn) && after > S32(reg_[SLIMITH][axis])) {
      axis_[axis].pos = S32(reg_[SLIMITH][axis]);
      *soft = true;
      return true;
    }
  }
  return false;
}

Motion::TickResult Motion::Tick(double dt, bool paused) {
  TickResult result;
  double before[kWords];
  for (int i = 0; i < kWords; ++i) before[i] = axis_[i].pos;
  int vstate[kWords] = {};

  if (job_ && job_->type == Job::kDelay) {
    if (!paused) job_->delay_left_ms -= dt * 1000.0;
    if (job_->delay_left_ms <= 0) Finish(true);
  } else if (job_) {
    bool all_done = true, stopped = false;
    for (Mover& m : job_->movers) {
      if (!m.finished) m.Step(dt, paused);
      PlaceAxes(m);
      if (m.stopping && m.finished) stopped = true;
      for (int i = 0; i < kWords; ++i)
        if (m.axes & (1u << i)) vstate[i] = std::max(vstate[i], m.vstate);
      // A spindle's command completes once it turns at full speed.
      if (job_->type == Job::kSpindle) {
        if (!m.finished && m.v < m.vmax) all_done = false;
      } else if (!m.finished) {
        all_done = false;
      }
    }
    if (all_done) {
      if (job_->type == Job::kSpindle) {
        for (Mover& m : job_->movers)
          if (!m.finished) rotations_.push_back(m);
      }
      Finish(!stopped);
    }
  }
  for (Mover& m : rotations_) {
    m.Step(dt, false);
    PlaceAxes(m);
    for (int i = 0; i < kWords; ++i)
      if (m.axes & (1u << i)) vstate[i] = std::max(vstate[i], m.vstate);
  }
  rotations_.erase(std::remove_if(rotations_.begin(), rotations_.end(), [](const Mover& m) { return m.finished; }),
                   rotations_.end());

  // Limit switches stop whatever drives the axis into them.
  for (int i = 0; i < kWords; ++i) {
    bool soft = false;
    if (axis_[i].pos == before[i] || !LimitStop(i, before[i], axis_[i].pos, &soft)) continue;
    axis_[i].alarm = true;
    result.alarms |= soft ? kAlarmSoftLimit : kAlarmHardLimit;
    if (job_ && (JobAxes() & (1u << i))) {
      if (job_->home) axis_[i].home_alarm = true;
      result.job_stopped = true;
      Finish(false);
    }
    rotations_.erase(std::remove_if(rotations_.begin(), rotations_.end(),
                                    [i](const Mover& m) { return (m.axes & (1u << i)) != 0; }),
                     rotations_.end());
  }

  for (int i = 0; i < kWords; ++i) {
    Axis& a = axis_[i];
    a.vel = (a.pos - before[i]) / dt;
    if (a.vel < 0) a.ccw = true;
    if (a.vel > 0) a.ccw = false;
    a.vstate = vstate[i];
  }
  return result;
}

// ---- state and axes ----

uint8_t Motion::JobAxes() const {
  uint8_t axes = 0;
  if (job_)
    for (const Mover& m : job_->movers) axes |= m.axes;
  return axes;
}

uint8_t Motion::MovingAxes() const {
  uint8_t moving = 0;
  if (job_)
    for (const Mover& m : job_->movers)
      if (!m.finished) moving |= m.axes;
  for (const Mover& m : rotations_) moving |= m.axes;
  return moving;
}

bool Motion::Homing(int axis) const { return job_ && job_->home && (job_->home_axes & (1u << axis)); }

Motion::Path Motion::Lead() const {
  const Mover* lead = nullptr;
  if (job_ && !job_->movers.empty()) lead = &job_->movers.front();
  else if (!rotations_.empty()) lead = &rotations_.front();
  Path p;
  if (!lead) return p;
  p.any = true;
  p.vstate = lead->vstate;
  p.s = lead->s;
  p.length = lead->length;
  p.v = lead->v;
  return p;
}

void Motion::SetPosition(int axis, double p) {
  const double d = p - axis_[axis].pos;
  axis_[axis].pos = p;
  if (job_)
    for (Mover& m : job_->movers) m.Shift(axis, d);
  for (Mover& m : rotations_) m.Shift(axis, d);
  // The home sensor and positional limit switches stay where they are in
  // the machine; in the new coordinates they move by d.
  axis_[axis].home_sensor += d;
  if (axis_[axis].lim_pos) {
    axis_[axis].lim_lo += static_cast<int32_t>(std::llround(d));
    axis_[axis].lim_hi += static_cast<int32_t>(std::llround(d));
  }
}

bool Motion::LimitLower(int axis) const {
  const Axis& a = axis_[axis];
  if (a.lim_lo_in) return *a.lim_lo_in;
  return a.lim_pos && a.pos <= a.lim_lo;
}

bool Motion::LimitUpper(int axis) const {
  const Axis& a = axis_[axis];
  if (a.lim_hi_in) return *a.lim_hi_in;
  return a.lim_pos && a.pos >= a.lim_hi;
}

bool Motion::AtHomeSensor(int axis) const {
  return std::fabs(axis_[axis].pos - axis_[axis].home_sensor) <= kHomeSensorWidth;
}

void Motion::SetLimitInput(int axis, std::optional<bool> lower, std::optional<bool> upper) {
  if (axis < 0 || axis >= kWords) return;
  axis_[axis].lim_lo_in = lower;
  axis_[axis].lim_hi_in = upper;
}

void Motion::SetLimitPositions(int axis, bool enabled, int32_t lo, int32_t hi) {
  if (axis < 0 || axis >= kWords) return;
  axis_[axis].lim_pos = enabled;
  axis_[axis].lim_lo = lo;
  axis_[axis].lim_hi = hi;
}

void Motion::SetHomeSensor(int axis, int32_t position) {
  if (axis < 0 || axis >= kWords) return;
  axis_[axis].home_sensor = position;
}

}  // namespace voxa_sim
