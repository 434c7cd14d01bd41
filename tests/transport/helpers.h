// Test helpers for the transports: a loopback TCP peer and a
// receive-callback recorder (posix_helpers.h adds the Linux-only ones).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/listener.h"
#include <mutex>

#include "transport/link.h"

namespace voxa::test {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

inline long ElapsedMs(SteadyClock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<Ms>(SteadyClock::now() - since).count());
}

// Polls pred every 2 ms until it holds or timeout_ms has passed.
inline bool WaitFor(const std::function<bool()>& pred, int timeout_ms) {
  auto start = SteadyClock::now();
  while (!pred()) {
    if (ElapsedMs(start) > timeout_ms) return pred();
    std::this_thread::sleep_for(Ms(2));
  }
  return true;
}

// Records what a link tells its owner: receive callbacks (each must find
// bytes in the ring) and the faults it reports.
struct LinkRecorder : LinkEvents {
  std::atomic<int> calls{0};
  std::atomic<int> calls_with_empty_ring{0};
  Link* link = nullptr;
  std::mutex lock;
  std::vector<int> faults;  // the system error of each fault

  void OnReceived() override {
    if (link != nullptr && link->Received().Empty()) calls_with_empty_ring.fetch_add(1);
    calls.fetch_add(1);
  }
  void OnLinkState(int state, int, int os_error) override {
    if (state != kLinkFault) return;
    std::lock_guard<std::mutex> g(lock);
    faults.push_back(os_error);
  }
  size_t Faults() {
    std::lock_guard<std::mutex> g(lock);
    return faults.size();
  }
};

// Pops everything from the receive ring into out.
inline void Drain(Link& c, std::vector<uint8_t>& out) {
  uint8_t buf[4096];
  while (uint32_t n = c.Received().PopBlock(buf, sizeof buf)) out.insert(out.end(), buf, buf + n);
}

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
  return v;
}

// A TCP listener on 127.0.0.1, standing in for the board (sockets of the
// platform layer, so the same on every system).
class LoopbackPeer {
 public:
  explicit LoopbackPeer(uint16_t port = 0) { listener_.Listen(port); }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  uint16_t port() const { return listener_.Port(); }

  // Accepts one connection (replacing the current one); false on timeout.
  bool Accept(int timeout_ms = 2000) {
    if (!Readable(listener_.Fd(), timeout_ms)) return false;
    auto accepted = listener_.Accept();
    if (!accepted) return false;
    client_ = std::move(accepted);
    return true;
  }
  // True when a connection waits to be accepted within timeout_ms.
  bool Pending(int timeout_ms) { return Readable(listener_.Fd(), timeout_ms); }
  void CloseClient() { client_.reset(); }
  bool SendBytes(const std::vector<uint8_t>& v) {
    return client_ && client_->SendAll(v.data(), v.size(), 2000) == v.size();
  }
  // Reads exactly n bytes (or what came within timeout_ms).
  std::vector<uint8_t> ReadBytes(size_t n, int timeout_ms = 2000) {
    std::vector<uint8_t> out;
    auto start = SteadyClock::now();
    uint8_t buf[4096];
    while (client_ && out.size() < n && ElapsedMs(start) < timeout_ms) {
      if (!Readable(client_->Fd(), 20)) continue;
      const long r = client_->Recv(buf, sizeof buf);
      if (r == platform::kClosed) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  // True when the peer's side sees the connection closed within timeout_ms.
  bool SeesClose(int timeout_ms) {
    auto start = SteadyClock::now();
    uint8_t buf[256];
    while (client_ && ElapsedMs(start) < timeout_ms) {
      if (!Readable(client_->Fd(), 20)) continue;
      if (client_->Recv(buf, sizeof buf) == platform::kClosed) return true;
    }
    return false;
  }

 private:
  static bool Readable(platform::NativeSocket fd, int timeout_ms) {
    platform::WaitItem item;
    item.fd = fd;
    item.want_read = true;
    return platform::WaitReady(&item, 1, timeout_ms) > 0 && (item.readable || item.hangup);
  }

  platform::TcpListener listener_;
  std::unique_ptr<platform::StreamSocket> client_;
};

}  // namespace voxa::test
