#include "board.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace voxa_sim {
namespace {

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

bool IsControl(uint8_t code) {
  return code == Op::kImStop || code == Op::kDecStop || code == Op::kCancel || code == Op::kPause;
}

int32_t S32(uint32_t v) { return static_cast<int32_t>(v); }

}  // namespace

Board::Board(Emit emit, uint32_t tick_ms)
    : emit_(std::move(emit)),
      tick_ms_(tick_ms ? tick_ms : 2),
      motion_(reg_, [this](const HostCommand& cmd) { JobDone(cmd); }) {
  reg_[CHIPSTATUS][7] = EngineWord(kDefaultEngineMajor, kDefaultEngineMinor);
  RefreshStatus();
  last_irq_word_ = reg_[CHIPSTATUS][0] & 0xFFFF;
}

// ---- registers and hooks ----

uint32_t Board::Reg(int r, int w) const {
  if (r < 0 || r >= kRegisters || w < 0 || w >= kWords) return 0;
  return reg_[r][w];
}

void Board::SetReg(int r, int w, uint32_t v) {
  if (r < 0 || r >= kRegisters || w < 0 || w >= kWords) return;
  if (r == CURPOS) {
    motion_.SetPosition(w, S32(v));
  } else if (r == ENCPOS) {
    motion_.SetEncoder(w, S32(v));
  } else {
    reg_[r][w] = v;
  }
  AfterEvent();
}

void Board::SetEngineVersion(int major, int minor) {
  reg_[CHIPSTATUS][7] = EngineWord(major, minor);
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
  motion_.SetLimitInput(axis, lower, upper);
  AfterEvent();
}

void Board::SetLimitPositions(int axis, bool enabled, int32_t lo, int32_t hi) {
  if (axis < 0 || axis >= kWords) return;
  motion_.SetLimitPositions(axis, enabled, lo, hi);
  AfterEvent();
}

