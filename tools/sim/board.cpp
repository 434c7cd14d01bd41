#include "board.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace voxa_sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinVel = 10.0;          // pulses/s: the slowest a move crawls to its end
constexpr double kDefaultDriveVel = 1000.0;
constexpr double kHomeSensorWidth = 5.0;  // pulses either side of the sensor
constexpr uint8_t kSystemTag = 0xD3;

// Bits of CHIPSTATUS word 0 and AXISSTATUS that the model computes; the
// others keep what SetReg put there.
constexpr uint32_t kChipManaged = 0xFFFFBCFFu;
constexpr uint32_t kAxisManaged = 0x0080F0FFu;

// CHIPSET word 0 switches.
constexpr uint32_t kBusyPackets = 1u << 28;
constexpr uint32_t kCompletePackets = 1u << 29;
constexpr uint32_t kInterruptPackets = 1u << 30;
constexpr uint32_t kEventPackets = 1u << 31;

constexpr uint32_t kPeriods[8] = {0, 25, 50, 100, 200, 250, 500, 1000};

bool IsMotion(uint8_t code) {
  switch (code) {
    case 0x58: case 0x59: case 0x5A: case 0x5B: case 0x5C: case 0x5D: case 0x5F: case 0x60: case 0x61:
      return true;
    default:
      return false;
  }
}

bool IsControl(uint8_t code) { return code == 0x50 || code == 0x51 || code == 0x55 || code == 0x57; }

int LowestAxis(uint8_t mask) {
  for (int i = 0; i < kWords; ++i)
    if (mask & (1u << i)) return i;
  return -1;
}

int32_t S32(uint32_t v) { return static_cast<int32_t>(v); }

double NormaliseSweep(double d, bool cw) {
  // CCW sweeps lie in (0, 2pi], CW sweeps in [-2pi, 0); a zero sweep is a
  // full circle.
  const double two_pi = 2 * kPi;
  if (cw) {
    while (d >= -1e-9) d -= two_pi;
    while (d < -two_pi - 1e-9) d += two_pi;
  } else {
    while (d <= 1e-9) d += two_pi;
    while (d > two_pi + 1e-9) d -= two_pi;
  }
  return d;
}

}  // namespace

Board::Board(Emit emit, uint32_t tick_ms) : emit_(std::move(emit)), tick_ms_(tick_ms ? tick_ms : 2) {
  reg_[CHIPSTATUS][7] = EngineWord(kDefaultEngineMajor, kDefaultEngineMinor);
  for (auto& a : axis_) a.home_sensor = 0;
  RefreshStatus();
  last_irq_word_ = reg_[CHIPSTATUS][0] & 0xFFFF;
}

// ---- registers and hooks ----

uint32_t Board::Reg(int r, int w) const {
  if (r < 0 || r >= kRegisters || w < 0 || w >= kWords) return 0;
  return reg_[r][w];
}

double Board::Position(int axis) const { return axis >= 0 && axis < kWords ? axis_[axis].pos : 0; }

void Board::SetReg(int r, int w, uint32_t v) {
  if (r < 0 || r >= kRegisters || w < 0 || w >= kWords) return;
  if (r == CURPOS) {
    SetAxisPosition(w, S32(v));
  } else if (r == ENCPOS) {
    axis_[w].enc_offset = S32(v) - axis_[w].pos;
  } else {
    reg_[r][w] = v;
  }
  AfterEvent();
}

void Board::SetEngineVersion(int major, int minor) {
  reg_[CHIPSTATUS][7] = EngineWord(major, minor);
}

int Board::EngineVersion() const {
  const uint32_t w = reg_[CHIPSTATUS][7];
  return static_cast<int>(((w & 0xF000) >> 12) * 100 + ((w & 0x0F00) >> 8));
}

void Board::OverrideBusy(std::optional<bool> busy) {
  busy_override_ = busy;
  AfterEvent();
}

void Board::OverrideWaiting(std::optional<int> count) {
  waiting_override_ = count;
  AfterEvent();
}

void Board::HoldQueue(bool hold) {
  hold_ = hold;
  Pump();
  AfterEvent();
}

void Board::SetLimitInput(int axis, std::optional<bool> lower, std::optional<bool> upper) {
  if (axis < 0 || axis >= kWords) return;
  axis_[axis].lim_lo_in = lower;
  axis_[axis].lim_hi_in = upper;
  AfterEvent();
}

