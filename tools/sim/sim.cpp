#include "sim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace voxa_sim {

namespace plat = voxa::platform;

namespace {
// Bytes waiting to go out: sends by hand (floods, injected bytes) wait while
// more than kOutboxRoom wait, as on a real link; beyond kOutboxCap a new frame
// is dropped whole (a host that does not read), so the stream stays aligned.
constexpr size_t kOutboxRoom = 1 << 20;
constexpr size_t kOutboxCap = 64 << 20;
constexpr auto kOutboxWait = std::chrono::seconds(5);
constexpr size_t kReadChunk = 4096;
constexpr size_t kReadBudget = 1 << 16;   // bytes taken per wake-up
}  // namespace

uint32_t LoopbackAddress() {
  // 127.0.0.1 with the first octet in the lowest byte.
  return 0x0100007Fu;
}

// ---- construction and the thread ----

namespace {
SimOptions WithEnvironment(SimOptions o) {
  // VOXA_SIM_TRACE=1 prints every frame of every simulated board.
  const char* t = std::getenv("VOXA_SIM_TRACE");
  if (t && *t && *t != '0') o.trace = true;
  return o;
}
}  // namespace

SimBoard::SimBoard(const SimOptions& options)
    : options_(WithEnvironment(options)),
      board_([this](std::vector<uint8_t> frame) { EmitLocked(std::move(frame), true); }, options.tick_ms),
      rng_(options.seed),
      hand_over_(options.hand_over),
      host_watchdog_(options.host_watchdog_ms) {
  board_.SetEngineVersion(options.engine_major, options.engine_minor);
  board_.SetHeartbeatReply(options.heartbeat);
  start_ = last_advance_ = last_host_frame_ = Clock::now();
}

std::unique_ptr<SimBoard> SimBoard::StartTcp(uint16_t port, const SimOptions& options) {
  std::unique_ptr<SimBoard> sim(new SimBoard(options));
  sim->tcp_ = true;
  if (!sim->wake_.Ok() || !sim->listener_.Listen(port)) return nullptr;
  sim->port_ = sim->listener_.Port();
  if (!sim->StartThread()) return nullptr;
  return sim;
}

std::unique_ptr<SimBoard> SimBoard::StartPty(const SimOptions& options) {
  std::unique_ptr<SimBoard> sim(new SimBoard(options));
  sim->tcp_ = false;
  if (!sim->wake_.Ok() || !sim->pty_.Open()) return nullptr;
  sim->device_path_ = sim->pty_.SlavePath();
  if (!sim->StartThread()) return nullptr;
  return sim;
}

bool SimBoard::StartThread() { return thread_.Start([this] { Run(); }); }

SimBoard::~SimBoard() { Stop(); }

void SimBoard::Stop() {
  stop_.store(true);
  wake_.Signal();
  thread_.Join();
  std::lock_guard<std::mutex> g(mu_);
  if (conn_) conn_->Close();
  conn_.reset();
  connected_ = false;
  listener_.Close();
  pty_.Close();
  cv_.notify_all();
}

bool SimBoard::LinkUpLocked() const { return tcp_ ? conn_ != nullptr : pty_.IsOpen(); }

int SimBoard::NextTimeoutLocked(Clock::time_point now) const {
  auto next = last_advance_ + Ms(options_.tick_ms);
  if (!outbox_.empty() && outbox_.front().release > now) next = std::min(next, outbox_.front().release);
  if (drop_at_) next = std::min(next, *drop_at_);
  if (host_watchdog_.count() > 0 && !watchdog_fired_) next = std::min(next, last_host_frame_ + host_watchdog_);
  auto ms = std::chrono::duration_cast<std::chrono::microseconds>(next - now).count();
  if (ms <= 0) return 0;
  return static_cast<int>((ms + 999) / 1000);
}

void SimBoard::Run() {
  while (!stop_.load()) {
    plat::WaitItem items[3];
    int timeout;
    {
      std::lock_guard<std::mutex> g(mu_);
      const auto now = Clock::now();
      items[0].fd = wake_.Fd();
      items[0].want_read = true;
      if (tcp_ && listener_.IsListening()) {
        items[1].fd = listener_.Fd();
        items[1].want_read = true;
      }
      const plat::NativeSocket io = tcp_ ? (conn_ ? conn_->Fd() : -1) : pty_.Fd();
      if (io >= 0) {
        items[2].fd = io;
        items[2].want_read = now >= deaf_until_;
        items[2].want_write = !outbox_.empty() && outbox_.front().release <= now;
      }
      timeout = NextTimeoutLocked(now);
      if (now < deaf_until_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deaf_until_ - now).count() + 1;
        if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
      }
    }
    plat::WaitReady(items, 3, timeout);
    if (stop_.load()) break;
    if (items[0].readable) wake_.Drain();

    std::lock_guard<std::mutex> g(mu_);
    if (items[1].readable) AcceptLocked();
    if ((items[2].readable || items[2].hangup) && Clock::now() >= deaf_until_) ReadLocked();
    const auto now = Clock::now();
    ApplyRequestsLocked(now);
    AdvanceLocked(now);
    WatchHostLocked(now);
    FlushLocked(now);
    cv_.notify_all();
  }
}