void Board::SetHomeSensor(int axis, int32_t position) {
  if (axis < 0 || axis >= kWords) return;
  motion_.SetHomeSensor(axis, position);
  AfterEvent();
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

void Board::JobDone(const HostCommand& cmd) {
  ++completed_jobs_;
  ReportComplete(cmd);
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
      if (src == CURPOS) {
        *out = motion_.Position(static_cast<int>(idx & 7));
        return true;
      }
      if (src == COMPARE) {
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
      if (cmd.code == Op::kKeepAlive) {
        if (heartbeat_) EmitBody({kHeartbeat, 0x00});
        return;
      }
      if (cmd.code == Op::kNotifyComplete) {
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
        if (!motion_.Running() && !paused_ && !estop_) {
          StartAction(cmd, reg_[CAL0], reg_[CAL1]);
        } else if (cmd.code == Op::kSpindle && motion_.Running() && !paused_ && !estop_ &&
                   !(motion_.JobAxes() & cmd.mask)) {
          // A spindle of axes the running job leaves alone (a jog beside a
          // move) starts or stops at once and turns on its own.
          motion_.SpindleBeside(cmd, reg_[CAL0], reg_[CAL1]);
          ReportComplete(cmd);
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
      case Op::kReset: ResetBoard(); break;
      case Op::kEnableExe: exe_enabled_ = true; break;
      case Op::kAlarmReset: AlarmReset(); break;
      case Op::kResume: paused_ = false; break;
      case Op::kClearQueue: queue_.clear(); break;
      default: break;  // baud update, entering and leaving immediate mode: nothing to do
    }
    return;
  }
  switch (cmd.code) {
    case Op::kImStop:  // everything halts, the queue is dropped, e-stop latched
      StopAll(true);
      estop_ = true;
      alarm_code_ |= kAlarmEStop;
      break;
    case Op::kDecStop:
      StopAll(false);
      break;
    case Op::kCancel:  // the executing command ends; the queue goes on
      motion_.Cancel();
      break;
    case Op::kPause:
      paused_ = true;
      break;
    default:
      break;
  }
}

void Board::StopAll(bool immediate) {
  queue_.clear();
  motion_.Stop(immediate);
}

void Board::StopForSilentHost() {
  StopAll(false);
  AfterEvent();
}

void Board::ResetBoard() {
  queue_.clear();
  motion_.Reset();
  paused_ = estop_ = synced_ = false;
  alarm_code_ = 0;
}

void Board::AlarmReset() {
  alarm_code_ = 0;
  estop_ = false;
  motion_.ClearAlarms();
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
      words[i] = static_cast<uint32_t>(
          static_cast<int32_t>(std::llround(r == CURPOS ? motion_.Position(i) : motion_.Encoder(i))));
    ApplyUnit(words, cmd.mask, cmd.width, cmd.delta, cmd.values.data(), cmd.count);
    for (int i = 0; i < kWords; ++i) {
      if (!(cmd.mask & (1u << i))) continue;
      if (r == CURPOS)
        motion_.SetPosition(i, S32(words[i]));
      else
        motion_.SetEncoder(i, S32(words[i]));
    }
    return;
  }
  ApplyUnit(reg_[r], cmd.mask, cmd.width, cmd.delta, cmd.values.data(), cmd.count);
}

// ---- the queue and the executor ----

void Board::Pump() {
  while (!motion_.Running() && !queue_.empty() && !paused_ && !estop_ && !hold_) {
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
    case CmdKind::kSystem:  // only the completion notice is ever queued
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
  if (IsMotionCommand(cmd.code)) {
    // A motion that moves nothing completes at once.
    if (!motion_.Start(cmd, cal0, cal1)) JobDone(cmd);
    return;
  }
  switch (cmd.code) {
    case Op::kDelay: {  // CAL0 word 0 bits 0-23 in milliseconds
      const double ms = cal0[0] & 0xFFFFFF;
      if (ms > 0) {
        motion_.StartDelay(cmd, ms);
        return;
      }
      break;
    }
    case Op::kSync:
      synced_ = true;
      break;
    case Op::kLockVelOverride:
      reg_[CHIPSET][1] |= 1u << 22;
      break;
    case Op::kUnlockVelOverride:
      reg_[CHIPSET][1] &= ~(1u << 22);
      break;
    default:
      break;  // wait, bit pattern, MI, CLV, CExe, GIO: done at once
  }
  JobDone(cmd);
}

void Board::Advance(uint32_t ms) {
  carry_ms_ += ms;
  while (carry_ms_ >= tick_ms_) {
    carry_ms_ -= tick_ms_;
    now_ms_ += tick_ms_;
    const Motion::TickResult limits = motion_.Tick(tick_ms_ / 1000.0, paused_);
    // A job that drove into a limit switch takes the queue with it.
    alarm_code_ |= limits.alarms;
    if (limits.job_stopped) queue_.clear();
    Pump();
    AfterEvent();
    PeriodicPackets();
  }
}

// ---- status ----

void Board::RefreshStatus() {
  const double mult = VelocityMultiplier(reg_);
  const Motion::Path lead = motion_.Lead();
  const uint8_t moving = motion_.MovingAxes();
  const bool running = motion_.Running();

  uint32_t w0 = reg_[CHIPSTATUS][0] & ~kChipManaged;
  if (BusyNow()) w0 |= 0x1;
  if (Idle() && !paused_ && !estop_) w0 |= 0x2;
  if (synced_ || Idle()) w0 |= 0x4;
  if (reg_[CHIPSET][0] & 0x8) w0 |= 0x8;  // step execution, as the host set it
  if (paused_ || estop_) w0 |= 0x10;
  if (exe_enabled_) w0 |= 0x20;
  if (motion_.OnMotion()) w0 |= 0x40;
  if (estop_ || alarm_code_) w0 |= 0x80;
  if (lead.any) w0 |= static_cast<uint32_t>(lead.vstate & 3) << 10;
  const uint32_t cmd_state = estop_ ? 3 : paused_ ? 2 : running ? 1 : 0;
  w0 |= cmd_state << 12;
  if (!queue_.empty()) w0 |= 0x8000;
  w0 |= (alarm_code_ & 0xFFFF) << 16;
  reg_[CHIPSTATUS][0] = w0;

  const uint8_t ready = queue_.empty() ? kNoTag : queue_.front().cmd.Tag();
  reg_[CHIPSTATUS][1] = tick_ms_ | (static_cast<uint32_t>(WaitingNow()) << 8) |
                        (static_cast<uint32_t>(ready) << 16) | (static_cast<uint32_t>(exe_id_) << 24);
  if (running && lead.any && std::isfinite(lead.length)) {
    reg_[CHIPSTATUS][3] = static_cast<uint32_t>(std::llround(lead.s));
    reg_[CHIPSTATUS][4] = static_cast<uint32_t>(std::llround(lead.length));
  } else if (!running) {
    reg_[CHIPSTATUS][3] = 0;
  }
  reg_[CHIPSTATUS][5] = static_cast<uint32_t>(std::max(0.0, motion_.DelayLeftMs())) & 0xFFFFFF;

  const bool new_engine = EngineVersion(reg_) > kLastOldEngine;
  for (int i = 0; i < kWords; ++i) {
    const Motion::Axis& a = motion_.AxisAt(i);
    uint32_t st = reg_[AXISSTATUS][i] & ~kAxisManaged;
    st |= static_cast<uint32_t>(a.vstate & 3);
    if (motion_.LimitLower(i)) st |= 0x4;
    if (motion_.LimitUpper(i)) st |= 0x8;
    if (new_engine) {
      const uint32_t set = reg_[AXISSET][i];
      if ((set & (1u << 18)) && a.pos <= S32(reg_[SLIMITL][i])) st |= 0x10;
      if ((set & (1u << 19)) && a.pos >= S32(reg_[SLIMITH][i])) st |= 0x20;
    }
    if (a.ccw) st |= 0x40;
    if (a.alarm) st |= 0x80;
    if (motion_.AtHomeSensor(i)) st |= 0x2000;
    if (motion_.Homing(i)) st |= 0x4000;
    if (a.home_alarm) st |= 0x8000;
    if (!(moving & (1u << i))) st |= 0x800000;
    reg_[AXISSTATUS][i] = st;

    reg_[CURPOS][i] = static_cast<uint32_t>(static_cast<int32_t>(std::llround(a.pos)));
    reg_[ENCPOS][i] = static_cast<uint32_t>(static_cast<int32_t>(std::llround(a.pos + a.enc_offset)));
    const double v = std::min(65535.0, std::fabs(a.vel) / mult);
    reg_[CURVEL][i] = (reg_[CURVEL][i] & 0xFFFF0000u) | static_cast<uint32_t>(std::llround(v));
  }
  const double path_v = lead.any ? std::min(65535.0, lead.v / mult) : 0.0;
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