void Board::SetLimitPositions(int axis, bool enabled, int32_t lo, int32_t hi) {
  if (axis < 0 || axis >= kWords) return;
  axis_[axis].lim_pos = enabled;
  axis_[axis].lim_lo = lo;
  axis_[axis].lim_hi = hi;
  AfterEvent();
}

void Board::SetHomeSensor(int axis, int32_t position) {
  if (axis < 0 || axis >= kWords) return;
  axis_[axis].home_sensor = position;
  AfterEvent();
}

bool Board::LimitLower(int axis) const {
  const Axis& a = axis_[axis];
  if (a.lim_lo_in) return *a.lim_lo_in;
  return a.lim_pos && a.pos <= a.lim_lo;
}

bool Board::LimitUpper(int axis) const {
  const Axis& a = axis_[axis];
  if (a.lim_hi_in) return *a.lim_hi_in;
  return a.lim_pos && a.pos >= a.lim_hi;
}

bool Board::BusyNow() const {
  if (busy_override_) return *busy_override_;
  static constexpr int kThreshold[4] = {25, 50, 75, 100};
  const int t = kThreshold[(reg_[CHIPSET][0] >> 11) & 3] * kQueueNominal / 100;
  return static_cast<int>(queue_.size()) >= t;
}

int Board::WaitingNow() const {
  if (waiting_override_) return std::clamp(*waiting_override_, 0, 255);
  return std::min<int>(255, static_cast<int>(queue_.size()));
}

// ---- packets ----

void Board::EmitBody(const std::vector<uint8_t>& body) {
  if (emit_) emit_(BuildFrame(body));
}

void Board::SendPacket(uint8_t type, const uint8_t* payload, size_t size) {
  std::vector<uint8_t> body;
  body.reserve(size + 1);
  body.push_back(type);
  for (size_t i = 0; i < size; ++i) body.push_back(payload[i]);
  EmitBody(body);
}

void Board::SendStatePacket(uint8_t contents) {
  RefreshStatus();
  const int custom = static_cast<int>((reg_[CHIPSET][1] >> 8) & 31);
  struct Group {
    uint8_t bit;
    int regs[2];
  };
  const Group groups[] = {{0x01, {CHIPSTATUS, -1}}, {0x02, {AXISSTATUS, -1}}, {0x04, {CURPOS, -1}},
                          {0x08, {ENCPOS, -1}},     {0x10, {CURVEL, -1}},     {0x20, {GIO, EXTIO}},
                          {0x40, {custom, -1}}};
  // A packet holds at most 125 body bytes; the groups are spread over as
  // many packets as they need, each with its own state mask.
  std::vector<uint8_t> body{kState, 0};
  for (const Group& g : groups) {
    if (!(contents & g.bit)) continue;
    std::vector<uint8_t> units;
    for (int r : g.regs)
      if (r >= 0) AppendUnit(&units, 0xFF, reg_[r], 4, false);
    if (body.size() + units.size() > static_cast<size_t>(kMaxBody)) {
      EmitBody(body);
      body.assign({kState, 0});
    }
    body[1] |= g.bit;
    body.insert(body.end(), units.begin(), units.end());
  }
  if (body[1] != 0) EmitBody(body);
}

void Board::ReadReply(const HostCommand& cmd) {
  std::vector<uint8_t> body{static_cast<uint8_t>(kReadReplyBase + 2 * cmd.reg)};
  AppendUnit(&body, cmd.mask, reg_[cmd.reg], cmd.width, true);
  if (cmd.HasTag()) body.push_back(cmd.Tag());
  EmitBody(body);
}

void Board::ReportComplete(const HostCommand& cmd) {
  if (!(reg_[CHIPSET][0] & kCompletePackets)) return;
  if (!cmd.HasTag() || cmd.Tag() == kSystemTag) return;
  EmitBody({kCompleteState, cmd.Tag(), 0, 0, 0});
}


void Board::Reschedule() {
  const uint32_t code = (reg_[CHIPSET][0] >> 8) & 7;
  if (code != period_code_) {
    period_code_ = code;
    next_state_ms_ = now_ms_ + kPeriods[code];
  }
}

void Board::PeriodicPackets() {
  Reschedule();
  const uint32_t code = period_code_;
  if (code == 0 || now_ms_ < next_state_ms_) return;
  SendStatePacket(static_cast<uint8_t>(reg_[CHIPSET][1] & 0x7F));
  next_state_ms_ += kPeriods[code];
  if (next_state_ms_ <= now_ms_) next_state_ms_ = now_ms_ + kPeriods[code];
}