void SimBoard::AcceptLocked() {
  while (auto s = listener_.Accept()) {
    if (refuse_ != RefuseMode::kAccept) {
      s->Abort();
      ++stats_.refused;
      continue;
    }
    if (conn_ && !hand_over_) {
      // A host that closed its end a moment ago (a program that closes and
      // opens again) has its end of stream waiting: take it first, so that
      // only a host that is still there keeps the board.
      ReadLocked();
      if (conn_ && Clock::now() - last_host_frame_ < kLiveHost) {
        // Turned away: accepted and closed at once, without a byte.
        s->Close();
        ++stats_.turned_away;
        continue;
      }
    }
    // A new connection replaces the old one: the host reconnects after it
    // gave the old one up, or it went silent and lost the board.
    if (conn_) CloseConnectionLocked(false);
    conn_ = std::move(s);
    last_host_frame_ = Clock::now();
    watchdog_fired_ = false;
    deaf_until_ = Clock::time_point{};  // a new connection is read again
    // A pulled cable ends with the connection it cut: the new one gets through.
    if (cut_until_ != Clock::time_point{}) {
      cut_until_ = Clock::time_point{};
      silent_until_ = Clock::time_point{};
    }
    connected_ = true;
    ++connections_;
    ++stats_.connections;
    parser_.Reset();
  }
}

void SimBoard::ReadLocked() {
  uint8_t buf[kReadChunk];
  size_t budget = kReadBudget;
  while (budget > 0) {
    long r = tcp_ ? (conn_ ? conn_->Recv(buf, sizeof buf) : plat::kClosed) : pty_.Read(buf, sizeof buf);
    if (r == plat::kWouldBlock) return;
    if (r == plat::kClosed) {
      if (tcp_) CloseConnectionLocked(false);
      return;
    }
    budget -= std::min(budget, static_cast<size_t>(r));
    if (Clock::now() < cut_until_) {  // lost on the way
      lost_bytes_ += static_cast<uint64_t>(r);
      continue;
    }
    stats_.bytes_in += static_cast<uint64_t>(r);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (long k = 0; k < r; ++k) {
      uint8_t b = buf[k];
      if (rx_corrupt_rate_ > 0 && u(rng_) < rx_corrupt_rate_) {
        b ^= static_cast<uint8_t>(1u << (rng_() % 8));
        ++stats_.corrupted_bytes;
      }
      if (parser_.Feed(b)) FrameLocked();
    }
  }
}

void SimBoard::FrameLocked() {
  RxFrame f;
  f.seq = next_seq_++;
  f.time_ms = board_.NowMs();
  f.raw = parser_.Raw();
  DecodeCommand(parser_.Body(), parser_.BodySize(), &f.cmd);
  ++stats_.frames_in;
  last_host_frame_ = Clock::now();
  watchdog_fired_ = false;
  if (options_.trace) std::fprintf(stderr, "[sim %8llu ms] <- %s\n", static_cast<unsigned long long>(f.time_ms),
                                   f.cmd.Describe().c_str());
  board_.Handle(f.cmd);
  log_.push_back(std::move(f));
  while (log_.size() > options_.frame_log_limit) log_.pop_front();
  if (drop_after_frames_ > 0 && --drop_after_frames_ == 0) drop_now_ = true;
  cv_.notify_all();
}

void SimBoard::EmitLocked(std::vector<uint8_t> frame, bool count_frame) {
  const auto now = Clock::now();
  if (now < silent_until_ || !LinkUpLocked() || outbox_bytes_ + frame.size() > kOutboxCap) {
    ++stats_.discarded_frames;
    return;
  }
  if (count_frame) ++stats_.frames_out;
  if (options_.trace && frame.size() > 3)
    std::fprintf(stderr, "[sim %8llu ms] -> type %u, %zu bytes\n", static_cast<unsigned long long>(board_.NowMs()),
                 frame[3] & 0x7F, frame.size());
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto release = std::max(now, last_release_);
  for (uint8_t b : frame) {
    if (corrupt_rate_ > 0 && u(rng_) < corrupt_rate_) {
      b ^= static_cast<uint8_t>(1u << (rng_() % 8));
      ++stats_.corrupted_bytes;
    }
    if (delay_rate_ > 0 && u(rng_) < delay_rate_) {
      release = std::max(release, now + delay_);
      ++stats_.delayed_bytes;
    }
    if (outbox_.empty() || outbox_.back().release != release) outbox_.push_back(Chunk{{}, 0, release});
    outbox_.back().bytes.push_back(b);
    ++outbox_bytes_;
  }
  last_release_ = release;
  wake_.Signal();
}

