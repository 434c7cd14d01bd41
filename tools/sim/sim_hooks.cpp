// SimBoard's methods for the tests that drive it: the log of frames from
// the host, the board's registers and hooks, packets sent by hand, faults
// and statistics. The loop thread and the link are in sim.cpp.
#include "sim.h"

#include <algorithm>

namespace voxa_sim {

// ---- frames ----

uint64_t SimBoard::FrameCount() const {
  std::lock_guard<std::mutex> g(mu_);
  return next_seq_;
}

std::vector<RxFrame> SimBoard::Frames(uint64_t from_seq) const {
  return Frames([](const RxFrame&) { return true; }, from_seq);
}

std::vector<RxFrame> SimBoard::Frames(const FramePred& pred, uint64_t from_seq) const {
  std::lock_guard<std::mutex> g(mu_);
  std::vector<RxFrame> out;
  for (const RxFrame& f : log_)
    if (f.seq >= from_seq && pred(f)) out.push_back(f);
  return out;
}

std::optional<RxFrame> SimBoard::WaitFrame(const FramePred& pred, Ms timeout, uint64_t from_seq) const {
  auto v = WaitFrames(pred, 1, timeout, from_seq);
  if (v.empty()) return std::nullopt;
  return v.front();
}

std::vector<RxFrame> SimBoard::WaitFrames(const FramePred& pred, size_t count, Ms timeout, uint64_t from_seq) const {
  const auto deadline = Clock::now() + timeout;
  std::unique_lock<std::mutex> g(mu_);
  std::vector<RxFrame> out;
  uint64_t scanned = from_seq;
  for (;;) {
    if (!log_.empty()) {
      const uint64_t first = log_.front().seq;
      for (uint64_t s = std::max(scanned, first); s < next_seq_ && out.size() < count; ++s) {
        const RxFrame& f = log_[static_cast<size_t>(s - first)];
        if (pred(f)) out.push_back(f);
      }
    }
    scanned = std::max(scanned, next_seq_);
    if (out.size() >= count) return out;
    if (cv_.wait_until(g, deadline) == std::cv_status::timeout && Clock::now() >= deadline) {
      // One last look at what arrived with the wake-up.
      if (!log_.empty()) {
        const uint64_t first = log_.front().seq;
        for (uint64_t s = std::max(scanned, first); s < next_seq_ && out.size() < count; ++s) {
          const RxFrame& f = log_[static_cast<size_t>(s - first)];
          if (pred(f)) out.push_back(f);
        }
      }
      return out;
    }
  }
}

void SimBoard::ClearFrames() {
  std::lock_guard<std::mutex> g(mu_);
  log_.clear();
}

// ---- the board ----

uint32_t SimBoard::Reg(int r, int w) const {
  std::lock_guard<std::mutex> g(mu_);
  return board_.Reg(r, w);
}

std::array<uint32_t, kWords> SimBoard::Register(int r) const {
  std::lock_guard<std::mutex> g(mu_);
  std::array<uint32_t, kWords> a{};
  for (int w = 0; w < kWords; ++w) a[w] = board_.Reg(r, w);
  return a;
}

void SimBoard::SetReg(int r, int w, uint32_t v) {
  std::lock_guard<std::mutex> g(mu_);
  board_.SetReg(r, w, v);
}

int32_t SimBoard::Position(int axis) const {
  std::lock_guard<std::mutex> g(mu_);
  return static_cast<int32_t>(board_.Reg(CURPOS, axis));
}

bool SimBoard::IsIdle() const {
  std::lock_guard<std::mutex> g(mu_);
  return board_.Idle();
}

bool SimBoard::WaitIdle(Ms timeout) const {
  return WaitState([](const Board& b) { return b.Idle(); }, timeout);
}

bool SimBoard::WaitState(const std::function<bool(const Board&)>& pred, Ms timeout) const {
  std::unique_lock<std::mutex> g(mu_);
  return cv_.wait_for(g, timeout, [&] { return pred(board_); });
}

void SimBoard::SetHeartbeatReply(bool on) {
  std::lock_guard<std::mutex> g(mu_);
  board_.SetHeartbeatReply(on);
}

void SimBoard::SetEngineVersion(int major, int minor) {
  std::lock_guard<std::mutex> g(mu_);
  board_.SetEngineVersion(major, minor);
}

void SimBoard::OverrideBusy(std::optional<bool> busy) {
  std::lock_guard<std::mutex> g(mu_);
  board_.OverrideBusy(busy);
}

void SimBoard::OverrideWaiting(std::optional<int> count) {
  std::lock_guard<std::mutex> g(mu_);
  board_.OverrideWaiting(count);
}

void SimBoard::HoldQueue(bool hold) {
  std::lock_guard<std::mutex> g(mu_);
  board_.HoldQueue(hold);
}

void SimBoard::SetLimitInput(int axis, std::optional<bool> lower, std::optional<bool> upper) {
  std::lock_guard<std::mutex> g(mu_);
  board_.SetLimitInput(axis, lower, upper);
}

void SimBoard::SetLimitPositions(int axis, bool enabled, int32_t lo, int32_t hi) {
  std::lock_guard<std::mutex> g(mu_);
  board_.SetLimitPositions(axis, enabled, lo, hi);
}

void SimBoard::SetHomeSensor(int axis, int32_t position) {
  std::lock_guard<std::mutex> g(mu_);
  board_.SetHomeSensor(axis, position);
}

// ---- sending by hand ----

void SimBoard::SendPacket(uint8_t type, const std::vector<uint8_t>& payload) {
  std::unique_lock<std::mutex> g(mu_);
  WaitOutboxRoomLocked(g);
  board_.SendPacket(type, payload.data(), payload.size());
}

void SimBoard::SendStatePacket(uint8_t contents) {
  std::lock_guard<std::mutex> g(mu_);
  board_.SendStatePacket(contents);
}

void SimBoard::InjectRaw(const std::vector<uint8_t>& bytes) {
  std::unique_lock<std::mutex> g(mu_);
  WaitOutboxRoomLocked(g);
  EmitLocked(bytes, false);
}

// ---- faults ----

void SimBoard::DropConnection(bool reset) {
  std::unique_lock<std::mutex> g(mu_);
  drop_now_ = true;
  drop_reset_ = reset;
  RequestLocked(g);
}

void SimBoard::DropAfterFrames(uint32_t frames) {
  std::lock_guard<std::mutex> g(mu_);
  drop_after_frames_ = frames;
  drop_reset_ = true;
  if (frames == 0) drop_now_ = true;
  wake_.Signal();
}

void SimBoard::DropAfter(Ms delay) {
  std::lock_guard<std::mutex> g(mu_);
  drop_at_ = Clock::now() + delay;
  drop_reset_ = true;
  wake_.Signal();
}

void SimBoard::GoSilent(Ms duration) {
  std::lock_guard<std::mutex> g(mu_);
  silent_until_ = Clock::now() + duration;
  // What was already waiting to go out is held back too.
  outbox_.clear();
  outbox_bytes_ = 0;
}

void SimBoard::PullCable(Ms duration) {
  std::lock_guard<std::mutex> g(mu_);
  cut_until_ = Clock::now() + duration;
  silent_until_ = cut_until_;
  outbox_.clear();
  outbox_bytes_ = 0;
}

void SimBoard::StopReading(Ms duration) {
  std::lock_guard<std::mutex> g(mu_);
  deaf_until_ = Clock::now() + duration;
  wake_.Signal();
}

uint64_t SimBoard::LostBytes() const {
  std::lock_guard<std::mutex> g(mu_);
  return lost_bytes_;
}

bool SimBoard::IsSilent() const {
  std::lock_guard<std::mutex> g(mu_);
  return Clock::now() < silent_until_;
}

void SimBoard::SetCorruptRate(double rate) {
  std::lock_guard<std::mutex> g(mu_);
  corrupt_rate_ = std::clamp(rate, 0.0, 1.0);
}

void SimBoard::SetRxCorruptRate(double rate) {
  std::lock_guard<std::mutex> g(mu_);
  rx_corrupt_rate_ = std::clamp(rate, 0.0, 1.0);
}

void SimBoard::SetDelay(double rate, Ms delay) {
  std::lock_guard<std::mutex> g(mu_);
  delay_rate_ = std::clamp(rate, 0.0, 1.0);
  delay_ = delay;
}

void SimBoard::RefuseConnections(RefuseMode mode) {
  std::unique_lock<std::mutex> g(mu_);
  refuse_ = mode;
  RequestLocked(g);
}

void SimBoard::SetHandOver(bool on) {
  std::lock_guard<std::mutex> g(mu_);
  hand_over_ = on;
}

void SimBoard::SetHostWatchdog(Ms timeout) {
  std::lock_guard<std::mutex> g(mu_);
  host_watchdog_ = std::max(timeout, Ms(0));
  last_host_frame_ = std::max(last_host_frame_, Clock::now());
  watchdog_fired_ = false;
  wake_.Signal();
}

void SimBoard::FloodStatePackets(uint32_t count, uint8_t contents) {
  std::unique_lock<std::mutex> g(mu_);
  for (uint32_t i = 0; i < count; ++i) {
    WaitOutboxRoomLocked(g);
    board_.SendStatePacket(contents);
  }
}

SimStats SimBoard::StatsLocked() const {
  SimStats s = stats_;
  s.checksum_errors = parser_.ChecksumErrors();
  s.length_errors = parser_.LengthErrors();
  s.junk_bytes = parser_.JunkBytes();
  return s;
}

SimStats SimBoard::Stats() const {
  std::lock_guard<std::mutex> g(mu_);
  return StatsLocked();
}

bool SimBoard::WaitStats(const std::function<bool(const SimStats&)>& pred, Ms timeout) const {
  std::unique_lock<std::mutex> g(mu_);
  return cv_.wait_for(g, timeout, [&] { return pred(StatsLocked()); });
}

}  // namespace voxa_sim