void Board::CheckComparators() {
  // Channel c compares operand A with operand B (source 6: the position of
  // an axis; source 25: a COMPARE data word); every change of A >= B is an
  // event, reported when event state packets are on.
  for (int c = 0; c < 4; ++c) {
    const uint32_t cfg = reg_[COMPARE][c];
    if (!(cfg & 0x80000000u)) {
      cmp_state_[c] = -1;
      continue;
    }
    auto operand = [this](uint32_t src, uint32_t idx, double* out) {
      if (src == 6) {
        *out = axis_[idx & 7].pos;
        return true;
      }
      if (src == 25) {
        *out = S32(reg_[COMPARE][idx & 7]);
        return true;
      }
      return false;
    };
    double a, b;
    if (!operand((cfg >> 3) & 31, cfg & 7, &a) || !operand((cfg >> 11) & 31, (cfg >> 8) & 7, &b)) continue;
    const int now = a >= b ? 1 : 0;
    if (cmp_state_[c] >= 0 && now != cmp_state_[c] && (reg_[CHIPSET][0] & kEventPackets))
      EmitBody({kEventState, static_cast<uint8_t>(c), static_cast<uint8_t>(now), 0, 0});
    cmp_state_[c] = now;
  }
}

// ---- host commands ----

void Board::Handle(const HostCommand& cmd) {
  switch (cmd.kind) {
    case CmdKind::kInvalid:
      return;
    case CmdKind::kReadRequest:
      RefreshStatus();
      ReadReply(cmd);
      return;
    case CmdKind::kSystem:
      if (cmd.code == 0x09) {
        if (heartbeat_) EmitBody({kHeartbeat, 0x00});
        return;
      }
      if (cmd.code == 0x0A) {
        if (cmd.immediate) {
          EmitBody({kCompleteState, cmd.Tag(), 0, 0, 0});
        } else if (queue_.size() < static_cast<size_t>(kQueueLimit)) {
          queue_.push_back(QueueEntry{cmd});
        }
        break;
      }
      Control(cmd);
      break;
    case CmdKind::kRegisterWrite:
      if (cmd.immediate)
        ApplyWrite(cmd);
      else if (queue_.size() < static_cast<size_t>(kQueueLimit))
        queue_.push_back(QueueEntry{cmd});
      break;
    case CmdKind::kAction:
      if (IsControl(cmd.code)) {
        Control(cmd);
      } else if (cmd.immediate) {
        if (!job_ && !paused_ && !estop_) {
          StartAction(cmd, reg_[CAL0], reg_[CAL1]);
        } else if (cmd.code == 0x5F && job_ && !paused_ && !estop_ && !(JobAxes() & cmd.mask)) {
          // A spindle of axes the running job leaves alone (a jog beside a
          // move) starts or stops at once and turns on its own.
          SpindleBeside(cmd);
        } else {
          // Runs as soon as the engine is free, ahead of the queue, with the
          // operands it was sent with.
          QueueEntry e{cmd, true};
          std::copy(std::begin(reg_[CAL0]), std::end(reg_[CAL0]), e.cal0);
          std::copy(std::begin(reg_[CAL1]), std::end(reg_[CAL1]), e.cal1);
          queue_.push_front(e);
        }
      } else if (queue_.size() < static_cast<size_t>(kQueueLimit)) {
        queue_.push_back(QueueEntry{cmd});
      }
      break;
  }
  Pump();
  AfterEvent();
}

void Board::Control(const HostCommand& cmd) {
  if (cmd.kind == CmdKind::kSystem) {
    switch (cmd.code) {
      case 0x00: ResetBoard(); break;
      case 0x02: exe_enabled_ = true; break;
      case 0x03: AlarmReset(); break;
      case 0x04: paused_ = false; break;
      case 0x08: queue_.clear(); break;
      default: break;  // 0x0B baud update, 0x0C/0x0D command modes: nothing to do
    }
    return;
  }
  switch (cmd.code) {
    case 0x50:  // immediate stop: everything halts, the queue is dropped, e-stop latched
      StopAll(true, true);
      estop_ = true;
      alarm_code_ |= kAlarmEStop;
      break;
    case 0x51:  // decelerating stop
      StopAll(false, true);
      break;
    case 0x55:  // cancel the executing command; the queue goes on
      if (job_) {
        if (job_->type == Job::kDelay) {
          FinishJob(true, false);
        } else {
          for (Mover& m : job_->movers) m.stopping = true;
        }
      }
      break;
    case 0x57:
      paused_ = true;
      break;
    default:
      break;
  }
}