void SimBoard::FlushLocked(Clock::time_point now) {
  while (!outbox_.empty() && outbox_.front().release <= now) {
    Chunk& c = outbox_.front();
    const uint8_t* p = c.bytes.data() + c.off;
    const size_t n = c.bytes.size() - c.off;
    long r = tcp_ ? (conn_ ? conn_->Send(p, n) : plat::kClosed) : pty_.Write(p, n);
    if (r == plat::kWouldBlock) return;
    if (r == plat::kClosed) {
      if (tcp_) CloseConnectionLocked(false);
      outbox_.clear();
      outbox_bytes_ = 0;
      return;
    }
    stats_.bytes_out += static_cast<uint64_t>(r);
    outbox_bytes_ -= static_cast<size_t>(r);
    c.off += static_cast<size_t>(r);
    if (c.off == c.bytes.size()) outbox_.pop_front();
  }
}

void SimBoard::WaitOutboxRoomLocked(std::unique_lock<std::mutex>& g) {
  cv_.wait_for(g, kOutboxWait, [this] { return outbox_bytes_ <= kOutboxRoom || stop_.load() || !LinkUpLocked(); });
}

void SimBoard::CloseConnectionLocked(bool reset) {
  if (conn_) {
    if (reset)
      conn_->Abort();
    else
      conn_->Close();
    conn_.reset();
  }
  connected_ = false;
  outbox_.clear();
  outbox_bytes_ = 0;
  parser_.Reset();
}

void SimBoard::ApplyRequestsLocked(Clock::time_point now) {
  const uint64_t requested = requested_;
  if (drop_at_ && now >= *drop_at_) {
    drop_at_.reset();
    drop_now_ = true;
  }
  if (drop_now_) {
    drop_now_ = false;
    ++stats_.drops;
    if (tcp_) {
      CloseConnectionLocked(drop_reset_);
    } else {
      pty_.Flush();
      outbox_.clear();
      outbox_bytes_ = 0;
      parser_.Reset();
    }
  }
  if (tcp_) {
    if (refuse_ == RefuseMode::kStopListening && listener_.IsListening()) {
      listener_.Close();
    } else if (refuse_ != RefuseMode::kStopListening && !listener_.IsListening()) {
      listener_.Listen(port_);
    }
    if (refuse_ == RefuseMode::kCloseAccepted && conn_) CloseConnectionLocked(true);
  }
  applied_ = requested;
}

void SimBoard::RequestLocked(std::unique_lock<std::mutex>& g) {
  const uint64_t mine = ++requested_;
  wake_.Signal();
  cv_.wait_for(g, std::chrono::seconds(2), [&] { return applied_ >= mine || stop_.load(); });
}

void SimBoard::AdvanceLocked(Clock::time_point now) {
  const auto ms = std::chrono::duration_cast<Ms>(now - last_advance_).count();
  if (ms <= 0) return;
  last_advance_ += Ms(ms);
  board_.Advance(static_cast<uint32_t>(ms));
}

void SimBoard::WatchHostLocked(Clock::time_point now) {
  if (host_watchdog_.count() <= 0 || watchdog_fired_ || now - last_host_frame_ < host_watchdog_) return;
  // Once per silence: the next frame from a host arms it again.
  watchdog_fired_ = true;
  ++stats_.watchdog_stops;
  // Said when there was something to stop: the option is asked for, and
  // this is what it is there to show.
  if (!board_.Idle() || options_.trace)
    std::fprintf(stderr, "voxa-sim: no frame from the host for %lld ms: every axis stops\n",
                 static_cast<long long>(host_watchdog_.count()));
  board_.StopForSilentHost();
}

// ---- the link ----

bool SimBoard::IsConnected() const {
  std::lock_guard<std::mutex> g(mu_);
  return tcp_ ? connected_ : pty_.IsOpen();
}

uint32_t SimBoard::ConnectionCount() const {
  std::lock_guard<std::mutex> g(mu_);
  return connections_;
}

bool SimBoard::WaitForConnection(uint32_t count, Ms timeout) const {
  std::unique_lock<std::mutex> g(mu_);
  return cv_.wait_for(g, timeout, [&] { return connections_ >= count && connected_; });
}

bool SimBoard::WaitForDisconnect(Ms timeout) const {
  std::unique_lock<std::mutex> g(mu_);
  return cv_.wait_for(g, timeout, [&] { return !connected_; });
}

}  // namespace voxa_sim
