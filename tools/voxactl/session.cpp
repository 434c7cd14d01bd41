#include "session.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "voxa/voxa.h"

namespace voxactl {
namespace {

constexpr size_t kMaxCapturedFrames = 100000;

std::atomic<Session*> g_session{nullptr};

void VOXA_CALL TraceHandler(int /*board*/, int direction, const unsigned char* frame, int length) {
  if (Session* s = g_session.load()) s->OnTrace(direction, frame, length);
}

// "a.b.c.d" as the library takes it: network byte order, first octet in
// the lowest byte.
bool ParseIpv4(const std::string& text, uint32_t& address) {
  if (text == "localhost") {
    address = 0x0100007F;
    return true;
  }
  uint32_t a = 0;
  int octets = 0;
  size_t i = 0;
  while (octets < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    uint32_t v = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4)
      v = v * 10 + static_cast<uint32_t>(text[i++] - '0'), ++digits;
    if (v > 255) return false;
    a |= v << (8 * octets++);
    if (octets < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  address = a;
  return true;
}

void PrintLibraryError(const char* function) {
  const int code = VOXA_Get_LastErr();
  std::fprintf(stderr, "voxactl: %s failed: error %d: %s\n", function, code, VOXA_Get_ErrText(code));
}

}  // namespace

Session::Session() {
  g_session.store(this);
  VOXA_Set_TraceHandler(&TraceHandler);
}

Session::~Session() {
  Close();
  VOXA_Set_TraceHandler(nullptr);
  g_session.store(nullptr);
}

bool Session::Opened(int id, const char* function, std::string description) {
  if (id < 0) {
    PrintLibraryError(function);
    return false;
  }
  std::lock_guard<std::mutex> g(mu_);
  open_ = true;
  description_ = std::to_string(id) + " (" + description + ")";
  return true;
}

bool Session::OpenTcp(const std::string& address_port) {
  std::string host = address_port;
  long port = 1000;
  const size_t colon = address_port.rfind(':');
  if (colon != std::string::npos) {
    host = address_port.substr(0, colon);
    char* end = nullptr;
    port = std::strtol(address_port.c_str() + colon + 1, &end, 10);
    if (colon + 1 == address_port.size() || *end != '\0' || port < 1 || port > 65535) {
      std::fprintf(stderr, "voxactl: bad TCP port in '%s'\n", address_port.c_str());
      return false;
    }
  }
  uint32_t address = 0;
  if (!ParseIpv4(host, address)) {
    std::fprintf(stderr, "voxactl: '%s' is not an IPv4 address\n", host.c_str());
    return false;
  }
  return Opened(VOXA_Open_Tcp(address, static_cast<int>(port), 0), "VOXA_Open_Tcp",
                "tcp " + host + ":" + std::to_string(port));
}

bool Session::OpenSerial(const std::string& device, int baud) {
  const bool number = !device.empty() && device.find_first_not_of("0123456789") == std::string::npos;
  if (number) {
    const int port = std::atoi(device.c_str());
    return Opened(VOXA_Open_Comm(port, baud), "VOXA_Open_Comm",
                  "serial port " + device + " at " + std::to_string(baud) + " baud");
  }
  return Opened(VOXA_Open_CommDevice(device.c_str(), baud), "VOXA_Open_CommDevice",
                "serial " + device + " at " + std::to_string(baud) + " baud");
}

void Session::Close() {
  bool was_open;
  {
    std::lock_guard<std::mutex> g(mu_);
    was_open = open_;
    open_ = false;
  }
  // The library's threads are joined here: no trace call comes after it.
  if (was_open) VOXA_Close();
}

void Session::OnTrace(int direction, const uint8_t* frame, int length) {
  if (frame == nullptr || length <= 0) return;
  {
    std::lock_guard<std::mutex> g(mu_);
    if (direction == kReceived) {
      ++rx_seq_;
      if (length >= 4 && (frame[3] & 0x7F) == 9) {
        heartbeat_seen_ = true;
        last_heartbeat_ = Clock::now();
      }
      ApplyReadReply(reported_, frame, length);
    } else if (IsConfigWrite(frame, length)) {
      ++config_writes_;
    }
    if (capture_ && !(skip_polls_ && IsPollTraffic(direction, frame, length))) {
      if (frames_.size() < kMaxCapturedFrames)
        frames_.push_back(TracedFrame{Clock::now(), direction, std::vector<uint8_t>(frame, frame + length)});
      else
        ++dropped_;
    }
  }
  cv_.notify_all();
}

uint64_t Session::ReceivedFrames() {
  std::lock_guard<std::mutex> g(mu_);
  return rx_seq_;
}

bool Session::HeartbeatWithin(Ms within) {
  std::lock_guard<std::mutex> g(mu_);
  return heartbeat_seen_ && Clock::now() - last_heartbeat_ <= within;
}

bool Session::WaitHeartbeat(Ms timeout) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_for(g, timeout, [&] { return heartbeat_seen_ || interrupted_; });
  return heartbeat_seen_;
}

ReportedRegisters Session::Reported() {
  std::lock_guard<std::mutex> g(mu_);
  return reported_;
}

uint64_t Session::ConfigWrites() {
  std::lock_guard<std::mutex> g(mu_);
  return config_writes_;
}

uint64_t Session::WaitConfigWrites(uint64_t seen, const std::atomic<bool>& done, Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_until(g, deadline, [&] { return config_writes_ != seen || done.load() || interrupted_; });
  return config_writes_;
}

void Session::WakeAll() {
  { std::lock_guard<std::mutex> g(mu_); }
  cv_.notify_all();
}

void Session::StartCapture(bool skip_polls) {
  std::lock_guard<std::mutex> g(mu_);
  capture_ = true;
  skip_polls_ = skip_polls;
}

uint64_t Session::TakeFrames(std::deque<TracedFrame>& out, Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_until(g, deadline, [&] { return !frames_.empty() || interrupted_; });
  out.swap(frames_);
  frames_.clear();
  const uint64_t dropped = dropped_;
  dropped_ = 0;
  return dropped;
}

void Session::Interrupt() {
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> g(mu_);
    interrupted_ = true;
    action = on_interrupt_;
  }
  cv_.notify_all();
  if (action) action();
}

bool Session::Interrupted() {
  std::lock_guard<std::mutex> g(mu_);
  return interrupted_;
}

void Session::SetInterruptAction(std::function<void()> action) {
  std::lock_guard<std::mutex> g(mu_);
  on_interrupt_ = std::move(action);
}

bool Session::Pause(Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  return !cv_.wait_until(g, deadline, [&] { return interrupted_; });
}

// ---------------------------------------------------------------- signals

SignalWatch::SignalWatch(Session& session)
    : session_(session), watch_([this] {
        // One Ctrl-C may arrive twice (sent to the process and to its
        // group): only a second one a while after the first ends the
        // program at once.
        if (first_ && Clock::now() - *first_ >= Ms(1000)) std::_Exit(130);
        if (!first_) first_ = Clock::now();
        session_.Interrupt();
      }) {}

}  // namespace voxactl