void Board::StopAll(bool immediate, bool clear_queue) {
  if (clear_queue) queue_.clear();
  if (job_) {
    if (immediate || job_->type == Job::kDelay) {
      for (Mover& m : job_->movers) m.v = 0;
      FinishJob(true, false);
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

void Board::StopForSilentHost() {
  StopAll(false, true);
  AfterEvent();
}

void Board::ResetBoard() {
  queue_.clear();
  job_.reset();
  rotations_.clear();
  paused_ = estop_ = synced_ = false;
  alarm_code_ = 0;
  for (Axis& a : axis_) {
    a.vel = 0;
    a.alarm = a.home_alarm = false;
    a.vstate = 0;
  }
}

void Board::AlarmReset() {
  alarm_code_ = 0;
  estop_ = false;
  for (Axis& a : axis_) a.alarm = a.home_alarm = false;
}

void Board::ApplyWrite(const HostCommand& cmd) {
  const int r = cmd.reg;
  if (r < 0 || r >= kRegisters) return;
  // Status registers are the board's to report; host writes (the
  // configuration load writes every register) leave them alone.
  if (r == CHIPSTATUS || r == AXISSTATUS || r == CURVEL || r == FEEDBACK) return;
  if (r == CURPOS || r == ENCPOS) {
    uint32_t words[kWords];
    for (int i = 0; i < kWords; ++i)
      words[i] = static_cast<uint32_t>(static_cast<int32_t>(std::llround(
          r == CURPOS ? axis_[i].pos : axis_[i].pos + axis_[i].enc_offset)));
    ApplyUnit(words, cmd.mask, cmd.width, cmd.delta, cmd.values.data(), cmd.count);
    for (int i = 0; i < kWords; ++i) {
      if (!(cmd.mask & (1u << i))) continue;
      if (r == CURPOS)
        SetAxisPosition(i, S32(words[i]));
      else
        axis_[i].enc_offset = S32(words[i]) - axis_[i].pos;
    }
    return;
  }
  ApplyUnit(reg_[r], cmd.mask, cmd.width, cmd.delta, cmd.values.data(), cmd.count);
}

void Board::SetAxisPosition(int axis, double p) {
  const double d = p - axis_[axis].pos;
  axis_[axis].pos = p;
  auto shift = [axis, d](Mover& m) {
    if (!(m.axes & (1u << axis))) return;
    m.start[axis] += d;
    m.end[axis] += d;
    if (m.kind == Mover::kArc) {
      if (axis == m.ax_a) m.cx += d;
      if (axis == m.ax_b) m.cy += d;
    }
  };
  if (job_)
    for (Mover& m : job_->movers) shift(m);
  for (Mover& m : rotations_) shift(m);
  // The home sensor and positional limit switches stay where they are in
  // the machine; in the new coordinates they move by d.
  axis_[axis].home_sensor += d;
  if (axis_[axis].lim_pos) {
    axis_[axis].lim_lo += static_cast<int32_t>(std::llround(d));
    axis_[axis].lim_hi += static_cast<int32_t>(std::llround(d));
  }
}

// ---- the queue and the executor ----

void Board::Pump() {
  while (!job_ && !queue_.empty() && !paused_ && !estop_ && !hold_) {
    QueueEntry e = std::move(queue_.front());
    queue_.pop_front();
    Execute(e);
  }
}

void Board::Execute(QueueEntry& e) {
  switch (e.cmd.kind) {
    case CmdKind::kRegisterWrite:
      ApplyWrite(e.cmd);
      break;
    case CmdKind::kSystem:  // only Notify_Complete is ever queued
      EmitBody({kCompleteState, e.cmd.Tag(), 0, 0, 0});
      break;
    case CmdKind::kAction:
      StartAction(e.cmd, e.snapshot ? e.cal0 : reg_[CAL0], e.snapshot ? e.cal1 : reg_[CAL1]);
      break;
    default:
      break;
  }
}

void Board::StartAction(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1) {
  exe_id_ = cmd.Tag();
  if (IsMotion(cmd.code)) {
    if (!StartMotion(cmd, cal0, cal1)) {
      ++completed_jobs_;
      ReportComplete(cmd);
    }
    return;
  }
  switch (cmd.code) {
    case 0x56: {  // delay: CAL0 word 0 bits 0-23 in milliseconds
      const double ms = cal0[0] & 0xFFFFFF;
      if (ms > 0) {
        Job j;
        j.cmd = cmd;
        j.type = Job::kDelay;
        j.delay_left_ms = ms;
        job_ = std::move(j);
        return;
      }
      break;
    }
    case 0x53:
      synced_ = true;
      break;
    case 0x79:
      reg_[CHIPSET][1] |= 1u << 22;
      break;
    case 0x7A:
      reg_[CHIPSET][1] &= ~(1u << 22);
      break;
    default:
      break;  // wait, bit pattern, MI, CLV, CExe, GIO: done at once
  }
  ++completed_jobs_;
  ReportComplete(cmd);
}

void Board::Profile(int axis, double* vstart, double* vmax, double* acc, double* dec) const {
  const double mult = static_cast<double>(1u << std::min<uint32_t>(5, (reg_[VELAUXSET][0] >> 8) & 0xFF));
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

bool Board::StartMotion(const HostCommand& cmd, const uint32_t* cal0, const uint32_t* cal1) {
  const uint8_t mask = cmd.mask;
  const uint8_t code = cmd.code;
  Job job;
  job.cmd = cmd;
  auto line = [this](uint8_t axes, const double* end, int profile_axis) {
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
  };
  double target[kWords];
  for (int i = 0; i < kWords; ++i) target[i] = axis_[i].pos;

  switch (code) {
    case 0x5B:    // Line: absolute end points in CAL0
    case 0x60: {  // XMove: as Line, with CAL1 words 0-3 = velocity, acc, dec, start velocity
      if (!mask) return false;
      for (int i = 0; i < kWords; ++i)
        if (mask & (1u << i)) target[i] = S32(cal0[i]);
      Mover m = line(mask, target, LowestAxis(mask));
      if (code == 0x60) {
        if (cal1[0]) m.vmax = cal1[0];
        if (cal1[1]) m.acc = cal1[1] * 1000.0;
        if (cal1[2] & 0xFFFF) m.dec = (cal1[2] & 0xFFFF) * 1000.0;
        if (cal1[3]) m.vstart = cal1[3];
        m.vstart = std::min(m.vstart, m.vmax);
      }
      job.movers.push_back(m);
      break;
    }
    case 0x5C:    // ArcCW
    case 0x5D: {  // ArcCCW: end in CAL0, centre in CAL1, plane = two lowest axes
      if (!mask) return false;
      for (int i = 0; i < kWords; ++i)
        if (mask & (1u << i)) target[i] = S32(cal0[i]);
      const int a = LowestAxis(mask);
      const int b = LowestAxis(static_cast<uint8_t>(mask & ~(1u << a)));
      Mover m = line(mask, target, a);
      if (b >= 0) {
        m.kind = Mover::kArc;
        m.ax_a = a;
        m.ax_b = b;
        m.cx = S32(cal1[a]);
        m.cy = S32(cal1[b]);
        const double x0 = axis_[a].pos - m.cx, y0 = axis_[b].pos - m.cy;
        const double x1 = target[a] - m.cx, y1 = target[b] - m.cy;
        m.r0 = std::hypot(x0, y0);
        m.r1 = std::hypot(x1, y1);
        m.th0 = std::atan2(y0, x0);
        const double th1 = std::atan2(y1, x1);
        m.dth = NormaliseSweep(th1 - m.th0, code == 0x5C);
        const double arc = std::fabs(m.dth) * (m.r0 + m.r1) / 2;
        double other2 = 0;
        for (int i = 0; i < kWords; ++i)
          if ((mask & (1u << i)) && i != a && i != b) other2 += (m.end[i] - m.start[i]) * (m.end[i] - m.start[i]);
        m.length = std::sqrt(arc * arc + other2);
      }
      job.movers.push_back(m);
      break;
    }
    case 0x59:    // IMove: relative distances in CAL0, every axis on its own
    case 0x5A: {  // CMove: absolute targets in CAL0, every axis on its own
      for (int i = 0; i < kWords; ++i) {
        if (!(mask & (1u << i))) continue;
        target[i] = code == 0x59 ? axis_[i].pos + S32(cal0[i]) : S32(cal0[i]);
        job.movers.push_back(line(static_cast<uint8_t>(1u << i), target, i));
      }
      break;
    }
    case 0x58:    // Home: one value for every axis (CAL0 of each)
    case 0x61: {  // IHome: a value per axis
      for (int i = 0; i < kWords; ++i) {
        if (!(mask & (1u << i))) continue;
        const int16_t offset = static_cast<int16_t>(reg_[HOMERETURN][i] >> 16);
        target[i] = axis_[i].home_sensor + offset;
        Mover m = line(static_cast<uint8_t>(1u << i), target, i);
        const uint32_t seek = reg_[HOMERETURN][i] & 0xFFFF;
        if (seek) {
          const double mult = static_cast<double>(1u << std::min<uint32_t>(5, (reg_[VELAUXSET][0] >> 8) & 0xFF));
          m.vmax = seek * mult;
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
    case 0x5F: {  // Spindle: CAL0 = signed velocity in pulses/s; 0 stops the axis
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
        Mover m = line(static_cast<uint8_t>(1u << i), target, i);
        m.kind = Mover::kRotate;
        m.length = std::numeric_limits<double>::infinity();
        m.dir = vel > 0 ? 1 : -1;
        m.vmax = std::abs(static_cast<double>(vel));
        m.vstart = std::min(m.vstart, m.vmax);
        m.v = carried;
        job.movers.push_back(m);
      }
      if (job.movers.empty()) return false;
      break;
    }
    default:
      return false;
  }
  if (job.movers.empty()) return false;
  job_ = std::move(job);
  return true;
}

uint8_t Board::JobAxes() const {
  uint8_t axes = 0;
  if (job_)
    for (const Mover& m : job_->movers) axes |= m.axes;
  return axes;
}

void Board::SpindleBeside(const HostCommand& cmd) {
  std::optional<Job> running = std::move(job_);
  job_.reset();
  if (StartMotion(cmd, reg_[CAL0], reg_[CAL1])) {
    for (Mover& m : job_->movers) rotations_.push_back(m);
    job_.reset();
  }
  job_ = std::move(running);
  ReportComplete(cmd);
}

void Board::FinishJob(bool report, bool normal) {
  if (!job_) return;
  Job job = std::move(*job_);
  job_.reset();
  if (job.home && normal) {
    for (int i = 0; i < kWords; ++i) {
      if (!(job.home_axes & (1u << i))) continue;
      const double value = (reg_[AXISSET][i] & (1u << 30)) ? 0.0 : job.home_values[i];
      SetAxisPosition(i, value);
      axis_[i].enc_offset = 0;
    }
  }
  ++completed_jobs_;
  if (report) ReportComplete(job.cmd);
}

// ---- motion ----

bool Board::StepMover(Mover& m, double dt, bool hold) {
  if (m.finished) return true;
  const double floor_v = std::min(std::max(m.vstart, kMinVel), m.vmax);
  if (m.stopping || hold) {
    m.v = m.dec > 0 ? std::max(0.0, m.v - m.dec * dt) : 0.0;
    if (m.v < floor_v) m.v = 0;
    m.vstate = m.v > 0 ? 3 : 0;
  } else {
    if (m.v < floor_v) m.v = floor_v;
    const double remaining = m.length - m.s;
    const double brake = m.dec > 0 ? (m.v * m.v - floor_v * floor_v) / (2 * m.dec) : 0.0;
    if (std::isfinite(remaining) && remaining <= brake + m.v * dt * 0.5) {
      m.v = m.dec > 0 ? std::max(floor_v, m.v - m.dec * dt) : m.v;
      m.vstate = 3;
    } else if (m.v < m.vmax) {
      m.v = m.acc > 0 ? std::min(m.vmax, m.v + m.acc * dt) : m.vmax;
      m.vstate = m.v < m.vmax ? 1 : 2;
    } else if (m.v > m.vmax) {
      m.v = m.dec > 0 ? std::max(m.vmax, m.v - m.dec * dt) : m.vmax;
      m.vstate = 3;
    } else {
      m.vstate = 2;
    }
  }
  m.s += m.v * dt;
  if (m.s >= m.length) {
    m.s = m.length;
    m.v = 0;
    m.vstate = 0;
    m.finished = true;
    return true;
  }
  if (m.v == 0 && m.stopping) {
    m.finished = true;
    return true;
  }
  return false;
}

void Board::PlaceAxes(const Mover& m) {
  const bool at_end = m.s >= m.length;
  const double f = (m.length > 0 && std::isfinite(m.length)) ? m.s / m.length : 1.0;
  for (int i = 0; i < kWords; ++i) {
    if (!(m.axes & (1u << i))) continue;
    double p;
    switch (m.kind) {
      case Mover::kRotate:
        p = m.start[i] + m.dir * m.s;
        break;
      case Mover::kArc:
        if (at_end) {
          p = m.end[i];
        } else if (i == m.ax_a || i == m.ax_b) {
          const double th = m.th0 + m.dth * f;
          const double r = m.r0 + (m.r1 - m.r0) * f;
          p = i == m.ax_a ? m.cx + r * std::cos(th) : m.cy + r * std::sin(th);
        } else {
          p = m.start[i] + (m.end[i] - m.start[i]) * f;
        }
        break;
      default:
        p = at_end ? m.end[i] : m.start[i] + (m.end[i] - m.start[i]) * f;
        break;
    }
    axis_[i].pos = p;
  }
}

bool Board::LimitStop(int axis, double before, double after, bool* soft) {
  const uint32_t set = reg_[AXISSET][axis];
  const bool new_engine = EngineVersion() > 205;
  *soft = false;
  if (after < before) {
    if ((set & (1u << 16)) && LimitLower(axis)) return true;
    if (new_engine && (set & (1u << 18)) && after < S32(reg_[SLIMITL][axis])) {
      axis_[axis].pos = S32(reg_[SLIMITL][axis]);
      *soft = true;
      return true;
    }
  } else if (after > before) {
    if ((set & (1u << 17)) && LimitUpper(axis)) return true;
    if (new_engine && (set & (1u << 19)) && after > S32(reg_[SLIMITH][axis])) {
      axis_[axis].pos = S32(reg_[SLIMITH][axis]);
      *soft = true;
      return true;
    }
  }
  return false;
}

void Board::Tick(double dt) {
  double before[kWords];
  for (int i = 0; i < kWords; ++i) before[i] = axis_[i].pos;
  int vstate[kWords] = {};

  if (job_ && job_->type == Job::kDelay) {
    if (!paused_) job_->delay_left_ms -= dt * 1000.0;
    if (job_->delay_left_ms <= 0) FinishJob(true, true);
  } else if (job_) {
    bool all_done = true, stopped = false;
    for (Mover& m : job_->movers) {
      if (!m.finished) StepMover(m, dt, paused_);
      PlaceAxes(m);
      if (m.stopping && m.finished) stopped = true;
      for (int i = 0; i < kWords; ++i)
        if (m.axes & (1u << i)) vstate[i] = std::max(vstate[i], m.vstate);
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
      FinishJob(true, !stopped);
    }
  }
  for (Mover& m : rotations_) {
    StepMover(m, dt, false);
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
    alarm_code_ |= soft ? kAlarmSoftLimit : kAlarmHardLimit;
    if (job_) {
      bool involved = false;
      for (const Mover& m : job_->movers) involved |= (m.axes & (1u << i)) != 0;
      if (involved) {
        if (job_->home) axis_[i].home_alarm = true;
        queue_.clear();
        FinishJob(true, false);
      }
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
}

void Board::Advance(uint32_t ms) {
  carry_ms_ += ms;
  while (carry_ms_ >= tick_ms_) {
    carry_ms_ -= tick_ms_;
    now_ms_ += tick_ms_;
    Tick(tick_ms_ / 1000.0);
    Pump();
    AfterEvent();
    PeriodicPackets();
  }
}

// ---- status ----

void Board::RefreshStatus() {
  const double mult = static_cast<double>(1u << std::min<uint32_t>(5, (reg_[VELAUXSET][0] >> 8) & 0xFF));
  const Mover* lead = nullptr;
  if (job_ && !job_->movers.empty()) lead = &job_->movers.front();
  else if (!rotations_.empty()) lead = &rotations_.front();
  const bool on_motion = (job_ && job_->type != Job::kDelay) || !rotations_.empty();

  uint32_t moving = 0;
  if (job_)
    for (const Mover& m : job_->movers)
      if (!m.finished) moving |= m.axes;
  for (const Mover& m : rotations_) moving |= m.axes;

  uint32_t w0 = reg_[CHIPSTATUS][0] & ~kChipManaged;
  if (BusyNow()) w0 |= 0x1;
  if (Idle() && !paused_ && !estop_) w0 |= 0x2;
  if (synced_ || Idle()) w0 |= 0x4;
  if (reg_[CHIPSET][0] & 0x8) w0 |= 0x8;  // step execution, as the host set it
  if (paused_ || estop_) w0 |= 0x10;
  if (exe_enabled_) w0 |= 0x20;
  if (on_motion) w0 |= 0x40;
  if (estop_ || alarm_code_) w0 |= 0x80;
  if (lead) w0 |= static_cast<uint32_t>(lead->vstate & 3) << 10;
  const uint32_t cmd_state = estop_ ? 3 : paused_ ? 2 : job_ ? 1 : 0;
  w0 |= cmd_state << 12;
  if (!queue_.empty()) w0 |= 0x8000;
  w0 |= (alarm_code_ & 0xFFFF) << 16;
  reg_[CHIPSTATUS][0] = w0;

  const uint8_t ready = queue_.empty() ? kNoTag : queue_.front().cmd.Tag();
  reg_[CHIPSTATUS][1] = tick_ms_ | (static_cast<uint32_t>(WaitingNow()) << 8) |
                        (static_cast<uint32_t>(ready) << 16) | (static_cast<uint32_t>(exe_id_) << 24);
  if (job_ && lead && std::isfinite(lead->length)) {
    reg_[CHIPSTATUS][3] = static_cast<uint32_t>(std::llround(lead->s));
    reg_[CHIPSTATUS][4] = static_cast<uint32_t>(std::llround(lead->length));
  } else if (!job_) {
    reg_[CHIPSTATUS][3] = 0;
  }
  reg_[CHIPSTATUS][5] =
      (job_ && job_->type == Job::kDelay) ? static_cast<uint32_t>(std::max(0.0, job_->delay_left_ms)) & 0xFFFFFF : 0;

  const bool new_engine = EngineVersion() > 205;
  for (int i = 0; i < kWords; ++i) {
    const Axis& a = axis_[i];
    uint32_t st = reg_[AXISSTATUS][i] & ~kAxisManaged;
    st |= static_cast<uint32_t>(a.vstate & 3);
    if (LimitLower(i)) st |= 0x4;
    if (LimitUpper(i)) st |= 0x8;
    if (new_engine) {
      const uint32_t set = reg_[AXISSET][i];
      if ((set & (1u << 18)) && a.pos <= S32(reg_[SLIMITL][i])) st |= 0x10;
      if ((set & (1u << 19)) && a.pos >= S32(reg_[SLIMITH][i])) st |= 0x20;
    }
    if (a.ccw) st |= 0x40;
    if (a.alarm) st |= 0x80;
    if (std::fabs(a.pos - a.home_sensor) <= kHomeSensorWidth) st |= 0x2000;
    if (job_ && job_->home && (job_->home_axes & (1u << i))) st |= 0x4000;
    if (a.home_alarm) st |= 0x8000;
    if (!(moving & (1u << i))) st |= 0x800000;
    reg_[AXISSTATUS][i] = st;

    reg_[CURPOS][i] = static_cast<uint32_t>(static_cast<int32_t>(std::llround(a.pos)));
    reg_[ENCPOS][i] = static_cast<uint32_t>(static_cast<int32_t>(std::llround(a.pos + a.enc_offset)));
    const double v = std::min(65535.0, std::fabs(a.vel) / mult);
    reg_[CURVEL][i] = (reg_[CURVEL][i] & 0xFFFF0000u) | static_cast<uint32_t>(std::llround(v));
  }
  const double path_v = lead ? std::min(65535.0, lead->v / mult) : 0.0;
  reg_[CURVEL][0] = (reg_[CURVEL][0] & 0xFFFF) | (static_cast<uint32_t>(std::llround(path_v)) << 16);
}

void Board::AfterEvent() {
  Reschedule();
  RefreshStatus();
  const bool busy = (reg_[CHIPSTATUS][0] & 1) != 0;
  if (busy && !last_busy_ && (reg_[CHIPSET][0] & kBusyPackets))
    EmitBody({kBusyState, static_cast<uint8_t>(reg_[CHIPSTATUS][0] & 0xFF), 0, 0, 0});
  last_busy_ = busy;
  const uint32_t w0 = reg_[CHIPSTATUS][0];
  if ((w0 & 0xFFFF) != last_irq_word_ && (reg_[CHIPSET][0] & kInterruptPackets))
    EmitBody({kInterruptState, static_cast<uint8_t>(w0), static_cast<uint8_t>(w0 >> 8), static_cast<uint8_t>(w0 >> 16),
              static_cast<uint8_t>(w0 >> 24)});
  last_irq_word_ = w0 & 0xFFFF;
  CheckComparators();
}

}  // namespace voxa_sim
