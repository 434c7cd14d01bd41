// Test helpers for the transports: a loopback TCP peer, a pseudo-terminal
// pair, a receive-callback recorder and descriptor counting.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "transport/comm.h"

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

inline int CountOpenFds() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

// Threads of the process. A ThreadSanitizer build starts a thread of its own
// when the program creates its first thread: one thread started and joined
// before the first count makes that happen before any baseline is taken.
inline int CountThreads() {
  static const bool sanitizer_thread_started = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)sanitizer_thread_started;
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

// Counts receive callbacks and checks that each one finds bytes in the ring.
struct RxRecorder {
  std::atomic<int> calls{0};
  std::atomic<int> calls_with_empty_ring{0};
  CComm* comm = nullptr;

  static void Callback(void* arg) {
    auto* self = static_cast<RxRecorder*>(arg);
    if (self->comm->RxIsEmpty()) self->calls_with_empty_ring.fetch_add(1);
    self->calls.fetch_add(1);
  }
  void Attach(CComm& c) {
    comm = &c;
    c.SetRxCallback(&RxRecorder::Callback, this);
  }
};

// Pops everything from the receive ring into out.
inline void Drain(CComm& c, std::vector<uint8_t>& out) {
  uint8_t buf[4096];
  while (uint32_t n = c.RxPopBlock(buf, sizeof buf)) out.insert(out.end(), buf, buf + n);
}

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
  return v;
}

// A TCP listener on 127.0.0.1, standing in for the board.
class LoopbackPeer {
 public:
  explicit LoopbackPeer(int backlog = 8, uint16_t port = 0) { Listen(port, backlog); }
  ~LoopbackPeer() {
    CloseClient();
    StopListening();
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  uint16_t port() const { return port_; }

  bool Listen(uint16_t port, int backlog = 8) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return false;
    if (listen(listen_fd_, backlog) != 0) return false;
    socklen_t len = sizeof sa;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    return true;
  }
  void StopListening() {
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
  }

  // Accepts one connection (replacing the current one); false on timeout.
  bool Accept(int timeout_ms = 2000) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    CloseClient();
    client_fd_ = fd;
    return true;
  }
  // True when a connection waits to be accepted within timeout_ms.
  bool Pending(int timeout_ms) {
    pollfd p{listen_fd_, POLLIN, 0};
    return poll(&p, 1, timeout_ms) > 0;
  }
  void CloseClient() {
    if (client_fd_ >= 0) close(client_fd_);
    client_fd_ = -1;
  }
  bool SendBytes(const std::vector<uint8_t>& v) {
    size_t done = 0;
    while (done < v.size()) {
      ssize_t w = send(client_fd_, v.data() + done, v.size() - done, MSG_NOSIGNAL);
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
    }
    return true;
  }
  // Reads exactly n bytes (or what came within timeout_ms).
  std::vector<uint8_t> ReadBytes(size_t n, int timeout_ms = 2000) {
    std::vector<uint8_t> out;
    auto start = SteadyClock::now();
    uint8_t buf[4096];
    while (out.size() < n && ElapsedMs(start) < timeout_ms) {
      pollfd p{client_fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t r = recv(client_fd_, buf, sizeof buf, 0);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  // True when the peer's side sees the connection closed within timeout_ms.
  bool SeesClose(int timeout_ms) {
    auto start = SteadyClock::now();
    uint8_t buf[256];
    while (ElapsedMs(start) < timeout_ms) {
      pollfd p{client_fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t r = recv(client_fd_, buf, sizeof buf, 0);
      if (r <= 0) return true;
    }
    return false;
  }

 private:
  int listen_fd_ = -1;
  int client_fd_ = -1;
  uint16_t port_ = 0;
};

// A pseudo-terminal: the test holds the master, the transport opens the
// slave by its path.
class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      if (const char* name = ptsname(master_)) slave_path_ = name;
    }
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !slave_path_.empty(); }
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  bool Write(const std::vector<uint8_t>& v) {
    size_t done = 0;
    while (done < v.size()) {
      ssize_t w = write(master_, v.data() + done, v.size() - done);
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
    }
    return true;
  }
  std::vector<uint8_t> Read(size_t n, int timeout_ms = 2000) {
    std::vector<uint8_t> out;
    auto start = SteadyClock::now();
    uint8_t buf[4096];
    while (out.size() < n && ElapsedMs(start) < timeout_ms) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t r = read(master_, buf, sizeof buf);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slave_path_;
};

}  // namespace voxa::test
