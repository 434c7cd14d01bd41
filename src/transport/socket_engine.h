// The TCP link of a transport: connects to the board, runs the worker that
// receives into the owner's receive ring, sends the owner's transmit ring,
// and re-establishes the connection after a link error or a silence longer
// than the idle timeout.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/net.h"
#include "platform/platform.h"
#include "transport/comm.h"

namespace voxa {

class CVX_Comm_Socket;

class CSocketEngine {
 public:
  static constexpr uint32_t kBufferSize = 0x10000;
  // Reconnect timing: pause after closing the lost socket, the wait for the
  // board to answer, and the pause before the next attempt.
  static constexpr uint32_t kReconnectClosePauseMs = 100;
  static constexpr uint32_t kReconnectConnectWaitMs = 500;
  static constexpr uint32_t kReconnectRetryPauseMs = 500;
  // How long a send waits for room in a full socket buffer before the link
  // counts as failed.
  static constexpr int kSendStallMs = 500;
  // Longest wait for room in a full receive ring before the worker looks
  // at its stop signal again.
  static constexpr uint32_t kRoomWaitMs = 10;
  // How long a close waits for the bytes still to be sent to go out and for
  // the board to end its side of the connection.
  static constexpr uint32_t kCloseLingerMs = 200;
  // How long a new connection is watched for the board ending it at once
  // (it serves another host), and how long a reconnecting link then waits
  // before it asks again: it does not fight the other host for the board.
  static constexpr uint32_t kTurnAwayGraceMs = 100;
  static constexpr uint32_t kHeldRetryPauseMs = 1000;

  explicit CSocketEngine(CVX_Comm_Socket& owner);
  ~CSocketEngine();
  CSocketEngine(const CSocketEngine&) = delete;
  CSocketEngine& operator=(const CSocketEngine&) = delete;

  // 1 connected (or already connected: the link is then re-established by
  // the worker), 0 failed.
  int Connect(const char* address, uint16_t port, uint32_t connect_timeout_ms, uint32_t idle_timeout_ms);
  // As Connect, but the link counts as up at once; the worker connects.
  int ConnectNoWait(const char* address, uint16_t port, uint32_t connect_timeout_ms, uint32_t idle_timeout_ms);
  // Stops the worker (at once, even during a reconnect) and closes the
  // socket. Returns 1.
  int Disconnect();
  // Sends the owner's transmit ring; 1 sent, 0 failed.
  int Send();

  int IsConnected() const { return connected_.load(); }
  int IsLinkReady() const { return link_ready_.load(); }
  uint32_t LinkErrorCount() const { return link_errors_.load(std::memory_order_relaxed); }

 private:
  enum class Attempt { kUp, kFailed, kHeld, kStopped };

  int Open(const char* address, uint16_t port, uint32_t connect_timeout_ms, uint32_t idle_timeout_ms, bool wait);
  void Worker();
  // Replaces the socket with a new connection to the peer.
  Attempt Reconnect();
  // Waits ms milliseconds unless stopped first; false when stopped.
  bool Pause(uint32_t ms);
  bool StopSeen(const platform::Poller::Result& r) const;
  // Waits until a started connect has an outcome: 0 up, an error number,
  // ETIMEDOUT when the time ran out, ECANCELED (and *stopped) on the stop key.
  int WaitConnected(platform::TcpSocket& s, uint32_t timeout_ms, bool watch_stop, bool* stopped);
  // Takes one chunk into the receive ring; returns its size. A lost link
  // sets *link_lost and says why.
  uint32_t Receive(bool* link_lost, int* reason, int* os_error);
  // kHeld when the board ended the fresh connection s within the grace
  // without a byte;
  // kUp when it did not (bytes it sent meanwhile wait in rx_buf_, *early),
  // kStopped on the stop key (with watch_stop).
  Attempt TurnedAway(platform::TcpSocket& s, bool watch_stop, uint32_t* early);
  void PostKey(uint32_t key);
  void ReleaseHandles();
  // At a close of a working link: sends what waits in the transmit ring and
  // ends the connection in order (within kCloseLingerMs).
  void Linger();
  void Report(int err);

  CVX_Comm_Socket& owner_;
  std::mutex control_;    // Connect, ConnectNoWait and Disconnect one at a time
  std::mutex send_lock_;  // one Send at a time (the send buffer)
  std::mutex sock_lock_;  // the socket and poller handles against Send and Post
  platform::TcpSocket sock_;
  platform::Poller poller_;
  platform::Ipv4Endpoint peer_;
  uint32_t connect_timeout_ms_ = 0;
  std::atomic<uint32_t> idle_timeout_ms_{5000};
  std::atomic<int> connected_{0};
  std::atomic<int> link_ready_{0};
  std::atomic<uint32_t> link_errors_{0};
  int last_reported_ = 0;  // the worker reports one error once per outage
  std::unique_ptr<uint8_t[]> rx_buf_;  // allocated on the first connect
  std::unique_ptr<uint8_t[]> tx_buf_;
  platform::Thread worker_;
};

}  // namespace voxa
